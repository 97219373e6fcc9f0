#include "e2esupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <termios.h>

// A pty as the serial port: addressed frames by node number, the line settings the program
// asks for, stale bytes from before the port was opened, and interactive mode over the port.
// No TCP at all, so no loopback address is used.
class SerialTest : public QObject
{
    Q_OBJECT

private slots:
    void oneShot_data();
    void oneShot();
    void lineSettings_data();
    void lineSettings();
    void staleBytes_data();
    void staleBytes();
    void nakRepeatsLastResponse();
    void symbolicLinkAsTarget();
    void interactive_data();
    void interactive();
    void timeoutReopensPort();
};

namespace {

const QByteArray modelReport = "V640-SIM01\n";

// The frame as a report shows it: without SOH and CR.
QByteArray printable(const QByteArray &frame)
{
    QByteArray text = frame;
    if (text.startsWith('\x01')) {
        text.remove(0, 1);
    }
    text.chop(1);
    return text;
}

QStringList simulatorArguments(int node)
{
    return node == 0 ? QStringList{} : QStringList{QStringLiteral("--node"), QString::number(node)};
}

struct LineRequest
{
    tcflag_t controlFlags;
    speed_t inputSpeed;
    speed_t outputSpeed;
};

QList<LineRequest> readRecord(const QString &path)
{
    QList<LineRequest> requests;
    QFile record(path);
    if (!record.open(QIODevice::ReadOnly)) {
        return requests;
    }
    for (const QByteArray &line : record.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3) {
            requests.append({tcflag_t(fields.at(0).toULong(nullptr, 8)),
                             speed_t(fields.at(1).toULong()), speed_t(fields.at(2).toULong())});
        }
    }
    return requests;
}

} // namespace

void SerialTest::oneShot_data()
{
    QTest::addColumn<int>("simulatorNode");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArrayList>("setup");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<int>("status");

    QTest::newRow("default node 1") << 0 << QStringList{"--get-model-number"} << QByteArrayList{}
                                    << QByteArray("\x01"
                                                  "01140105\r")
                                    << modelReport << 0;
    QTest::newRow("node 1 reads a page")
        << 0 << QStringList{"-n", "1", "-r", "1"} << QByteArrayList{"page 0 0123456789ABCDEF"}
        << e2e::addressedFrame(1, "010000000004") << QByteArray(" 1: 01 23 45 67 89 AB CD EF\n")
        << 0;
    QTest::newRow("node 17") << 17 << QStringList{"-n", "17", "--get-model-number"}
                             << QByteArrayList{} << e2e::addressedFrame(17, "1401") << modelReport
                             << 0;
    QTest::newRow("node 0") << 0 << QStringList{"-n", "0", "--get-model-number"} << QByteArrayList{}
                            << e2e::unaddressedFrame("1401") << modelReport << 0;
    QTest::newRow("node 1 at level 2") << 0 << QStringList{"-o", "2", "--get-firmware-version"}
                                       << QByteArrayList{} << e2e::addressedFrame(1, "1402")
                                       << printable(e2e::addressedFrame(1, "1402")) + '\t' +
                                              printable(e2e::addressedFrame(1, "000105")) + '\n'
                                       << 0;
    QTest::newRow("node 17 at level 1")
        << 17 << QStringList{"-n", "17", "-o", "1", "--get-model-number"} << QByteArrayList{}
        << e2e::addressedFrame(17, "1401")
        << printable(e2e::addressedFrame(17, "00V640-SIM01")) + '\n'
        << 0;
    QTest::newRow("node 0 at level 2")
        << 0 << QStringList{"-n", "0", "-o", "2", "--get-model-number"} << QByteArrayList{}
        << e2e::unaddressedFrame("1401") << QByteArray("1401\t00V640-SIM01\n") << 0;
    QTest::newRow("node 1 write with lower-case tag data")
        << 0 << QStringList{"-w", "2", "a0a1a2a3", "a4a5a6a7"} << QByteArrayList{}
        << e2e::addressedFrame(1, "020000000008A0A1A2A3A4A5A6A7") << QByteArray("OK: \n") << 0;
    QTest::newRow("error-abort at node 1")
        << 0 << QStringList{"-a", "-r", "1"} << QByteArrayList{"fault no-tag on"}
        << e2e::addressedFrame(1, "010000000004") << QByteArray("NG: 72\n") << 2;
    QTest::newRow("invalid baud-rate after the port opened")
        << 0 << QStringList{"-c", "9600E91", "--get-model-number"} << QByteArrayList{}
        << QByteArray() << QByteArray() << 3;
    QTest::newRow("time-out") << 0 << QStringList{"-i", "1000", "--get-model-number"}
                              << QByteArrayList{"fault ignore-every 1"}
                              << e2e::addressedFrame(1, "1401") << QByteArray() << 4;
}

