#ifndef VORSEL_TESTS_E2E_E2ESUPPORT_H
#define VORSEL_TESTS_E2E_E2ESUPPORT_H

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <functional>

class QTcpServer;

// Running the real vorsel against vorsel-sim: start both, steer the simulator, feed vorsel's
// standard input from a pipe or a terminal, and collect everything a test compares.
namespace e2e {

// Bounds that only keep a broken run from hanging the suite; a working run never nears them.
constexpr int processTimeoutMs = 30000;
constexpr int replyTimeoutMs = 10000;

QString vorselProgram();
bool sanitizedBuild();

// "127.0.0.N". The unit's port 7090 is fixed and test programs run in parallel, so every test
// function owns an N of its own, 10 to 99.
QString loopbackAddress(int lastOctet);

// Another run of these tests (from another build tree) may hold an address for a while; a
// listener waits this long for it to become free.
constexpr int addressWaitMs = 60000;

// Runs `attempt` until it succeeds or the address wait has passed, pausing between attempts.
bool retryWhileAddressBusy(const std::function<bool()> &attempt);

// A listener in place of the unit on 127.0.0.N:7090.
bool listenAsUnit(QTcpServer *server, int lastOctet);

// The frame that must be on the wire for a message: without node field (TCP, node 0), or
// addressed to a node with SOH, node digits, check sequence and CR.
QByteArray unaddressedFrame(const QByteArray &message);
QByteArray addressedFrame(int node, const QByteArray &message);

// The environment of a vorsel run that records its tcsetattr calls into `recordPath`.
QProcessEnvironment recordingEnvironment(const QString &recordPath);

// vorsel-sim, steered through control lines on its standard input.
class Simulator
{
public:
    Simulator() = default;
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;
    ~Simulator();

    // Start it and wait for "ready"; false with errorString() when that fails.
    bool start(const QStringList &arguments);
    bool startTcp(int lastOctet, const QStringList &moreArguments = {});
    bool startPty(const QStringList &moreArguments = {});

    QString ptyPath() const { return pty; }
    QString errorString() const { return error; }

    // One control line and its reply line; a null array when no reply came.
    QByteArray control(const QByteArray &line);
    // Control lines that must each be answered with "ok".
    bool steer(const QList<QByteArray> &lines);
    // Every byte the program sent since the start or the last clear-received; null on failure.
    QByteArray received();
    // Until at least `count` bytes have been received from the program.
    bool waitForReceived(int count);
    // SIGTERM; true when it ended with status 0.
    bool stop();

private:
    bool startOnce(const QStringList &arguments, bool *addressBusy);
    QByteArray readLine(int timeoutMs);
    bool fetchReceived(QByteArray *bytes);

    QProcess process;
    QString pty;
    QString error;
};

// One run of vorsel, its standard input a pipe, a terminal or a file.
class Vorsel
{
public:
    enum class Input { Pipe, Terminal };

    Vorsel() = default;
    Vorsel(const Vorsel &) = delete;
    Vorsel &operator=(const Vorsel &) = delete;
    ~Vorsel();

    bool start(const QStringList &arguments, Input input = Input::Pipe,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // Starts it reading standard input from a file.
    bool startWithInputFile(const QStringList &arguments, const QString &path);
    // Bytes on its standard input.
    bool write(const QByteArray &bytes);
    // Closes the pipe, or types the end-of-file character on the terminal.
    void endInput();
    // Until standard output holds at least `count` bytes or vorsel has ended.
    bool waitForOutput(int count, int timeoutMs = replyTimeoutMs);
    // Until standard output holds `text` at least `occurrences` times or vorsel has ended.
    bool waitForText(const QByteArray &text, int occurrences, int timeoutMs = replyTimeoutMs);
    // Waits `milliseconds` for more output; true when none came. For checks that something
    // does not happen, so the wait is short and its length decides nothing else.
    bool staysQuiet(int milliseconds);
    // Until it ends; killed after the bound. True when it exited by itself.
    bool waitForFinished(int timeoutMs = processTimeoutMs);

    QByteArray output();
    QByteArray errorOutput();
    int exitCode() const { return process.exitCode(); }
    qint64 processId() const { return process.processId(); }
    QString errorString() const { return error; }

private:
    void collect();

    QProcess process;
    QByteArray standardOutput;
    QByteArray standardError;
    int terminalMaster = -1;
    int terminalSlave = -1;
    QString error;
};

// What a finished run left: exit, standard output and standard error.
struct Outcome
{
    bool finished = false;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

// Runs vorsel with its standard input at its end and waits for it.
Outcome
runVorsel(const QStringList &arguments,
          const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

} // namespace e2e

// Standard error is compared first: a message there usually explains the rest.
#define E2E_COMPARE_OUTCOME(outcome, expectedStatus, expectedOutput)                               \
    do {                                                                                           \
        QVERIFY2((outcome).finished, "vorsel did not end by itself");                              \
        QCOMPARE((outcome).standardError, QByteArray());                                           \
        QCOMPARE((outcome).standardOutput, QByteArray(expectedOutput));                            \
        QCOMPARE((outcome).exitCode, int(expectedStatus));                                         \
    } while (false)

#endif
