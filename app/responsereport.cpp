#include "consoleapplicationmain.h"

#include <QScopeGuard>

#include <cerrno>
#include <unistd.h>

namespace {

// The frame as shown to a user, into `text`: without SOH and CR; empty for anything that is not
// a frame. The text keeps its room from one exchange to the next.
void setPrintableText(QByteArray &text, const QByteArray &frameBytes)
{
    int length = 0;
    const char *start = v640_get_printable(frameBytes.constData(), &length);
    text.resize(length);
    text_copy(start, text.data(), length);
}

bool answered(ExchangeOutcome outcome)
{
    return outcome == ExchangeOutcome::Ok || outcome == ExchangeOutcome::UnitError ||
           outcome == ExchangeOutcome::InvalidAnswer;
}

} // namespace

void ConsoleApplicationMain::writeRawLine(const QByteArray &text, const QByteArray &second)
{
    // The frames are ASCII: they go to standard output as they are, without the stream's
    // conversion of every line to and from Unicode.
    rawLine.resize(0);
    rawLine += text;
    if (!second.isNull()) {
        rawLine += '\t';
        rawLine += second;
    }
    rawLine += '\n';
    // Everything the stream took is out already: every line it writes is flushed.
    const char *data = rawLine.constData();
    qint64 left = rawLine.size();
    while (left > 0) {
        const ssize_t count = ::write(STDOUT_FILENO, data, size_t(left));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            outputStream.setStatus(QTextStream::WriteFailed);
            return;
        }
        data += count;
        left -= count;
    }
}

bool ConsoleApplicationMain::readableLevel() const
{
    return jsonReport.isEnabled() || (outputLevel != 1 && outputLevel != 2);
}

void ConsoleApplicationMain::report(const ExchangeRecord &ended)
{
    record = ended;
    // Nothing of the exchange is held beyond its report, so that the engine's buffers keep their
    // room.
    const auto forget = qScopeGuard([this]() { record = ExchangeRecord(); });
    sessionStatus.record(ended.outcome);
    if (answered(ended.outcome) && !jsonReport.isEnabled()) {
        reportV640Response();
    }
    if (ended.outcome == ExchangeOutcome::Timeout) {
        diagnostics.say(QStringLiteral("%1 (waited %2 ms)").arg(ended.reason).arg(ended.elapsedMs));
    } else if (ended.outcome != ExchangeOutcome::Ok) {
        diagnostics.say(ended.reason);
    }
    if (jsonReport.isEnabled()) {
        jsonReport.write(outputStream, ended);
    }
    production.exchangeEnded(ended);
}

void ConsoleApplicationMain::reportV640Response()
{
    setPrintableText(lastCommandText, lastCommand);
    setPrintableText(lastResponseText, responseBuffer);

    switch (outputLevel) {
    case 1:
        writeRawLine(lastResponseText);
        return;
    case 2:
        writeRawLine(lastCommandText, lastResponseText);
        return;
    default:
        break;
    }
    switch (production.purpose()) {
    case ProductionRun::Purpose::Shown:
        break;
    case ProductionRun::Purpose::Hidden:
    case ProductionRun::Purpose::Read:
        // The run prints its own conclusion of the frames it sends for itself.
        if (record.outcome == ExchangeOutcome::Ok) {
            return;
        }
        break;
    case ProductionRun::Purpose::Probe:
        if (record.outcome != ExchangeOutcome::InvalidAnswer) {
            productionReport.nodeAnswered(record);
        }
        return;
    }
    if (record.outcome == ExchangeOutcome::InvalidAnswer) {
        reportResponseError(-1);
        return;
    }
    reportHumanReadable();
}
