#include <QtTest>

#include "controllerprobe.h"

namespace {

QByteArray commandFrame(unsigned int node, unsigned int code, const char *parameter = nullptr)
{
    const char *frame = v640_build_command_frame(node, code, parameter);
    return frame != nullptr ? QByteArray(frame) : QByteArray();
}

QByteArray responseFrame(unsigned int node, unsigned int code, const char *parameter = nullptr)
{
    const char *frame = v640_build_response_frame(node, code, parameter);
    return frame != nullptr ? QByteArray(frame) : QByteArray();
}

// A normal-end response carrying any characters, for data that no real response would hold.
QByteArray rawResponse(const QByteArray &message)
{
    return message + '\r';
}

} // namespace

class ReportingTest : public QObject
{
    Q_OBJECT

private slots:
    void humanReadable_data();
    void humanReadable();
    void invalidAnswers_data();
    void invalidAnswers();
    void responseTooLongIsKeptBounded();
    void reception_data();
    void reception();
};

void ReportingTest::humanReadable_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QByteArray>("output");

    // What the end-to-end rows, which show each operation's form, leave out.
    QTest::newRow("firmware 0110")
        << commandFrame(0, 0x1402) << responseFrame(0, 0x00, "0110") << QByteArray("1.16\n");
    QTest::newRow("memory 00") << commandFrame(0, 0x1420) << responseFrame(0, 0x00, "00")
                               << QByteArray("error\n");
    QTest::newRow("last command 7F") << commandFrame(0, 0x15) << responseFrame(0, 0x00, "7F")
                                     << QByteArray("command code: 7f\n");
    // A code that no operation sends, typed in interactive mode.
    QTest::newRow("code not in the table")
        << rawResponse("99") << responseFrame(0, 0x00, "1") << QByteArray("OK: 1\n");
}

void ReportingTest::humanReadable()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, response);
    QVERIFY(!command.isEmpty());
    QVERIFY(!response.isEmpty());

    ControllerProbe probe;
    QTEST(probe.report(command, response), "output");
    QCOMPARE(probe.exitStatus(), ConsoleApplicationMain::NoError);
}

void ReportingTest::invalidAnswers_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("response");
    // The form of the data is judged only where it is read; the raw levels show any frame.
    QTest::addColumn<bool>("formOnly");

    const QByteArray model = responseFrame(1, 0x00, "V640-SIM01");
    QByteArray changedByte = model;
    changedByte[changedByte.size() - 4] = '2';
    QByteArray otherNode = responseFrame(5, 0x00, "V640-SIM01");
    QTest::newRow("changed byte, old FCS") << commandFrame(1, 0x1401) << changedByte << false;
    QTest::newRow("FCS in lower case") << commandFrame(1, 0x1401)
                                       << QByteArray("\x01"
                                                     "0100ab\r")
                                       << false;
    QTest::newRow("another node") << commandFrame(1, 0x1401) << otherNode << false;
    QTest::newRow("unaddressed answer to node 1")
        << commandFrame(1, 0x1401) << responseFrame(0, 0x00, "V640") << false;

    QTest::newRow("one page of data for two") << commandFrame(0, 0x0100, "0000000C")
                                              << responseFrame(0, 0x00, "0123456789ABCDEF") << true;
    QTest::newRow("lower-case tag data")
        << commandFrame(0, 0x0100, "00000004") << rawResponse("00aa0102030405060F") << true;
    QTest::newRow("read without its mask")
        << rawResponse("0100") << responseFrame(0, 0x00, "0123456789ABCDEF") << true;
    QTest::newRow("ZZ for a number") << commandFrame(0, 0x40) << rawResponse("00ZZ") << true;
    QTest::newRow("firmware of one digit")
        << commandFrame(0, 0x1402) << responseFrame(0, 0x00, "1") << true;
    QTest::newRow("MAC in lower case")
        << commandFrame(0, 0x1403) << rawResponse("00aa1122334455") << true;
    QTest::newRow("IP of 8 digits")
        << commandFrame(0, 0x1413) << responseFrame(0, 0x00, "19216800") << true;
    QTest::newRow("DIP switch of one digit")
        << commandFrame(0, 0x1410) << responseFrame(0, 0x00, "1") << true;
    QTest::newRow("last command empty") << commandFrame(0, 0x15) << responseFrame(0, 0x00) << true;
    QTest::newRow("last command of 3 digits")
        << commandFrame(0, 0x15) << responseFrame(0, 0x00, "7F0") << true;
    QTest::newRow("history of 11 digits")
        << commandFrame(0, 0x16) << responseFrame(0, 0x00, "000A0009000") << true;
}

