#include "consoleapplicationmain.h"

#include <QStringList>

#include "answercheck.h"

namespace {

// Counted text read at fixed positions. A position past its end reads as a non-digit, that is
// as digit 0, so a short response or command never makes a form read past its frame.
class FixedFields
{
public:
    FixedFields(const char *text, int length) : text(text), length(text != nullptr ? length : 0) {}

    uint32_t decimal(int offset, int count) const
    {
        char field[maximumCount];
        copy(offset, count, field);
        return text_to_dec(field, count);
    }

    uint32_t hexadecimal(int offset, int count) const
    {
        char field[maximumCount];
        copy(offset, count, field);
        return text_to_hex(field, count);
    }

private:
    static const int maximumCount = 10;

    void copy(int offset, int count, char *field) const
    {
        for (int i = 0; i < count && i < maximumCount; ++i) {
            field[i] = offset + i < length ? text[offset + i] : ' ';
        }
    }

    const char *text;
    int length;
};

FixedFields responseParameter(const QByteArray &response)
{
    int length = 0;
    const char *parameter = v640_get_response_parameter(response.constData(), &length);
    return FixedFields(parameter, length);
}

QString parameterText(const QByteArray &response)
{
    int length = 0;
    const char *parameter = v640_get_response_parameter(response.constData(), &length);
    return QString::fromLatin1(parameter, length);
}

// Values are formatted as signed 64-bit numbers taken from their 32 bits, so a value with the
// top bit set shows in base 16 as the 64-bit form of a negative number.
qlonglong widened(uint32_t value)
{
    return static_cast<qint32>(value);
}

QString upperHexByte(uint32_t value)
{
    return QStringLiteral("%1").arg(widened(value), 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

void ConsoleApplicationMain::reportHumanReadable()
{
    const int commandCode = v640_get_command_code(lastCommand.constData());
    const int responseCode = v640_get_response_code(responseBuffer.constData());
    if (responseCode != 0) {
        reportResponseError(responseCode);
        return;
    }
    switch (commandCode) {
    case 0x0100:
        formatIdTagData();
        break;
    case 0x10:
        formatTestResponse();
        break;
    case 0x12:
        outputStream << tr("last response: ") << QString::fromLatin1(lastResponseText) << Qt::endl;
        break;
    case 0x1401:
        formatModelNumberResponse();
        break;
    case 0x1402:
        formatFirmwareVersionResponse();
        break;
    case 0x1403:
        formatMacAddressResponse();
        break;
    case 0x1410:
        formatDipSwitchStatusResponse();
        break;
    case 0x1411:
    case 0x1412:
    case 0x1413:
    case 0x1414:
        formatIPAddressResponse();
        break;
    case 0x1420:
        formatMemoryStatusResponse();
        break;
    case 0x1421:
        formatAntennaConnectionStatusResponse();
        break;
    case 0x15:
        fromatLastCommandResponse();
        break;
    case 0x16:
        formatCommunicationsHistoryResponse();
        break;
    case 0x40:
        formatNoiseLevelResponse();
        break;
    default:
        outputStream << tr("OK: %1").arg(parameterText(responseBuffer)) << Qt::endl;
        break;
    }
}

void ConsoleApplicationMain::reportResponseError(int responseCode)
{
    outputStream << tr("NG: %1").arg(qlonglong(responseCode), 2, 16, QLatin1Char('0')) << Qt::endl;
}

void ConsoleApplicationMain::formatIdTagData()
{
    const uint32_t pageMask = AnswerCheck::requestedPageMask(lastCommand);
    const FixedFields data = responseParameter(responseBuffer);
    int offset = 0;
    for (int page = 1; page <= 17; ++page) {
        if ((pageMask & (1u << (page + 1))) == 0) {
            continue;
        }
        QString line = QStringLiteral("%1:").arg(page, 2);
        for (int byte = 0; byte < 8; ++byte, offset += 2) {
            line += QLatin1Char(' ') + upperHexByte(data.hexadecimal(offset, 2));
        }
        outputStream << line << Qt::endl;
    }
}

void ConsoleApplicationMain::formatTestResponse()
{
    outputStream << parameterText(responseBuffer) << Qt::endl;
}

void ConsoleApplicationMain::formatModelNumberResponse()
{
    outputStream << parameterText(responseBuffer) << Qt::endl;
}

void ConsoleApplicationMain::formatFirmwareVersionResponse()
{
    const FixedFields data = responseParameter(responseBuffer);
    outputStream << QString::number(widened(data.decimal(0, 2))) << '.'
                 << QStringLiteral("%1").arg(widened(data.hexadecimal(2, 2)), 2, 10,
                                             QLatin1Char('0'))
                 << Qt::endl;
}

void ConsoleApplicationMain::formatMacAddressResponse()
{
    const FixedFields data = responseParameter(responseBuffer);
    QStringList pairs;
    for (int pair = 0; pair < 6; ++pair) {
        pairs << upperHexByte(data.hexadecimal(2 * pair, 2));
    }
    outputStream << pairs.join(QLatin1Char(':')) << Qt::endl;
}

void ConsoleApplicationMain::formatDipSwitchStatusResponse()
{
    formatStatusWord(QT_TR_NOOP("enabled"), QT_TR_NOOP("disabled"));
}

void ConsoleApplicationMain::formatIPAddressResponse()
{
    const FixedFields data = responseParameter(responseBuffer);
    QStringList octets;
    for (int octet = 0; octet < 4; ++octet) {
        octets << QString::number(widened(data.decimal(3 * octet, 3)));
    }
    outputStream << octets.join(QLatin1Char('.')) << Qt::endl;
}

void ConsoleApplicationMain::formatMemoryStatusResponse()
{
    formatStatusWord(QT_TR_NOOP("normal"), QT_TR_NOOP("error"));
}

void ConsoleApplicationMain::formatAntennaConnectionStatusResponse()
{
    formatStatusWord(QT_TR_NOOP("correctly"), QT_TR_NOOP("not correctly"));
}

void ConsoleApplicationMain::formatStatusWord(const char *nonZeroWord, const char *zeroWord)
{
    const bool nonZero = responseParameter(responseBuffer).decimal(0, 2) != 0;
    outputStream << tr(nonZero ? nonZeroWord : zeroWord) << Qt::endl;
}

void ConsoleApplicationMain::fromatLastCommandResponse()
{
    int length = 0;
    const char *parameter = v640_get_response_parameter(responseBuffer.constData(), &length);
    outputStream << tr("command code: %1")
                        .arg(widened(text_to_hex(parameter, length)), length, 16, QLatin1Char('0'))
                 << Qt::endl;
}

void ConsoleApplicationMain::formatCommunicationsHistoryResponse()
{
    const FixedFields data = responseParameter(responseBuffer);
    outputStream << tr("     total: %1").arg(widened(data.hexadecimal(0, 4)), 5) << Qt::endl;
    outputStream << tr("successful: %1").arg(widened(data.hexadecimal(4, 4)), 5) << Qt::endl;
    outputStream << tr("    failed: %1").arg(widened(data.hexadecimal(8, 4)), 5) << Qt::endl;
}

void ConsoleApplicationMain::formatNoiseLevelResponse()
{
    const FixedFields data = responseParameter(responseBuffer);
    outputStream << QStringLiteral("%1").arg(widened(data.decimal(0, 2)), 2) << Qt::endl;
}