void SerialTest::oneShot()
{
    QFETCH(int, simulatorNode);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArrayList, setup);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, output);
    QFETCH(int, status);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startPty(simulatorArguments(simulatorNode)),
             qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer(setup), qPrintable(simulator.errorString()));

    const e2e::Outcome outcome =
        e2e::runVorsel(QStringList{QStringLiteral("--target"), simulator.ptyPath()} + arguments);
    E2E_COMPARE_OUTCOME(outcome, status, output);
    QCOMPARE(simulator.received(), wire);
}

void SerialTest::lineSettings_data()
{
    QTest::addColumn<int>("simulatorNode");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("wire");
    // Parity, data bits, stop bits and flow control that one request must ask for exactly.
    QTest::addColumn<uint>("requiredFlags");
    // The speed that one request must ask for, both ways.
    QTest::addColumn<uint>("requiredSpeed");
    // Flags that no request may carry.
    QTest::addColumn<uint>("forbiddenFlags");

    const QStringList model{"--get-model-number"};
    const QByteArray unaddressed = e2e::unaddressedFrame("1401");
    const QByteArray addressed = e2e::addressedFrame(1, "1401");

    QTest::newRow("node 0: even parity")
        << 0 << QStringList{"-n", "0", "-c", "19200"} + model << unaddressed << uint(PARENB | CS8)
        << uint(B19200) << uint(PARODD);
    QTest::newRow("node 0: odd parity letter overridden")
        << 0 << QStringList{"-n", "0", "-c", "19200O71"} + model << unaddressed
        << uint(PARENB | CS7) << uint(B19200) << uint(PARODD);
    QTest::newRow("node 0: no-parity letter overridden")
        << 0 << QStringList{"-c", "57600n82", "-n", "0"} + model << unaddressed
        << uint(PARENB | CS8 | CSTOPB) << uint(B57600) << uint(PARODD);
    QTest::newRow("node 0: default rate") << 0 << QStringList{"-n", "0"} + model << unaddressed
                                          << uint(PARENB | CS8) << uint(B9600) << uint(PARODD);
    QTest::newRow("node 1: even parity letter overridden")
        << 0 << QStringList{"-c", "19200E71"} + model << addressed << uint(CS7) << uint(B19200)
        << uint(PARENB);
    QTest::newRow("node 1: odd parity, two stop bits, hardware flow control overridden")
        << 0 << QStringList{"-n", "1", "-c", "57600O82H"} + model << addressed
        << uint(CS8 | CSTOPB | CRTSCTS) << uint(B57600) << uint(PARENB);
    QTest::newRow("node 17: default settings")
        << 17 << QStringList{"-n", "17"} + model << e2e::addressedFrame(17, "1401") << uint(CS8)
        << uint(B9600) << uint(PARENB);
}

