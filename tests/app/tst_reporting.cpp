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
    void levelThreeIsLevelZero();
    void rawLevels_data();
    void rawLevels();
    void errorAbort_data();
    void errorAbort();
    void responseTooLongIsKeptBounded();
    void reception_data();
    void reception();
};

void ReportingTest::humanReadable_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QByteArray>("output");

    // Tag pages.
    QTest::newRow("pages 1 and 2")
        << commandFrame(0, 0x0100, "0000000C")
        << responseFrame(0, 0x00, "0123456789ABCDEFFEDCBA9876543210")
        << QByteArray(" 1: 01 23 45 67 89 AB CD EF\n 2: FE DC BA 98 76 54 32 10\n");
    QTest::newRow("pages 1 and 17 take the data in page order")
        << commandFrame(1, 0x0100, "00040004")
        << responseFrame(1, 0x00, "11111111111111112222222222222222")
        << QByteArray(" 1: 11 11 11 11 11 11 11 11\n17: 22 22 22 22 22 22 22 22\n");

    // Text as received.
    QTest::newRow("model number") << commandFrame(1, 0x1401) << responseFrame(1, 0x00, "V640-SIM01")
                                  << QByteArray("V640-SIM01\n");

    // Numbers and words.
    QTest::newRow("firmware 0209")
        << commandFrame(0, 0x1402) << responseFrame(0, 0x00, "0209") << QByteArray("2.09\n");
    QTest::newRow("firmware 0110")
        << commandFrame(0, 0x1402) << responseFrame(0, 0x00, "0110") << QByteArray("1.16\n");
    QTest::newRow("MAC address") << commandFrame(0, 0x1403)
                                 << responseFrame(0, 0x00, "001122AABBCC")
                                 << QByteArray("00:11:22:AA:BB:CC\n");
    QTest::newRow("IP in ROM, no range check")
        << commandFrame(0, 0x1413) << responseFrame(0, 0x00, "999010000001")
        << QByteArray("999.10.0.1\n");
    QTest::newRow("DIP switch 02")
        << commandFrame(0, 0x1410) << responseFrame(0, 0x00, "02") << QByteArray("enabled\n");
    QTest::newRow("memory 00") << commandFrame(0, 0x1420) << responseFrame(0, 0x00, "00")
                               << QByteArray("error\n");
    QTest::newRow("antenna 01") << commandFrame(0, 0x1421) << responseFrame(0, 0x00, "01")
                                << QByteArray("correctly\n");
    QTest::newRow("last command 7F") << commandFrame(0, 0x15) << responseFrame(0, 0x00, "7F")
                                     << QByteArray("command code: 7f\n");
    QTest::newRow("last command A300") << commandFrame(0, 0x15) << responseFrame(0, 0x00, "A300")
                                       << QByteArray("command code: a300\n");
    QTest::newRow("history") << commandFrame(0, 0x16) << responseFrame(0, 0x00, "000A00090001")
                             << QByteArray(
                                    "     total:    10\nsuccessful:     9\n    failed:     1\n");
    QTest::newRow("noise 07") << commandFrame(0, 0x40) << responseFrame(0, 0x00, "07")
                              << QByteArray(" 7\n");

    // Commands without a form of their own.
    QTest::newRow("write") << commandFrame(0, 0x0200, "000000040123456789ABCDEF")
                           << responseFrame(0, 0x00) << QByteArray("OK: \n");
    QTest::newRow("code not in the table")
        << rawResponse("99") << responseFrame(0, 0x00, "1") << QByteArray("OK: 1\n");
    QTest::newRow("nak shows the whole printable response")
        << commandFrame(1, 0x12) << responseFrame(1, 0x00, "ABC")
        << QByteArray("last response: 0100ABC") + responseFrame(1, 0x00, "ABC").mid(8, 2) + "\n";

    // Error ends.
    QTest::newRow("error end to a read")
        << commandFrame(0, 0x0100, "0000000C") << responseFrame(0, 0x14) << QByteArray("NG: 14\n");
    QTest::newRow("error end 7B is lower case")
        << commandFrame(0, 0x1401) << responseFrame(1, 0x7B) << QByteArray("NG: 7b\n");
    QTest::newRow("code not in the response table")
        << commandFrame(0, 0x1401) << rawResponse("XY") << QByteArray("NG: ffffffffffffffff\n");
    QTest::newRow("not a frame") << commandFrame(0, 0x1401) << QByteArray("00\n12\r")
                                 << QByteArray("NG: ffffffffffffffff\n");
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

void ReportingTest::levelThreeIsLevelZero()
{
    const QByteArray command = commandFrame(0, 0x16);
    const QByteArray response = responseFrame(0, 0x00, "000A00090001");
    ControllerProbe probe;
    const QByteArray levelZero = probe.report(command, response, 0);
    QVERIFY(levelZero.count('\n') == 3);
    QCOMPARE(probe.report(command, response, 3), levelZero);
}

void ReportingTest::rawLevels_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QByteArray>("output");

    const QByteArray addressedCommand = commandFrame(1, 0x1401);
    const QByteArray addressedResponse = responseFrame(1, 0x00, "V640-SIM01");
    const QByteArray addressedResponseText = addressedResponse.mid(1, addressedResponse.size() - 2);

    QTest::newRow("1: addressed keeps node and FCS")
        << 1 << addressedCommand << addressedResponse << addressedResponseText + '\n';
    QTest::newRow("1: not a frame is an empty line")
        << 1 << commandFrame(0, 0x1401) << QByteArray("00\x80\r") << QByteArray("\n");
    QTest::newRow("2: command, TAB, response")
        << 2 << addressedCommand << addressedResponse
        << QByteArray("01140105\t") + addressedResponseText + '\n';
    QTest::newRow("2: SOH inside the response stays") << 2 << commandFrame(0, 0x10, "AB")
                                                      << QByteArray("00A\x01"
                                                                    "B\r")
                                                      << QByteArray("10AB\t00A\x01"
                                                                    "B\n");
}

void ReportingTest::rawLevels()
{
    QFETCH(int, level);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, response);
    ControllerProbe probe;
    QTEST(probe.report(command, response, level), "output");
}

// With error-abort: the report is printed first, then the run ends with 2, or goes on.
void ReportingTest::errorAbort_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("exitStatus");

    const int responseError = ConsoleApplicationMain::V640ResponseError;
    QTest::newRow("error end, level 1") << responseFrame(0, 0x72) << 1 << responseError;
    QTest::newRow("error end, level 0") << responseFrame(1, 0x14) << 0 << responseError;
    QTest::newRow("not a frame") << QByteArray("00\t\r") << 1 << responseError;
    QTest::newRow("normal end") << responseFrame(0, 0x00, "V640") << 2
                                << int(ConsoleApplicationMain::NoError);
}

void ReportingTest::errorAbort()
{
    QFETCH(QByteArray, response);
    QFETCH(int, level);
    ControllerProbe probe;
    const QByteArray output = probe.report(commandFrame(0, 0x1401), response, level, true);
    QVERIFY(output.endsWith('\n'));
    QTEST(int(probe.exitStatus()), "exitStatus");
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
