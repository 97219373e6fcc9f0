#include "exchangeengine.h"

#include <QTimer>

#include <cstring>

#include "commands.h"
#include "link.h"
#include "traffictrace.h"
#include "v640.h"

namespace {

// One byte past the longest frame: enough to tell that a response without an early CR is not a
// frame, whatever else it holds.
const int responseLimit = V640_MAX_FRAME_SIZE + 1;

// How long after the link was read to its end, in microseconds, it counts as read.
const qint64 drainFreshness = 1000;
// How much sooner than the fastest answer, in microseconds, an answer must come to be early.
const qint64 earlyMargin = 1000;

bool hasData(const QByteArray &response)
{
    int length = 0;
    v640_get_response_parameter(response.constData(), &length);
    return length > 0;
}

bool onlyLineFeeds(const char *data, qint64 count)
{
    for (qint64 i = 0; i < count; ++i) {
        if (data[i] != '\n') {
            return false;
        }
    }
    return true;
}

} // namespace

ExchangeEngine::ExchangeEngine(LinkOpener &opener, QTimer &timer, QByteArray &lastCommand,
                               QByteArray &responseBuffer, TrafficTrace &trace, QObject *parent)
    : QObject(parent), opener(opener), timer(timer), lastCommand(lastCommand),
      responseBuffer(responseBuffer), trace(trace)
{
    monotonic.start();
    clock = [this]() { return monotonic.nsecsElapsed() / 1000; };
    timer.setSingleShot(true);
    // Qt's default timer may fire up to 5% early: a unit answering within the time-out must not
    // be given up.
    timer.setTimerType(Qt::PreciseTimer);
    // An answer is kept to at most one byte past a frame and its CR: its room lasts the run.
    responseBuffer.reserve(responseLimit + 1);
    previousAnswer.reserve(responseLimit + 1);
}

ExchangeEngine::~ExchangeEngine()
{
    delete link;
}

void ExchangeEngine::setLinkName(const QString &name)
{
    linkName = name;
    trace.setLink(name);
}

bool ExchangeEngine::openLink(QString *reason)
{
    bool refused = false;
    return open(reason, &refused);
}

bool ExchangeEngine::open(QString *reason, bool *refused)
{
    link = opener.open(reason, refused);
    if (link == nullptr) {
        return false;
    }
    trace.opened();
    emit linkOpened(link);
    if (link->isSerialLine()) {
        // What a serial line received before this program opened it is stale; an answer owed
        // to a frame sent before it was opened may still come.
        discardStale();
    } else {
        // A new connection owes nothing.
        trusted = true;
        owedUntil = -1;
    }
    return true;
}

void ExchangeEngine::closeLink()
{
    if (link == nullptr) {
        return;
    }
    trace.closed();
    link->close();
    link->disconnect();
    // This may run inside the link's own signal.
    link->deleteLater();
    link = nullptr;
    emit linkClosed();
}

void ExchangeEngine::start(const ExchangeRequest &exchange)
{
    request = exchange;
    attempts = 0;
    retriesUsed = 0;
    sendWhenTrusted();
}

bool ExchangeEngine::settle()
{
    if (link == nullptr || !link->isSerialLine() || settleCheckAt() < 0) {
        return false;
    }
    phase = Phase::Settling;
    settlingAlone = true;
    arm(settleCheckAt());
    return true;
}

void ExchangeEngine::stop()
{
    phase = Phase::Idle;
    settlingAlone = false;
    deadline = -1;
    timer.stop();
}

void ExchangeEngine::interrupt()
{
    if (phase == Phase::Idle || settlingAlone) {
        attempts = 0;
    }
    stop();
    end(ExchangeOutcome::Interrupted, AnswerCheck::Verdict::Valid,
        QStringLiteral("interrupted by SIGINT (Ctrl-C)"));
}

