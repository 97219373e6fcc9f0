#ifndef VORSEL_TYPEDNUMBER_H
#define VORSEL_TYPEDNUMBER_H

#include <QString>

// A number as it was typed: ASCII decimal digits only (a sign, a space or any other character is
// not one), at most `limit`; else -1. What the user typed must be exactly what is used.
inline int typedNumber(const QString &text, int limit)
{
    if (text.isEmpty()) {
        return -1;
    }
    qint64 value = 0;
    for (const QChar character : text) {
        if (character < QLatin1Char('0') || character > QLatin1Char('9')) {
            return -1;
        }
        value = value * 10 + (character.unicode() - '0');
        if (value > limit) {
            return -1;
        }
    }
    return int(value);
}

#endif
