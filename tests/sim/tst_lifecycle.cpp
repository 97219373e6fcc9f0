// Start-up, readiness, the ways to end the simulator, and its start-up errors.
#include "simharness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString address = QStringLiteral("127.0.0.145");

} // namespace

class LifecycleTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void readinessNamesEveryTransport();
    void controlDefaultsToLoopbackWithoutListen();
    void endsCleanlyAndRemovesItsLink_data();
    void endsCleanlyAndRemovesItsLink();
    void standardInputControlsItAndItsEndIsNoStop();
    void staleLinkIsReplacedOtherFilesAreKept();
    void busyPortIsAStartUpError();
    void invalidOptionsAreRejected_data();
    void invalidOptionsAreRejected();
    void helpDescribesTheControlCommands();

private:
    QTemporaryDir directory;
};

void LifecycleTest::initTestCase()
{
    QVERIFY(directory.isValid());
}

void LifecycleTest::readinessNamesEveryTransport()
{
    const QString linkPath = directory.filePath(QStringLiteral("ready-link"));
    SimulatorProcess simulator;
    QVERIFY(simulator.start(
        {"--listen", address, "--port", "0", "--pty", "--link", linkPath, "--control", "0"}));
    QCOMPARE(simulator.readinessOrder(), (QList<QByteArray>{"tcp", "pty", "link", "control"}));
    QVERIFY(simulator.readiness("tcp").startsWith(address.toLatin1() + ':'));
    QVERIFY(simulator.readiness("tcp").mid(address.size() + 1).toInt() > 0);
    QVERIFY(simulator.readiness("control").startsWith(address.toLatin1() + ':'));
    QCOMPARE(QFileInfo(linkPath).symLinkTarget(),
             QString::fromLocal8Bit(simulator.readiness("pty")));
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    QCOMPARE(program.exchange("1401"), QByteArray("00V640-SIM01\r"));
}

void LifecycleTest::controlDefaultsToLoopbackWithoutListen()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--pty", "--control", "0"}));
    QVERIFY(simulator.readiness("control").startsWith("127.0.0.1:"));
    QCOMPARE(simulator.control("set noise 11"), QByteArray("ok"));
    PtyProgram program;
    QVERIFY(program.open(simulator.readiness("pty")));
    QCOMPARE(program.exchange("40"), QByteArray("0011\r"));
}

void LifecycleTest::endsCleanlyAndRemovesItsLink_data()
{
    QTest::addColumn<QByteArray>("how");
    QTest::newRow("SIGINT") << QByteArray("SIGINT");
    QTest::newRow("SIGTERM") << QByteArray("SIGTERM");
    QTest::newRow("quit on the control port") << QByteArray("control");
    QTest::newRow("quit on standard input") << QByteArray("stdin");
}

void LifecycleTest::endsCleanlyAndRemovesItsLink()
{
    QFETCH(QByteArray, how);
    const QString linkPath = directory.filePath(QStringLiteral("end-link"));
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--listen", address, "--pty", "--link", linkPath, "--control", "0"}));
    QVERIFY(QFileInfo(linkPath).isSymLink());
    int status;
    if (how == "SIGINT") {
        status = simulator.stop(SIGINT);
    } else if (how == "SIGTERM") {
        status = simulator.stop(SIGTERM);
    } else if (how == "control") {
        QCOMPARE(simulator.control("quit"), QByteArray("ok"));
        status = simulator.waitForExit();
    } else {
        QCOMPARE(simulator.controlByStandardInput("quit"), QByteArray("ok"));
        status = simulator.waitForExit();
    }
    QCOMPARE(status, 0);
    QVERIFY(!QFileInfo(linkPath).isSymLink());
    QVERIFY(simulator.standardError().isEmpty());
}

void LifecycleTest::standardInputControlsItAndItsEndIsNoStop()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start({"--listen", address}));
    QCOMPARE(simulator.controlByStandardInput("set model V640-STDIN"), QByteArray("ok"));
    QVERIFY(simulator.controlByStandardInput("nonsense").startsWith("error"));
    simulator.closeStandardInput();
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    QCOMPARE(program.exchange("1401"), QByteArray("00V640-STDIN\r"));
    QVERIFY(simulator.running());
    QCOMPARE(simulator.stop(SIGTERM), 0);
}

