// Each command's effect on the state and the response data it gives.
#include "simharness.h"

#include <QTest>

#include <memory>

namespace {

const QString address = QStringLiteral("127.0.0.110");
const QByteArray ok = "ok";

QByteArray pageData(int page)
{
    // Distinct bytes per page: page 3 holds 30 31 32 ... 37.
    QByteArray data;
    for (int index = 0; index < 8; ++index) {
        data += QByteArray::number(page * 10 + index, 16).toUpper().rightJustified(2, '0');
    }
    return data;
}

} // namespace

class CommandTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void readGivesRequestedPagesInAscendingOrder_data();
    void readGivesRequestedPagesInAscendingOrder();
    void writeStoresOneBlockPerPage();
    void sameWriteFillsEveryRequestedPage();
    void byteWriteStaysWithinTheTag_data();
    void byteWriteStaysWithinTheTag();
    void malformedCommandsGetTheirErrorEnd_data();
    void malformedCommandsGetTheirErrorEnd();
    void queriesReportTheState_data();
    void queriesReportTheState();
    void testEchoesItsParameter_data();
    void testEchoesItsParameter();
    void nakResendsThePreviousResponse();
    void nakWithoutPreviousResponseFails();
    void lastCommandIsTheCommandBefore();
    void historyCountsCommandsUntilCleared();
    void settingsCommandsStoreTheirValues();
    void resetKeepsTagAndSettings();
    void controlRejectsMalformedValues_data();
    void controlRejectsMalformedValues();

private:
    std::unique_ptr<SimulatorProcess> simulator;
    TcpProgram program;
};

void CommandTest::initTestCase()
{
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start({"--listen", address, "--control", "0"}));
    QVERIFY(program.connectTo(simulator->readiness("tcp")));
}

void CommandTest::cleanupTestCase()
{
    // Ended here, so that an unclean end still fails a test.
    simulator.reset();
}

void CommandTest::init()
{
    for (int page = 0; page < 17; ++page) {
        QCOMPARE(simulator->control("page " + QByteArray::number(page) + ' ' + pageData(page)), ok);
    }
}

void CommandTest::readGivesRequestedPagesInAscendingOrder_data()
{
    QTest::addColumn<QByteArray>("mask");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("page 1") << QByteArray("00000004") << pageData(0);
    QTest::newRow("page 17") << QByteArray("00040000") << pageData(16);
    QTest::newRow("pages 1 and 2") << QByteArray("0000000C") << pageData(0) + pageData(1);
    QTest::newRow("pages 1 and 17") << QByteArray("00040004") << pageData(0) + pageData(16);
    QByteArray sixteen;
    for (int page = 0; page < 16; ++page) {
        sixteen += pageData(page);
    }
    QTest::newRow("pages 1 to 16") << QByteArray("0003FFFC") << sixteen;
}

void CommandTest::readGivesRequestedPagesInAscendingOrder()
{
    QFETCH(QByteArray, mask);
    QFETCH(QByteArray, data);
    QCOMPARE(program.exchange("0100" + mask), "00" + data + '\r');
}

void CommandTest::writeStoresOneBlockPerPage()
{
    QCOMPARE(program.exchange("0200000400040011223344556677FFEEDDCCBBAA9988"), QByteArray("00\r"));
    QCOMPARE(program.exchange("010000040004"), QByteArray("000011223344556677FFEEDDCCBBAA9988\r"));
    QCOMPARE(simulator->control("get tag").mid(3, 32),
             QByteArray("0011223344556677") + pageData(1));
}

void CommandTest::sameWriteFillsEveryRequestedPage()
{
    QCOMPARE(program.exchange("03000007FFFCA5A5A5A5A5A5A5A5"), QByteArray("00\r"));
    QCOMPARE(simulator->control("get tag"), "ok " + QByteArray("A5A5A5A5A5A5A5A5").repeated(17));
}

