#ifndef VORSEL_SIM_CONTROLCHANNEL_H
#define VORSEL_SIM_CONTROLCHANNEL_H

#include "boundedtcpserver.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

// Turns one control line into its one reply line (without line end).
using ControlHandler = std::function<QByteArray(const QByteArray &line)>;

// Collects control lines from a byte stream; a line longer than the limit is dropped and
// answered with an error, so a stream without line ends cannot use up memory.
class ControlLineReader
{
public:
    // Appends bytes and returns the complete lines, without their line end (LF or CR LF). A
    // line that was too long comes back as a null QByteArray.
    QList<QByteArray> append(const QByteArray &bytes);

private:
    QByteArray pending;
    bool overlong = false;
};

// Control lines on standard input, replies on standard output. The end of standard input ends
// only this channel, never the simulator.
class StandardInputControl : public QObject
{
    Q_OBJECT
public:
    explicit StandardInputControl(ControlHandler handler, QObject *parent = nullptr);

    void start();

private slots:
    void readInput();

private:
    ControlHandler handler;
    ControlLineReader reader;
    std::unique_ptr<QSocketNotifier> notifier;
};

// Control lines on a TCP port, for any number of clients; each reply goes to the client whose
// line it answers.
class TcpControl : public QObject
{
    Q_OBJECT
public:
    TcpControl(const QHostAddress &address, quint16 port, ControlHandler handler,
               QObject *parent = nullptr);

    bool open(QString *error);
    QByteArray readinessLine() const;

private slots:
    void acceptClients();

private:
    QHostAddress address;
    quint16 port;
    ControlHandler handler;
    BoundedTcpServer server;
};

// The reply to one line from ControlLineReader, the null line of an overlong one included.
QByteArray replyFor(const ControlHandler &handler, const QByteArray &line);

#endif
