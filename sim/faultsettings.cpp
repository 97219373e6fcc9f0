#include "faultsettings.h"

#include "hextext.h"

#include <QList>

namespace {

bool parseSwitch(const QList<QByteArray> &arguments, bool *value)
{
    if (arguments.size() != 1 || (arguments.at(0) != "on" && arguments.at(0) != "off")) {
        return false;
    }
    *value = arguments.at(0) == "on";
    return true;
}

bool parseNumber(const QByteArray &text, qint64 maximum, int *value)
{
    qint64 number = 0;
    if (!HexText::parseCount(text, maximum, &number)) {
        return false;
    }
    *value = static_cast<int>(number);
    return true;
}

QByteArray switchText(bool value)
{
    return value ? "on" : "off";
}

} // namespace

bool FaultSettings::apply(const QByteArray &name, const QList<QByteArray> &arguments,
                          QString *error)
{
    bool valid = false;
    if (name == "no-tag") {
        valid = parseSwitch(arguments, &noTag);
    } else if (name == "close") {
        valid = parseSwitch(arguments, &closeConnection);
    } else if (name == "bad-byte") {
        valid = parseSwitch(arguments, &badByte);
    } else if (name == "delay") {
        valid = arguments.size() == 1 && parseNumber(arguments.at(0), longestDelayMs, &delayMs);
    } else if (name == "ignore-every") {
        valid = arguments.size() == 1 && parseNumber(arguments.at(0), 1000000, &ignoreEvery);
    } else if (name == "split") {
        int bytes = 0;
        int pause = 0;
        valid = arguments.size() == 2 && parseNumber(arguments.at(0), largestPiece, &bytes) &&
                parseNumber(arguments.at(1), longestDelayMs, &pause);
        if (valid) {
            splitBytes = bytes;
            splitPauseMs = bytes == 0 ? 0 : pause;
        }
    } else if (name == "trailing") {
        QByteArray bytes;
        if (arguments.size() == 1 && arguments.at(0) == "off") {
            trailing.clear();
            valid = true;
        } else if (arguments.size() == 1 && !arguments.at(0).isEmpty() &&
                   HexText::decode(arguments.at(0), &bytes)) {
            trailing = bytes;
            valid = true;
        }
    } else if (name == "clear") {
        valid = arguments.isEmpty();
        if (valid) {
            *this = FaultSettings();
        }
    } else {
        *error = QStringLiteral("unknown fault %1").arg(QString::fromLatin1(name));
        return false;
    }
    if (!valid) {
        *error = QStringLiteral("bad arguments for fault %1").arg(QString::fromLatin1(name));
    }
    return valid;
}

QByteArray FaultSettings::summary() const
{
    return "no-tag=" + switchText(noTag) + " delay=" + QByteArray::number(delayMs) +
           " split=" + QByteArray::number(splitBytes) + ',' + QByteArray::number(splitPauseMs) +
           " ignore-every=" + QByteArray::number(ignoreEvery) +
           " close=" + switchText(closeConnection) + " bad-byte=" + switchText(badByte) +
           " trailing=" + (trailing.isEmpty() ? QByteArray("off") : HexText::encode(trailing));
}