void CommandTest::byteWriteStaysWithinTheTag_data()
{
    QTest::addColumn<QByteArray>("parameter");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("address");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("first byte") << QByteArray("00EE") << QByteArray("00\r") << 0
                                << QByteArray("EE");
    QTest::newRow("across a page boundary")
        << QByteArray("06A1A2A3A4") << QByteArray("00\r") << 6 << QByteArray("A1A2A3A4");
    QTest::newRow("up to the last byte")
        << QByteArray("86B1B2") << QByteArray("00\r") << 0x86 << QByteArray("B1B2");
    QTest::newRow("one byte past the end")
        << QByteArray("87B1B2") << QByteArray("7B\r") << 0x87 << pageData(16).right(2);
    QTest::newRow("start past the end")
        << QByteArray("88B1") << QByteArray("7B\r") << 0x80 << pageData(16).left(2);
    QTest::newRow("odd number of digits")
        << QByteArray("00B1B") << QByteArray("14\r") << 0 << pageData(0).left(4);
}

void CommandTest::byteWriteStaysWithinTheTag()
{
    QFETCH(QByteArray, parameter);
    QFETCH(QByteArray, response);
    QFETCH(int, address);
    QFETCH(QByteArray, bytes);
    QCOMPARE(program.exchange("0400" + parameter), response);
    QCOMPARE(simulator->control("get tag").mid(3 + 2 * address, bytes.size()), bytes);
}

void CommandTest::malformedCommandsGetTheirErrorEnd_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("response");
    QTest::newRow("unknown code") << QByteArray("99") << QByteArray("14\r");
    QTest::newRow("single character") << QByteArray("1") << QByteArray("14\r");
    QTest::newRow("parameter where none belongs") << QByteArray("1401X") << QByteArray("14\r");
    QTest::newRow("lower-case mask") << QByteArray("01000000000c") << QByteArray("14\r");
    QTest::newRow("mask too short") << QByteArray("01000000004") << QByteArray("14\r");
    QTest::newRow("mask bits below page 1") << QByteArray("010000000003") << QByteArray("7B\r");
    QTest::newRow("mask bit above page 17") << QByteArray("010000080000") << QByteArray("7B\r");
    QTest::newRow("empty mask") << QByteArray("010000000000") << QByteArray("7B\r");
    QTest::newRow("read of all 17 pages") << QByteArray("01000007FFFC") << QByteArray("7B\r");
    QTest::newRow("write with data for one of two pages")
        << QByteArray("02000000000C0011223344556677") << QByteArray("14\r");
    QTest::newRow("write with non-hex data")
        << QByteArray("0200000000040011223344556G77") << QByteArray("14\r");
    QTest::newRow("IP address octet above 255")
        << QByteArray("A300256000000001") << QByteArray("9A\r");
    QTest::newRow("IP address with a letter")
        << QByteArray("A30019216800120X") << QByteArray("14\r");
    QTest::newRow("code 13") << QByteArray("13") << QByteArray("7E\r");
    QTest::newRow("code A0") << QByteArray("A0") << QByteArray("7E\r");
    QTest::newRow("code A1") << QByteArray("A1X") << QByteArray("7E\r");
}

void CommandTest::malformedCommandsGetTheirErrorEnd()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, response);
    const QByteArray tagBefore = simulator->control("get tag");
    const QByteArray ipBefore = simulator->control("get ip-rom");
    QCOMPARE(program.exchange(message), response);
    QCOMPARE(simulator->control("get tag"), tagBefore);
    QCOMPARE(simulator->control("get ip-rom"), ipBefore);
}

