#ifndef VORSEL_SIM_UNITSTATE_H
#define VORSEL_SIM_UNITSTATE_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// Everything the unit remembers: the ID tag in the field and the unit's own settings and
// counters. Text fields hold exactly the text that a response carries (for example the
// firmware version "0105" or the IP address "192168001200").
class UnitState
{
public:
    static constexpr int pageCount = 17;
    static constexpr int pageSize = 8;
    // Byte addresses 0x00 to 0x87.
    static constexpr int tagSize = pageCount * pageSize;
    static constexpr int counterLimit = 0xFFFF;

    UnitState();

    // Names accepted by setField and field: the text fields, "history" and "tag".
    static QList<QByteArray> fieldNames();
    bool setField(const QByteArray &name, const QByteArray &value, QString *error);
    bool field(const QByteArray &name, QByteArray *value) const;

    bool setPage(int page, const QByteArray &hexText, QString *error);

    QByteArray text(const QByteArray &name) const { return texts.value(name); }
    void setText(const QByteArray &name, const QByteArray &value) { texts.insert(name, value); }

    QByteArray tag() const { return tagBytes; }
    void writeTag(int address, const QByteArray &bytes);

    int totalCount() const { return total; }
    int successfulCount() const { return successful; }
    int failedCount() const { return failed; }
    void countCommand(bool success);
    void clearHistory();

    // The state file: one "NAME VALUE" line per field and one "page N HEX" line per page.
    QByteArray toFileText() const;
    bool loadFileText(const QByteArray &fileText, QString *error);

    // One line of NAME=VALUE pairs; spaces and "%" in values are percent-encoded.
    QByteArray summary() const;

private:
    bool setHistory(const QByteArray &value, QString *error);
    QByteArray historyText(char separator) const;

    QHash<QByteArray, QByteArray> texts;
    QByteArray tagBytes;
    int total = 0;
    int successful = 0;
    int failed = 0;
};

#endif
