// Persistence: the state file is loaded at start, saved after every change, and always whole.
#include "simharness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString address = QStringLiteral("127.0.0.120");

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(contents), qint64(contents.size()));
}

} // namespace

class PersistenceTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void firstRunCreatesTheFileWithDefaults();
    void stateSurvivesAKill();
    void handWrittenFileIsLoaded();
    void malformedFileStopsStartAndIsKept_data();
    void malformedFileStopsStartAndIsKept();
    void fileStaysWholeWhenKilledWhileSaving();

private:
    QStringList arguments() const;
    QTemporaryDir directory;
    QString statePath;
};

void PersistenceTest::init()
{
    QVERIFY(directory.isValid());
    statePath = directory.filePath(QStringLiteral("unit.state"));
    QFile::remove(statePath);
}

QStringList PersistenceTest::arguments() const
{
    return {"--listen", address, "--control", "0", "--state", statePath};
}

void PersistenceTest::firstRunCreatesTheFileWithDefaults()
{
    SimulatorProcess simulator;
    QVERIFY(simulator.start(arguments()));
    const QByteArray contents = fileContents(statePath);
    QVERIFY(contents.contains("\nmodel V640-SIM01\n"));
    QVERIFY(contents.contains("\npage 16 0000000000000000\n"));
    QCOMPARE(simulator.stop(SIGTERM), 0);
}

void PersistenceTest::stateSurvivesAKill()
{
    QByteArray stateBefore;
    {
        SimulatorProcess simulator;
        QVERIFY(simulator.start(arguments()));
        TcpProgram program;
        QVERIFY(program.connectTo(simulator.readiness("tcp")));
        QCOMPARE(program.exchange("0200000400080011223344556677DEADBEEF01020304"),
                 QByteArray("00\r"));
        QCOMPARE(program.exchange("04008701"), QByteArray("00\r"));
        QCOMPARE(program.exchange("A2secret word"), QByteArray("00\r"));
        QCOMPARE(program.exchange("A300172016005009"), QByteArray("00\r"));
        QCOMPARE(simulator.control("set model V640-KEPT 7"), QByteArray("ok"));
        stateBefore = simulator.control("state");
        QCOMPARE(simulator.stop(SIGKILL), -1);
    }
    SimulatorProcess simulator;
    QVERIFY(simulator.start(arguments()));
    QCOMPARE(simulator.control("state"), stateBefore);
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    QCOMPARE(program.exchange("010000040008"), QByteArray("000011223344556677DEADBEEF01020301\r"));
    QCOMPARE(program.exchange("1401"), QByteArray("00V640-KEPT 7\r"));
    QCOMPARE(simulator.control("get password"), QByteArray("ok secret word"));
    QCOMPARE(simulator.control("get history"), QByteArray("ok 0006 0006 0000"));
    QCOMPARE(QDir(directory.path()).entryList(QDir::Files), QStringList{"unit.state"});
}

void PersistenceTest::handWrittenFileIsLoaded()
{
    writeFile(statePath, "# written by hand\n"
                         "firmware 0310\n"
                         "password two  spaces\n"
                         "history 000A 0009 0001\n"
                         "page 2 0123456789ABCDEF\n");
    SimulatorProcess simulator;
    QVERIFY(simulator.start(arguments()));
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    QCOMPARE(program.exchange("1402"), QByteArray("000310\r"));
    QCOMPARE(program.exchange("1401"), QByteArray("00V640-SIM01\r"));
    QCOMPARE(program.exchange("010000000010"), QByteArray("000123456789ABCDEF\r"));
    QCOMPARE(simulator.control("get password"), QByteArray("ok two  spaces"));
    QCOMPARE(simulator.control("get history"), QByteArray("ok 000D 000C 0001"));
}

void PersistenceTest::malformedFileStopsStartAndIsKept_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("unknown field") << QByteArray("model X\ncolour blue\n") << QByteArray("line 2");
    QTest::newRow("bad firmware") << QByteArray("firmware 1\n") << QByteArray("line 1");
    QTest::newRow("page out of range")
        << QByteArray("page 17 0000000000000000\n") << QByteArray("line 1");
    QTest::newRow("half a page") << QByteArray("page 3 00000000") << QByteArray("line 1");
}

void PersistenceTest::malformedFileStopsStartAndIsKept()
{
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, reason);
    writeFile(statePath, contents);
    SimulatorProcess simulator;
    QVERIFY(!simulator.start(arguments()));
    QCOMPARE(simulator.waitForExit(), 1);
    QVERIFY(simulator.standardError().contains(reason));
    QCOMPARE(fileContents(statePath), contents);
}

void PersistenceTest::fileStaysWholeWhenKilledWhileSaving()
{
    constexpr int commandCount = 300;
    constexpr int wholeFileLines = 1 + 13 + 1 + 17;
    SimulatorProcess simulator;
    QVERIFY(simulator.start(arguments()));
    TcpProgram program;
    QVERIFY(program.connectTo(simulator.readiness("tcp")));
    // Every command saves; the file is read over and over while those saves happen.
    QByteArray burst;
    for (int index = 0; index < commandCount; ++index) {
        burst +=
            "03000007FFFC" + QByteArray::number(index, 16).toUpper().rightJustified(16, '0') + '\r';
    }
    program.send(burst);
    int responses = 0;
    int reads = 0;
    QDeadlineTimer deadline(replyTimeoutMs);
    while (responses < commandCount / 2 && !deadline.hasExpired()) {
        const QByteArray contents = fileContents(statePath);
        QCOMPARE(contents.count('\n'), wholeFileLines);
        ++reads;
        responses += program.readSome(0).count('\r');
    }
    QVERIFY(reads > 0);
    QCOMPARE(simulator.stop(SIGKILL), -1);

    QCOMPARE(fileContents(statePath).count('\n'), wholeFileLines);
    SimulatorProcess restarted;
    QVERIFY(restarted.start(arguments()));
    const QByteArray tag = restarted.control("get tag");
    QCOMPARE(tag, "ok " + tag.mid(3, 16).repeated(17));
}

QTEST_GUILESS_MAIN(PersistenceTest)
#include "tst_persistence.moc"
