#include "unit.h"

#include "hextext.h"
#include "v640.h"

#include <QList>

#include <algorithm>

namespace {

constexpr char startOfHeading = 0x01;
constexpr unsigned normalEnd = 0x00;
// Page p (1 to 17) is bit p + 1 of a page mask.
constexpr quint32 validPageBits = 0x7FFFCu;
// A read response holds at most 270 data characters: 16 pages of 16 hex digits.
constexpr int mostPagesPerRead = 16;

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
    for (int page = 1; page <= UnitState::pageCount; ++page) {
        if ((mask & (1u << (page + 1))) != 0) {
            pages->append(page - 1);
        }
    }
    return true;
}

} // namespace

Unit::Unit(UnitState *state, int node) : state(state), ownNode(node) {}

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
    return v640_get_node(buffer.bytes) == ownNode && fcs >= 0 && fcs == v640_calc_fcs(buffer.bytes);
}

QByteArray Unit::answer(const QByteArray &frame)
{
    const FrameBuffer buffer(frame);
    const unsigned responseNode = frame.startsWith(startOfHeading) ? ownNode : 0;
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
                outcome = {resend ? normalEnd : NotAvailable, QByteArray()};
            } else {
                outcome = carryOut(code, QByteArray(parameter, length));
            }
        }
    }

    QByteArray response;
    if (resend) {
        response = previousResponse;
    } else {
        const char *built =
            v640_build_response_frame(responseNode, outcome.code, outcome.data.constData());
        if (built == nullptr) {
            outcome = {FormatError, QByteArray()};
            built = v640_build_response_frame(responseNode, FormatError, nullptr);
        }
        response = QByteArray(built);
    }

    const bool success = outcome.code == normalEnd;
    if (code == 0x17 && success) {
        state->clearHistory();
    } else {
        state->countCommand(success);
    }
    if (entry != nullptr) {
        state->setText("last-command", entry->text);
    }
    previousResponse = response;
    return response;
}

Unit::Outcome Unit::carryOut(int code, const QByteArray &parameter)
{
    switch (code) {
    case 0x0100:
        return readPages(parameter);
    case 0x0200:
        return writePages(parameter);
    case 0x0300:
        return writeSamePage(parameter);
    case 0x0400:
        return writeBytes(parameter);
    case 0x10:
        return {normalEnd, parameter};
    case 0x1401:
        return {normalEnd, state->text("model")};
    case 0x1402:
        return {normalEnd, state->text("firmware")};
    case 0x1403:
        return {normalEnd, state->text("mac")};
    case 0x1410:
        return {normalEnd, state->text("dip")};
    case 0x1411:
        return {normalEnd, state->text("ip-dip")};
    case 0x1412:
        return {normalEnd, state->text("mask-dip")};
    case 0x1413:
        return {normalEnd, state->text("ip-rom")};
    case 0x1414:
        return {normalEnd, state->text("mask-rom")};
    case 0x1420:
        return {normalEnd, state->text("memory")};
    case 0x1421:
        return {normalEnd, state->text("antenna")};
    case 0x15:
        return {normalEnd, state->text("last-command")};
    case 0x16: {
        QByteArray history;
        state->field("history", &history);
        return {normalEnd, history.replace(" ", "")};
    }
    case 0x17:
    case 0x7F:
        return {normalEnd, QByteArray()};
    case 0x40:
        return {normalEnd, state->text("noise")};
    case 0xA2:
        return setWebPassword(parameter);
    case 0xA300:
        return storeAddress("ip-rom", parameter);
    case 0xA301:
        return storeAddress("mask-rom", parameter);
    default:
        // Codes the table knows but whose effect on a unit is not defined here (13, A0, A1).
        return {NotAvailable, QByteArray()};
    }
}

Unit::Outcome Unit::readPages(const QByteArray &parameter) const
{
    QList<int> pages;
    if (!HexText::isUpperHex(parameter)) {
        return {FormatError, QByteArray()};
    }
    if (!pagesOfMask(parameter, &pages) || pages.size() > mostPagesPerRead) {
        return {AddressOutOfRange, QByteArray()};
    }
    if (!tagPresent) {
        return {NoTagInField, QByteArray()};
    }
    QByteArray data;
    for (int page : pages) {
        data += HexText::encode(state->tag().mid(page * UnitState::pageSize, UnitState::pageSize));
    }
    return {normalEnd, data};
}

Unit::Outcome Unit::writePages(const QByteArray &parameter)
{
    const QByteArray maskText = parameter.left(8);
    QByteArray bytes;
    QList<int> pages;
    if (!HexText::isUpperHex(parameter) || !HexText::decode(parameter.mid(8), &bytes)) {
        return {FormatError, QByteArray()};
    }
    if (!pagesOfMask(maskText, &pages)) {
        return {AddressOutOfRange, QByteArray()};
    }
    if (bytes.size() != pages.size() * UnitState::pageSize) {
        return {FormatError, QByteArray()};
    }
    if (!tagPresent) {
        return {NoTagInField, QByteArray()};
    }
    for (int index = 0; index < pages.size(); ++index) {
        state->writeTag(pages.at(index) * UnitState::pageSize,
                        bytes.mid(index * UnitState::pageSize, UnitState::pageSize));
    }
    return {normalEnd, QByteArray()};
}

Unit::Outcome Unit::writeSamePage(const QByteArray &parameter)
{
    QByteArray bytes;
    QList<int> pages;
    if (!HexText::isUpperHex(parameter) || !HexText::decode(parameter.mid(8), &bytes)) {
        return {FormatError, QByteArray()};
    }
    if (!pagesOfMask(parameter.left(8), &pages)) {
        return {AddressOutOfRange, QByteArray()};
    }
    if (!tagPresent) {
        return {NoTagInField, QByteArray()};
    }
    for (int page : pages) {
        state->writeTag(page * UnitState::pageSize, bytes);
    }
    return {normalEnd, QByteArray()};
}

Unit::Outcome Unit::writeBytes(const QByteArray &parameter)
{
    QByteArray bytes;
    if (!HexText::isUpperHex(parameter) || !HexText::decode(parameter.mid(2), &bytes)) {
        return {FormatError, QByteArray()};
    }
    const int address = static_cast<int>(text_to_hex(parameter.constData(), 2));
    if (address + bytes.size() > UnitState::tagSize) {
        return {AddressOutOfRange, QByteArray()};
    }
    if (!tagPresent) {
        return {NoTagInField, QByteArray()};
    }
    state->writeTag(address, bytes);
    return {normalEnd, QByteArray()};
}

Unit::Outcome Unit::setWebPassword(const QByteArray &parameter)
{
    QString reason;
    if (!state->setField("password", parameter, &reason)) {
        return {FormatError, QByteArray()};
    }
    return {normalEnd, QByteArray()};
}

Unit::Outcome Unit::storeAddress(const QByteArray &fieldName, const QByteArray &parameter)
{
    if (!HexText::isDecimal(parameter)) {
        return {FormatError, QByteArray()};
    }
    for (int octet = 0; octet < 4; ++octet) {
        if (parameter.mid(3 * octet, 3).toInt() > 255) {
            return {ValueOutOfRange, QByteArray()};
        }
    }
    state->setText(fieldName, parameter);
    return {normalEnd, QByteArray()};
}
