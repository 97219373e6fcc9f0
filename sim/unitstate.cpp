#include "unitstate.h"

#include "hextext.h"
#include "v640.h"

#include <QList>

namespace {

bool isTwoDecimalDigits(const QByteArray &value)
{
    return value.size() == 2 && HexText::isDecimal(value);
}

bool isAddressDigits(const QByteArray &value)
{
    return value.size() == 12 && HexText::isDecimal(value);
}

bool isFirmwareVersion(const QByteArray &value)
{
    return value.size() == 4 && HexText::isDecimal(value.left(2)) &&
           HexText::isUpperHex(value.mid(2));
}

bool isMacAddress(const QByteArray &value)
{
    return value.size() == 12 && HexText::isUpperHex(value);
}

// The longest response data a frame holds.
bool isModelNumber(const QByteArray &value)
{
    return value.size() <= 270 && HexText::isPrintable(value);
}

bool isWebPassword(const QByteArray &value)
{
    return value.size() <= 16 && HexText::isPrintable(value);
}

bool isCommandCodeText(const QByteArray &value)
{
    if (value.isEmpty()) {
        return true;
    }
    for (const v640_code_entry *entry = v640_command_list; entry->text_length != 0; ++entry) {
        if (value == QByteArray(entry->text)) {
            return true;
        }
    }
    return false;
}

struct TextFieldRule
{
    const char *name;
    const char *defaultValue;
    bool (*accepts)(const QByteArray &);
    const char *form;
};

const TextFieldRule textFieldRules[] = {
    {"model", "V640-SIM01", isModelNumber, "up to 270 printable characters"},
    {"firmware", "0105", isFirmwareVersion, "2 decimal and 2 upper-case hex digits"},
    {"mac", "00005E005301", isMacAddress, "12 upper-case hex digits"},
    {"dip", "00", isTwoDecimalDigits, "2 decimal digits"},
    {"ip-dip", "192168001200", isAddressDigits, "12 decimal digits"},
    {"mask-dip", "255255255000", isAddressDigits, "12 decimal digits"},
    {"ip-rom", "192168001200", isAddressDigits, "12 decimal digits"},
    {"mask-rom", "255255255000", isAddressDigits, "12 decimal digits"},
    {"memory", "01", isTwoDecimalDigits, "2 decimal digits"},
    {"antenna", "01", isTwoDecimalDigits, "2 decimal digits"},
    {"noise", "03", isTwoDecimalDigits, "2 decimal digits"},
    {"password", "", isWebPassword, "up to 16 printable characters"},
    {"last-command", "", isCommandCodeText, "a command code such as 0100 or 7F, or nothing"},
};

const TextFieldRule *findRule(const QByteArray &name)
{
    for (const TextFieldRule &rule : textFieldRules) {
        if (name == rule.name) {
            return &rule;
        }
    }
    return nullptr;
}

// Keeps the summary splittable at spaces and at the first "=" of each pair.
QByteArray percentEncoded(const QByteArray &value)
{
    QByteArray encoded;
    for (char character : value) {
        if (character == ' ' || character == '=' || character == '%') {
            encoded += '%' + QByteArray(1, character).toHex().toUpper();
        } else {
            encoded += character;
        }
    }
    return encoded;
}

} // namespace

UnitState::UnitState() : tagBytes(tagSize, '\0')
{
    for (const TextFieldRule &rule : textFieldRules) {
        texts.insert(rule.name, rule.defaultValue);
    }
}

QList<QByteArray> UnitState::fieldNames()
{
    QList<QByteArray> names;
    for (const TextFieldRule &rule : textFieldRules) {
        names.append(rule.name);
    }
    names << "history"
          << "tag";
    return names;
}

bool UnitState::setField(const QByteArray &name, const QByteArray &value, QString *error)
{
    if (name == "history") {
        return setHistory(value, error);
    }
    if (name == "tag") {
        QByteArray bytes;
        if (!HexText::decode(value, &bytes) || bytes.size() != tagSize) {
            *error = QStringLiteral("tag takes %1 hex digits").arg(2 * tagSize);
            return false;
        }
        tagBytes = bytes;
        return true;
    }
    const TextFieldRule *rule = findRule(name);
    if (rule == nullptr) {
        *error = QStringLiteral("unknown field %1").arg(QString::fromLatin1(name));
        return false;
    }
    if (!rule->accepts(value)) {
        *error = QStringLiteral("%1 takes %2")
                     .arg(QString::fromLatin1(name), QString::fromLatin1(rule->form));
        return false;
    }
    texts.insert(name, value);
    return true;
}