void ExchangeEngine::sendWhenTrusted()
{
    QString reason;
    bool refused = false;
    // A failure closed the link: it is opened anew, and failing that is one more failed attempt.
    if (link == nullptr && !open(&reason, &refused)) {
        attemptFailed(ExchangeOutcome::LinkFailed, reason);
        return;
    }
    // What arrived while no frame asked for it is no answer to this one. Right after the link
    // was read to its end, as after an answer, the system is not asked again: what came since
    // would be read by the next read as much as by this one, and asking before every frame
    // would cost more than the exchange.
    if (clock() - drainedAt > drainFreshness) {
        discardStale();
    }
    if (!trusted) {
        phase = Phase::Settling;
        checkSettled();
        return;
    }
    transmit();
}

void ExchangeEngine::transmit()
{
    // A new exchange may start while the last one's record still holds the old answer.
    if (responseBuffer.isDetached()) {
        responseBuffer.resize(0);
    } else {
        responseBuffer.clear();
        responseBuffer.reserve(responseLimit + 1);
    }
    surplus.clear();
    if (!link->send(request.frame.constData(), request.frame.size())) {
        const QString failure = link->failureReason();
        closeLink();
        attemptFailed(ExchangeOutcome::LinkFailed, failure);
        return;
    }
    lastCommand = request.frame;
    ++attempts;
    sentAtMicroseconds = clock();
    sentAt = sentAtMicroseconds / 1000;
    endedAt = sentAt;
    guarded = sentAt < guardUntil || watched > 0;
    watched = qMax(watched - 1, 0);
    trace.sent(lastCommand, attempts);
    phase = Phase::Awaiting;
    arm(sentAt + timeoutMs);
}

void ExchangeEngine::receive()
{
    if (link == nullptr) {
        return;
    }
    char chunk[4096];
    qint64 count;
    // A short read took all there was.
    do {
        count = link->receive(chunk, sizeof chunk);
        if (count < 0) {
            linkFailed();
            return;
        }
        if (count == 0) {
            break;
        }
        if (phase == Phase::Awaiting || phase == Phase::Guarding) {
            take(chunk, count);
        } else {
            discardArrived(chunk, count);
        }
    } while (count == sizeof chunk);
    drainedAt = clock();
    switch (phase) {
    case Phase::Awaiting:
        if (responseBuffer.indexOf('\r') >= 1) {
            endedAt = now();
            answerMicroseconds = clock() - sentAtMicroseconds;
            // An answer sooner than the unit has ever answered may have been on its way before
            // the frame went out: the real one would come within twice the longest answer time.
            // A millisecond at least: the jitter of a fast link is no sign.
            const bool early = 4 * answerMicroseconds < 3 * fastestMicroseconds &&
                               fastestMicroseconds - answerMicroseconds > earlyMargin;
            if (!guarded && !early) {
                answered();
                return;
            }
            phase = Phase::Guarding;
            const qint64 watch =
                guarded ? quietTime() : qMin<qint64>(quietTime(), 2 * slowestMicroseconds / 1000);
            guarded = true;
            arm(qMin(endedAt + watch, sentAt + timeoutMs));
        }
        break;
    case Phase::Settling:
        checkSettled();
        break;
    default:
        break;
    }
}

void ExchangeEngine::take(const char *data, qint64 count)
{
    // Once a CR is held the answer is decided: complete, or never (a CR at index 0). What
    // follows is kept only to tell a repeated answer from a different one.
    if (responseBuffer.contains('\r')) {
        trace.discarded(
            QByteArray::fromRawData(data, static_cast<int>(qMin<qint64>(count, responseLimit))));
        if (surplus.size() < 2 * responseLimit) {
            surplus.append(data, static_cast<int>(qMin<qint64>(count, 2 * responseLimit)));
        }
        return;
    }
    if (responseBuffer.isEmpty()) {
        // An answer begins at its first character: line feeds of the previous answer's CR LF are
        // not part of it, and an addressed answer begins at SOH.
        const char *start = data;
        if (lastCommand.startsWith('\x01')) {
            start = static_cast<const char *>(memchr(data, '\x01', size_t(count)));
        } else {
            while (start < data + count && *start == '\n') {
                ++start;
            }
        }
        if (start == nullptr || start == data + count) {
            trace.discarded(QByteArray::fromRawData(
                data, static_cast<int>(qMin<qint64>(count, responseLimit))));
            return;
        }
        if (start != data) {
            trace.discarded(QByteArray::fromRawData(data, static_cast<int>(start - data)));
        }
        count -= start - data;
        data = start;
    }
    const char *carriageReturn = static_cast<const char *>(memchr(data, '\r', size_t(count)));
    const qint64 wanted = carriageReturn != nullptr ? carriageReturn - data + 1 : count;
    const qint64 room = responseLimit - responseBuffer.size();
    if (wanted <= room) {
        responseBuffer.append(data, static_cast<int>(wanted));
    } else {
        // Too long to be a frame: keep what shows that, and the CR that completes it.
        responseBuffer.append(data, static_cast<int>(qMax<qint64>(room, 0)));
        if (carriageReturn != nullptr) {
            responseBuffer.append('\r');
        }
    }
    if (wanted < count) {
        take(carriageReturn + 1, count - wanted);
    }
}

