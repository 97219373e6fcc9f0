// Frame handling over each transport: which frames are answered, in which form, and how a byte
// stream becomes frames; start-up lines, the ways the simulator ends and its start-up errors.
// Bad input from programs and control clients: the simulator survives it and serves on.
#include "simharness.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>

namespace {

const QByteArray model = "00V640-SIM01";

void row(const char *name, const QString &options, int pieceSize, const QByteArray &sent,
         const QByteArray &answers)
{
    QTest::newRow(name) << options << false << pieceSize << sent << answers;
}

void row(const char *name, const QString &options, const QByteArray &quitOn, int signalNumber,
         const QByteArray &message = QByteArray())
{
    QTest::newRow(name) << options << quitOn << signalNumber << message;
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

private slots:
    // Options, TCP or the pty, the bytes sent (in pieces of pieceSize), the answers before a
    // marker frame; then the simulator serves on, never having grown much.
    void answers_data()
    {
        addAnswerColumns();
        row("unaddressed", "", 0, "1401\r", model + '\r');
        row("unaddressed at node 7", "--node 7", 0, "1401\r", model + '\r');
        row("addressed to default node 1", "", 0, addressed(1, "1401"), addressed(1, model));
        row("addressed to node 31", "--node 31", 0, addressed(31, "1401"), addressed(31, model));
        row("addressed to another node", "", 0, addressed(2, "1401"), "");
        row("addressed to node 1 at node 7", "--node 7", 0, addressed(1, "1401"), "");
        row("lower-case FCS", "", 0, addressed(1, "10Z").replace("5A\r", "5a\r"), "");
        row("wrong FCS", "", 0, addressed(1, "10Z").replace("5A\r", "5B\r"), "");
        row("too short for node and FCS", "", 0, '\x01' + QByteArray("01\r"), "");
        row("one byte at a time", "", 1, addressed(1, "1401"), addressed(1, model));
        row("three frames at once", "", 0, "10A\r10B\r" + addressed(1, "10C"),
            "00A\r00B\r" + addressed(1, "00C"));
        row("CR LF line ends, lone CR", "", 0, "10A\r\n\r10B\r\n", "00A\r00B\r");
        const QByteArray longest(270, 'L');
        row("largest frame", "", 0, addressed(1, "10" + longest), addressed(1, "00" + longest));
        row("largest frame, parameter too long", "", 0, "10" + longest + "LLLLL\r", "14\r");
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
    // behind, a file there never touched.
    void ends_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QByteArray>("quitOn");
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QByteArray>("message");
        QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("keep") == 4);
        kept.close();
        const QString clean = "--listen 127.0.0.103 --pty --link " + link + " --control 0";
        row("SIGINT", clean, "", SIGINT);
        row("SIGTERM", clean, "", SIGTERM);
        row("quit on the control port", clean, "port", 0);
        row("quit on standard input", clean, "input", 0);
        row("port in use", "--listen 127.0.0.104", "", 0, "127.0.0.104:7090");
        row("link to a file", "--pty --link " + kept.fileName(), "", 0, "not a symbolic link");
        row("host name", "--listen localhost", "", 0, "takes an IP address");
        row("unknown option", "--pty --turbo", "", 0, "turbo");
    }

    void ends()
    {
        QFETCH(QString, options);
        QFETCH(QByteArray, quitOn);
        QFETCH(int, signalNumber);
        QFETCH(QByteArray, message);
        const int status = message.isEmpty() ? 0 : 1;
        Sim holder;
        QVERIFY(holder.start("--listen 127.0.0.104"));
        Sim sim;
        QCOMPARE(sim.start(options), status == 0);
        QCOMPARE(QFileInfo(link).isSymLink() && !sim.order.isEmpty(), status == 0);
        QVERIFY(quitOn.isEmpty() ||
                (quitOn == "port" ? sim.control("quit") : sim.input("quit")) == ok);
        QCOMPARE(sim.stop(signalNumber), status);
        QVERIFY(!QFileInfo(link).isSymLink() && kept.size() == 4);
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
        inputRow("byte 80", false, "10A\x80\r", "14\r");
        inputRow("NUL", false, QByteArray("10A\0B\r", 6), "14\r");
        inputRow("tab", false, "10A\tB\r", "14\r");
        inputRow("line feed inside", true, "10A\nB\r", "14\r");
        inputRow("DEL", true, "10A\x7F\r", "14\r");
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
