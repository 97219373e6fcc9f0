#ifndef VORSEL_TESTS_SIM_SIMHARNESS_H
#define VORSEL_TESTS_SIM_SIMHARNESS_H

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>

// Generous bounds: they only keep a broken simulator from hanging a test.
constexpr int startTimeoutMs = 20000;
constexpr int replyTimeoutMs = 20000;

// Where the built simulator is.
QString simulatorPath();

// An addressed frame: SOH, node digits, message, FCS (xor of node digits and message), CR.
QByteArray addressedFrame(int node, const QByteArray &message);
// Whether an addressed frame's FCS matches its content.
bool hasMatchingFcs(const QByteArray &frame);

// The simulator, run as a subprocess for one test.
class SimulatorProcess
{
public:
    SimulatorProcess() = default;
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;
    // Ends a simulator still running with SIGTERM and fails the running test when it does not
    // end cleanly or when a sanitizer reported anything.
    ~SimulatorProcess();

    // Starts it and waits for "ready"; false when it ended or did not get ready in time.
    bool start(const QStringList &arguments);
    // The readiness lines, by their first word: "tcp" gives "127.0.0.100:7090", and so on.
    QByteArray readiness(const QByteArray &key) const { return readinessLines.value(key); }
    QList<QByteArray> readinessOrder() const { return order; }

    // One control line over the --control port, and its reply line without line end.
    QByteArray control(const QByteArray &line);
    // The same over standard input and output.
    QByteArray controlByStandardInput(const QByteArray &line);
    void closeStandardInput() { process.closeWriteChannel(); }

    // Sends the signal and returns the exit status, -1 when it did not end in time or crashed.
    int stop(int signalNumber);
    // Waits for it to end by itself; the exit status or -1.
    int waitForExit();
    qint64 processId() const { return process.processId(); }
    // Everything it wrote to standard error so far.
    QByteArray standardError();
    bool running() const { return process.state() != QProcess::NotRunning; }

private:
    QByteArray readStandardOutputLine();
    void failOnSanitizerReport();

    QProcess process;
    QByteArray outputBuffer;
    QByteArray errorOutput;
    bool reported = false;
    QMap<QByteArray, QByteArray> readinessLines;
    QList<QByteArray> order;
    QTcpSocket controlSocket;
    QByteArray controlBuffer;
};

// The program's end of a link, in the plain way a test can drive it.
class ProgramEnd
{
public:
    virtual ~ProgramEnd() = default;

    virtual void send(const QByteArray &bytes) = 0;
    // Bytes up to and including the next CR; empty when none came in time.
    QByteArray readFrame(int timeoutMs = replyTimeoutMs);
    // Sends the message and a CR and returns the response frame.
    QByteArray exchange(const QByteArray &message);
    // Exactly `count` bytes, fewer when they did not come in time.
    QByteArray readBytes(qint64 count, int timeoutMs = replyTimeoutMs);
    // What arrives by the next read, without waiting for a CR.
    QByteArray readSome(int timeoutMs = replyTimeoutMs);
    // True when not a byte arrives within the time: only for checks that something stays out.
    bool staysSilentFor(int milliseconds);

protected:
    // Waits up to the time for more bytes and appends them to `buffer`; false when none came.
    virtual bool receiveMore(int timeoutMs) = 0;
    QByteArray buffer;
};

class TcpProgram : public ProgramEnd
{
public:
    bool connectTo(const QByteArray &addressAndPort);
    void send(const QByteArray &bytes) override;
    // True when the simulator closed the connection within the time.
    bool waitForClose(int timeoutMs = replyTimeoutMs);
    void abort() { socket.abort(); }
    void disconnect();

protected:
    bool receiveMore(int timeoutMs) override;

private:
    QTcpSocket socket;
};

class PtyProgram : public ProgramEnd
{
public:
    ~PtyProgram() override;
    // Opens the slave end in raw mode, as a serial port would be.
    bool open(const QByteArray &path);
    // Creates a pseudo-terminal of its own and holds its master end; the slave's path, or an
    // empty one on failure. For handing the slave to the simulator as its serial device.
    QByteArray openMaster();
    void close();
    void send(const QByteArray &bytes) override;

protected:
    bool receiveMore(int timeoutMs) override;

private:
    int fd = -1;
};

#endif