void ExchangeEngine::discardArrived(const char *data, qint64 count)
{
    trace.discarded(
        QByteArray::fromRawData(data, static_cast<int>(qMin<qint64>(count, responseLimit))));
    // A late line feed is the end of an answer's CR LF, and tells nothing.
    if (onlyLineFeeds(data, count)) {
        return;
    }
    lastByteAt = now();
    // Bytes while no frame asks for them: an answer owed, or one too many.
    if (owedUntil >= 0 && memchr(data, '\r', size_t(count)) != nullptr) {
        owedUntil = -1;
    } else {
        surplusSeen();
    }
    distrust(lastByteAt);
}

void ExchangeEngine::surplusSeen()
{
    // A unit that sent one answer too many will do it again: the exchanges after it wait out
    // the quiet after their answer.
    watched = watchedExchanges;
}

void ExchangeEngine::discardStale()
{
    drainedAt = clock();
    const QByteArray stale = link->discardPending(responseLimit);
    if (!stale.isEmpty()) {
        discardArrived(stale.constData(), stale.size());
    }
}

bool ExchangeEngine::repeatsAnswer() const
{
    // The same answer again (a unit that repeats itself), line feeds aside, whole or begun.
    QByteArray again = surplus;
    again.replace('\n', QByteArray());
    for (int offset = 0; offset < again.size(); offset += responseBuffer.size()) {
        if (!responseBuffer.startsWith(again.mid(offset, responseBuffer.size()))) {
            return false;
        }
    }
    return true;
}

