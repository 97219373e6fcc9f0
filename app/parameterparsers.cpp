#include "consoleapplicationmain.h"

#include <QHostAddress>
#include <QStringList>

QString ConsoleApplicationMain::parsePagesParameter(const QString &pages) const
{
    if (pages.isEmpty()) {
        return QString();
    }
    quint32 mask = 0;
    const QStringList parts = pages.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        bool converted = false;
        const int page = part.toInt(&converted, 10);
        if (!converted || page < 1 || page > 17) {
            return QString();
        }
        // Page n is bit n + 1: bits 0 and 1 are never set.
        mask |= 1u << (page + 1);
    }
    return QStringLiteral("%1").arg(mask, 8, 16, QLatin1Char('0')).toUpper();
}

QString ConsoleApplicationMain::parseIPAddressParameter(const QString &address) const
{
    QHostAddress hostAddress;
    if (!hostAddress.setAddress(address)) {
        return QString();
    }
    bool converted = false;
    const quint32 value = hostAddress.toIPv4Address(&converted);
    if (!converted) {
        return QString();
    }
    const QLatin1Char zero('0');
    return QStringLiteral("%1%2%3%4")
        .arg(value >> 24, 3, 10, zero)
        .arg((value >> 16) & 0xFF, 3, 10, zero)
        .arg((value >> 8) & 0xFF, 3, 10, zero)
        .arg(value & 0xFF, 3, 10, zero);
}