void ReportingTest::invalidAnswers()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, response);
    QFETCH(bool, formOnly);
    QVERIFY(!command.isEmpty());

    for (int level : {0, 3}) {
        ControllerProbe probe;
        QCOMPARE(probe.report(command, response, level), QByteArray("NG: ffffffffffffffff\n"));
        QCOMPARE(probe.exitStatus(), ConsoleApplicationMain::NoError);
        probe.report(command, response, level, true);
        QCOMPARE(probe.exitStatus(), ConsoleApplicationMain::V640ResponseError);
    }
    // The raw levels print the traffic as it came, and the status follows the same rule.
    ControllerProbe probe;
    const QByteArray text = response.mid(response.startsWith('\x01') ? 1 : 0).chopped(1);
    QCOMPARE(probe.report(command, response, 1, true), text + '\n');
    QCOMPARE(probe.exitStatus(), formOnly ? ConsoleApplicationMain::NoError
                                          : ConsoleApplicationMain::V640ResponseError);
}

void ReportingTest::responseTooLongIsKeptBounded()
{
    ControllerProbe probe;
    probe.await(commandFrame(0, 0x1401));
    const QByteArray chunk(64 * 1024, 'A');
    for (int i = 0; i < 160; ++i) {
        probe.receive(chunk);
        QVERIFY(probe.responseBuffer().size() <= V640_MAX_FRAME_SIZE + 1);
    }
    probe.receive(QByteArray("BBB\rCCC"));
    const QByteArray kept = probe.responseBuffer();
    QCOMPARE(kept.size(), V640_MAX_FRAME_SIZE + 2);
    QVERIFY(kept.endsWith('\r'));
    QCOMPARE(kept.indexOf('\r'), V640_MAX_FRAME_SIZE + 1);

    // What it prints is what the whole stream would have given: not a frame.
    QCOMPARE(probe.report(commandFrame(0, 0x1401), kept, 1), QByteArray("\n"));
    QCOMPARE(probe.report(commandFrame(0, 0x1401), kept, 0), QByteArray("NG: ffffffffffffffff\n"));
}

void ReportingTest::reception_data()
{
    QTest::addColumn<QByteArray>("command"); // empty: no command outstanding
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QByteArray>("response");

    const QByteArray unaddressed = commandFrame(0, 0x1401);
    const QByteArray addressed = commandFrame(1, 0x1401);
    QTest::newRow("CR at index 0 never completes")
        << unaddressed << QByteArrayList{"\r", "00AB\r"} << QByteArray("\r");
    QTest::newRow("bytes after the CR are dropped")
        << unaddressed << QByteArrayList{"00A", "B\r\n01\r"} << QByteArray("00AB\r");
    QTest::newRow("line feeds before the answer are not part of it")
        << unaddressed << QByteArrayList{"\n", "\n\n00A", "\nB\r"} << QByteArray("00A\nB\r");
    QTest::newRow("addressed: bytes before SOH are dropped") << addressed
                                                             << QByteArrayList{"\n00\r", "x\x01"
                                                                                         "0100"}
                                                             << QByteArray("\x01"
                                                                           "0100");
    QTest::newRow("no command outstanding")
        << QByteArray() << QByteArrayList{"00ZZ\r"} << QByteArray();
}

void ReportingTest::reception()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArrayList, reads);
    ControllerProbe probe;
    if (!command.isEmpty()) {
        probe.await(command);
    }
    for (const QByteArray &bytes : reads) {
        probe.receive(bytes);
    }
    QTEST(probe.responseBuffer(), "response");
}

QTEST_GUILESS_MAIN(ReportingTest)
#include "tst_reporting.moc"
