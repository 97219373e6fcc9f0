#include "jsonreport.h"

#include <QJsonDocument>
#include <QStringList>
#include <QTextStream>

#include "answercheck.h"
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
    }
    return "";
}

// What came, as a user reads it: without SOH, up to the first CR, whatever the bytes are.
QString receivedText(const QByteArray &response)
{
    const int start = response.startsWith('\x01') ? 1 : 0;
    const int end = response.indexOf('\r');
    return QString::fromLatin1(response.mid(start, (end < 0 ? response.size() : end) - start));
}

quint32 decimal(const char *data, int offset, int count)
{
    return text_to_dec(data + offset, count);
}

quint32 hexadecimal(const char *data, int offset, int count)
{
    return text_to_hex(data + offset, count);
}

QString dotted(const char *data)
{
    QStringList parts;
    for (int part = 0; part < 4; ++part) {
        parts << QString::number(decimal(data, 3 * part, 3));
    }
    return parts.join(QLatin1Char('.'));
}

} // namespace

void JsonReport::commandSent(const QByteArray &frame)
{
    command = frame;
    sinceSent.start();
}

void JsonReport::exchangeEnded(QTextStream &output, ExchangeOutcome outcome, const QString &reason,
                               const QByteArray &response, int attempts)
{
    QJsonObject object{{QStringLiteral("v"), 1},
                       {QStringLiteral("outcome"), QLatin1String(outcomeName(outcome))}};
    if (!command.isEmpty()) {
        object.insert(QStringLiteral("command"), receivedText(command));
    }
    if (!response.isEmpty()) {
        object.insert(QStringLiteral("response"), receivedText(response));
        if (outcome != ExchangeOutcome::Timeout && outcome != ExchangeOutcome::LinkFailed) {
            object.insert(QStringLiteral("elapsed_ms"), sinceSent.elapsed());
        }
    }
    if (outcome == ExchangeOutcome::Ok || outcome == ExchangeOutcome::UnitError) {
        object.insert(QStringLiteral("code"), v640_get_response_code(response.constData()));
    }
    if (!reason.isEmpty()) {
        object.insert(QStringLiteral("reason"), reason);
    }
    if (attempts > 0) {
        object.insert(QStringLiteral("attempts"), attempts);
    }
    if (outcome == ExchangeOutcome::Ok) {
        const QJsonValue value = decodedValue(command, response);
        if (!value.isNull()) {
            object.insert(QStringLiteral("value"), value);
        }
    }
    output << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) << Qt::endl;
    command.clear();
}

QJsonValue JsonReport::decodedValue(const QByteArray &command, const QByteArray &response)
{
    int length = 0;
    const char *data = v640_get_response_parameter(response.constData(), &length);
    const QString text = QString::fromLatin1(data, length);
    switch (v640_get_command_code(command.constData())) {
    case 0x0100: {
        QJsonObject pages;
        const quint32 mask = AnswerCheck::requestedPageMask(command);
        for (int page = 1, offset = 0; page <= 17; ++page) {
            if ((mask & (1u << (page + 1))) != 0) {
                pages.insert(QString::number(page), text.mid(offset, 16));
                offset += 16;
            }
        }
        return pages;
    }
    case 0x10:
    case 0x1401:
        return text;
    case 0x1402:
        return QStringLiteral("%1.%2")
            .arg(decimal(data, 0, 2))
            .arg(hexadecimal(data, 2, 2), 2, 10, QLatin1Char('0'));
    case 0x1403: {
        QStringList pairs;
        for (int pair = 0; pair < 6; ++pair) {
            pairs << text.mid(2 * pair, 2);
        }
        return pairs.join(QLatin1Char(':'));
    }
    case 0x1410:
    case 0x1420:
    case 0x1421:
        return decimal(data, 0, 2) != 0;
    case 0x1411:
    case 0x1412:
    case 0x1413:
    case 0x1414:
        return dotted(data);
    case 0x15:
        return text;
    case 0x16:
        return QJsonObject{{QStringLiteral("total"), int(hexadecimal(data, 0, 4))},
                           {QStringLiteral("successful"), int(hexadecimal(data, 4, 4))},
                           {QStringLiteral("failed"), int(hexadecimal(data, 8, 4))}};
    case 0x40:
        return int(decimal(data, 0, 2));
    default:
        return QJsonValue();
    }
}
