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
//
// An answer belongs to the frame it answers. After an exchange that did not end with a valid
// answer, or bytes that no frame asked for, the line is not trusted: before the next frame goes
// out, whatever arrives is discarded until the line has been quiet for the quiet time (twice the
// longest answer time seen, at least shortestQuiet, at most the time-out interval) and an answer
// still owed after a time-out has come or one more time-out interval has passed; at most one
// time-out interval in all. For one time-out interval after that, each answer must also be
// followed by the quiet time before its exchange ends, so that an answer that belongs to an
// earlier frame shows as a second one. So must the next exchanges after an answer no frame asked
// for (the unit repeats itself), and, for twice the longest answer time, an answer that came in
// less than three quarters of the shortest time any answer took (it was on its way already). On a
// guarded line the previous answer again, with data, to another command, is not taken for this
// command's.
class ExchangeEngine : public QObject
{
    Q_OBJECT

public:
    // The pause between two frames of --wait, in milliseconds.
    static const int waitPause = 100;
    // The least quiet, in milliseconds, that makes an untrusted line trusted again.
    static const int shortestQuiet = 50;
    // After answers that no frame asked for, this many exchanges are guarded.
    static const int watchedExchanges = 32;

    ExchangeEngine(LinkOpener &opener, QTimer &timer, QByteArray &lastCommand,
                   QByteArray &responseBuffer, TrafficTrace &trace, QObject *parent = nullptr);
    ~ExchangeEngine() override;

    void setTimeout(int milliseconds) { timeoutMs = milliseconds; }
    // Interactive mode: a final time-out closes the link and opens it anew.
    void setReopenAfterTimeout(bool on) { reopenAfterTimeout = on; }
    // How the link is named in causes and the trace.
    void setLinkName(const QString &name);
    // Microseconds on a monotonic clock; tests give their own.
    void setClock(std::function<qint64()> microseconds) { clock = std::move(microseconds); }
    // Milliseconds on the engine's clock.
    qint64 clockTime() const { return now(); }

    // Opens the link; false with the reason when it cannot be opened.
    bool openLink(QString *reason);
    // Closes the link, if one is open; the object goes once control is back in the event loop.
    void closeLink();

    // Starts an exchange; only while none is in progress.
    void start(const ExchangeRequest &request);
    // Before a run ends: true while a serial line that is not trusted still has to settle, so
    // that the next program on it does not receive what this one was owed; settled() follows.
    bool settle();
    // Sends nothing more and waits for nothing: the run is ending.
    void stop();
    // Stops, and ends an exchange as interrupted: with the frame in flight, if one went out for
    // an exchange that has not ended, else without a command.
    void interrupt();

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
    void settled();

private:
    enum class Phase {
        Idle,
        Settling, // the line is not trusted: discarding until it is
        Awaiting, // a frame went out; its answer is being collected
        Guarding, // the answer is in; watching for a second one
        Pausing,  // between two attempts
    };

    bool open(QString *reason, bool *refused);
    void sendWhenTrusted();
    void transmit();
    void take(const char *data, qint64 count);
    void discardArrived(const char *data, qint64 count);
    void discardStale();
    void answered();
    void timedOut();
    void attemptFailed(ExchangeOutcome outcome, const QString &reason);
    void pauseThenSend(int milliseconds);
    void end(ExchangeOutcome outcome, AnswerCheck::Verdict verdict, const QString &reason);
    void distrust(qint64 at);
    // When the line may be trusted again, or -1 when it may now.
    qint64 settleCheckAt() const;
    qint64 now() const { return clock() / 1000; }
    void surplusSeen();
    void checkSettled();
    qint64 quietTime() const;
    bool repeatsAnswer() const;
    void arm(qint64 at);
    QString printableCommand() const;

    LinkOpener &opener;
    QTimer &timer;
    QByteArray &lastCommand;
    QByteArray &responseBuffer;
    TrafficTrace &trace;
    Link *link = nullptr;
    std::function<qint64()> clock;
    QElapsedTimer monotonic;
    int timeoutMs = 8000;
    bool reopenAfterTimeout = false;
    QString linkName;

    Phase phase = Phase::Idle;
    // The time the current phase waits for, and when the timer fires (which may be earlier).
    qint64 deadline = -1;
    qint64 timerDue = -1;
    ExchangeRequest request;
    int attempts = 0;
    int retriesUsed = 0;
    qint64 sentAt = 0;
    qint64 sentAtMicroseconds = 0;
    // When the link was last read to its end.
    qint64 drainedAt = -1;
    qint64 answerMicroseconds = 0;
    // When the answer's CR came or the time-out struck.
    qint64 endedAt = 0;
    // Bytes behind the answer's CR within its exchange.
    QByteArray surplus;
    // The last exchange's answer, in room of its own, and its command.
    QByteArray previousAnswer;
    QByteArray previousCommand;
    bool guarded = false;
    bool lost = false;
    bool settlingAlone = false;

    // What the line still owes, and whether it can be trusted.
    bool trusted = true;
    qint64 suspectSince = 0;
    qint64 owedUntil = -1;
    qint64 lastByteAt = -1;
    qint64 guardUntil = -1;
    qint64 longestAnswer = 0;
    // The fastest and the slowest answer, in microseconds, that were valid and came alone.
    qint64 fastestMicroseconds = -1;
    qint64 slowestMicroseconds = 0;
    // Exchanges still to be guarded since the unit last sent what no frame asked for.
    int watched = 0;
};

#endif
