// Fault modes, switched on the command line and through the control channel between commands.
#include "simharness.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTest>

#include <memory>

namespace {

const QString address = QStringLiteral("127.0.0.130");
const QByteArray ok = "ok";
const QByteArray modelResponse = "00V640-SIM01\r";

} // namespace

class FaultTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void noTagFailsOnlyTagCommands_data();
    void noTagFailsOnlyTagCommands();
    void delayHoldsTheResponseBack();
    void splitSendsPiecesWithPauses();
    void ignoreEveryLeavesEveryNthCommandUnanswered();
    void closeEndsTheConnectionWithoutCarryingOut();
    void closeOnPtyOnlyLeavesTheAnswerOut();
    void badByteSpoilsTheFrameBeforeItsEnd();
    void trailingBytesFollowEachResponse();
    void respondReplacesTheNextResponseOnce();
    void floodKeepsTheSimulatorResponsive();
    void sendWritesUnsolicitedBytes();
    void receivedRecordsTheProgramBytes();
    void lineReportsWhatTheProgramSet_data();
    void lineReportsWhatTheProgramSet();
    void faultsGivenAtStart_data();
    void faultsGivenAtStart();
    void faultClearTurnsEverythingOff();

private:
    std::unique_ptr<SimulatorProcess> simulator;
    std::unique_ptr<TcpProgram> program;
};

void FaultTest::initTestCase()
{
    simulator = std::make_unique<SimulatorProcess>();
    QVERIFY(simulator->start({"--listen", address, "--pty", "--control", "0"}));
}

void FaultTest::cleanupTestCase()
{
    // Ended here, so that an unclean end still fails a test.
    simulator.reset();
}

void FaultTest::init()
{
    program = std::make_unique<TcpProgram>();
    QVERIFY(program->connectTo(simulator->readiness("tcp")));
}

void FaultTest::cleanup()
{
    program.reset();
    QCOMPARE(simulator->control("fault clear"), ok);
}

void FaultTest::noTagFailsOnlyTagCommands_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("withoutTag");
    QTest::newRow("read") << QByteArray("010000000004") << QByteArray("72\r");
    QTest::newRow("write") << QByteArray("0200000000040011223344556677") << QByteArray("72\r");
    QTest::newRow("same write") << QByteArray("0300000000040011223344556677") << QByteArray("72\r");
    QTest::newRow("byte write") << QByteArray("04000011") << QByteArray("72\r");
    QTest::newRow("malformed read still a format error")
        << QByteArray("01000000000x") << QByteArray("14\r");
    QTest::newRow("model number") << QByteArray("1401") << modelResponse;
    QTest::newRow("test") << QByteArray("10X") << QByteArray("00X\r");
}

void FaultTest::noTagFailsOnlyTagCommands()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, withoutTag);
    const QByteArray tagBefore = simulator->control("get tag");
    QCOMPARE(simulator->control("fault no-tag on"), ok);
    QCOMPARE(program->exchange(message), withoutTag);
    QCOMPARE(simulator->control("get tag"), tagBefore);
    QCOMPARE(simulator->control("fault no-tag off"), ok);
    QVERIFY(program->exchange(message) != "72\r");
}

void FaultTest::delayHoldsTheResponseBack()
{
    QCOMPARE(simulator->control("fault delay 800"), ok);
    program->send("1401\r");
    QVERIFY(program->staysSilentFor(300));
    QCOMPARE(program->readFrame(), modelResponse);
    QCOMPARE(simulator->control("fault delay 0"), ok);
    QCOMPARE(program->exchange("1401"), modelResponse);
}

void FaultTest::splitSendsPiecesWithPauses()
{
    QCOMPARE(simulator->control("fault split 5 300"), ok);
    program->send("1401\r");
    const QByteArray firstPiece = program->readSome();
    QCOMPARE(firstPiece, modelResponse.left(5));
    QVERIFY(program->staysSilentFor(100));
    QCOMPARE(firstPiece + program->readFrame(), modelResponse);
    QCOMPARE(simulator->control("fault split 0 0"), ok);
    QCOMPARE(program->exchange("1401"), modelResponse);
}