void CommandTest::queriesReportTheState_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("code");
    QTest::newRow("model") << QByteArray("model") << QByteArray("V640-TEST 2")
                           << QByteArray("1401");
    QTest::newRow("firmware") << QByteArray("firmware") << QByteArray("010A") << QByteArray("1402");
    QTest::newRow("mac") << QByteArray("mac") << QByteArray("001122AABBCC") << QByteArray("1403");
    QTest::newRow("dip") << QByteArray("dip") << QByteArray("01") << QByteArray("1410");
    QTest::newRow("ip-dip") << QByteArray("ip-dip") << QByteArray("010000000001")
                            << QByteArray("1411");
    QTest::newRow("mask-dip") << QByteArray("mask-dip") << QByteArray("255255000000")
                              << QByteArray("1412");
    QTest::newRow("ip-rom") << QByteArray("ip-rom") << QByteArray("172016005009")
                            << QByteArray("1413");
    QTest::newRow("mask-rom") << QByteArray("mask-rom") << QByteArray("255255255128")
                              << QByteArray("1414");
    QTest::newRow("memory") << QByteArray("memory") << QByteArray("00") << QByteArray("1420");
    QTest::newRow("antenna") << QByteArray("antenna") << QByteArray("00") << QByteArray("1421");
    QTest::newRow("noise") << QByteArray("noise") << QByteArray("42") << QByteArray("40");
}

void CommandTest::queriesReportTheState()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, code);
    QCOMPARE(simulator->control("set " + field + ' ' + value), ok);
    QCOMPARE(program.exchange(code), "00" + value + '\r');
    program.send(addressedFrame(1, code));
    QCOMPARE(program.readFrame(), addressedFrame(1, "00" + value));
}

void CommandTest::testEchoesItsParameter_data()
{
    QTest::addColumn<QByteArray>("parameter");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text with spaces") << QByteArray("hello unit 1");
    QTest::newRow("270 characters, the most") << QByteArray(270, 'Z');
}

void CommandTest::testEchoesItsParameter()
{
    QFETCH(QByteArray, parameter);
    QCOMPARE(program.exchange("10" + parameter), "00" + parameter + '\r');
}

void CommandTest::nakResendsThePreviousResponse()
{
    program.send(addressedFrame(1, "010000003000"));
    const QByteArray response = program.readFrame();
    QCOMPARE(response, addressedFrame(1, "00" + pageData(10) + pageData(11)));
    program.send(addressedFrame(1, "12"));
    QCOMPARE(program.readFrame(), response);
    QCOMPARE(program.exchange("99"), QByteArray("14\r"));
    QCOMPARE(program.exchange("12"), QByteArray("14\r"));
}

void CommandTest::nakWithoutPreviousResponseFails()
{
    SimulatorProcess fresh;
    QVERIFY(fresh.start({"--listen", "127.0.0.111"}));
    TcpProgram freshProgram;
    QVERIFY(freshProgram.connectTo(fresh.readiness("tcp")));
    QCOMPARE(freshProgram.exchange("12"), QByteArray("7E\r"));
    QCOMPARE(freshProgram.exchange("15"), QByteArray("0012\r"));
}

void CommandTest::lastCommandIsTheCommandBefore()
{
    QCOMPARE(program.exchange("1402").left(2), QByteArray("00"));
    QCOMPARE(program.exchange("15"), QByteArray("001402\r"));
    QCOMPARE(program.exchange("15"), QByteArray("0015\r"));
    QCOMPARE(program.exchange("7F"), QByteArray("00\r"));
    QCOMPARE(program.exchange("15"), QByteArray("007F\r"));
    QCOMPARE(program.exchange("A300999000000000"), QByteArray("9A\r"));
    QCOMPARE(program.exchange("15"), QByteArray("00A300\r"));
    QCOMPARE(simulator->control("get last-command"), QByteArray("ok 15"));
}

void CommandTest::historyCountsCommandsUntilCleared()
{
    QCOMPARE(program.exchange("17"), QByteArray("00\r"));
    QCOMPARE(program.exchange("16"), QByteArray("00000000000000\r"));
    QCOMPARE(program.exchange("99"), QByteArray("14\r"));
    QCOMPARE(program.exchange("1401").left(2), QByteArray("00"));
    QCOMPARE(program.exchange("16"), QByteArray("00000300020001\r"));
    QCOMPARE(simulator->control("get history"), QByteArray("ok 0004 0003 0001"));
    QCOMPARE(simulator->control("set history FFFF FFFE 0001"), ok);
    QCOMPARE(program.exchange("10"), QByteArray("00\r"));
    QCOMPARE(program.exchange("16"), QByteArray("00FFFFFFFF0001\r"));
    QCOMPARE(program.exchange("17"), QByteArray("00\r"));
    QCOMPARE(simulator->control("get history"), QByteArray("ok 0000 0000 0000"));
}