void ExchangeEngine::answered()
{
    trace.answered(responseBuffer, endedAt - sentAt);
    const bool second = !surplus.isEmpty() && !onlyLineFeeds(surplus.constData(), surplus.size());
    // A different second answer leaves it open which one is this frame's, on a line in doubt;
    // on a trusted line it is one too many, and only the next frame waits for the quiet.
    const bool different = guarded && second && !repeatsAnswer();
    // On a line in doubt, the previous answer again, to another command, is that answer repeated
    // more likely than this command's: a unit that repeats itself may also have missed the frame.
    // Answers without data (00 for every write, an error end) are alike by nature.
    const bool repeated = guarded && responseBuffer == previousAnswer &&
                          lastCommand != previousCommand && hasData(responseBuffer);
    previousAnswer.resize(responseBuffer.size());
    memcpy(previousAnswer.data(), responseBuffer.constData(), size_t(responseBuffer.size()));
    previousCommand = lastCommand;
    // Judged once, with the form; what the form alone decides is left to the request.
    int responseCode = -1;
    const AnswerCheck::Verdict full =
        different  ? AnswerCheck::Verdict::TwoAnswers
        : repeated ? AnswerCheck::Verdict::Repeated
                   : AnswerCheck::judge(lastCommand, responseBuffer, true, &responseCode);
    if (different || repeated) {
        responseCode = v640_get_response_code(responseBuffer.constData());
    }
    const bool formOnly =
        full == AnswerCheck::Verdict::WrongForm &&
        AnswerCheck::judge(lastCommand, responseBuffer, false) == AnswerCheck::Verdict::Valid;
    // An answer out of its command's form, or one too many, may belong to another frame: the
    // next one waits until the line is quiet.
    if (second) {
        surplusSeen();
    }
    if (second || full != AnswerCheck::Verdict::Valid) {
        lastByteAt = now();
        distrust(lastByteAt);
    } else {
        longestAnswer = qMax(longestAnswer, endedAt - sentAt);
        fastestMicroseconds = fastestMicroseconds < 0
                                  ? answerMicroseconds
                                  : qMin(fastestMicroseconds, answerMicroseconds);
        slowestMicroseconds = qMax(slowestMicroseconds, answerMicroseconds);
    }
    // Bytes that are no frame, or a frame spoilt on the line or from another node, are not the
    // unit's answer: another attempt may get it. An intact answer, error end included, is never
    // sent again for a failure.
    const AnswerCheck::Verdict onTheLine = formOnly ? AnswerCheck::Verdict::Valid : full;
    if (onTheLine != AnswerCheck::Verdict::Valid && retriesUsed < request.retries) {
        attemptFailed(ExchangeOutcome::InvalidAnswer,
                      QStringLiteral("not a valid answer: %1")
                          .arg(QLatin1String(AnswerCheck::reason(onTheLine))));
        return;
    }
    if (onTheLine == AnswerCheck::Verdict::Valid && responseCode != 0 && request.waitUntil >= 0 &&
        now() + waitPause < request.waitUntil) {
        pauseThenSend(waitPause);
        return;
    }
    const AnswerCheck::Verdict verdict =
        formOnly && !request.formDecides ? AnswerCheck::Verdict::Valid : full;
    if (verdict != AnswerCheck::Verdict::Valid) {
        end(ExchangeOutcome::InvalidAnswer, verdict,
            QStringLiteral("not a valid answer to %1: %2")
                .arg(printableCommand(), QLatin1String(AnswerCheck::reason(verdict))));
    } else if (responseCode != 0) {
        end(ExchangeOutcome::UnitError, verdict,
            QStringLiteral("the unit answered %1 with error code %2")
                .arg(printableCommand())
                .arg(responseCode, 2, 16, QLatin1Char('0')));
    } else {
        end(ExchangeOutcome::Ok, verdict, QString());
    }
}

void ExchangeEngine::timerExpired()
{
    if (deadline < 0) {
        return;
    }
    // The timer may fire before the time it waits for: an earlier deadline armed it, or its
    // clock and the engine's differ by a millisecond.
    if (now() < deadline) {
        arm(deadline);
        return;
    }
    deadline = -1;
    switch (phase) {
    case Phase::Idle:
        break;
    case Phase::Settling:
        checkSettled();
        break;
    case Phase::Awaiting:
        timedOut();
        break;
    case Phase::Guarding:
        answered();
        break;
    case Phase::Pausing:
        sendWhenTrusted();
        break;
    }
}

void ExchangeEngine::timedOut()
{
    endedAt = now();
    trace.timedOut(endedAt - sentAt, responseBuffer);
    const QString reason =
        QStringLiteral("no answer from %1 within %2 ms").arg(linkName).arg(timeoutMs);
    // The answer may still come, for up to one more time-out interval. Another node's answer
    // is not valid for the next probe anyway.
    if (!request.probe) {
        distrust(endedAt);
        owedUntil = endedAt + timeoutMs;
    }
    // Another attempt, and a scan's next node, go out over the same link: nothing shows it
    // broken, and a serial adapter may reset what it drives when its port is opened.
    if (retriesUsed < request.retries || request.probe || !reopenAfterTimeout) {
        attemptFailed(ExchangeOutcome::Timeout, reason);
        return;
    }
    closeLink();
    // A link that merely stays silent is tried again for the next frame; one that is refused is
    // gone.
    QString failure;
    bool refused = false;
    if (!open(&failure, &refused)) {
        lost = refused;
        emit notice(QStringLiteral("cannot reopen the link: ") + failure);
    }
    attemptFailed(ExchangeOutcome::Timeout, reason);
}

