#ifndef VORSEL_SIM_HEXTEXT_H
#define VORSEL_SIM_HEXTEXT_H

#include <QByteArray>

// Digit checks and hex conversion for the simulator's texts. Frames carry upper-case hex only;
// the control channel also takes lower case, as people type it.
namespace HexText {

bool isDecimal(const QByteArray &text);
bool isUpperHex(const QByteArray &text);
bool isPrintable(const QByteArray &text);

// Decodes an even number of hex digits of either case; false for anything else.
bool decode(const QByteArray &text, QByteArray *bytes);
QByteArray encode(const QByteArray &bytes);

// A non-negative decimal number of at most `maximum`; false for anything else.
bool parseCount(const QByteArray &text, qint64 maximum, qint64 *value);

} // namespace HexText

#endif
