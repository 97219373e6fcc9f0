#include "consoleapplicationmain.h"

#include <QStringList>

namespace {

// The decimal value of a text of ASCII digits only, or -1. A sign, a space or any other character
// is not a digit: what the user typed must be exactly what is used. Values above `limit` give -1.
int decimalDigits(const QString &text, int limit)
{
    if (text.isEmpty()) {
        return -1;
    }
    int value = 0;
    for (const QChar character : text) {
        if (character < QLatin1Char('0') || character > QLatin1Char('9')) {
            return -1;
        }
        value = value * 10 + (character.unicode() - '0');
        if (value > limit) {
            return -1;
        }
    }
    return value;
}

} // namespace

QString ConsoleApplicationMain::parsePagesParameter(const QString &pages) const
{
    if (pages.isEmpty()) {
        return QString();
    }
    quint32 mask = 0;
    const QStringList parts = pages.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        const int page = decimalDigits(part, 17);
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
        const int octet = decimalDigits(part, 255);
        if (octet < 0) {
            return QString();
        }
        digits += QStringLiteral("%1").arg(octet, 3, 10, QLatin1Char('0'));
    }
    return digits;
}