void CommandTest::settingsCommandsStoreTheirValues()
{
    QCOMPARE(program.exchange("A2my pass 1"), QByteArray("00\r"));
    QCOMPARE(simulator->control("get password"), QByteArray("ok my pass 1"));
    QCOMPARE(program.exchange("A2"), QByteArray("00\r"));
    QCOMPARE(simulator->control("get password"), QByteArray("ok "));
    QCOMPARE(program.exchange("A2" + QByteArray(17, 'p')), QByteArray("14\r"));

    QCOMPARE(program.exchange("A300010000000001"), QByteArray("00\r"));
    QCOMPARE(program.exchange("A301255255255000"), QByteArray("00\r"));
    QCOMPARE(program.exchange("1413"), QByteArray("00010000000001\r"));
    QCOMPARE(program.exchange("1414"), QByteArray("00255255255000\r"));
    QCOMPARE(simulator->control("get ip-rom"), QByteArray("ok 010000000001"));
    // The DIP switch values are the hardware's own.
    QCOMPARE(simulator->control("set ip-dip 192168001200"), ok);
    QCOMPARE(program.exchange("1411"), QByteArray("00192168001200\r"));
}

void CommandTest::resetKeepsTagAndSettings()
{
    QCOMPARE(simulator->control("set model V640-KEEP"), ok);
    const QByteArray stateBefore = simulator->control("state");
    QCOMPARE(program.exchange("7F"), QByteArray("00\r"));
    QCOMPARE(program.exchange("1401"), QByteArray("00V640-KEEP\r"));
    const QByteArray stateAfter = simulator->control("state");
    QCOMPARE(stateAfter.mid(stateAfter.indexOf("tag=")),
             stateBefore.mid(stateBefore.indexOf("tag=")));
}

void CommandTest::controlRejectsMalformedValues_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("firmware") << QByteArray("set firmware 0209") << true;
    QTest::newRow("firmware with hex major") << QByteArray("set firmware 0A09") << false;
    QTest::newRow("firmware too long") << QByteArray("set firmware 02091") << false;
    QTest::newRow("mac lower case") << QByteArray("set mac 001122aabbcc") << false;
    QTest::newRow("dip one digit") << QByteArray("set dip 1") << false;
    QTest::newRow("ip with a letter") << QByteArray("set ip-rom 19216800120A") << false;
    QTest::newRow("ip any twelve digits") << QByteArray("set ip-rom 999999999999") << true;
    QTest::newRow("password too long") << QByteArray("set password 12345678901234567") << false;
    QTest::newRow("last command unknown") << QByteArray("set last-command 99") << false;
    QTest::newRow("history two counters") << QByteArray("set history 0001 0001") << false;
    QTest::newRow("unknown field") << QByteArray("set colour blue") << false;
    QTest::newRow("page 17") << QByteArray("page 17 0011223344556677") << false;
    QTest::newRow("page short") << QByteArray("page 1 00112233") << false;
    QTest::newRow("page lower case") << QByteArray("page 16 aabbccddeeff0011") << true;
    QTest::newRow("tag too short") << QByteArray("set tag 00") << false;
}

void CommandTest::controlRejectsMalformedValues()
{
    QFETCH(QByteArray, command);
    QFETCH(bool, accepted);
    const QByteArray stateBefore = simulator->control("state");
    const QByteArray reply = simulator->control(command);
    QCOMPARE(reply == ok, accepted);
    if (!accepted) {
        QVERIFY2(reply.startsWith("error "), reply.constData());
        QCOMPARE(simulator->control("state"), stateBefore);
    }
}

QTEST_GUILESS_MAIN(CommandTest)
#include "tst_commands.moc"
