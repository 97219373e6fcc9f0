#ifndef VORSEL_SIM_CONTROL_H
#define VORSEL_SIM_CONTROL_H

#include "links.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <functional>
#include <memory>

// The faults that the simulator injects into its answers; all off by default.
struct Faults
{
    // The largest count of commands that a fault or an arrival takes.
    static constexpr int mostCommands = 1000000;

    // Commands still to be answered without a tag in the field; -1 until switched off.
    int noTag = 0;
    int delayMs = 0;
    int splitBytes = 0;
    int splitPauseMs = 0;
    int ignoreEvery = 0;
    int ignoreNext = 0;
    bool closeConnection = false;
    bool badByte = false;
    bool lostWrite = false;
    QByteArray trailing;
    // Every Nth answer goes out twice, the copy this long after the original.
    int repeatEvery = 0;
    int repeatGapMs = 0;
    // Commands that come while an answer is still to be sent are dropped.
    bool busy = false;
    // The next answers that wait this long instead of delayMs.
    int delayNextCount = 0;
    int delayNextMs = 0;

    // Applies "NAME ARGUMENTS" as the control command "fault" takes them; false with a reason
    // for a name or arguments it does not know.
    bool apply(const QByteArray &name, const QList<QByteArray> &arguments, QString *error);
    // One line of NAME=VALUE pairs, in the form the control command "fault" takes them.
    QByteArray summary() const;
};

// A non-negative decimal number of at most `maximum`; false for anything else.
bool parseCount(const QByteArray &text, qint64 maximum, qint64 *value);

// Collects control lines from a byte stream; a line longer than the limit is dropped, so that a
// stream without line ends cannot use up memory.
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

// The control channels: lines on standard input, replies on standard output, and lines from
// any number of clients of a TCP port, each reply to the client whose line it answers. The end
// of standard input ends only that channel. A client that leaves too many replies unread is
// disconnected.
class Control : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<QByteArray(const QByteArray &line)>;

    Control(Handler handler, LineOutput *output, LineOutput *notices);

    void readStandardInput();
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    QByteArray readinessLine() const;

private:
    QByteArray reply(const QByteArray &line);
    void readInput();
    void acceptClients();

    Handler handler;
    LineOutput *output;
    LineOutput *notices;
    ControlLineReader inputReader;
    std::unique_ptr<QSocketNotifier> inputNotifier;
    BoundedTcpServer server;
};

#endif
