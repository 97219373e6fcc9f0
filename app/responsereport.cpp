#include "consoleapplicationmain.h"

namespace {

// The frame as shown to a user: without SOH and CR; empty for anything that is not a frame.
QByteArray printableText(const QByteArray &frameBytes)
{
    int length = 0;
    const char *start = v640_get_printable(frameBytes.constData(), &length);
    char text[V640_MAX_FRAME_SIZE + 1] = "";
    text_copy(start, text, length);
    return QByteArray(text);
}

bool answered(ExchangeOutcome outcome)
{
    return outcome == ExchangeOutcome::Ok || outcome == ExchangeOutcome::UnitError ||
           outcome == ExchangeOutcome::InvalidAnswer;
}

} // namespace

bool ConsoleApplicationMain::readableLevel() const
{
    return jsonReport.isEnabled() || (outputLevel != 1 && outputLevel != 2);
}

void ConsoleApplicationMain::report(const ExchangeRecord &ended)
{
    record = ended;
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
    lastCommandText = printableText(lastCommand);
    lastResponseText = printableText(responseBuffer);

    switch (outputLevel) {
    case 1:
        outputStream << QString::fromLatin1(lastResponseText) << Qt::endl;
        return;
    case 2:
        outputStream << QString::fromLatin1(lastCommandText) << '\t'
                     << QString::fromLatin1(lastResponseText) << Qt::endl;
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
