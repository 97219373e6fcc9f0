// Persistence: the state file is loaded at start, saved after every change, and always whole.
#include "simharness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTemporaryDir>

#include <csignal>

class PersistenceTest : public QObject
{
    Q_OBJECT
    QTemporaryDir directory;
    QFile file{directory.filePath(QStringLiteral("unit.state"))};
    const QString options = "--listen 127.0.0.120 --control 0 --state " + file.fileName();

    QByteArray contents()
    {
        file.open(QIODevice::ReadOnly);
        const QByteArray bytes = file.readAll();
        file.close();
        return bytes;
    }

private slots:
    void init() { file.remove(); }

    void stateSurvivesAKill()
    {
        QByteArray state;
        {
            Sim sim;
            QVERIFY(sim.start(options));
            QCOMPARE(sim.control("set model V640-KEPT 7"), ok);
            Link program(sim.ready("tcp"));
            QCOMPARE(program.exchange("0200000400080011223344556677DEADBEEF01020304"),
                     QByteArray("00\r"));
            QCOMPARE(program.exchange("A2secret word"), QByteArray("00\r"));
            state = sim.control("state");
            QCOMPARE(sim.stop(SIGKILL), -1);
        }
        Sim sim;
        QVERIFY(sim.start(options));
        QCOMPARE(sim.control("state"), state);
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files), QStringList{"unit.state"});
    }

    void malformedFileStopsTheStartAndIsKept()
    {
        const QByteArray malformed = "# by hand\n\nmodel X\npage 17 0000000000000000\n";
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(malformed) > 0);
        file.close();
        Sim sim;
        QVERIFY(!sim.start(options));
        QCOMPARE(sim.stop(), 1);
        QVERIFY2(sim.errors().contains("line 4"), sim.errors().constData());
        QCOMPARE(contents(), malformed);
    }

    // Read over and over while every command saves, and after a kill: never a part of a file.
    void fileIsAlwaysWhole()
    {
        constexpr int wholeFileLines = 1 + 13 + 1 + 17;
        Sim sim;
        QVERIFY(sim.start(options));
        Link program(sim.ready("tcp"));
        QByteArray burst;
        for (int index = 0; index < 300; ++index) {
            burst += "03000007FFFC" + QByteArray::number(index).rightJustified(16, '0') + '\r';
        }
        program.send(burst);
        const QDeadlineTimer deadline(waitMs);
        for (int answers = 0; answers < 150;) {
            QVERIFY(!deadline.hasExpired());
            QCOMPARE(contents().count('\n'), wholeFileLines);
            answers += program.readUntil("\r", 0).isEmpty() ? 0 : 1;
        }
        QCOMPARE(sim.stop(SIGKILL), -1);
        QCOMPARE(contents().count('\n'), wholeFileLines);
        Sim restarted;
        QVERIFY(restarted.start(options));
        const QByteArray tag = restarted.control("get tag");
        QCOMPARE(tag, "ok " + tag.mid(3, 16).repeated(17));
    }
};

QTEST_GUILESS_MAIN(PersistenceTest)
#include "tst_persistence.moc"
