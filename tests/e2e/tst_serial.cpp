#include "e2e.h"

#include <QFile>
#include <QTemporaryDir>

#include <termios.h>

using e2e::addRow;
using e2e::frame;
using e2e::printable;

// A pty as the serial port: addressed frames by node number, the line settings asked for, stale
// bytes from before the port was opened, and interactive mode over the port.
class SerialTest : public QObject
{
    Q_OBJECT

private slots:
    void sessions_data();
    void sessions() { e2e::runRow(e2e::onPty); }
    void lateAnswerAcrossRuns();
    void lineSettings_data();
    void lineSettings();
};

void SerialTest::sessions_data()
{
    e2e::addColumns();
    const QByteArray model = "V640-SIM01\n";
    const QByteArray longest = "10" + QByteArray(270, 'C');
    const QByteArray rawModel = "=" + printable(frame(1, "00V640-SIM01")) + "\n";
    const QByteArray stale = "!send 3030585959590D";

    // Written out once, so that the frame rule itself is checked here.
    addRow("node 1 by default", "--get-model-number", {"=" + model},
           {"\x01"
            "01140105\r"});
    addRow("node 17 at level 1", "-n 17 -o 1 --get-model-number",
           {"=" + printable(frame(17, "00V640-SIM01")) + "\n"}, {"1401"});
    addRow("node 0 at level 2", "-n 0 -o 2 --get-model-number", {"=1401\t00V640-SIM01\n"},
           {"1401"});
    addRow("nak shows node and FCS", "--nak",
           {"!respond " + frame(1, "00ABCD").toHex(),
            "=last response: " + printable(frame(1, "00ABCD")) + "\n"},
           {"12"});
    addRow("error-abort", "-a -r 1", {"!fault no-tag on", "=NG: 72\n"}, {"010000000004"}, 2);
    addRow("invalid baud-rate after the port opened", "-c 9600E91 --get-model-number", {}, {}, 3);
    addRow("stale bytes, one-shot", "-o 1 --get-model-number", {stale, rawModel}, {"1401"});
    addRow("node 1: one character is no frame", "",
           {"<1\n" + longest + "C\n1401\n", "$", "=" + model}, {"1401"}, 3);
    addRow("node 0: one character is a frame", "-n 0", {"<1\n", "$", "=NG: 14\n"}, {"1"});
    addRow("node 17, two lines", "-n 17", {"<1402\n1401\n", "$", "=1.05\n" + model},
           {"1402", "1401"});
    addRow("line of 272 characters", "", {"<" + longest + "\n", "$", "=" + longest.mid(2) + "\n"},
           {longest});
    // The second line gets no answer; the third goes out over the reopened port.
    addRow("time-out reopens the port", "-i 1000",
           {"!fault ignore-every 2", "=> ", "<1401\n", "=" + model + "> ", "<1402\n", "=> ",
            "<1403\n", "=00:00:5E:00:53:01\n> ", "$"},
           {"1401", "1402", "1403"}, 4, e2e::Terminal);

    // Answers that are not what the unit said, and what comes before an answer.
    QByteArray changedByte = frame(1, "00V640-SIM01");
    changedByte[changedByte.size() - 4] = '2';
    QByteArray otherNode = frame(5, "00V640-SIM01");
    otherNode.replace(otherNode.size() - 3, 2, "FF");
    const QByteArray invalid = "=NG: ffffffffffffffff\n";
    addRow("changed byte, old FCS, error-abort", "-a --get-model-number",
           {"!respond " + changedByte.toHex(), invalid}, {"1401"}, 2);
    addRow("answer from node 05", "--get-model-number", {"!respond " + otherNode.toHex(), invalid},
           {"1401"});
    addRow("bytes before SOH", "--get-model-number",
           {"!respond 0A300D" + frame(1, "00V640-SIM01").toHex(), "=" + model}, {"1401"});
    // The far end gone ends the run at once (in a one-shot run: the scripting rows).
    addRow("hang-up while a line is awaited", "", {"<1401\n", "=" + model, "!quit"}, {"1401"}, 4);

    // An answer out of step never pairs with a later frame: the first comes after its
    // time-out, every later one at once; each line still gets its own page.
    QByteArrayList pages = {"!fault delay-next 1 1500", "!fault delay 20"};
    QByteArray lines;
    QByteArrayList reads;
    QByteArray answers;
    for (int page = 1; page <= 8; ++page) {
        const QByteArray data = QByteArray::number(page * 0x1111111, 16).rightJustified(16, '0');
        pages << "!page " + QByteArray::number(page - 1) + ' ' + data;
        reads << "01" + QByteArray::number(1u << (page + 1), 16).toUpper().rightJustified(10, '0');
        lines += reads.last() + '\n';
        answers += page == 1 ? QByteArray() : printable(frame(1, "00" + data.toUpper())) + '\n';
    }
    addRow("late answer, then answers at once", "-o 1 -i 1000",
           pages + QByteArrayList{"<" + lines, "=" + answers, "$"}, reads, 4);
    // Every answer late: each is discarded before the next frame, or before the run ends.
    // A unit busy with a late answer ignores a write: the write goes only once that answer is
    // in, so it is carried out, and the late answer is not taken for its acknowledgement.
    addRow(
        "write after a late answer to a busy unit", "-o 1 -i 1000",
        {"!fault busy on", "!fault delay-next 1 1500",
         "<" + reads.at(0) + "\n0200000000040011223344556677\n" + reads.at(0) + '\n',
         "=" + printable(frame(1, "00")) + '\n' + printable(frame(1, "000011223344556677")) + '\n',
         "$"},
        {reads.at(0), "0200000000040011223344556677", reads.at(0)}, 4);
    addRow("every answer late", "-o 1 -i 1000",
           {"!fault delay 1300", "<" + reads.at(0) + '\n' + reads.at(1) + '\n', "$"},
           reads.mid(0, 2), 4);
}

