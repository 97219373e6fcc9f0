#ifndef VORSEL_EXCHANGEENGINE_H
#define VORSEL_EXCHANGEENGINE_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>

#include "answercheck.h"
#include "exchangeoutcome.h"

class Link;
class LinkOpener;
class QTimer;
class TrafficTrace;

// One frame to exchange, and what may be done to get a valid answer for it.
struct ExchangeRequest
{
    QByteArray frame;
    // Further attempts after one that got no valid answer (--retries).
    int retries = 0;
    // While the unit answers with an error end the frame goes again, until this time on the
    // engine's clock (--wait); -1 for never.
    qint64 waitUntil = -1;
    // A normal end must have the form of the command's answer to be valid.
    bool formDecides = true;
    // A scan's probe of one node: silence is an answer of its own.
    bool probe = false;
};

// What became of one exchange: the one record every report and the end status observe.
struct ExchangeRecord
{
    QByteArray command;  // the frame sent; empty when none went out
    QByteArray response; // the answer up to its CR; what had come when it ended otherwise
    ExchangeOutcome outcome = ExchangeOutcome::Ok;
    AnswerCheck::Verdict verdict = AnswerCheck::Verdict::Valid;
    QString reason;        // why it is not a normal end, in words
    int attempts = 0;      // how often the frame went out
    qint64 elapsedMs = -1; // from the last send to the answer, or to the time-out
    // The link broke, or was refused when it was opened again: the run cannot go on.
    bool linkLost = false;
};

// The one owner of the link and of what it owes. It sends a frame, collects its answer, judges
// it, and ends the exchange with one outcome; retries, waits, time-outs, reopening and link loss
// are decided here and nowhere else. It drives the controller's link, response timer and
// buffers; the controller's slots hand it their events.
class ExchangeEngine : public QObject
{
    Q_OBJECT

public:
    // The pause between two frames of --wait, in milliseconds.
    static const int waitPause = 100;

    ExchangeEngine(LinkOpener &opener, QTimer &timer, QByteArray &lastCommand,
                   QByteArray &responseBuffer, TrafficTrace &trace, QObject *parent = nullptr);
    ~ExchangeEngine() override;

    void setTimeout(int milliseconds) { timeoutMs = milliseconds; }
    // Interactive mode: a final time-out closes the link and opens it anew.
    void setReopenAfterTimeout(bool on) { reopenAfterTimeout = on; }
    // How the link is named in causes and the trace.
    void setLinkName(const QString &name);
    // Milliseconds on a monotonic clock; tests give their own.
    void setClock(std::function<qint64()> clock) { now = std::move(clock); }
    qint64 clockTime() const { return now(); }

    // Opens the link; false with the reason when it cannot be opened.
    bool openLink(QString *reason);
    // Closes the link, if one is open; the object goes once control is back in the event loop.
    void closeLink();
    Link *currentLink() const { return link; }

    // Starts an exchange; only while none is in progress.
    void start(const ExchangeRequest &request);
    bool isBusy() const { return phase != Phase::Idle; }
    // Sends nothing more and waits for nothing: the run is ending.
    void stop();

    // Events, handed over by the controller's slots.
    void receive();
    void timerExpired();
    void linkFailed();

signals:
    void linkOpened(Link *link);
    void linkClosed();
    // A decision worth a line under --verbose, such as a retry.
    void notice(const QString &text);
    // Emitted last in every event handler that ends an exchange, so that a new one may start
    // from the handler of this signal. A link that breaks while no exchange is in progress
    // ends one of its own, without a command.
    void exchangeEnded(const ExchangeRecord &record);

private:
    enum class Phase {
        Idle,
        Awaiting, // a frame went out; its answer is being collected
        Pausing,  // between two attempts
    };

    void send();
    void take(const char *data, qint64 count);
    void answered();
    void timedOut();
    void attemptFailed(ExchangeOutcome outcome, const QString &reason);
    void pauseThenSend(int milliseconds);
    void end(ExchangeOutcome outcome, AnswerCheck::Verdict verdict, const QString &reason);
    bool open(QString *reason, bool *refused);
    void discardStale();
    QString printableCommand() const;

    LinkOpener &opener;
    QTimer &timer;
    QByteArray &lastCommand;
    QByteArray &responseBuffer;
    TrafficTrace &trace;
    Link *link = nullptr;
    std::function<qint64()> now;
    QElapsedTimer monotonic;
    int timeoutMs = 8000;
    bool reopenAfterTimeout = false;
    QString linkName;

    Phase phase = Phase::Idle;
    ExchangeRequest request;
    int attempts = 0;
    int retriesUsed = 0;
    qint64 sentAt = 0;
    // When the answer came or the time-out struck.
    qint64 endedAt = 0;
    bool lost = false;
};

#endif