bool UnitState::field(const QByteArray &name, QByteArray *value) const
{
    if (name == "history") {
        *value = historyText(' ');
        return true;
    }
    if (name == "tag") {
        *value = HexText::encode(tagBytes);
        return true;
    }
    if (findRule(name) == nullptr) {
        return false;
    }
    *value = texts.value(name);
    return true;
}

bool UnitState::setPage(int page, const QByteArray &hexText, QString *error)
{
    QByteArray bytes;
    if (page < 0 || page >= pageCount) {
        *error = QStringLiteral("page numbers are 0 to %1").arg(pageCount - 1);
        return false;
    }
    if (!HexText::decode(hexText, &bytes) || bytes.size() != pageSize) {
        *error = QStringLiteral("a page takes %1 hex digits").arg(2 * pageSize);
        return false;
    }
    writeTag(page * pageSize, bytes);
    return true;
}

void UnitState::writeTag(int address, const QByteArray &bytes)
{
    tagBytes.replace(address, bytes.size(), bytes);
}

void UnitState::countCommand(bool success)
{
    // The counters stop at their largest value rather than wrap to a misleading small one.
    total = qMin(total + 1, counterLimit);
    if (success) {
        successful = qMin(successful + 1, counterLimit);
    } else {
        failed = qMin(failed + 1, counterLimit);
    }
}

void UnitState::clearHistory()
{
    total = 0;
    successful = 0;
    failed = 0;
}

bool UnitState::setHistory(const QByteArray &value, QString *error)
{
    const QList<QByteArray> parts = value.split(' ');
    bool valid = parts.size() == 3;
    for (const QByteArray &part : parts) {
        valid = valid && part.size() == 4 && HexText::isUpperHex(part);
    }
    if (!valid) {
        *error = QStringLiteral("history takes TOTAL SUCCESS FAILED, 4 upper-case hex digits each");
        return false;
    }
    total = parts.at(0).toInt(nullptr, 16);
    successful = parts.at(1).toInt(nullptr, 16);
    failed = parts.at(2).toInt(nullptr, 16);
    return true;
}

QByteArray UnitState::historyText(char separator) const
{
    QByteArray text;
    for (int counter : {total, successful, failed}) {
        if (!text.isEmpty()) {
            text.append(separator);
        }
        text.append(QByteArray::number(counter, 16).toUpper().rightJustified(4, '0'));
    }
    return text;
}

QByteArray UnitState::toFileText() const
{
    QByteArray fileText("# vorsel-sim state\n");
    for (const TextFieldRule &rule : textFieldRules) {
        fileText += QByteArray(rule.name) + ' ' + texts.value(rule.name) + '\n';
    }
    fileText += "history " + historyText(' ') + '\n';
    for (int page = 0; page < pageCount; ++page) {
        fileText += "page " + QByteArray::number(page) + ' ' +
                    HexText::encode(tagBytes.mid(page * pageSize, pageSize)) + '\n';
    }
    return fileText;
}

bool UnitState::loadFileText(const QByteArray &fileText, QString *error)
{
    const QList<QByteArray> lines = fileText.split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        QByteArray line = lines.at(index);
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const int space = line.indexOf(' ');
        const QByteArray name = space < 0 ? line : line.left(space);
        const QByteArray value = space < 0 ? QByteArray() : line.mid(space + 1);
        QString reason;
        bool accepted;
        if (name == "page") {
            const QList<QByteArray> parts = value.split(' ');
            bool numeric = false;
            const int page = parts.size() == 2 ? parts.at(0).toInt(&numeric) : -1;
            accepted = numeric && setPage(page, parts.at(1), &reason);
            if (!numeric) {
                reason = QStringLiteral("page takes N HEX");
            }
        } else {
            accepted = setField(name, value, &reason);
        }
        if (!accepted) {
            *error = QStringLiteral("line %1: %2").arg(index + 1).arg(reason);
            return false;
        }
    }
    return true;
}

QByteArray UnitState::summary() const
{
    QByteArray line;
    for (const TextFieldRule &rule : textFieldRules) {
        line += QByteArray(rule.name) + '=' + percentEncoded(texts.value(rule.name)) + ' ';
    }
    line += "history=" + historyText(',') + " tag=" + HexText::encode(tagBytes);
    return line;
}
