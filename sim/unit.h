#ifndef VORSEL_SIM_UNIT_H
#define VORSEL_SIM_UNIT_H

#include "tagline.h"
#include "v640.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// Digits as frames carry them (upper-case hex only); at least one.
inline bool isDecimal(const QByteArray &text)
{
    return text_is_dec(text.constData(), text.size()) != 0;
}
inline bool isUpperHex(const QByteArray &text)
{
    return text_is_hex(text.constData(), text.size()) != 0;
}
bool isPrintable(const QByteArray &text);
// Bytes outside printable ASCII as \xNN, for messages that quote what came in.
QByteArray escaped(const QByteArray &text);
// An even number of hex digits of either case, as people type them; false for anything else.
bool decodeHex(const QByteArray &text, QByteArray *bytes);
inline QByteArray encodeHex(const QByteArray &bytes)
{
    return bytes.toHex().toUpper();
}

// The Amplifier Unit: what it remembers (the ID tag in its field, its settings and counters)
// and how it answers a command. Text fields hold exactly the text that a response carries (for
// example the firmware version "0105" or the IP address "192168001200").
class Unit
{
public:
    static constexpr int pageCount = 17;
    static constexpr int pageSize = 8;
    // Byte addresses 0x00 to 0x87.
    static constexpr int tagSize = pageCount * pageSize;

    explicit Unit(int node);

    // True for a frame (its bytes up to and including the CR) that the unit answers: every
    // unaddressed frame except a lone CR, and addressed frames with its node and a right FCS.
    bool accepts(const QByteArray &frame) const;
    // Carries out the command of an accepted frame and returns the response frame, addressed
    // to the same node when the command was addressed. Without a tag in the field, tag
    // commands fail; with writes lost, they succeed but store nothing.
    QByteArray answer(const QByteArray &frame, bool tagPresent, bool writesStored);
    // Tags passing the antenna: while a line plays, tag commands act on the tag it has in the
    // field (none in a gap) instead of the unit's own tag, and each answer moves it on.
    TagLine &tagLine() { return passing; }

    // Fields by the names of the control commands and the state file: the text fields,
    // "history" and "tag".
    bool setField(const QByteArray &name, const QByteArray &value, QString *error);
    bool field(const QByteArray &name, QByteArray *value) const;
    bool setPage(const QByteArray &number, const QByteArray &hex, QString *error);

    // The state file: one "NAME VALUE" line per field and one "page N HEX" line per page.
    QByteArray fileText() const;
    bool loadFileText(const QByteArray &text, QString *error);
    // One line of NAME=VALUE pairs; space, "=" and "%" in values are percent-encoded.
    QByteArray summary() const;

private:
    struct Outcome
    {
        unsigned code;
        QByteArray data;
    };

    // Tag commands act on `fieldTag`; nullptr: no tag in the field.
    Outcome carryOut(int code, const QByteArray &parameter, QByteArray *fieldTag,
                     bool writesStored);
    Outcome readPages(const QByteArray &parameter, const QByteArray *fieldTag) const;
    Outcome write(int code, const QByteArray &parameter, QByteArray *fieldTag, bool writesStored);
    Outcome storeAddress(const QByteArray &fieldName, const QByteArray &parameter);
    void countCommand(bool success);
    QByteArray historyText(char separator) const;

    int node;
    QHash<QByteArray, QByteArray> texts;
    QByteArray tag;
    TagLine passing;
    int total = 0;
    int successful = 0;
    int failed = 0;
    QByteArray previousResponse;
};

#endif