void ExchangeEngine::linkFailed()
{
    if (link == nullptr) {
        return;
    }
    const QString reason = link->failureReason();
    // A serial line that is opened again may still deliver what was owed.
    if (link->isSerialLine() && (phase == Phase::Awaiting || phase == Phase::Guarding)) {
        distrust(now());
        owedUntil = now() + timeoutMs;
    }
    closeLink();
    if (phase == Phase::Idle) {
        // Nothing was outstanding: the loss is an exchange of its own.
        attempts = 0;
        end(ExchangeOutcome::LinkFailed, AnswerCheck::Verdict::Valid, reason);
        return;
    }
    deadline = -1;
    attemptFailed(ExchangeOutcome::LinkFailed, reason);
}

void ExchangeEngine::attemptFailed(ExchangeOutcome outcome, const QString &reason)
{
    if (retriesUsed < request.retries) {
        ++retriesUsed;
        emit notice(QStringLiteral("%1; sending again (retry %2 of %3)")
                        .arg(reason)
                        .arg(retriesUsed)
                        .arg(request.retries));
        pauseThenSend(0);
        return;
    }
    end(outcome, AnswerCheck::Verdict::Valid, reason);
}

void ExchangeEngine::pauseThenSend(int milliseconds)
{
    phase = Phase::Pausing;
    arm(now() + milliseconds);
}

void ExchangeEngine::end(ExchangeOutcome outcome, AnswerCheck::Verdict verdict,
                         const QString &reason)
{
    phase = Phase::Idle;
    deadline = -1;
    ExchangeRecord record;
    if (attempts > 0) {
        record.command = lastCommand;
        record.response = responseBuffer;
        record.elapsedMs = endedAt - sentAt;
    }
    record.outcome = outcome;
    record.verdict = verdict;
    record.reason = reason;
    record.attempts = attempts;
    record.linkLost = lost || outcome == ExchangeOutcome::LinkFailed;
    lost = false;
    emit exchangeEnded(record);
}

void ExchangeEngine::distrust(qint64 at)
{
    if (trusted) {
        trusted = false;
        suspectSince = at;
    }
}

qint64 ExchangeEngine::settleCheckAt() const
{
    if (trusted) {
        return -1;
    }
    const qint64 t = now();
    const qint64 bound = suspectSince + timeoutMs;
    const qint64 quietFrom = qMax(lastByteAt, suspectSince);
    const bool owed = owedUntil > t;
    if (t >= bound || (!owed && t - quietFrom >= quietTime())) {
        return -1;
    }
    return qMin(bound, owed ? owedUntil : quietFrom + quietTime());
}

void ExchangeEngine::checkSettled()
{
    const qint64 at = settleCheckAt();
    if (at >= 0) {
        arm(at);
        return;
    }
    trusted = true;
    owedUntil = -1;
    guardUntil = now() + timeoutMs;
    if (settlingAlone) {
        settlingAlone = false;
        phase = Phase::Idle;
        deadline = -1;
        emit settled();
        return;
    }
    transmit();
}

qint64 ExchangeEngine::quietTime() const
{
    return qBound<qint64>(shortestQuiet, 2 * longestAnswer, timeoutMs);
}

void ExchangeEngine::arm(qint64 at)
{
    deadline = at;
    // A timer that fires earlier is left alone: it arms itself again for the rest. Starting and
    // stopping a timer for every exchange would cost more than the exchange.
    if (timer.isActive() && timerDue <= at) {
        return;
    }
    const qint64 remaining = qMax<qint64>(at - now(), 0);
    timerDue = now() + remaining;
    timer.start(int(remaining));
}

QString ExchangeEngine::printableCommand() const
{
    // Without SOH and CR, as causes show it: a password is not among them.
    const QByteArray shown = Commands::concealed(lastCommand);
    const int start = shown.startsWith('\x01') ? 1 : 0;
    return QString::fromLatin1(shown.constData() + start, qMax(shown.indexOf('\r'), start) - start);
}
