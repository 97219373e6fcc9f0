#include "hextext.h"

namespace HexText {

namespace {

int digitValue(char character)
{
    if (character >= '0' && character <= '9') {
        return character - '0';
    }
    if (character >= 'A' && character <= 'F') {
        return character - 'A' + 10;
    }
    if (character >= 'a' && character <= 'f') {
        return character - 'a' + 10;
    }
    return -1;
}

} // namespace

bool isDecimal(const QByteArray &text)
{
    for (char character : text) {
        if (character < '0' || character > '9') {
            return false;
        }
    }
    return true;
}

bool isUpperHex(const QByteArray &text)
{
    for (char character : text) {
        if (!((character >= '0' && character <= '9') || (character >= 'A' && character <= 'F'))) {
            return false;
        }
    }
    return true;
}

bool isPrintable(const QByteArray &text)
{
    for (char character : text) {
        if (character < 0x20 || character > 0x7E) {
            return false;
        }
    }
    return true;
}

bool decode(const QByteArray &text, QByteArray *bytes)
{
    if (text.size() % 2 != 0) {
        return false;
    }
    QByteArray result(text.size() / 2, '\0');
    for (int index = 0; index < result.size(); ++index) {
        const int high = digitValue(text.at(2 * index));
        const int low = digitValue(text.at(2 * index + 1));
        if (high < 0 || low < 0) {
            return false;
        }
        result[index] = static_cast<char>(high * 16 + low);
    }
    *bytes = result;
    return true;
}

QByteArray encode(const QByteArray &bytes)
{
    return bytes.toHex().toUpper();
}

bool parseCount(const QByteArray &text, qint64 maximum, qint64 *value)
{
    if (text.isEmpty() || text.size() > 18 || !isDecimal(text)) {
        return false;
    }
    const qint64 number = text.toLongLong();
    if (number > maximum) {
        return false;
    }
    *value = number;
    return true;
}

} // namespace HexText
