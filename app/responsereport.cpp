#include "consoleapplicationmain.h"

#include "answercheck.h"

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

} // namespace

void ConsoleApplicationMain::reportV640Response()
{
    lastCommandText = printableText(lastCommand);
    lastResponseText = printableText(responseBuffer);

    // The raw levels show the traffic as it came; the readable forms show only what the unit
    // really said to this command.
    const bool humanReadable = outputLevel != 1 && outputLevel != 2;
    // Data that a run goes on with must have the answer's form at every level.
    const AnswerCheck::Verdict verdict =
        AnswerCheck::judge(lastCommand, responseBuffer, humanReadable || production.usesData());
    const int responseCode = v640_get_response_code(responseBuffer.constData());
    ExchangeOutcome outcome = ExchangeOutcome::Ok;
    if (verdict != AnswerCheck::Verdict::Valid) {
        outcome = ExchangeOutcome::InvalidAnswer;
    } else if (responseCode != 0) {
        outcome = ExchangeOutcome::UnitError;
    }
    // In JSON the object is written as the exchange ends.
    if (!jsonReport.isEnabled()) {
        switch (outputLevel) {
        case 1:
            outputStream << QString::fromLatin1(lastResponseText) << Qt::endl;
            break;
        case 2:
            outputStream << QString::fromLatin1(lastCommandText) << '\t'
                         << QString::fromLatin1(lastResponseText) << Qt::endl;
            break;
        default:
            if (production.replacesReport(outcome, responseBuffer)) {
                break;
            }
            if (verdict == AnswerCheck::Verdict::Valid) {
                reportHumanReadable();
            } else {
                reportResponseError(-1);
            }
            break;
        }
    }

    if (outcome == ExchangeOutcome::InvalidAnswer) {
        failed(ExchangeOutcome::InvalidAnswer,
               QStringLiteral("not a valid answer to %1: %2")
                   .arg(QString::fromLatin1(lastCommandText),
                        QLatin1String(AnswerCheck::reason(verdict))));
    } else if (outcome == ExchangeOutcome::UnitError) {
        failed(ExchangeOutcome::UnitError, QStringLiteral("the unit answered %1 with error code %2")
                                               .arg(QString::fromLatin1(lastCommandText))
                                               .arg(responseCode, 2, 16, QLatin1Char('0')));
    } else {
        exchangeEnded(ExchangeOutcome::Ok);
    }
    if (errorAbort && outcome != ExchangeOutcome::Ok) {
        exitCommander(V640ResponseError);
    }
}
