#include "consoleapplicationmain.h"

#include <QStringList>

#include "typednumber.h"

QString ConsoleApplicationMain::parsePagesParameter(const QString &pages) const
{
    if (pages.isEmpty()) {
        return QString();
    }
    quint32 mask = 0;
    const QStringList parts = pages.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        const int page = typedNumber(part, 17);
        if (page < 1) {
            return QString();
        }
        // Page n is bit n + 1: bits 0 and 1 are never set.
        mask |= 1u << (page + 1);
    }
    return QStringLiteral("%1").arg(mask, 8, 16, QLatin1Char('0')).toUpper();
}

QString ConsoleApplicationMain::parseIPAddressParameter(const QString &address) const
{
    // Four decimal parts and nothing else: leading zeros are decimal, as the unit writes them,
    // never octal, and shortened forms such as 10.1 are not an address anyone meant to store.
    const QStringList parts = address.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 4) {
        return QString();
    }
    QString digits;
    for (const QString &part : parts) {
        const int octet = typedNumber(part, 255);
        if (octet < 0) {
            return QString();
        }
        digits += QStringLiteral("%1").arg(octet, 3, 10, QLatin1Char('0'));
    }
    return digits;
}
