#ifndef VORSEL_SIM_LINKS_H
#define VORSEL_SIM_LINKS_H

#include "serialcommunicationsetting.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

// A TCP server whose sockets buffer at most a fixed number of received bytes, from the moment
// they are accepted: a peer that sends without end, or a client still waiting for its turn, then
// waits in the system's socket buffers instead of filling the simulator's memory.
class BoundedTcpServer : public QTcpServer
{
protected:
    void incomingConnection(qintptr socketDescriptor) override;
};

// Lines to standard output or standard error that never hold up the event loop: what the
// descriptor does not take at once waits, up to a bound; lines beyond it are dropped and
// counted, and so is everything once nobody reads any more.
class LineOutput : public QObject
{
    Q_OBJECT
public:
    explicit LineOutput(int fd);
    void write(const QByteArray &line);
    qint64 droppedLines() const { return dropped; }

private:
    void flush();

    int fd;
    QByteArray pending;
    int offset = 0;
    qint64 dropped = 0;
    bool gone = false;
    std::unique_ptr<QSocketNotifier> notifier;
};

// One thing to send on a link: bytes (and for a flood a run of fill bytes after them), sent
// after a delay, in pieces with pauses between them, or instead a close of the connection.
struct OutputJob
{
    QByteArray bytes;
    qint64 fillCount = 0;
    int delayMs = 0;
    int pieceSize = 0;
    int pauseMs = 0;
    bool closeConnection = false;
};

// Sends jobs one after another without blocking the event loop: delays and pauses run on a
// timer, and a writer that takes fewer bytes than offered is resumed by resume().
class OutputQueue : public QObject
{
    Q_OBJECT
public:
    // Writes up to `size` bytes and returns how many it took; -1 when the link is gone.
    using Writer = std::function<qint64(const char *data, qint64 size)>;

    OutputQueue(Writer writer, std::function<void()> closer);

    void append(const OutputJob &job);
    void clear();
    // Drops floods, the one being sent included: whoever they were for has moved on.
    bool dropFloods();
    // Bytes waiting (fill bytes of a flood not counted) and jobs waiting.
    qint64 queuedBytes() const { return queued; }
    int queuedJobs() const { return jobs.size(); }
    void resume() { pump(); }

private:
    void pump();
    void pumpOnce();
    void finishJob();

    Writer writer;
    std::function<void()> closer;
    QList<OutputJob> jobs;
    qint64 queued = 0;
    QTimer timer;
    qint64 position = 0;
    qint64 pieceRemaining = 0;
    bool delayDone = false;
    bool pauseDone = false;
    bool pumping = false;
    bool pumpAgain = false;
};

// One way in which a program reaches the simulator (a TCP port, a pseudo-terminal or a serial
// device): opens it, cuts what arrives into frames and sends what the simulator answers.
class ProgramLink : public QObject
{
    Q_OBJECT
public:
    ProgramLink();

    // Opens the transport; false with a reason when it cannot be opened.
    virtual bool open(QString *error) = 0;
    // The lines that tell what it serves on, such as "tcp 127.0.0.1:7090".
    virtual QList<QByteArray> readinessLines() const = 0;
    // Whether a program can receive what is sent now (a TCP client is connected).
    virtual bool hasPeer() const = 0;

    // Queues the job; a program that has left too much unread is dropped instead.
    void send(const OutputJob &job);
    // Whether something queued has not gone out whole yet (waiting for its delay included).
    bool sending() const { return output.queuedJobs() > 0; }

signals:
    void bytesReceived(const QByteArray &bytes);
    void frameReceived(const QByteArray &frame);
    void notice(const QByteArray &text);

protected:
    // Cuts received bytes into frames and reports them.
    void receive(const QByteArray &bytes);
    // Forgets a partial frame and everything not yet sent: the peer has gone.
    void resetConnection();
    void resumeOutput() { output.resume(); }

    // Writes up to `size` bytes without blocking; returns how many were taken, -1 when there
    // is nowhere to write.
    virtual qint64 writeNow(const char *data, qint64 size) = 0;
    virtual void closeConnection() {}
    // Drops bytes that were sent but not yet read by the program, where the transport can.
    virtual void discardUnreadOutput() {}
    // Ends the connection of a program that does not read; by default only its output goes.
    virtual QByteArray dropPeer();

private:
    QByteArray partialFrame;
    bool discarding = false;
    OutputQueue output;
    // Counts connections, so that frames of a peer that has gone are not answered to the next.
    quint64 connection = 0;
};

// A TCP port that serves its clients one after another, as the unit does: a client that
// connects while another is served waits until that one has gone.
class TcpLink : public ProgramLink
{
    Q_OBJECT
public:
    TcpLink(const QHostAddress &address, quint16 port);
    ~TcpLink() override;

    bool open(QString *error) override;
    QList<QByteArray> readinessLines() const override;
    bool hasPeer() const override;

protected:
    qint64 writeNow(const char *data, qint64 size) override;
    void closeConnection() override;
    QByteArray dropPeer() override;

private:
    void takeNextClient();
    void readClient();
    void clientGone();

    QHostAddress address;
    quint16 port;
    BoundedTcpServer server;
    QPointer<QTcpSocket> client;
};

// A pseudo-terminal: the program opens its slave end as a serial port. The simulator keeps a
// descriptor of the slave end open itself, so the master never sees a hang-up when the program
// closes the port; it holds a lock on it, which tells a second simulator that a link to it is
// in use.
class PtyLink : public ProgramLink
{
    Q_OBJECT
public:
    // `linkPath`, when not empty, gets a symbolic link to the slave end, removed again on close.
    explicit PtyLink(const QString &linkPath);
    ~PtyLink() override;

    bool open(QString *error) override;
    QList<QByteArray> readinessLines() const override;
    bool hasPeer() const override { return masterFd >= 0; }

protected:
    qint64 writeNow(const char *data, qint64 size) override;
    void discardUnreadOutput() override;

private:
    bool placeLink(QString *error);
    void readMaster();
    void close();

    QString linkPath;
    QString slavePath;
    bool linkPlaced = false;
    int masterFd = -1;
    int slaveFd = -1;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
};

// A serial device, for a program at the other end of a null-modem cable.
class SerialLink : public ProgramLink
{
    Q_OBJECT
public:
    SerialLink(const QString &device, const SerialCommunicationSetting &setting);

    bool open(QString *error) override;
    QList<QByteArray> readinessLines() const override;
    bool hasPeer() const override { return port.isOpen(); }

protected:
    qint64 writeNow(const char *data, qint64 size) override;

private:
    QString device;
    SerialCommunicationSetting setting;
    QSerialPort port;
};

#endif