void LifecycleTest::staleLinkIsReplacedOtherFilesAreKept()
{
    const QString stale = directory.filePath(QStringLiteral("stale-link"));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/99"), stale));
    {
        SimulatorProcess simulator;
        QVERIFY(simulator.start({"--pty", "--link", stale}));
        QCOMPARE(QFileInfo(stale).symLinkTarget(),
                 QString::fromLocal8Bit(simulator.readiness("pty")));
    }
    const QString regular = directory.filePath(QStringLiteral("regular-file"));
    QFile file(regular);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();
    SimulatorProcess simulator;
    QVERIFY(!simulator.start({"--pty", "--link", regular}));
    QCOMPARE(simulator.waitForExit(), 1);
    QVERIFY(simulator.standardError().contains("not a symbolic link"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void LifecycleTest::busyPortIsAStartUpError()
{
    SimulatorProcess first;
    QVERIFY(first.start({"--listen", "127.0.0.146", "--control", "7091"}));
    SimulatorProcess second;
    QVERIFY(!second.start({"--listen", "127.0.0.146", "--pty"}));
    QCOMPARE(second.waitForExit(), 1);
    QVERIFY(second.standardError().contains("cannot listen on 127.0.0.146:7090"));
    QVERIFY(second.readinessOrder().isEmpty());
    SimulatorProcess third;
    QVERIFY(!third.start({"--listen", "127.0.0.146", "--port", "7092", "--control", "7091"}));
    QCOMPARE(third.waitForExit(), 1);
    QVERIFY(third.standardError().contains("control"));
}

void LifecycleTest::invalidOptionsAreRejected_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing to serve on") << QStringList();
    QTest::newRow("host name") << QStringList{"--listen", "localhost"};
    QTest::newRow("port too large") << QStringList{"--listen", address, "--port", "70000"};
    QTest::newRow("port without listen") << QStringList{"--pty", "--port", "7090"};
    QTest::newRow("node 0") << QStringList{"--pty", "--node", "0"};
    QTest::newRow("node 32") << QStringList{"--pty", "--node", "32"};
    QTest::newRow("link without pty") << QStringList{"--listen", address, "--link", "/tmp/x"};
    QTest::newRow("settings without serial") << QStringList{"--pty", "--settings", "9600"};
    QTest::newRow("bad settings") << QStringList{"--serial", "/dev/null", "--settings", "9600X"};
    QTest::newRow("bad split") << QStringList{"--pty", "--split", "3"};
    QTest::newRow("bad trailing") << QStringList{"--pty", "--trailing", "zz"};
    QTest::newRow("bad delay") << QStringList{"--pty", "--delay", "soon"};
    QTest::newRow("unknown option") << QStringList{"--pty", "--turbo"};
    QTest::newRow("stray argument") << QStringList{"--pty", "extra"};
    QTest::newRow("not a serial device") << QStringList{"--serial", "/nonexistent/ttyS99"};
}

void LifecycleTest::invalidOptionsAreRejected()
{
    QFETCH(QStringList, arguments);
    SimulatorProcess simulator;
    QVERIFY(!simulator.start(arguments));
    QCOMPARE(simulator.waitForExit(), 1);
    QVERIFY(simulator.standardError().startsWith("vorsel-sim: "));
}

void LifecycleTest::helpDescribesTheControlCommands()
{
    QProcess process;
    process.start(simulatorPath(), {"--help"});
    QVERIFY(process.waitForFinished(startTimeoutMs));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray help = process.readAllStandardOutput();
    for (const QByteArray &word :
         QList<QByteArray>{"--listen",     "--pty",      "--link",     "--serial",
                           "--settings",   "--node",     "--state",    "--control",
                           "--no-tag",     "--delay",    "--split",    "--ignore-every",
                           "--close",      "--bad-byte", "--trailing", "fault no-tag",
                           "respond HEX",  "flood N",    "received",   "line",
                           "page N HEX16", "quit"}) {
        QVERIFY2(help.contains(word), word.constData());
    }
}

QTEST_GUILESS_MAIN(LifecycleTest)
#include "tst_lifecycle.moc"