void SerialTest::lineSettings()
{
    QFETCH(int, simulatorNode);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, wire);
    QFETCH(uint, requiredFlags);
    QFETCH(uint, requiredSpeed);
    QFETCH(uint, forbiddenFlags);

    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString recordPath = directory.filePath(QStringLiteral("tcsetattr.record"));
    e2e::Simulator simulator;
    QVERIFY2(simulator.startPty(simulatorArguments(simulatorNode)),
             qPrintable(simulator.errorString()));

    const e2e::Outcome outcome =
        e2e::runVorsel(QStringList{QStringLiteral("--target"), simulator.ptyPath()} + arguments,
                       e2e::recordingEnvironment(recordPath));
    E2E_COMPARE_OUTCOME(outcome, 0, modelReport);
    QCOMPARE(simulator.received(), wire);

    // A pty forgets parity and data bits at once, and the program reads the settings back
    // between its requests; so the settings and the speed may come in separate requests.
    const QList<LineRequest> requests = readRecord(recordPath);
    QVERIFY2(!requests.isEmpty(), "no tcsetattr call recorded");
    const tcflag_t compared = PARENB | PARODD | CSIZE | CSTOPB | CRTSCTS;
    bool settingsAsked = false;
    bool speedAsked = false;
    for (const LineRequest &request : requests) {
        settingsAsked = settingsAsked || (request.controlFlags & compared) == requiredFlags;
        speedAsked = speedAsked ||
                     (request.inputSpeed == requiredSpeed && request.outputSpeed == requiredSpeed);
        QVERIFY2((request.controlFlags & forbiddenFlags) == 0,
                 qPrintable(QStringLiteral("control flags %1").arg(request.controlFlags, 0, 8)));
    }
    QVERIFY(settingsAsked);
    QVERIFY(speedAsked);
}

void SerialTest::staleBytes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");

    QTest::newRow("one-shot") << QStringList{"-o", "1", "--get-model-number"} << QByteArray();
    QTest::newRow("interactive") << QStringList{"-o", "1"} << QByteArray("1401\n");
}

void SerialTest::staleBytes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startPty(), qPrintable(simulator.errorString()));
    // A whole response frame waits on the line before the program opens it.
    QVERIFY2(simulator.steer({"send 3030585959590D"}), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(QStringList{QStringLiteral("--target"), simulator.ptyPath()} + arguments),
             qPrintable(vorsel.errorString()));
    QVERIFY(vorsel.write(input));
    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), printable(e2e::addressedFrame(1, "00V640-SIM01")) + '\n');
    QCOMPARE(vorsel.exitCode(), 0);
    QCOMPARE(simulator.received(), e2e::addressedFrame(1, "1401"));
}

void SerialTest::nakRepeatsLastResponse()
{
    e2e::Simulator simulator;
    QVERIFY2(simulator.startPty(), qPrintable(simulator.errorString()));
    const QStringList target{QStringLiteral("--target"), simulator.ptyPath()};

    const e2e::Outcome first = e2e::runVorsel(target + QStringList{"--get-model-number"});
    E2E_COMPARE_OUTCOME(first, 0, modelReport);
    QVERIFY2(simulator.steer({"clear-received"}), qPrintable(simulator.errorString()));

    // The whole printable response: node digits and check sequence included.
    const e2e::Outcome second = e2e::runVorsel(target + QStringList{"--nak"});
    E2E_COMPARE_OUTCOME(
        second, 0, "last response: " + printable(e2e::addressedFrame(1, "00V640-SIM01")) + '\n');
    QCOMPARE(simulator.received(), e2e::addressedFrame(1, "12"));
}

void SerialTest::symbolicLinkAsTarget()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString link = directory.filePath(QStringLiteral("unit"));
    e2e::Simulator simulator;
    QVERIFY2(simulator.startPty({QStringLiteral("--link"), link}),
             qPrintable(simulator.errorString()));

    const e2e::Outcome outcome = e2e::runVorsel(
        QStringList{QStringLiteral("--target"), link, QStringLiteral("--get-mac-address")});
    E2E_COMPARE_OUTCOME(outcome, 0, "00:00:5E:00:53:01\n");
    QCOMPARE(simulator.received(), e2e::addressedFrame(1, "1403"));
}

