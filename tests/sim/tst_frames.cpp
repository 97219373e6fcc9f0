// Frame handling: which frames are answered, in which form, and how byte streams become frames.
#include "simharness.h"

#include <QDir>
#include <QTest>
#include <QThread>

namespace {

const QString address = QStringLiteral("127.0.0.100");
const QByteArray modelResponse = "00V640-SIM01\r";

} // namespace

class FrameTest : public QObject
{
    Q_OBJECT

private slots:
    void unaddressedCommandGetsUnaddressedResponse();
    void addressedCommandGetsResponseForItsNode_data();
    void addressedCommandGetsResponseForItsNode();
    void framesForOtherNodesOrWithBadFcsGetNoAnswer_data();
    void framesForOtherNodesOrWithBadFcsGetNoAnswer();
    void frameInSinglePiecesIsReassembled();
    void severalFramesInOneWriteAreAnsweredInOrder();
    void lineFeedAfterCarriageReturnIsSkipped();
    void clientsAreServedOneAfterAnother();
    void ptyAnswersAddressedFramesAcrossReopens();
    void serialDeviceIsServedWithItsSettings();
};

void FrameTest::unaddressedCommandGetsUnaddressedResponse()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--listen", address}));
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    QCOMPARE(program.exchange("1401"), modelResponse);
    QCOMPARE(program.exchange("10ABC"), QByteArray("00ABC\r"));
}

void FrameTest::addressedCommandGetsResponseForItsNode_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("node");
    QTest::newRow("default node 1") << QStringList() << 1;
    QTest::newRow("node 7") << QStringList{"--node", "7"} << 7;
    QTest::newRow("node 31") << QStringList{"--node", "31"} << 31;
}

void FrameTest::addressedCommandGetsResponseForItsNode()
{
    QFETCH(QStringList, options);
    QFETCH(int, node);
    SimulatorProcess simulator;
    QVERIFY(simulator.start(QStringList{"--listen", address} + options));
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    program.send(addressedFrame(node, "1401"));
    const QByteArray response = program.readFrame();
    QCOMPARE(response, addressedFrame(node, "00V640-SIM01"));
    QVERIFY(hasMatchingFcs(response));
}

void FrameTest::framesForOtherNodesOrWithBadFcsGetNoAnswer_data()
{
    QTest::addColumn<QByteArray>("frame");
    const QByteArray good = addressedFrame(1, "10LOST");
    QByteArray wrongFcs = good;
    wrongFcs[wrongFcs.size() - 2] = wrongFcs.at(wrongFcs.size() - 2) == '0' ? '1' : '0';
    QTest::newRow("other node") << addressedFrame(2, "10LOST");
    QTest::newRow("node 00") << addressedFrame(0, "10LOST");
    QTest::newRow("wrong FCS") << wrongFcs;
    QByteArray lowerCaseFcs;
    for (char suffix = 'A'; suffix <= 'Z' && lowerCaseFcs == lowerCaseFcs.toUpper(); ++suffix) {
        const QByteArray frame = addressedFrame(1, "10LOST" + QByteArray(1, suffix));
        lowerCaseFcs = frame.chopped(3) + frame.right(3).toLower();
    }
    QTest::newRow("lower-case FCS") << lowerCaseFcs;
    QTest::newRow("too short to carry node and FCS") << QByteArray("\x01"
                                                                   "01\r");
}

void FrameTest::framesForOtherNodesOrWithBadFcsGetNoAnswer()
{
    QFETCH(QByteArray, frame);
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--listen", address}));
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    // Had the first frame been answered, its response would come first.
    program.send(frame + addressedFrame(1, "10KEPT"));
    QCOMPARE(program.readFrame(), addressedFrame(1, "00KEPT"));
}

void FrameTest::frameInSinglePiecesIsReassembled()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--listen", address}));
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    for (char byte : addressedFrame(1, "1401")) {
        program.send(QByteArray(1, byte));
        QThread::msleep(5);
    }
    QCOMPARE(program.readFrame(), addressedFrame(1, "00V640-SIM01"));
    QVERIFY(program.staysSilentFor(200));
}

void FrameTest::severalFramesInOneWriteAreAnsweredInOrder()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--listen", address}));
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    program.send("10ONE\r10TWO\r" + addressedFrame(1, "10THREE"));
    QCOMPARE(program.readFrame(), QByteArray("00ONE\r"));
    QCOMPARE(program.readFrame(), QByteArray("00TWO\r"));
    QCOMPARE(program.readFrame(), addressedFrame(1, "00THREE"));
}

void FrameTest::lineFeedAfterCarriageReturnIsSkipped()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--listen", address}));
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    program.send("10ONE\r\n10TWO\r\n");
    QCOMPARE(program.readFrame(), QByteArray("00ONE\r"));
    QCOMPARE(program.readFrame(), QByteArray("00TWO\r"));
}

void FrameTest::clientsAreServedOneAfterAnother()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--listen", address}));
    TcpProgram first;
    TcpProgram second;
    QVERIFY(first.connectTo(simulator.readiness("tcp")));
    QVERIFY(second.connectTo(simulator.readiness("tcp")));
    second.send("10SECOND\r");
    QCOMPARE(first.exchange("10FIRST"), QByteArray("00FIRST\r"));
    QVERIFY(second.staysSilentFor(300));
    first.disconnect();
    QCOMPARE(second.readFrame(), QByteArray("00SECOND\r"));
}

void FrameTest::ptyAnswersAddressedFramesAcrossReopens()
{
    const QString linkPath = QDir::temp().filePath(QStringLiteral("vorsel-sim-frames-link"));
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--pty", "--link", linkPath}));
    QVERIFY(simulator.readiness("pty").startsWith("/dev/"));
    QCOMPARE(simulator.readiness("link"), linkPath.toLocal8Bit());

    for (const QByteArray &path : {simulator.readiness("pty"), linkPath.toLocal8Bit()}) {
        PtyProgram program;
        QVERIFY2(program.open(path), path.constData());
        QCOMPARE(program.exchange(addressedFrame(1, "1402").chopped(1)),
                 addressedFrame(1, "000105"));
        QCOMPARE(program.exchange("1402"), QByteArray("000105\r"));
        program.close();
    }
}

void FrameTest::serialDeviceIsServedWithItsSettings()
{
    PtyProgram program;
    const QByteArray device = program.openMaster();
    QVERIFY(!device.isEmpty());
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--serial", device, "--settings", "19200N82", "--node", "3",
                             "--listen", "127.0.0.101", "--port", "0", "--control", "0"}));
    QCOMPARE(simulator.readiness("serial"), device);
    program.send(addressedFrame(3, "1401"));
    QCOMPARE(program.readFrame(), addressedFrame(3, "00V640-SIM01"));
    QCOMPARE(simulator.control("line"), QByteArray("ok 19200N82N"));
}

QTEST_GUILESS_MAIN(FrameTest)
#include "tst_frames.moc"
