#include "consoleapplicationmain.h"

#include <QStringList>

namespace {

// Values are formatted as signed 64-bit numbers taken from their 32 bits, so a value with the
// top bit set shows in base 16 as the 64-bit form of a negative number.
qlonglong widened(uint32_t value)
{
    return static_cast<qint32>(value);
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
    answer = Commands::decode(lastCommand, responseBuffer);
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
        outputStream << tr("OK: %1").arg(answer.text) << Qt::endl;
        break;
    }
}

void ConsoleApplicationMain::reportResponseError(int responseCode)
{
    outputStream << tr("NG: %1").arg(qlonglong(responseCode), 2, 16, QLatin1Char('0')) << Qt::endl;
}

void ConsoleApplicationMain::formatIdTagData()
{
    int offset = 0;
    for (int page = 1; page <= 17; ++page) {
        if ((answer.pageMask & (1u << (page + 1))) == 0) {
            continue;
        }
        QString line = QStringLiteral("%1:").arg(page, 2);
        for (int byte = 0; byte < 8; ++byte, offset += 2) {
            line += QLatin1Char(' ') + answer.text.mid(offset, 2);
        }
        outputStream << line << Qt::endl;
    }
}

void ConsoleApplicationMain::formatTestResponse()
{
    outputStream << answer.text << Qt::endl;
}

void ConsoleApplicationMain::formatModelNumberResponse()
{
    formatTestResponse();
}

void ConsoleApplicationMain::formatFirmwareVersionResponse()
{
    outputStream << QString::number(widened(answer.values[0])) << '.'
                 << QStringLiteral("%1").arg(widened(answer.values[1]), 2, 10, QLatin1Char('0'))
                 << Qt::endl;
}

void ConsoleApplicationMain::formatMacAddressResponse()
{
    QStringList pairs;
    for (int pair = 0; pair < 6; ++pair) {
        pairs << answer.text.mid(2 * pair, 2);
    }
    outputStream << pairs.join(QLatin1Char(':')) << Qt::endl;
}

void ConsoleApplicationMain::formatDipSwitchStatusResponse()
{
    formatStatusWord(QT_TR_NOOP("enabled"), QT_TR_NOOP("disabled"));
}

void ConsoleApplicationMain::formatIPAddressResponse()
{
    QStringList octets;
    for (const quint32 octet : answer.values) {
        octets << QString::number(widened(octet));
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
    outputStream << tr(answer.values[0] != 0 ? nonZeroWord : zeroWord) << Qt::endl;
}

void ConsoleApplicationMain::fromatLastCommandResponse()
{
    outputStream << tr("command code: %1")
                        .arg(widened(answer.values[0]), answer.text.size(), 16, QLatin1Char('0'))
                 << Qt::endl;
}

void ConsoleApplicationMain::formatCommunicationsHistoryResponse()
{
    outputStream << tr("     total: %1").arg(widened(answer.values[0]), 5) << Qt::endl;
    outputStream << tr("successful: %1").arg(widened(answer.values[1]), 5) << Qt::endl;
    outputStream << tr("    failed: %1").arg(widened(answer.values[2]), 5) << Qt::endl;
}

void ConsoleApplicationMain::formatNoiseLevelResponse()
{
    outputStream << QStringLiteral("%1").arg(widened(answer.values[0]), 2) << Qt::endl;
}
