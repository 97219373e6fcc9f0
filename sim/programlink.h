#ifndef VORSEL_SIM_PROGRAMLINK_H
#define VORSEL_SIM_PROGRAMLINK_H

#include "framereassembler.h"
#include "outputqueue.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

// One way in which a program reaches the simulator (a TCP port, a pseudo-terminal or a serial
// device): opens it, turns what arrives into frames and sends what the simulator answers.
class ProgramLink : public QObject
{
    Q_OBJECT
public:
    explicit ProgramLink(QObject *parent = nullptr);

    // Opens the transport; false with a reason when it cannot be opened.
    virtual bool open(QString *error) = 0;
    // The lines that tell what it serves on, such as "tcp 127.0.0.1:7090".
    virtual QList<QByteArray> readinessLines() const = 0;
    // Whether a program can receive what is sent now (a TCP client is connected).
    virtual bool hasPeer() const = 0;
    // Line settings as BAUD PARITY DATABITS STOPBITS FLOW ("9600N81N"), empty when the
    // transport has none: as they were when bytes last arrived from the program, or as they
    // are now.
    virtual QByteArray lineSettingsAtLastReceive() const { return QByteArray(); }
    virtual QByteArray lineSettingsNow() const { return QByteArray(); }

    void send(const OutputJob &job);

signals:
    void bytesReceived(const QByteArray &bytes);
    void frameReceived(const QByteArray &frame);

protected:
    // Feeds received bytes through the frame reassembly.
    void receive(const QByteArray &bytes);
    // Forgets a partial frame and everything not yet sent: the peer has gone.
    void resetConnection();
    // Lets output that waited for the transport go on.
    void resumeOutput();

    // Writes up to `size` bytes without blocking; returns how many were taken, -1 when there
    // is nowhere to write.
    virtual qint64 writeNow(const char *data, qint64 size) = 0;
    virtual void closeConnection() {}
    // Drops bytes that were sent but not yet read by the program, where the transport can.
    virtual void discardUnreadOutput() {}

private:
    FrameReassembler reassembler;
    OutputQueue output;
    // Counts connections, so that frames of a peer that has gone are not answered to the next.
    quint64 connection = 0;
};

#endif
