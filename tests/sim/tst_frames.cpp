// Frame handling over each transport: which frames are answered, in which form, and how a byte
// stream becomes frames; start-up lines, the ways the simulator ends and its start-up errors.
// Bad input from programs and control clients: the simulator survives it and serves on.
#include "simharness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

const QByteArray model = "00V640-SIM01";

void row(const char *name, const QString &options, int pieceSize, const QByteArray &sent,
         const QByteArray &answers)
{
    QTest::newRow(name) << options << false << pieceSize << sent << answers;
}

void row(const char *name, const QString &options, const QByteArray &quitOn, int signalNumber,
         const QByteArray &message = QByteArray(), const QString &wrapper = QString())
{
    QTest::newRow(name) << options << quitOn << signalNumber << message << wrapper;
}

// Frames of random bytes, each with a byte outside the frame characters; each gets error 14.
QByteArray randomFrames()
{
    QByteArray bytes(200 * 100, '\0');
    QRandomGenerator(640).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    QByteArray frames;
    for (int start = 0; start < bytes.size(); start += 100) {
        frames += 'Z' + bytes.mid(start, 100).replace('\r', '\x80') + "\x80\r";
    }
    return frames;
}

void addAnswerColumns()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("overPty");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answers");
}

void inputRow(const char *name, bool overPty, const QByteArray &sent, const QByteArray &answers,
              int pieceSize = 0)
{
    QTest::newRow(name) << QString() << overPty << pieceSize << sent << answers;
}

} // namespace

class FrameTest : public QObject
{
    Q_OBJECT
    QTemporaryDir directory;
    const QString link = directory.filePath(QStringLiteral("link"));
    QFile kept{directory.filePath(QStringLiteral("file"))};
    const QString fifo = directory.filePath(QStringLiteral("fifo"));
    const QString heldLink = directory.filePath(QStringLiteral("held-link"));
    const QString heldState = directory.filePath(QStringLiteral("held.state"));
    QString device = QStringLiteral("/dev/null");

private slots:
    // Options, TCP or the pty, the bytes sent (in pieces of pieceSize), the answers before a
    // marker frame; then the simulator serves on, never having grown much.
    void answers_data()
    {
        addAnswerColumns();
        row("addressed to node 31", "--node 31", 0, addressed(31, "1401"), addressed(31, model));
        row("addressed to another node", "", 0, addressed(2, "1401"), "");
        row("lower-case FCS", "", 0, addressed(1, "10Z").replace("5A\r", "5a\r"), "");
        row("wrong FCS", "", 0, addressed(1, "10Z").replace("5A\r", "5B\r"), "");
        row("too short for node and FCS", "", 0, '\x01' + QByteArray("01\r"), "");
        row("one byte at a time", "", 1, addressed(1, "1401"), addressed(1, model));
        row("three frames at once", "", 0, "10A\r10B\r" + addressed(1, "10C"),
            "00A\r00B\r" + addressed(1, "00C"));
        row("CR LF line ends, lone CR", "", 0, "10A\r\n\r10B\r\n", "00A\r00B\r");
        row("largest frame, parameter too long", "", 0, "10" + QByteArray(275, 'L') + '\r', "14\r");
    }

