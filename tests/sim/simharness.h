#ifndef VORSEL_TESTS_SIM_SIMHARNESS_H
#define VORSEL_TESTS_SIM_SIMHARNESS_H

#include <QMap>
#include <QProcess>
#include <QTest>

#include <unistd.h>
#include <utility>

// Generous: it only keeps a broken simulator from hanging a test.
constexpr int waitMs = 20000;
const QByteArray ok = "ok";

// SOH, two node digits, the message, its FCS (xor of node digits and message), CR.
QByteArray addressed(int node, const QByteArray &message);

// The program's end of a link: a plain TCP socket or a pty.
class Link
{
    Q_DISABLE_COPY(Link)

public:
    Link() = default;
    explicit Link(const QByteArray &target) { open(target); }
    ~Link() { close(); }
    // Connects to "ADDRESS:PORT", or opens the slave end of a pty (a path).
    bool open(const QByteArray &target);
    // A pty of its own, for the simulator to use as its serial device: the slave end's path.
    QByteArray openPtyMaster();
    // Closing -1 does nothing.
    void close() { ::close(std::exchange(fd, -1)); }
    void send(const QByteArray &bytes);
    // Bytes up to and including `end`; nothing when it did not come in time.
    QByteArray readUntil(const QByteArray &end = "\r", int ms = waitMs);
    // `count` bytes, fewer when they did not come in time.
    QByteArray readCount(int count);
    QByteArray exchange(const QByteArray &message)
    {
        send(message + '\r');
        return readUntil();
    }
    // Only for checks that something stays out: no byte comes within the time.
    bool quietFor(int ms) { return buffer.isEmpty() && !receive(ms); }
    // The simulator ended the connection without sending anything first.
    bool closedByPeer() { return !receive(waitMs) && ended && buffer.isEmpty(); }
    int fd = -1;

private:
    bool receive(int ms);
    QByteArray buffer;
    bool ended = false;
};

// What answersBeforeMarker() gives when the marker frame got no answer.
const QByteArray noMarker = "(no answer to the marker frame)";
// Sends the bytes (in pieces with pauses when pieceSize > 0), then a marker frame, and returns
// the answers that came before the marker's.
QByteArray answersBeforeMarker(Link &link, const QByteArray &bytes, int pieceSize = 0);

// The built simulator as a subprocess.
class Sim
{
public:
    ~Sim() { finish(); }
    // Starts it with the options (separated by spaces) and waits for "ready"; false when it
    // ended first or did not get ready in time; a TCP address in use is tried again for a
    // while. A wrapper is a shell command that runs first, as root of private user, mount and
    // network namespaces.
    bool start(const QString &options, const QString &wrapper = QString(),
               bool retryWhenBusy = true);
    // Whether wrappers can run here.
    static bool namespacesWork() { return QProcess::execute("unshare", {"-rmn", "true"}) == 0; }
    // A readiness line by its first word: "tcp" gives "127.0.0.100:7090".
    QByteArray ready(const QByteArray &key) const { return lines.value(key); }
    // One line on the --control port, or on standard input, and its reply.
    QByteArray control(const QByteArray &line);
    QByteArray input(const QByteArray &line)
    {
        process.write(line + '\n');
        return outputLine();
    }
    // The exit status once it ended after the signal (0: none); -1 for a crash or no end in time.
    int stop(int signalNumber = 0);
    QByteArray errors() { return errorText += process.readAllStandardError(); }
    // The most memory it held resident so far, in kibibytes.
    qint64 peakResidentKib();
    // Fails the running test unless it ends with 0 on SIGTERM (if still running) and printed
    // no sanitizer report.
    void finish();
    QList<QByteArray> order;
    QProcess process;

private:
    QByteArray outputLine();
    QMap<QByteArray, QByteArray> lines;
    Link controlLink;
    QByteArray errorText;
    bool finished = false;
};

#endif