void SerialTest::interactive_data()
{
    QTest::addColumn<int>("simulatorNode");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QByteArray>("output");

    const QByteArray longest = "10" + QByteArray(270, 'C');
    QTest::newRow("node 1: one character is no frame")
        << 0 << QStringList{} << QByteArray("1\n1401\n") << e2e::addressedFrame(1, "1401")
        << modelReport;
    QTest::newRow("node 0: one character is a frame")
        << 0 << QStringList{"-n", "0"} << QByteArray("1\n") << e2e::unaddressedFrame("1")
        << QByteArray("NG: 14\n");
    QTest::newRow("node 17") << 17 << QStringList{"-n", "17"} << QByteArray("1402\n1401\n")
                             << e2e::addressedFrame(17, "1402") + e2e::addressedFrame(17, "1401")
                             << "1.05\n" + modelReport;
    QTest::newRow("node 1 at level 2")
        << 0 << QStringList{"-o", "2"} << QByteArray("1401\n") << e2e::addressedFrame(1, "1401")
        << printable(e2e::addressedFrame(1, "1401")) + '\t' +
               printable(e2e::addressedFrame(1, "00V640-SIM01")) + '\n';
    QTest::newRow("node 1: line of 272 characters")
        << 0 << QStringList{} << longest + '\n'
        << e2e::addressedFrame(1, longest) << QByteArray(270, 'C') + '\n';
    QTest::newRow("node 1: line of 273 characters") << 0 << QStringList{} << longest + "C\n"
                                                    << QByteArray() << QByteArray();
}

void SerialTest::interactive()
{
    QFETCH(int, simulatorNode);
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, wire);
    QFETCH(QByteArray, output);

    e2e::Simulator simulator;
    QVERIFY2(simulator.startPty(simulatorArguments(simulatorNode)),
             qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start(QStringList{QStringLiteral("--target"), simulator.ptyPath()} + arguments),
             qPrintable(vorsel.errorString()));
    QVERIFY(vorsel.write(input));
    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    QCOMPARE(vorsel.output(), output);
    QCOMPARE(vorsel.exitCode(), 0);
    QCOMPARE(simulator.received(), wire);
}

void SerialTest::timeoutReopensPort()
{
    e2e::Simulator simulator;
    QVERIFY2(simulator.startPty(), qPrintable(simulator.errorString()));
    QVERIFY2(simulator.steer({"fault ignore-every 2"}), qPrintable(simulator.errorString()));

    e2e::Vorsel vorsel;
    QVERIFY2(vorsel.start({QStringLiteral("--target"), simulator.ptyPath(), "-i", "1000"},
                          e2e::Vorsel::Input::Terminal),
             qPrintable(vorsel.errorString()));
    QVERIFY(vorsel.waitForText("> ", 1));
    int prompts = 1;
    for (const QByteArray line : {"1401\n", "1402\n", "1403\n"}) {
        QVERIFY(vorsel.write(line));
        QVERIFY2(vorsel.waitForText("> ", ++prompts), vorsel.output().constData());
    }
    vorsel.endInput();
    QVERIFY(vorsel.waitForFinished());
    QCOMPARE(vorsel.errorOutput(), QByteArray());
    // The second line gets no answer; the third goes out over the reopened port.
    QCOMPARE(vorsel.output(), "> " + modelReport + "> > 00:00:5E:00:53:01\n> ");
    QCOMPARE(vorsel.exitCode(), 0);
    QCOMPARE(simulator.received(), e2e::addressedFrame(1, "1401") + e2e::addressedFrame(1, "1402") +
                                       e2e::addressedFrame(1, "1403"));
}

QTEST_GUILESS_MAIN(SerialTest)
#include "tst_serial.moc"
