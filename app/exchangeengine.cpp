#include "exchangeengine.h"

#include <QTimer>

#include <cstring>

#include "link.h"
#include "traffictrace.h"
#include "v640.h"

namespace {

// One byte past the longest frame: enough to tell that a response without an early CR is not a
// frame, whatever else it holds.
const int responseLimit = V640_MAX_FRAME_SIZE + 1;

} // namespace

ExchangeEngine::ExchangeEngine(LinkOpener &opener, QTimer &timer, QByteArray &lastCommand,
                               QByteArray &responseBuffer, TrafficTrace &trace, QObject *parent)
    : QObject(parent), opener(opener), timer(timer), lastCommand(lastCommand),
      responseBuffer(responseBuffer), trace(trace)
{
    monotonic.start();
    now = [this]() { return monotonic.elapsed(); };
    timer.setSingleShot(true);
    // Qt's default timer may fire up to 5% early: a unit answering within the time-out must not
    // be given up.
    timer.setTimerType(Qt::PreciseTimer);
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
    // What a serial line received before this program opened it is stale.
    if (link->isSerialLine()) {
        discardStale();
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
    send();
}

void ExchangeEngine::stop()
{
    phase = Phase::Idle;
    timer.stop();
}

void ExchangeEngine::send()
{
    phase = Phase::Awaiting;
    QString reason;
    // A failure closed the link: it is opened anew, and failing that is one more failed attempt.
    if (link == nullptr && !openLink(&reason)) {
        attemptFailed(ExchangeOutcome::LinkFailed, reason);
        return;
    }
    responseBuffer.clear();
    discardStale();
    if (!link->send(request.frame.constData(), request.frame.size())) {
        const QString failure = link->failureReason();
        closeLink();
        attemptFailed(ExchangeOutcome::LinkFailed, failure);
        return;
    }
    lastCommand = request.frame;
    ++attempts;
    sentAt = now();
    endedAt = sentAt;
    trace.sent(lastCommand, attempts);
    timer.start(timeoutMs);
}

void ExchangeEngine::receive()
{
    if (link == nullptr) {
        return;
    }
    char chunk[4096];
    qint64 count;
    while ((count = link->receive(chunk, sizeof chunk)) > 0) {
        take(chunk, count);
    }
    if (phase == Phase::Awaiting && responseBuffer.indexOf('\r') >= 1) {
        answered();
    }
}

void ExchangeEngine::take(const char *data, qint64 count)
{
    // Bytes that no outstanding command asked for are nobody's answer. Once a CR is held the
    // outcome is decided: complete, or never (a CR at index 0).
    if (phase != Phase::Awaiting || responseBuffer.contains('\r')) {
        trace.discarded(
            QByteArray::fromRawData(data, static_cast<int>(qMin<qint64>(count, responseLimit))));
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
    if (wanted < count) {
        trace.discarded(QByteArray::fromRawData(
            carriageReturn + 1, static_cast<int>(qMin<qint64>(count - wanted, responseLimit))));
    }
    if (wanted <= room) {
        responseBuffer.append(data, static_cast<int>(wanted));
        return;
    }
    // Too long to be a frame: keep what shows that, and the CR that completes it.
    responseBuffer.append(data, static_cast<int>(qMax<qint64>(room, 0)));
    if (carriageReturn != nullptr) {
        responseBuffer.append('\r');
    }
}

void ExchangeEngine::answered()
{
    timer.stop();
    endedAt = now();
    trace.answered(responseBuffer, endedAt - sentAt);
    // Bytes that are no frame, or a frame spoilt on the line or from another node, are not the
    // unit's answer: another attempt may get it. An intact answer, error end included, is never
    // sent again for a failure.
    const AnswerCheck::Verdict onTheLine = AnswerCheck::judge(lastCommand, responseBuffer, false);
    if (onTheLine != AnswerCheck::Verdict::Valid && retriesUsed < request.retries) {
        attemptFailed(ExchangeOutcome::InvalidAnswer,
                      QStringLiteral("not a valid answer: %1")
                          .arg(QLatin1String(AnswerCheck::reason(onTheLine))));
        return;
    }
    const int responseCode = v640_get_response_code(responseBuffer.constData());
    if (onTheLine == AnswerCheck::Verdict::Valid && responseCode != 0 && request.waitUntil >= 0 &&
        now() + waitPause < request.waitUntil) {
        pauseThenSend(waitPause);
        return;
    }
    const AnswerCheck::Verdict verdict =
        AnswerCheck::judge(lastCommand, responseBuffer, request.formDecides);
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
    switch (phase) {
    case Phase::Idle:
        break;
    case Phase::Awaiting:
        // The clocks of the timer and the engine may differ by a millisecond.
        if (now() - sentAt < timeoutMs) {
            timer.start(int(timeoutMs - (now() - sentAt)));
            break;
        }
        timedOut();
        break;
    case Phase::Pausing:
        send();
        break;
    }
}

void ExchangeEngine::timedOut()
{
    endedAt = now();
    trace.timedOut(endedAt - sentAt, responseBuffer);
    const QString reason =
        QStringLiteral("no answer from %1 within %2 ms").arg(linkName).arg(timeoutMs);
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
    closeLink();
    if (phase == Phase::Idle) {
        // Nothing was outstanding: the loss is an exchange of its own.
        attempts = 0;
        end(ExchangeOutcome::LinkFailed, AnswerCheck::Verdict::Valid, reason);
        return;
    }
    timer.stop();
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
    timer.start(milliseconds);
}

void ExchangeEngine::end(ExchangeOutcome outcome, AnswerCheck::Verdict verdict,
                         const QString &reason)
{
    phase = Phase::Idle;
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

void ExchangeEngine::discardStale()
{
    const QByteArray stale = link->discardPending(responseLimit);
    if (!stale.isEmpty()) {
        trace.discarded(stale);
    }
}

QString ExchangeEngine::printableCommand() const
{
    int length = 0;
    const char *text = v640_get_printable(lastCommand.constData(), &length);
    return QString::fromLatin1(text, length);
}