    void answers()
    {
        QFETCH(QString, options);
        QFETCH(bool, overPty);
        QFETCH(int, pieceSize);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, answers);
        Sim sim;
        QVERIFY(sim.start("--listen 127.0.0.100 --port 0 --pty --control 0 " + options));
        Link program(sim.ready(overPty ? "pty" : "tcp"));
        const qint64 before = sim.peakResidentKib();
        QCOMPARE(answersBeforeMarker(program, sent, pieceSize), answers);
        QCOMPARE(program.exchange("1401"), model + '\r');
        QVERIFY(before > 0);
#ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer keeps freed read buffers resident for a while.
        QVERIFY(sim.peakResidentKib() - before < 16 * 1024);
#endif
        // The latest 8 MiB are kept.
        const QByteArray received = (sent + "10MARK\r1401\r").right(8 << 20).toHex().toUpper();
        QCOMPARE(sim.control("received"), "ok " + received);
    }

    void clientsAreServedOneAfterAnother()
    {
        Sim sim;
        QVERIFY(sim.start("--listen 127.0.0.101"));
        Link first(sim.ready("tcp"));
        Link second(sim.ready("tcp"));
        second.send("10SECOND\r");
        QCOMPARE(first.exchange("10FIRST"), QByteArray("00FIRST\r"));
        QVERIFY(second.quietFor(300));
        first.close();
        QCOMPARE(second.readUntil(), QByteArray("00SECOND\r"));
    }

    // A link left by a killed run is replaced; the serial device is a pty of the test's own;
    // the end of standard input ends only that control channel.
    void readinessLinesAndEveryTransport()
    {
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/99"), link));
        Link serial;
        const QByteArray device = serial.openPtyMaster();
        Sim sim;
        QVERIFY(sim.start("--listen 127.0.0.102 --port 0 --pty --link " + link + " --serial " +
                          device + " --settings 19200N82 --control 0"));
        QCOMPARE(sim.order, (QByteArrayList{"tcp", "pty", "link", "serial", "control"}));
        QVERIFY(sim.ready("tcp").startsWith("127.0.0.102:") && !sim.ready("tcp").endsWith(":0"));
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromLocal8Bit(sim.ready("pty")));
        QCOMPARE(sim.input("set model V640-STDIN"), ok);
        sim.process.closeWriteChannel();
        // Opened twice, as a program opens a serial port: nak has nothing to resend at first.
        for (const QByteArray nak : {"7E\r", "00V640-STDIN\r"}) {
            Link program(link.toLocal8Bit());
            QCOMPARE(program.exchange("12"), nak);
            QCOMPARE(program.exchange("1401"), QByteArray("00V640-STDIN\r"));
        }
        serial.send(addressed(1, "1401"));
        QCOMPARE(serial.readUntil(), addressed(1, "00V640-STDIN"));
    }

    // How it ends: options, a quit line on the control port or standard input, a signal; for a
    // start-up error (status 1) a text on standard error. The --link symlink is never left
    // behind, a file there never touched; no state path but a regular file is read or replaced,
    // and the state and the link of a simulator that runs are its own.
    void ends_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QByteArray>("quitOn");
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("wrapper");
        QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("keep") == 4);
        kept.close();
        QVERIFY(mkfifo(qPrintable(fifo), 0600) == 0);
        // A device of its own where the test may make one: the old fault replaced it.
        if (mknod(qPrintable(directory.filePath("null")), S_IFCHR | 0666, makedev(1, 3)) == 0) {
            device = directory.filePath("null");
        }
        const QString clean = "--listen 127.0.0.103 --pty --link " + link + " --control 0";
        row("SIGINT", clean, "", SIGINT);
        row("SIGTERM", clean, "", SIGTERM);
        row("quit on the control port", clean, "port", 0);
        row("quit on standard input", clean, "input", 0);
        row("port in use", "--listen 127.0.0.104", "", 0, "127.0.0.104:7090");
        row("link to a file", "--pty --link " + kept.fileName(), "", 0, "not a symbolic link");
        row("host name", "--listen localhost", "", 0, "takes an IP address");
        row("unknown option", "--pty --turbo", "", 0, "turbo");
        row("state: a device", "--pty --state " + device, "", 0, "not a regular file");
        row("state: a FIFO", "--pty --state " + fifo, "", 0, "not a regular file");
        row("state: an endless device", "--pty --state /dev/zero", "", 0, "not a regular file");
        row("state that cannot be saved", "--pty --state ro/unit.state", "", 0, "cannot save",
            "cd " + directory.path() + " && mkdir ro && : >ro/unit.state && mount --bind ro ro " +
                "&& mount -o remount,bind,ro ro");
        row("state in use", "--pty --state " + heldState, "", 0, "in use by another");
        row("link in use", "--pty --link " + heldLink, "", 0, "in use by another");
    }

    void ends()
    {
        QFETCH(QString, options);
        QFETCH(QByteArray, quitOn);
        QFETCH(int, signalNumber);
        QFETCH(QByteArray, message);
        QFETCH(QString, wrapper);
        if (!wrapper.isEmpty() && !Sim::namespacesWork()) {
            QSKIP("no private namespaces here");
        }
        const int status = message.isEmpty() ? 0 : 1;
        Sim holder;
        QVERIFY(holder.start("--listen 127.0.0.104 --pty --link " + heldLink + " --state " +
                             heldState));
        Sim sim;
        QCOMPARE(sim.start(options, wrapper, false), status == 0);
        QCOMPARE(QFileInfo(link).isSymLink() && !sim.order.isEmpty(), status == 0);
        QVERIFY(quitOn.isEmpty() ||
                (quitOn == "port" ? sim.control("quit") : sim.input("quit")) == ok);
        QCOMPARE(sim.stop(signalNumber), status);
        QVERIFY(!QFileInfo(link).isSymLink() && kept.size() == 4);
        QVERIFY(!QFileInfo(device).isFile() && !QFileInfo(fifo).isFile());
        QCOMPARE(QFileInfo(heldLink).symLinkTarget(), QString::fromLocal8Bit(holder.ready("pty")));
        const QByteArray errors = sim.errors();
        QVERIFY2(status == 0 ? errors.isEmpty()
                             : errors.startsWith("vorsel-sim: ") && errors.contains(message),
                 errors.constData());
    }

    // Bad input, as rows of answers(): over TCP or the pty, what is sent, the answers to it.
    void input_data()
    {
        addAnswerColumns();
        // Had the tail of a long run (here in a later piece) been taken for a frame, it would
        // get an answer.
        inputRow("oversized", false, "10" + QByteArray(400, 'Y') + '\r', "", 300);
        inputRow("oversized, addressed", false, addressed(1, "10" + QByteArray(280, 'Y')), "");
        inputRow("32 MiB without CR", false, QByteArray(32 << 20, 'X') + '\r', "");
        inputRow("NUL", false, QByteArray("10A\0B\r", 6), "14\r");
        inputRow("line feed inside", true, "10A\nB\r", "14\r");
        inputRow("random frames", false, randomFrames(), QByteArray("14\r").repeated(200));
        inputRow("random frames, pty", true, randomFrames(), QByteArray("14\r").repeated(200));
    }

    void input()
    {
        answers();
    }

    void clientsLeavingMidFloodOrMidFrameLeaveNothingBehind()
    {
        Sim sim;
        QVERIFY(sim.start("--listen 127.0.0.141 --control 0"));
        QCOMPARE(sim.control("flood 5000000"), ok);
        for (const QByteArray &sent : {QByteArray("1401\r"), QByteArray("10PART")}) {
            Link leaving(sim.ready("tcp"));
            leaving.send(sent);
            // The first one leaves while its flood is under way.
            QVERIFY(sent == "10PART" || leaving.readCount(1) == "A");
        }
        Link next(sim.ready("tcp"));
        QCOMPARE(next.exchange("1401"), QByteArray("00V640-SIM01\r"));
    }

    // Exposure and bounds: a wrapper first (for an address that is not loopback), the options,
    // a readiness line it must print, bytes sent and never read on a link it prints, lines on
    // standard input, and what it must say on standard error. Whatever is sent is more than the
    // system's buffers hold, so sending ends only when the simulator drops the client. The last
    // line on standard input shows when all of them have run; meanwhile the unit answers on,
    // never having grown much.
    void bounds_data()
    {
        QTest::addColumn<QString>("wrapper");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QByteArray>("readiness");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("notice");
        const QString served = "--listen 127.0.0.143 --port 0 --pty --control 0";
        QTest::newRow("control beside a LAN address")
            << "ip link set lo up && ip addr add 192.0.2.1/32 dev lo"
            << "--listen 192.0.2.1 --port 0 --pty --control 0" << QByteArray("control 127.0.0.1:")
            << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("responses never read")
            << QString() << served << QByteArray("tcp 127.0.0.143:")
            << ("10" + QByteArray(270, 'E') + '\r').repeated(150000) << QByteArray()
            << QByteArray("responses unread: dropped");
        QTest::newRow("replies never read")
            << QString() << served << QByteArray("control 127.0.0.143:")
            << QByteArray("state\n").repeated(4000000) << QByteArray()
            << QByteArray("replies unread: disconnected");
        QTest::newRow("standard output never read")
            << QString() << served << QByteArray("pty /dev/") << QByteArray()
            << QByteArray("state\n").repeated(10000)
            << QByteArray("not written to standard output");
    }

    void bounds()
    {
        QFETCH(QString, wrapper);
        QFETCH(QString, options);
        QFETCH(QByteArray, readiness);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, notice);
        if (!wrapper.isEmpty() && !Sim::namespacesWork()) {
            QSKIP("no private namespaces here");
        }
        QFile inputFile(directory.filePath(QStringLiteral("input")));
        QVERIFY(inputFile.open(QIODevice::WriteOnly) &&
                inputFile.write(input + "set model LATE\n"));
        inputFile.close();
        Sim sim;
        sim.process.setStandardInputFile(inputFile.fileName());
        QVERIFY(sim.start(options, wrapper));
        const QByteArray key = readiness.left(readiness.indexOf(' '));
        QVERIFY2(sim.ready(key).startsWith(readiness.mid(key.size() + 1)),
                 sim.ready(key).constData());
        const qint64 before = sim.peakResidentKib();
        if (!sent.isEmpty()) {
            Link(sim.ready(key)).send(sent);
        }
        Link program(sim.ready("pty"));
        QByteArray answer;
        for (const QDeadlineTimer deadline(waitMs);
             answer != "00LATE\r" && !deadline.hasExpired();) {
            answer = program.exchange("1401");
        }
        QCOMPARE(answer, QByteArray("00LATE\r"));
        QVERIFY(before > 0);