void SerialTest::lateAnswerAcrossRuns()
{
    // A run that timed out listens for the answer it was owed, so the next run on the line
    // does not take it for its own.
    e2e::Simulator simulator;
    QVERIFY(simulator.start({"--pty"}));
    QVERIFY(simulator.steer("page 0 0123456789ABCDEF") && simulator.steer("fault delay 1300"));
    const QString pty = QString::fromLocal8Bit(simulator.readiness("pty"));
    for (const char *pages : {"1", "2"}) {
        e2e::Vorsel vorsel;
        QVERIFY(vorsel.run({"--target", pty, "-i", "1000", "-a", "-r", pages}));
        QCOMPARE(vorsel.output, QByteArray());
        QCOMPARE(vorsel.process.exitCode(), 4);
    }
}

void SerialTest::lineSettings_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("node");
    // Parity, data bits, stop bits and flow control that one request must ask for exactly.
    QTest::addColumn<uint>("settings");
    QTest::addColumn<uint>("speed");

    // Node 0 means even parity, any other node none, whatever the baud-rate text says.
    QTest::newRow("node 0, odd parity given")
        << "-n 0 -c 19200O71" << 0 << uint(PARENB | CS7) << uint(B19200);
    QTest::newRow("node 0, no parity given")
        << "-c 57600n82 -n 0" << 0 << uint(PARENB | CS8 | CSTOPB) << uint(B57600);
    QTest::newRow("node 1, even parity given") << "-c 19200E71" << 1 << uint(CS7) << uint(B19200);
    QTest::newRow("node 17, odd parity given")
        << "-n 17 -c 57600O82H" << 17 << uint(CS8 | CSTOPB | CRTSCTS) << uint(B57600);
}

void SerialTest::lineSettings()
{
    QFETCH(QString, arguments);
    QFETCH(int, node);
    QFETCH(uint, settings);
    QFETCH(uint, speed);

    // A pty forgets parity and data bits at once, so the preloaded recorder notes what vorsel
    // asked for. The port is reached through a symbolic link, as udev names ports.
    QTemporaryDir directory;
    const QString link = directory.filePath(QStringLiteral("unit"));
    const QString record = directory.filePath(QStringLiteral("record"));
    e2e::Simulator simulator;
    QVERIFY(simulator.start({"--pty", "--link", link, "--node", QString::number(qMax(node, 1))}));
    e2e::Vorsel vorsel;
    vorsel.environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(RECORDER_LIBRARY));
    vorsel.environment.insert(QStringLiteral("TCSETATTR_RECORD"), record);
    // A sanitized program refuses a library preloaded ahead of its runtime unless told not to.
    vorsel.environment.insert(QStringLiteral("ASAN_OPTIONS"),
                              vorsel.environment.value(QStringLiteral("ASAN_OPTIONS")) +
                                  QStringLiteral(":verify_asan_link_order=0"));
    QVERIFY(vorsel.run(QStringList{"--target", link, "--get-model-number"} + arguments.split(' ')));
    QCOMPARE(vorsel.errors, QByteArray());
    QCOMPARE(vorsel.output, QByteArray("V640-SIM01\n"));
    QCOMPARE(vorsel.process.exitCode(), 0);
    QCOMPARE(simulator.received(), frame(node, "1401"));

    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // The program reads the settings back between its requests; they may come one by one.
    const uint forbidden = (settings & PARENB) != 0 ? PARODD : PARENB;
    bool settingsAsked = false;
    bool speedAsked = false;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3) {
            const uint flags = fields.at(0).toUInt(nullptr, 8);
            settingsAsked |= (flags & (PARENB | PARODD | CSIZE | CSTOPB | CRTSCTS)) == settings;
            speedAsked |= fields.at(1).toUInt() == speed && fields.at(2).toUInt() == speed;
            QVERIFY2((flags & forbidden) == 0, line.constData());
        }
    }
    QVERIFY(settingsAsked);
    QVERIFY(speedAsked);
}

QTEST_GUILESS_MAIN(SerialTest)
#include "tst_serial.moc"
