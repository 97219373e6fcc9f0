#include "unit.h"

#include <QList>

#include <algorithm>
#include <cctype>

namespace {

enum : unsigned {
    NormalEnd = 0x00,
    FormatError = 0x14,
    NoTagInField = 0x72,
    AddressOutOfRange = 0x7B,
    NotAvailable = 0x7E,
    ValueOutOfRange = 0x9A,
};

constexpr char startOfHeading = 0x01;
// Page p (1 to 17) is bit p + 1 of a page mask.
constexpr quint32 validPageBits = 0x7FFFCu;
// A read response holds at most 270 data characters: 16 pages of 16 hex digits.
constexpr int mostPagesPerRead = 16;
constexpr int counterLimit = 0xFFFF;

// The frame as the codec wants it: NUL-terminated in a buffer of the largest frame size.
struct FrameBuffer
{
    explicit FrameBuffer(const QByteArray &frame)
    {
        const int size = qMin(frame.size(), V640_MAX_FRAME_SIZE);
        std::copy(frame.constData(), frame.constData() + size, bytes);
        bytes[size] = '\0';
    }
    char bytes[V640_MAX_FRAME_SIZE + 1];
};

const v640_code_entry *commandEntry(int code)
{
    for (const v640_code_entry *entry = v640_command_list; entry->text_length != 0; ++entry) {
        if (static_cast<int>(entry->code) == code) {
            return entry;
        }
    }
    return nullptr;
}

// Tag page indexes (0 to 16) of the pages that a mask of upper-case hex digits names, or
// false when the mask names none or a bit outside pages 1 to 17.
bool pagesOfMask(const QByteArray &maskText, QList<int> *pages)
{
    const quint32 mask = text_to_hex(maskText.constData(), maskText.size());
    if (mask == 0 || (mask & ~validPageBits) != 0) {
        return false;
    }
    for (int page = 1; page <= Unit::pageCount; ++page) {
        if ((mask & (1u << (page + 1))) != 0) {
            pages->append(page - 1);
        }
    }
    return true;
}

bool isTwoDecimalDigits(const QByteArray &value)
{
    return value.size() == 2 && isDecimal(value);
}

bool isAddressDigits(const QByteArray &value)
{
    return value.size() == 12 && isDecimal(value);
}

bool isFirmwareVersion(const QByteArray &value)
{
    return value.size() == 4 && isDecimal(value.left(2)) && isUpperHex(value.mid(2));
}

bool isMacAddress(const QByteArray &value)
{
    return value.size() == 12 && isUpperHex(value);
}

// The longest response data a frame holds.
bool isModelNumber(const QByteArray &value)
{
    return value.size() <= 270 && isPrintable(value);
}

bool isWebPassword(const QByteArray &value)
{
    return value.size() <= 16 && isPrintable(value);
}

bool isCommandCodeText(const QByteArray &value)
{
    for (const v640_code_entry *entry = v640_command_list; entry->text_length != 0; ++entry) {
        if (value == entry->text) {
            return true;
        }
    }
    return value.isEmpty();
}

struct TextField
{
    const char *name;
    const char *defaultValue;
    bool (*accepts)(const QByteArray &);
    const char *form;
};

const TextField textFields[] = {
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

const TextField *findTextField(const QByteArray &name)
{
    for (const TextField &field : textFields) {
        if (name == field.name) {
            return &field;
        }
    }
    return nullptr;
}

// Keeps the summary splittable at spaces and at the first "=" of each pair.
QByteArray percentEncoded(const QByteArray &value)
{
    QByteArray encoded;
    for (char c : value) {
        encoded +=
            c == ' ' || c == '=' || c == '%' ? '%' + encodeHex(QByteArray(1, c)) : QByteArray(1, c);
    }
    return encoded;
}

} // namespace

bool isPrintable(const QByteArray &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

QByteArray escaped(const QByteArray &text)
{
    QByteArray result;
    for (char c : text) {
        result += c >= 0x20 && c <= 0x7E && c != '\\' ? QByteArray(1, c)
                                                      : "\\x" + encodeHex(QByteArray(1, c));
    }
    return result;
}

bool decodeHex(const QByteArray &text, QByteArray *bytes)
{
    if (text.size() % 2 != 0 || !isUpperHex(text.toUpper())) {
        return false;
    }
    *bytes = QByteArray::fromHex(text);
    return true;
}

Unit::Unit(int node) : node(node), tag(tagSize, '\0')
{
    for (const TextField &field : textFields) {
        texts.insert(field.name, field.defaultValue);
    }
}

bool Unit::accepts(const QByteArray &frame) const
{
    if (frame.isEmpty() || frame.size() > V640_MAX_FRAME_SIZE || frame == "\r") {
        return false;
    }
    if (frame.at(0) != startOfHeading) {
        return true;
    }
    const FrameBuffer buffer(frame);
    const int fcs = v640_get_fcs(buffer.bytes);
    return v640_get_node(buffer.bytes) == node && fcs >= 0 && fcs == v640_calc_fcs(buffer.bytes);
}

QByteArray Unit::answer(const QByteArray &frame, bool tagPresent, bool writesStored)
{
    const FrameBuffer buffer(frame);
    const unsigned responseNode = frame.startsWith(startOfHeading) ? node : 0;
    const int code = v640_get_command_code(buffer.bytes);
    const v640_code_entry *entry = commandEntry(code);

    Outcome outcome{FormatError, QByteArray()};
    bool resend = false;
    if (entry != nullptr) {
        int length = 0;
        const char *parameter = v640_get_command_parameter(buffer.bytes, &length);
        if (length >= entry->min_parameter_length && length <= entry->max_parameter_length) {
            if (code == 0x12) {
                resend = !previousResponse.isEmpty();
                outcome = {resend ? NormalEnd : NotAvailable, QByteArray()};
            } else {
                QByteArray *fieldTag = passing.isPlaying() ? passing.tagInField() : &tag;
                outcome = carryOut(code, QByteArray(parameter, length),
                                   tagPresent ? fieldTag : nullptr, writesStored);
            }
        }
    }

    if (!resend) {
        const char *built =
            v640_build_response_frame(responseNode, outcome.code, outcome.data.constData());
        if (built == nullptr) {
            outcome = {FormatError, QByteArray()};
            built = v640_build_response_frame(responseNode, FormatError, nullptr);
        }
        previousResponse = built;
    }

    const bool success = outcome.code == NormalEnd;
    if (code == 0x17 && success) {
        total = successful = failed = 0;
    } else {
        countCommand(success);
    }
    if (entry != nullptr) {
        texts.insert("last-command", entry->text);
    }
    passing.commandAnswered();
    return previousResponse;
}

Unit::Outcome Unit::carryOut(int code, const QByteArray &parameter, QByteArray *fieldTag,
                             bool writesStored)
{
    // Queries answer with a text field as it stands.
    static const QHash<int, QByteArray> queries{
        {0x1401, "model"},  {0x1402, "firmware"}, {0x1403, "mac"},        {0x1410, "dip"},
        {0x1411, "ip-dip"}, {0x1412, "mask-dip"}, {0x1413, "ip-rom"},     {0x1414, "mask-rom"},
        {0x1420, "memory"}, {0x1421, "antenna"},  {0x15, "last-command"}, {0x40, "noise"},
    };
    if (queries.contains(code)) {
        return {NormalEnd, texts.value(queries.value(code))};
    }
    switch (code) {
    case 0x0100:
        return readPages(parameter, fieldTag);
    case 0x0200:
    case 0x0300:
    case 0x0400:
        return write(code, parameter, fieldTag, writesStored);
    case 0x10:
        return {NormalEnd, parameter};
    case 0x16:
        return {NormalEnd, historyText('\0')};
    case 0x17:
    case 0x7F:
        return {NormalEnd, QByteArray()};
    case 0xA2:
        if (!isWebPassword(parameter)) {
            return {FormatError, QByteArray()};
        }
        texts.insert("password", parameter);
        return {NormalEnd, QByteArray()};
    case 0xA300:
        return storeAddress("ip-rom", parameter);
    case 0xA301:
        return storeAddress("mask-rom", parameter);
    default:
        // Codes the table knows but whose effect on a unit is not defined here (13, A0, A1).
        return {NotAvailable, QByteArray()};
    }
}

Unit::Outcome Unit::readPages(const QByteArray &parameter, const QByteArray *fieldTag) const
{
    QList<int> pages;
    if (!isUpperHex(parameter)) {
        return {FormatError, QByteArray()};
    }
    if (!pagesOfMask(parameter, &pages) || pages.size() > mostPagesPerRead) {
        return {AddressOutOfRange, QByteArray()};
    }
    if (fieldTag == nullptr) {
        return {NoTagInField, QByteArray()};
    }
    QByteArray data;
    for (int page : pages) {
        data += encodeHex(fieldTag->mid(page * pageSize, pageSize));
    }
    return {NormalEnd, data};
}

// Write (0200: 8 bytes per page), same-write (0300: 8 bytes to every page) and byte-write
// (0400: bytes from an address). Checks run in the order form, range, tag.
Unit::Outcome Unit::write(int code, const QByteArray &parameter, QByteArray *fieldTag,
                          bool writesStored)
{
    const bool byteWrite = code == 0x0400;
    const QByteArray data = parameter.mid(byteWrite ? 2 : 8);
    if (!isUpperHex(parameter) || data.size() % 2 != 0) {
        return {FormatError, QByteArray()};
    }
    const QByteArray bytes = QByteArray::fromHex(data);
    QList<QPair<int, QByteArray>> pieces;
    if (byteWrite) {
        const int address = static_cast<int>(text_to_hex(parameter.constData(), 2));
        if (address + bytes.size() > tagSize) {
            return {AddressOutOfRange, QByteArray()};
        }
        pieces.append({address, bytes});
    } else {
        QList<int> pages;
        if (!pagesOfMask(parameter.left(8), &pages)) {
            return {AddressOutOfRange, QByteArray()};
        }
        const bool same = code == 0x0300;
        if (!same && bytes.size() != pages.size() * pageSize) {
            return {FormatError, QByteArray()};
        }
        for (int index = 0; index < pages.size(); ++index) {
            pieces.append(
                {pages.at(index) * pageSize, same ? bytes : bytes.mid(index * pageSize, pageSize)});
        }
    }
    if (fieldTag == nullptr) {
        return {NoTagInField, QByteArray()};
    }
    for (const QPair<int, QByteArray> &piece : pieces) {
        if (writesStored) {
            fieldTag->replace(piece.first, piece.second.size(), piece.second);
        }
    }
    return {NormalEnd, QByteArray()};
}

Unit::Outcome Unit::storeAddress(const QByteArray &fieldName, const QByteArray &parameter)
{
    if (!isDecimal(parameter)) {
        return {FormatError, QByteArray()};
    }
    for (int octet = 0; octet < 4; ++octet) {
        if (parameter.mid(3 * octet, 3).toInt() > 255) {
            return {ValueOutOfRange, QByteArray()};
        }
    }
    texts.insert(fieldName, parameter);
    return {NormalEnd, QByteArray()};
}

void Unit::countCommand(bool success)
{
    // The counters stop at their largest value rather than wrap to a misleading small one.
    total = qMin(total + 1, counterLimit);
    int &counter = success ? successful : failed;
    counter = qMin(counter + 1, counterLimit);
}

// The three counters as 4 hex digits each, with the separator between them (none for '\0').
QByteArray Unit::historyText(char separator) const
{
    QByteArray text;
    for (int counter : {total, successful, failed}) {
        if (!text.isEmpty() && separator != '\0') {
            text.append(separator);
        }
        text.append(QByteArray::number(counter, 16).toUpper().rightJustified(4, '0'));
    }
    return text;
}

bool Unit::setField(const QByteArray &name, const QByteArray &value, QString *error)
{
    if (name == "history") {
        const QList<QByteArray> parts = value.split(' ');
        if (parts.size() != 3 || !std::all_of(parts.begin(), parts.end(), [](const QByteArray &p) {
                return p.size() == 4 && isUpperHex(p);
            })) {
            *error = QStringLiteral("history takes TOTAL SUCCESS FAILED, 4 upper-case hex digits "
                                    "each");
            return false;
        }
        total = parts.at(0).toInt(nullptr, 16);
        successful = parts.at(1).toInt(nullptr, 16);
        failed = parts.at(2).toInt(nullptr, 16);
        return true;
    }
    if (name == "tag") {
        QByteArray bytes;
        if (!decodeHex(value, &bytes) || bytes.size() != tagSize) {
            *error = QStringLiteral("tag takes %1 hex digits").arg(2 * tagSize);
            return false;
        }
        tag = bytes;
        return true;
    }
    const TextField *textField = findTextField(name);
    if (textField == nullptr) {
        *error = QStringLiteral("unknown field %1").arg(QString::fromLatin1(escaped(name)));
        return false;
    }
    if (!textField->accepts(value)) {
        *error = QStringLiteral("%1 takes %2").arg(textField->name, textField->form);
        return false;
    }
    texts.insert(name, value);
    return true;
}

bool Unit::field(const QByteArray &name, QByteArray *value) const
{
    if (name == "history") {
        *value = historyText(' ');
    } else if (name == "tag") {
        *value = encodeHex(tag);
    } else if (findTextField(name) != nullptr) {
        *value = texts.value(name);
    } else {
        return false;
    }
    return true;
}

bool Unit::setPage(const QByteArray &number, const QByteArray &hex, QString *error)
{
    QByteArray bytes;
    bool valid = false;
    const int page = isDecimal(number) ? number.toInt(&valid) : -1;
    if (!valid || page >= pageCount) {
        *error = QStringLiteral("page numbers are 0 to %1").arg(pageCount - 1);
        return false;
    }
    if (!decodeHex(hex, &bytes) || bytes.size() != pageSize) {
        *error = QStringLiteral("a page takes %1 hex digits").arg(2 * pageSize);
        return false;
    }
    tag.replace(page * pageSize, pageSize, bytes);
    return true;
}

QByteArray Unit::fileText() const
{
    QByteArray text("# vorsel-sim state\n");
    for (const TextField &field : textFields) {
        text += QByteArray(field.name) + ' ' + texts.value(field.name) + '\n';
    }
    text += "history " + historyText(' ') + '\n';
    for (int page = 0; page < pageCount; ++page) {
        text += "page " + QByteArray::number(page) + ' ' +
                encodeHex(tag.mid(page * pageSize, pageSize)) + '\n';
    }
    return text;
}

bool Unit::loadFileText(const QByteArray &text, QString *error)
{
    const QList<QByteArray> lines = text.split('\n');
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
        QString reason = QStringLiteral("page takes N HEX");
        bool accepted;
        if (name == "page") {
            const QList<QByteArray> parts = value.split(' ');
            accepted = parts.size() == 2 && setPage(parts.at(0), parts.at(1), &reason);
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

QByteArray Unit::summary() const
{
    QByteArray line;
    for (const TextField &field : textFields) {
        line += QByteArray(field.name) + '=' + percentEncoded(texts.value(field.name)) + ' ';
    }
    return line + "history=" + historyText(',') + " tag=" + encodeHex(tag);
}