#ifndef __SANITIZE_ADDRESS__
        QVERIFY(sim.peakResidentKib() - before < 16 * 1024);
#endif
        QCOMPARE(sim.stop(SIGTERM), 0);
        QVERIFY2(sim.errors().contains(notice), sim.errors().constData());
    }

    void badControlLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        for (const char *line : {"", "explode", "fault no-tag yes", "fault delay -1",
                                 "fault split 4", "fault trailing ABC", "respond XYZ1", "flood 0",
                                 "send 3G", "page 17 0011223344556677", "set firmware 0A09",
                                 "set mac 001122aabbcc", "set history 0001 0001"}) {
            QTest::newRow(line) << QByteArray(line);
        }
        QTest::newRow("longer than 16 MiB") << "respond " + QByteArray(17 << 20, '4');
    }

    void badControlLines()
    {
        QFETCH(QByteArray, line);
        Sim sim;
        QVERIFY(sim.start("--listen 127.0.0.142 --control 0"));
        const QByteArray before = sim.control("faults") + sim.control("state");
        const QByteArray reply = sim.control(line);
        QVERIFY2(reply.startsWith("error"), reply.constData());
        QCOMPARE(sim.control("faults") + sim.control("state"), before);
    }
};

QTEST_GUILESS_MAIN(FrameTest)
#include "tst_frames.moc"