void FaultTest::ignoreEveryLeavesEveryNthCommandUnanswered()
{
    QCOMPARE(simulator->control("fault ignore-every 3"), ok);
    const QByteArray tagBefore = simulator->control("get tag");
    QCOMPARE(program->exchange("10ONE"), QByteArray("00ONE\r"));
    QCOMPARE(program->exchange("10TWO"), QByteArray("00TWO\r"));
    program->send("0300000000045555555555555555\r");
    QCOMPARE(program->exchange("10FOUR"), QByteArray("00FOUR\r"));
    QCOMPARE(simulator->control("get tag"), tagBefore);
    QCOMPARE(program->exchange("10FIVE"), QByteArray("00FIVE\r"));
    program->send("10SIX\r");
    QCOMPARE(program->exchange("10SEVEN"), QByteArray("00SEVEN\r"));
}

void FaultTest::closeEndsTheConnectionWithoutCarryingOut()
{
    const QByteArray tagBefore = simulator->control("get tag");
    QCOMPARE(simulator->control("fault close on"), ok);
    program->send("0300000000046666666666666666\r");
    QVERIFY(program->waitForClose());
    QVERIFY(program->readSome(0).isEmpty());
    QCOMPARE(simulator->control("get tag"), tagBefore);

    QCOMPARE(simulator->control("fault close off"), ok);
    TcpProgram next;
    QVERIFY(next.connectTo(simulator->readiness("tcp")));
    QCOMPARE(next.exchange("1401"), modelResponse);
}

void FaultTest::closeOnPtyOnlyLeavesTheAnswerOut()
{
    PtyProgram pty;
    QVERIFY(pty.open(simulator->readiness("pty")));
    QCOMPARE(simulator->control("fault close on"), ok);
    pty.send(addressedFrame(1, "1401"));
    QVERIFY(pty.staysSilentFor(300));
    QCOMPARE(simulator->control("fault close off"), ok);
    pty.send(addressedFrame(1, "1401"));
    QCOMPARE(pty.readFrame(), addressedFrame(1, "00V640-SIM01"));
}

void FaultTest::badByteSpoilsTheFrameBeforeItsEnd()
{
    QCOMPARE(simulator->control("fault bad-byte on"), ok);
    QCOMPARE(program->exchange("1401"), QByteArray("00V640-SIM01\x80\r"));
    PtyProgram pty;
    QVERIFY(pty.open(simulator->readiness("pty")));
    pty.send(addressedFrame(1, "1401"));
    QCOMPARE(pty.readFrame(), addressedFrame(1, "00V640-SIM01").insert(17, '\x80'));
}

void FaultTest::trailingBytesFollowEachResponse()
{
    QCOMPARE(simulator->control("fault trailing 0A"), ok);
    QCOMPARE(program->exchange("1401"), modelResponse);
    QCOMPARE(program->readBytes(1), QByteArray("\n"));
    QCOMPARE(simulator->control("fault trailing 3031FF"), ok);
    QCOMPARE(program->exchange("10"), QByteArray("00\r"));
    QCOMPARE(program->readBytes(3), QByteArray("01\xFF"));
    QCOMPARE(simulator->control("fault trailing off"), ok);
    QCOMPARE(program->exchange("10"), QByteArray("00\r"));
    QVERIFY(program->staysSilentFor(200));
}

void FaultTest::respondReplacesTheNextResponseOnce()
{
    QCOMPARE(simulator->control("respond 3737"), ok);
    program->send("1401\r");
    QCOMPARE(program->readBytes(2), QByteArray("77"));
    QCOMPARE(program->exchange("1401"), modelResponse);
}

void FaultTest::floodKeepsTheSimulatorResponsive()
{
    constexpr qint64 floodSize = 10000000;
    QCOMPARE(simulator->control("flood " + QByteArray::number(floodSize)), ok);
    program->send("1401\r");
    // The flood is under way and nobody reads it, yet control commands are answered.
    QByteArray bytes = program->readSome();
    QVERIFY(!bytes.isEmpty());
    QCOMPARE(simulator->control("set noise 09"), ok);
    qint64 received = 0;
    bool onlyFill = true;
    QElapsedTimer elapsed;
    elapsed.start();
    while (!bytes.isEmpty()) {
        onlyFill = onlyFill && bytes.count('A') == bytes.size();
        received += bytes.size();
        bytes =
            received < floodSize && elapsed.elapsed() < 60000 ? program->readSome() : QByteArray();
    }
    QCOMPARE(received, floodSize);
    QVERIFY(onlyFill);
    QCOMPARE(program->exchange("40"), QByteArray("0009\r"));
}

