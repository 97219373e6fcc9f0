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

const QByteArray soh = "\x01";

// Unaddressed frames, as TCP carries them.
QByteArray command(unsigned int code, const char *parameter = nullptr)
{
    return commandFrame(0, code, parameter);
}

QByteArray normalEnd(const char *data = nullptr)
{
    return responseFrame(0, 0x00, data);
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
    const auto row = [](const char *name, const QByteArray &command, const QByteArray &response,
                        const QByteArray &output) {
        QTest::newRow(name) << command << response << output;
    };

    // What the end-to-end rows, which show each operation's form, leave out.
    row("firmware 0110", command(0x1402), normalEnd("0110"), "1.16\n");
    row("memory 00", command(0x1420), normalEnd("00"), "error\n");
    row("last command 7F", command(0x15), normalEnd("7F"), "command code: 7f\n");
    // A code that no operation sends, typed in interactive mode.
    row("code not in the table", rawResponse("99"), normalEnd("1"), "OK: 1\n");
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
    const auto row = [](const char *name, const QByteArray &command, const QByteArray &response,
                        bool formOnly) { QTest::newRow(name) << command << response << formOnly; };

    const QByteArray model = responseFrame(1, 0x00, "V640-SIM01");
    QByteArray changedByte = model;
    changedByte[changedByte.size() - 4] = '2';
    QByteArray otherNode = responseFrame(5, 0x00, "V640-SIM01");
    row("changed byte, old FCS", commandFrame(1, 0x1401), changedByte, false);
    row("FCS in lower case", commandFrame(1, 0x1401), soh + "0100ab\r", false);
    row("another node", commandFrame(1, 0x1401), otherNode, false);
    row("unaddressed answer to node 1", commandFrame(1, 0x1401), normalEnd("V640"), false);

    row("one page of data for two", command(0x0100, "0000000C"), normalEnd("0123456789ABCDEF"),
        true);
    row("lower-case tag data", command(0x0100, "00000004"), rawResponse("00aa0102030405060F"),
        true);
    row("read without its mask", rawResponse("0100"), normalEnd("0123456789ABCDEF"), true);
    row("ZZ for a number", command(0x40), rawResponse("00ZZ"), true);
    row("firmware of one digit", command(0x1402), normalEnd("1"), true);
    row("MAC in lower case", command(0x1403), rawResponse("00aa1122334455"), true);
    row("IP of 8 digits", command(0x1413), normalEnd("19216800"), true);
    row("DIP switch of one digit", command(0x1410), normalEnd("1"), true);
    row("last command empty", command(0x15), normalEnd(), true);
    row("last command of 3 digits", command(0x15), normalEnd("7F0"), true);
    row("history of 11 digits", command(0x16), normalEnd("000A0009000"), true);
}

void ReportingTest::invalidAnswers()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, response);
    QFETCH(bool, formOnly);
    QVERIFY(!command.isEmpty());

    for (int level : {0, 3}) {
        ControllerProbe probe;
        QCOMPARE(probe.report(command, response, level), "NG: ffffffffffffffff\n");
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
    probe.await(command(0x1401));
    const QByteArray chunk(64 * 1024, 'A');
    for (int i = 0; i < 160; ++i) {
        probe.receive(chunk);
        QVERIFY(probe.responseBuffer().size() <= V640_MAX_FRAME_SIZE + 1);
    }
    probe.receive("BBB\rCCC");
    const QByteArray kept = probe.responseBuffer();
    QCOMPARE(kept.size(), V640_MAX_FRAME_SIZE + 2);
    QVERIFY(kept.endsWith('\r'));
    QCOMPARE(kept.indexOf('\r'), V640_MAX_FRAME_SIZE + 1);

    // What it prints is what the whole stream would have given: not a frame.
    QCOMPARE(probe.report(command(0x1401), kept, 1), "\n");
    QCOMPARE(probe.report(command(0x1401), kept, 0), "NG: ffffffffffffffff\n");
}

void ReportingTest::reception_data()
{
    QTest::addColumn<QByteArray>("command"); // empty: no command outstanding
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QByteArray>("response");
    const auto row = [](const char *name, const QByteArray &command, const QByteArrayList &reads,
                        const QByteArray &response) {
        QTest::newRow(name) << command << reads << response;
    };

    const QByteArray unaddressed = command(0x1401);
    const QByteArray addressed = commandFrame(1, 0x1401);
    row("CR at index 0 never completes", unaddressed, {"\r", "00AB\r"}, "\r");
    row("bytes after the CR are dropped", unaddressed, {"00A", "B\r\n01\r"}, "00AB\r");
    row("line feeds before the answer are not part of it", unaddressed, {"\n", "\n\n00A", "\nB\r"},
        "00A\nB\r");
    row("addressed: bytes before SOH are dropped", addressed, {"\n00\r", "x" + soh + "0100"},
        soh + "0100");
    row("no command outstanding", QByteArray(), {"00ZZ\r"}, QByteArray());
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
