// The simulator as a process: its transports, how it starts and ends (the hazards of a state or
// link path among them), the state file across runs, and its bounds under abuse.
#include "simharness.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// Kept by every simulator that is given it as its link or its state.
const QByteArray malformed = "# by hand\n\nmodel X\n\x01\xFF 0000000000000000\n";

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class RunTest : public QObject
{
    Q_OBJECT
    QTemporaryDir directory;
    QString path(const char *name) const { return directory.filePath(QLatin1String(name)); }
    const QString link = path("link");
    const QString kept = path("kept");
    const QString fifo = path("fifo");
    QString device = QStringLiteral("/dev/null");

private slots:
    // A link left by a killed run is replaced; the serial device is a pty of the test's own; nak
    // has nothing to resend at first, then resends the response as it went out. TCP clients are
    // served one after another: one that left mid-flood, and one that left mid-frame, leave
    // nothing behind for the next.
    void transports()
    {
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/99"), link));
        Link serial("/dev/ptmx");
        Sim sim;
        QVERIFY(sim.start("--listen 127.0.0.102 --port 0 --pty --link " + link + " --serial " +
                          serial.slave() + " --settings 19200N82 --control 0 --pass 0,0,4"));
        QCOMPARE(sim.control("passing"), "ok tag=4 left=forever");
        QCOMPARE(sim.readiness("serial"), serial.slave());
        // The control channel listens on the --listen address, which is a loopback one.
        QVERIFY(sim.readiness("tcp").startsWith("127.0.0.102:") &&
                sim.readiness("control").startsWith("127.0.0.102:"));
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(sim.readiness("pty")));
        Link program(link.toLocal8Bit());
        QCOMPARE(program.exchange("12"), QByteArray("7E\r"));
        QCOMPARE(program.exchange("1401"), QByteArray("00V640-SIM01\r"));
        QCOMPARE(sim.control("set model V640-STDIN"), QByteArray("ok"));
        QCOMPARE(program.exchange("12"), QByteArray("00V640-SIM01\r"));
        serial.send("\00101140105\r");
        QCOMPARE(serial.readUntil(), QByteArray("\0010100V640-STDIN0C\r"));
        QCOMPARE(sim.control("flood 5000000"), QByteArray("ok"));
        Link flooded(sim.readiness("tcp"));
        Link partial(sim.readiness("tcp"));
        Link waiting(sim.readiness("tcp"));
        waiting.send("10WAITING\r");
        flooded.send("1401\r");
        QCOMPARE(flooded.readCount(1), QByteArray("A"));
        QVERIFY(waiting.quietFor(300));
        flooded.close();
        partial.send("10PART");
        partial.close();
        QCOMPARE(waiting.readUntil(), QByteArray("00WAITING\r"));
    }

    // How it ends: options, a signal or a quit line on the control port or standard input, and
    // a text it must print: a readiness line, or for a start-up error (status 1, when it is not
    // ended) one on standard error. The --link symlink is never left behind, a file there never
    // touched; no state path but a regular file is read or replaced, a malformed one is kept,
    // and the state and the link of a simulator that runs are its own. A wrapper is a shell
    // command for a private network (an address that is not loopback) or a read-only mount.
    void ends_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QByteArray>("end");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("wrapper");
        QFile file(kept);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(malformed) == malformed.size());
        file.close();
        QVERIFY(mkfifo(qPrintable(fifo), 0600) == 0);
        QFile big(path("big.state"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.write('#' + QByteArray(70000, ' ')) > 0);
        // A device of its own where the test may make one: the old fault replaced it.
        if (mknod(qPrintable(path("null")), S_IFCHR | 0666, makedev(1, 3)) == 0) {
            device = path("null");
        }
        const auto row = [](const char *name, const QString &options, const QByteArray &end,
                            const QByteArray &message, const QString &wrapper = QString()) {
            QTest::newRow(name) << options << end << message << wrapper;
        };
        const QString served = " --port 0 --pty --link " + link + " --control 0";
        row("SIGINT", "--listen 127.0.0.103" + served, "SIGINT", "");
        row("SIGTERM", "--listen 127.0.0.103" + served, "SIGTERM", "");
        row("quit on the control port", "--listen 127.0.0.103" + served, "port", "");
        row("quit on standard input", "--listen 127.0.0.103" + served, "input", "");
        row("control beside a LAN address", "--listen 192.0.2.1" + served, "SIGTERM",
            "control 127.0.0.1:", "ip link set lo up && ip addr add 192.0.2.1/32 dev lo");
        row("port in use", "--listen 127.0.0.104 --port HELD", "", "listen on 127.0.0.104:");
        row("link to a file", "--pty --link " + kept, "", "not a symbolic link");
        row("host name", "--listen localhost", "", "takes an IP address");
        row("tag ID 0 passing", "--pty --pass 1,0,0", "", "invalid value for --pass");
        row("state: a device", "--pty --state " + device, "", "not a regular file");
        row("state: a FIFO", "--pty --state " + fifo, "", "not a regular file");
        QVERIFY(QFile::link(path("missing"), path("planted")));
        row("state: a symbolic link", "--pty --state " + path("planted"), "", "is a symbolic link");
        row("state: an endless device", "--pty --state /dev/zero", "", "not a regular file");
        row("state: larger than any state", "--pty --state " + big.fileName(), "", "more than");
        // Quoted, what is not printable is escaped.
        row("state: malformed", "--pty --state " + kept, "", "line 4: unknown field \\x01\\xFF\n");
        row("state that cannot be saved", "--pty --state ro/unit.state", "", "cannot save",
            "cd " + directory.path() + " && mkdir ro && : >ro/unit.state && mount --bind ro ro " +
                "&& mount -o remount,bind,ro ro");
        row("state in use", "--pty --state " + path("held.state"), "", "in use by another");
        row("link in use", "--pty --link " + path("held-link"), "", "in use by another");
    }

    void ends()
    {
        QFETCH(QString, options);
        QFETCH(QByteArray, end);
        QFETCH(QByteArray, message);
        QFETCH(QString, wrapper);
        if (!wrapper.isEmpty() && !Sim::namespacesWork()) {
            QSKIP("no private namespaces here");
        }
        const int status = end.isEmpty() ? 1 : 0;
        Sim holder;
        QVERIFY(holder.start("--listen 127.0.0.104 --port 0 --pty --link " + path("held-link") +
                             " --state " + path("held.state")));
        const QByteArray held = holder.readiness("tcp");
        Sim sim;
        QCOMPARE(sim.start(options.replace("HELD", held.mid(held.indexOf(':') + 1)), wrapper),
                 status == 0);
        QCOMPARE(QFileInfo(link).isSymLink(), status == 0);
        const QByteArray kind = message.left(message.indexOf(' '));
        QVERIFY(status == 1 || (kind + ' ' + sim.readiness(kind)).startsWith(message));
        if (end == "port") {
            QCOMPARE(Link(sim.readiness("control")).exchange("quit", "\n"), QByteArray("ok\n"));
        } else if (end == "input") {
            QCOMPARE(sim.control("quit"), QByteArray("ok"));
        }
        QCOMPARE(sim.stop(end == "SIGINT" ? SIGINT : end == "SIGTERM" ? SIGTERM : 0), status);
        QVERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(contents(kept), malformed);
        QVERIFY(!QFileInfo(device).isFile() && !QFileInfo(fifo).isFile() &&
                !QFileInfo::exists(path("missing")));
        QCOMPARE(QFileInfo(path("held-link")).symLinkTarget(),
                 QString::fromLocal8Bit(holder.readiness("pty")));
        const QByteArray errors = sim.errors();
        QVERIFY2(status == 0 ? errors.isEmpty()
                             : errors.startsWith("vorsel-sim: ") && errors.contains(message),
                 errors.constData());
    }

    // Read over and over while every command saves, and after a kill: never a part of a file;
    // what it holds comes back at the next start.
    void stateIsAlwaysWholeAndSurvivesAKill()
    {
        const QString options = "--listen 127.0.0.120 --port 0 --state " + path("unit.state");
        constexpr int wholeFileLines = 1 + 13 + 1 + 17;
        Sim sim;
        QVERIFY(sim.start(options));
        QCOMPARE(sim.control("set model V640-KEPT 7"), "ok");
        Link client(sim.readiness("tcp"));
        QByteArray burst;
        for (int index = 1; index <= 300; ++index) {
            burst += "03000007FFFC" + QByteArray::number(index).rightJustified(16, '0') + '\r';
        }
        client.send(burst);
        const QDeadlineTimer deadline(simulatorBoundMs);
        for (int answers = 0; answers < 150;
             answers += client.readUntil("\r", 0).isEmpty() ? 0 : 1) {
            QVERIFY(!deadline.hasExpired());
            QCOMPARE(contents(path("unit.state")).count('\n'), wholeFileLines);
        }
        QCOMPARE(sim.stop(SIGKILL), -1);
        QCOMPARE(contents(path("unit.state")).count('\n'), wholeFileLines);
        Sim restarted;
        QVERIFY(restarted.start(options));
        const QByteArray reloaded = restarted.control("get tag");
        QCOMPARE(reloaded, "ok " + reloaded.mid(3, 16).repeated(17));
        QVERIFY(reloaded.mid(3, 16) != QByteArray(16, '0'));
        QCOMPARE(restarted.control("get model"), QByteArray("ok V640-KEPT 7"));
        // It holds the web password; a link swapped in is replaced, not followed.
        QCOMPARE(QFile::permissions(path("unit.state")),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY(QFile::rename(path("unit.state"), path("old.state")) &&
                QFile::link(path("old.state"), path("unit.state")));
        QCOMPARE(restarted.control("set model V640-SAVED"), QByteArray("ok"));
        QVERIFY(contents(path("unit.state")).contains("V640-SAVED") &&
                !contents(path("old.state")).contains("V640-SAVED") &&
                !QFileInfo(path("unit.state")).isSymLink());
    }

    // Abuse: bytes sent and never read on what a readiness line names (none: lines on standard
    // input), and what it must say on standard error. What is sent is more than the system's
    // buffers hold, so sending ends only when the simulator drops the client. The last line on
    // standard input shows when all of them have run; meanwhile, and after the end of standard
    // input, the unit answers on, never having grown much.
    void bounds_data()
    {
        QTest::addColumn<QByteArray>("readiness");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("notice");
        QTest::newRow("responses never read")
            << QByteArray("tcp") << ("10" + QByteArray(270, 'E') + '\r').repeated(150000)
            << QByteArray("responses unread: dropped");
        QTest::newRow("replies never read")
            << QByteArray("control") << QByteArray("state\n").repeated(4000000)
            << QByteArray("replies unread: disconnected");
        QTest::newRow("standard output never read")
            << QByteArray() << QByteArray("state\n").repeated(10000)
            << QByteArray("not written to standard output");
    }

    void bounds()
    {
        QFETCH(QByteArray, readiness);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, notice);
        QFile file(path("input"));
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write((readiness.isEmpty() ? sent : "") + "set model LATE\n"));
        file.close();
        Sim sim;
        sim.process.setStandardInputFile(file.fileName());
        QVERIFY(sim.start("--listen 127.0.0.143 --port 0 --pty --control 0"));
        const qint64 before = sim.peakResidentKib(true);
        Link(sim.readiness(readiness)).send(readiness.isEmpty() ? "" : sent);
        Link program(sim.readiness("pty"));
        QByteArray answer;
        for (const QDeadlineTimer deadline(simulatorBoundMs);
             answer != "00LATE\r" && !deadline.hasExpired();) {
            answer = program.exchange("1401");
        }
        QCOMPARE(answer, QByteArray("00LATE\r"));
        QVERIFY(sim.grewLittleSince(before));
        QCOMPARE(sim.stop(SIGTERM), 0);
        QVERIFY2(sim.errors().contains(notice), sim.errors().constData());
    }
};

QTEST_GUILESS_MAIN(RunTest)
#include "tst_runs.moc"