void FaultTest::sendWritesUnsolicitedBytes()
{
    PtyProgram pty;
    QVERIFY(pty.open(simulator->readiness("pty")));
    QCOMPARE(simulator->control("send 30300D"), ok);
    QCOMPARE(program->readFrame(), QByteArray("00\r"));
    QCOMPARE(pty.readFrame(), QByteArray("00\r"));
    QVERIFY(simulator->control("send 3G").startsWith("error"));
}

void FaultTest::receivedRecordsTheProgramBytes()
{
    QCOMPARE(simulator->control("clear-received"), ok);
    QCOMPARE(program->exchange("1401"), modelResponse);
    QCOMPARE(program->exchange(QByteArray("\x00\xFF", 2)), QByteArray("14\r"));
    QCOMPARE(program->exchange("10"), QByteArray("00\r"));
    QCOMPARE(simulator->control("received"), QByteArray("ok 313430310D00FF0D31300D"));
    QCOMPARE(simulator->control("clear-received"), ok);
    QCOMPARE(simulator->control("received"), QByteArray("ok "));
}

void FaultTest::lineReportsWhatTheProgramSet_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("flowControl");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("9600") << 9600 << int(QSerialPort::OneStop) << int(QSerialPort::NoFlowControl)
                          << QByteArray("9600N81N");
    QTest::newRow("19200, two stop bits")
        << 19200 << int(QSerialPort::TwoStop) << int(QSerialPort::NoFlowControl)
        << QByteArray("19200N82N");
    QTest::newRow("38400, hardware flow")
        << 38400 << int(QSerialPort::OneStop) << int(QSerialPort::HardwareControl)
        << QByteArray("38400N81H");
    QTest::newRow("115200, software flow")
        << 115200 << int(QSerialPort::OneStop) << int(QSerialPort::SoftwareControl)
        << QByteArray("115200N81S");
}

void FaultTest::lineReportsWhatTheProgramSet()
{
    QFETCH(int, baudRate);
    QFETCH(int, stopBits);
    QFETCH(int, flowControl);
    QFETCH(QByteArray, line);
    QSerialPort port(QString::fromLocal8Bit(simulator->readiness("pty")));
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    QVERIFY(port.setBaudRate(baudRate));
    QVERIFY(port.setStopBits(static_cast<QSerialPort::StopBits>(stopBits)));
    QVERIFY(port.setFlowControl(static_cast<QSerialPort::FlowControl>(flowControl)));
    QCOMPARE(simulator->control("line now"), "ok " + line);
    // As a program does: one exchange, then the port is closed again.
    QCOMPARE(port.write(addressedFrame(1, "10")), qint64(8));
    QByteArray response;
    while (!response.endsWith('\r') && port.waitForReadyRead(replyTimeoutMs)) {
        response += port.readAll();
    }
    QCOMPARE(response, addressedFrame(1, "00"));
    port.close();
    QCOMPARE(simulator->control("line"), "ok " + line);
}

void FaultTest::faultsGivenAtStart_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("summary");
    QTest::newRow("none") << QStringList()
                          << QByteArray("no-tag=off delay=0 split=0,0 ignore-every=0 close=off "
                                        "bad-byte=off trailing=off");
    QTest::newRow("all") << QStringList{"--no-tag",   "--delay",        "50",  "--split",
                                        "3:20",       "--ignore-every", "4",   "--close",
                                        "--bad-byte", "--trailing",     "0a0d"}
                         << QByteArray("no-tag=on delay=50 split=3,20 ignore-every=4 close=on "
                                       "bad-byte=on trailing=0A0D");
}

void FaultTest::faultsGivenAtStart()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, summary);
    SimulatorProcess started;
    QVERIFY(started.start(QStringList{"--listen", "127.0.0.131", "--control", "0"} + options));
    QCOMPARE(started.control("faults"), "ok " + summary);
}

void FaultTest::faultClearTurnsEverythingOff()
{
    for (const QByteArray &command : QList<QByteArray>{
             "fault no-tag on", "fault delay 10", "fault split 2 1", "fault ignore-every 9",
             "fault bad-byte on", "fault trailing 0A", "fault clear"}) {
        QCOMPARE(simulator->control(command), ok);
    }
    QCOMPARE(simulator->control("faults"),
             QByteArray("ok no-tag=off delay=0 split=0,0 ignore-every=0 close=off bad-byte=off "
                        "trailing=off"));
    QCOMPARE(program->exchange("010000000004").left(2), QByteArray("00"));
}

QTEST_GUILESS_MAIN(FaultTest)
#include "tst_faults.moc"
