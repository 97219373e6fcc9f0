#include "jsonreport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTextStream>

#include "commands.h"
#include "exchangeengine.h"
#include "v640.h"

namespace {

const char *outcomeName(ExchangeOutcome outcome)
{
    switch (outcome) {
    case ExchangeOutcome::Ok:
        return "ok";
    case ExchangeOutcome::UnitError:
        return "error";
    case ExchangeOutcome::InvalidAnswer:
        return "invalid-answer";
    case ExchangeOutcome::Timeout:
        return "timeout";
    case ExchangeOutcome::NotSent:
        return "not-sent";
    case ExchangeOutcome::LinkFailed:
        return "link-failed";
    case ExchangeOutcome::Interrupted:
        return "interrupted";
    }
    return "";
}

// What came, as a user reads it: without SOH, up to the first CR, whatever the bytes are (a NUL
// included: the byte array's own conversion would end the text there).
QString receivedText(const QByteArray &frame)
{
    const int start = frame.startsWith('\x01') ? 1 : 0;
    const int end = frame.indexOf('\r');
    return QString::fromLatin1(frame.constData() + start, (end < 0 ? frame.size() : end) - start);
}

// The document escapes C0 controls only; DEL and C1 (U+009B introduces a control sequence on
// some terminals) would reach a reader raw. Outside its strings a JSON text is ASCII, so every
// such character is inside a string.
QString withControlsEscaped(QString text)
{
    for (int i = text.size() - 1; i >= 0; --i) {
        const ushort character = text.at(i).unicode();
        if (character >= 0x7F && character <= 0x9F) {
            text.replace(i, 1, QStringLiteral("\\u%1").arg(character, 4, 16, QLatin1Char('0')));
        }
    }
    return text;
}

bool answered(ExchangeOutcome outcome)
{
    return outcome == ExchangeOutcome::Ok || outcome == ExchangeOutcome::UnitError ||
           outcome == ExchangeOutcome::InvalidAnswer;
}

} // namespace

void JsonReport::write(QTextStream &output, const ExchangeRecord &record) const
{
    QJsonObject object{{QStringLiteral("v"), 1},
                       {QStringLiteral("outcome"), QLatin1String(outcomeName(record.outcome))}};
    if (!record.command.isEmpty()) {
        object.insert(QStringLiteral("command"), receivedText(record.command));
    }
    if (answered(record.outcome) && !record.response.isEmpty()) {
        object.insert(QStringLiteral("response"), receivedText(record.response));
        object.insert(QStringLiteral("elapsed_ms"), record.elapsedMs);
    }
    if (record.outcome == ExchangeOutcome::Ok || record.outcome == ExchangeOutcome::UnitError) {
        object.insert(QStringLiteral("code"), v640_get_response_code(record.response.constData()));
    }
    if (!record.reason.isEmpty()) {
        object.insert(QStringLiteral("reason"), record.reason);
    }
    if (countsAttempts && record.attempts > 0) {
        object.insert(QStringLiteral("attempts"), record.attempts);
    }
    if (record.outcome == ExchangeOutcome::Ok) {
        const QJsonValue decoded = value(record.command, record.response);
        if (!decoded.isNull()) {
            object.insert(QStringLiteral("value"), decoded);
        }
    }
    output << withControlsEscaped(
                  QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)))
           << Qt::endl;
}

QJsonValue JsonReport::value(const QByteArray &command, const QByteArray &response)
{
    const Commands::Answer answer = Commands::decode(command, response);
    const QString text = answer.text;
    switch (answer.form) {
    case Commands::AnswerForm::Free:
    case Commands::AnswerForm::NoData:
        return QJsonValue();
    case Commands::AnswerForm::Text:
    case Commands::AnswerForm::CommandCode:
        return text;
    case Commands::AnswerForm::Pages: {
        QJsonObject pages;
        for (int page = 1, offset = 0; page <= 17; ++page) {
            if ((answer.pageMask & (1u << (page + 1))) != 0) {
                pages.insert(QString::number(page), text.mid(offset, 16));
                offset += 16;
            }
        }
        return pages;
    }
    case Commands::AnswerForm::Firmware:
        return QStringLiteral("%1.%2")
            .arg(answer.values[0])
            .arg(answer.values[1], 2, 10, QLatin1Char('0'));
    case Commands::AnswerForm::MacAddress: {
        QStringList pairs;
        for (int pair = 0; pair < 6; ++pair) {
            pairs << text.mid(2 * pair, 2);
        }
        return pairs.join(QLatin1Char(':'));
    }
    case Commands::AnswerForm::Flag:
        return answer.values[0] != 0;
    case Commands::AnswerForm::IPAddress:
        return QStringLiteral("%1.%2.%3.%4")
            .arg(answer.values[0])
            .arg(answer.values[1])
            .arg(answer.values[2])
            .arg(answer.values[3]);
    case Commands::AnswerForm::History:
        return QJsonObject{{QStringLiteral("total"), int(answer.values[0])},
                           {QStringLiteral("successful"), int(answer.values[1])},
                           {QStringLiteral("failed"), int(answer.values[2])}};
    case Commands::AnswerForm::NoiseLevel:
        return int(answer.values[0]);
    }
    return QJsonValue();
}
