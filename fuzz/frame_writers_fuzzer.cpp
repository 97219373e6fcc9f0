// The frame writers, the parameter setters and the builders with arbitrary arguments.
//
// An input is a list of operations on one frame buffer of exactly 279 bytes on the heap, so that
// AddressSanitizer stops a write past it. Each operation is an operation byte, a flag byte, then
// its arguments (little-endian); message and parameter bytes sit in heap buffers of exactly
// their length. After every operation the promises of the codec are checked, and a broken one
// aborts the run.

#include <array>
#include <memory>
#include <string>

#include "fuzz_support.h"

namespace {

const int frameBufferSize = V640_MAX_FRAME_SIZE + 1;
const char soh = 0x01;
const char cr = 0x0D;

using FrameBytes = std::array<char, frameBufferSize>;

enum Operation {
    Load, // raw bytes into the buffer, so writers also meet frames no writer made
    Init,
    SetNode,
    SetMessage,
    SetCode,
    SetFcs,
    SetCommandParameter,
    SetResponseParameter,
    BuildCommand,
    BuildResponse,
    Seal, // store the FCS that the frame's content calls for
    OperationCount
};

// Flag bits of an operation.
const uint8_t nullFrame = 1;
const uint8_t nullArgument = 2;
const uint8_t noNode = 4;

bool unchangedOutside(const FrameBytes &before, const char *frame, int from, int to)
{
    for (int i = 0; i < frameBufferSize; ++i) {
        if ((i < from || i >= to) && before[i] != frame[i]) {
            return false;
        }
    }
    return true;
}

bool unchanged(const FrameBytes &before, const char *frame)
{
    return std::memcmp(before.data(), frame, frameBufferSize) == 0;
}

std::string upperHex(uint32_t value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned int>(value));
    return text;
}

// The ending a writer puts behind a message: place-holder FCS (addressed), CR and NUL.
std::string frameEnding(bool addressed)
{
    return addressed ? std::string("00\r", 3) + '\0' : std::string("\r", 1) + '\0';
}

bool endsWith(const char *frame, int at, const std::string &ending)
{
    return std::memcmp(frame + at, ending.data(), ending.size()) == 0;
}

// Exactly `length` bytes on the heap: those the input still holds, then "0" as filler.
std::unique_ptr<char[]> argumentBytes(FuzzInput &input, int length)
{
    const std::size_t size = length > 0 ? static_cast<std::size_t>(length) : 0;
    std::unique_ptr<char[]> bytes(new char[size]);
    const uint8_t *taken = nullptr;
    const std::size_t count = input.take(size, &taken);
    if (count > 0) {
        std::memcpy(bytes.get(), taken, count);
    }
    std::memset(bytes.get() + count, '0', size - count);
    return bytes;
}

// The first record of the table whose text starts the message, as the setters look it up.
const v640_code_entry *leadingCode(const v640_code_entry *table, const char *message, int length)
{
    for (const v640_code_entry *entry = table; entry->text_length != 0; ++entry) {
        if (length >= entry->text_length &&
            std::memcmp(message, entry->text, static_cast<std::size_t>(entry->text_length)) == 0) {
            return entry;
        }
    }
    return nullptr;
}

void init(FuzzInput &input, uint8_t flags, char *frame, const FrameBytes &before)
{
    const int size = static_cast<int16_t>(input.word16());
    const bool unaddressed = (flags & noNode) != 0;
    const bool inRange = size >= (unaddressed ? 3 : 8) && size <= V640_MAX_FRAME_SIZE;
    const int result = v640_init_frame((flags & nullFrame) ? nullptr : frame, size, unaddressed);
    FUZZ_REQUIRE(result == (inRange ? 0 : 1));
    if (!inRange || (flags & nullFrame)) {
        FUZZ_REQUIRE(unchanged(before, frame));
        return;
    }
    FUZZ_REQUIRE(v640_frame_size(frame) == size);
    FUZZ_REQUIRE(frame[size] == '\0');
    FUZZ_REQUIRE((frame[0] == soh) == !unaddressed);
    FUZZ_REQUIRE(unchangedOutside(before, frame, 0, size + 1));
}

void setNode(FuzzInput &input, uint8_t flags, char *frame, const FrameBytes &before)
{
    const uint32_t node = input.word32();
    const bool inRange = node >= 1 && node <= 31;
    if (flags & nullFrame) {
        FUZZ_REQUIRE(v640_set_node(nullptr, node) == (inRange ? 0 : 1));
        return;
    }
    const int result = v640_set_node(frame, node);
    if (before[0] != soh) {
        // No node field: nothing to write, nothing to reject.
        FUZZ_REQUIRE(result == 0);
        FUZZ_REQUIRE(unchanged(before, frame));
        return;
    }
    FUZZ_REQUIRE(result == (inRange ? 0 : 1));
    FUZZ_REQUIRE(unchangedOutside(before, frame, 1, 3));
    if (inRange) {
        FUZZ_REQUIRE(frame[1] == static_cast<char>('0' + node / 10));
        FUZZ_REQUIRE(frame[2] == static_cast<char>('0' + node % 10));
    }
}

void setMessage(FuzzInput &input, uint8_t flags, char *frame, const FrameBytes &before)
{
    const int length = static_cast<int16_t>(input.word16());
    const std::unique_ptr<char[]> message = argumentBytes(input, length);
    const int result = v640_set_message((flags & nullFrame) ? nullptr : frame,
                                        (flags & nullArgument) ? nullptr : message.get(), length);
    if (length < 1 || length > V640_MAX_FRAME_SIZE - 6) {
        FUZZ_REQUIRE(result == 1);
        FUZZ_REQUIRE(unchanged(before, frame));
        return;
    }
    FUZZ_REQUIRE(result == 0);
    if (flags & (nullFrame | nullArgument)) {
        FUZZ_REQUIRE(unchanged(before, frame));
        return;
    }
    // The form before the copy places the message, the form after it chooses the ending.
    const int start = before[0] == soh ? 3 : 0;
    const int end = start + length;
    const std::string ending = frameEnding(frame[0] == soh);
    FUZZ_REQUIRE(std::memcmp(frame + start, message.get(), static_cast<std::size_t>(length)) == 0);
    FUZZ_REQUIRE(endsWith(frame, end, ending));
    FUZZ_REQUIRE(unchangedOutside(before, frame, start, end + static_cast<int>(ending.size())));
    if (allFrameCharacters(frame, static_cast<std::size_t>(end))) {
        FUZZ_REQUIRE(v640_frame_size(frame) == end + static_cast<int>(ending.size()) - 1);
    }
}

void setCode(FuzzInput &input, uint8_t flags, char *frame, const FrameBytes &before)
{
    const uint32_t code = input.word32();
    const int result = v640_set_code((flags & nullFrame) ? nullptr : frame, code);
    FUZZ_REQUIRE(result == (code > 0xFFFF ? 1 : 0));
    if (flags & nullFrame) {
        return;
    }
    const int start = before[0] == soh ? 3 : 0;
    if (code > 0xFFFF) {
        // Only the message start is left unreliable.
        FUZZ_REQUIRE(unchangedOutside(before, frame, start, start + 4));
        return;
    }
    const std::string text = upperHex(code, code <= 0xFF ? 2 : 4);
    FUZZ_REQUIRE(std::memcmp(frame + start, text.data(), text.size()) == 0);
    FUZZ_REQUIRE(unchangedOutside(before, frame, start, start + static_cast<int>(text.size())));
}

void setFcs(FuzzInput &input, uint8_t flags, char *frame, const FrameBytes &before)
{
    const uint32_t fcs = input.word32();
    const int result = v640_set_fcs((flags & nullFrame) ? nullptr : frame, fcs);
    FUZZ_REQUIRE(result == (fcs > 0xFF ? 1 : 0));
    const int size = v640_frame_size(before.data());
    if (fcs > 0xFF || (flags & nullFrame) || size < 8 || before[0] != soh) {
        FUZZ_REQUIRE(unchanged(before, frame));
        return;
    }
    FUZZ_REQUIRE(v640_get_fcs(frame) == static_cast<int>(fcs));
    FUZZ_REQUIRE(unchangedOutside(before, frame, size - 3, size - 1));
}

void setParameter(const v640_code_entry *table, int (*setter)(char *, const char *, int),
                  int (*getCode)(const char *), char *(*getParameter)(const char *, int *),
                  FuzzInput &input, uint8_t flags, char *frame, const FrameBytes &before)
{
    const int length = static_cast<int16_t>(input.word16());
    const std::unique_ptr<char[]> parameter = argumentBytes(input, length);
    const int result = setter((flags & nullFrame) ? nullptr : frame,
                              (flags & nullArgument) ? nullptr : parameter.get(), length);
    FUZZ_REQUIRE(result == 0 || result == 1);
    if ((flags & nullFrame) || ((flags & nullArgument) && length != 0)) {
        FUZZ_REQUIRE(result == 1);
    }
    if (result == 1) {
        FUZZ_REQUIRE(unchanged(before, frame));
        return;
    }
    // Accepted: the message started with a code of the table whose limits admit the length, and
    // the frame had room for it.
    int messageLength = 0;
    const char *message = v640_get_message(before.data(), &messageLength);
    FUZZ_REQUIRE(message != nullptr);
    const v640_code_entry *entry = leadingCode(table, message, messageLength);
    FUZZ_REQUIRE(entry != nullptr);
    FUZZ_REQUIRE(length >= entry->min_parameter_length && length <= entry->max_parameter_length);
    FUZZ_REQUIRE(length <= messageLength - entry->text_length);

    const int start = static_cast<int>(message - before.data()) + entry->text_length;
    const int end = start + length;
    const std::string ending = frameEnding(frame[0] == soh);
    if (length > 0) {
        FUZZ_REQUIRE(
            std::memcmp(frame + start, parameter.get(), static_cast<std::size_t>(length)) == 0);
    }
    FUZZ_REQUIRE(endsWith(frame, end, ending));
    FUZZ_REQUIRE(unchangedOutside(before, frame, start, end + static_cast<int>(ending.size())));
    if (!allFrameCharacters(frame, static_cast<std::size_t>(end))) {
        return;
    }
    // A clean parameter: the frame is exactly code, parameter and framing, and reads back so.
    FUZZ_REQUIRE(v640_frame_size(frame) == end + static_cast<int>(ending.size()) - 1);
    FUZZ_REQUIRE(getCode(frame) == static_cast<int>(entry->code));
    int parameterLength = -1;
    FUZZ_REQUIRE(getParameter(frame, &parameterLength) == frame + start);
    FUZZ_REQUIRE(parameterLength == length);
}

void build(const v640_code_entry *table, char *(*builder)(unsigned int, unsigned int, const char *),
           int (*getCode)(const char *), char *(*getParameter)(const char *, int *),
           FuzzInput &input, uint8_t flags)
{
    const uint32_t node = input.word32();
    const uint32_t code = input.word32();
    const uint8_t *taken = nullptr;
    const std::size_t count = input.take(input.word16() % 400, &taken);
    const std::string bytes(reinterpret_cast<const char *>(taken), count);
    const char *parameter = (flags & nullArgument) ? nullptr : bytes.c_str();
    const char *frame = builder(node, code, parameter);

    // What the builder sees: the parameter up to its first NUL, the frame ending at its first CR.
    const std::string text = parameter != nullptr ? std::string(parameter) : std::string();
    const std::size_t carriageReturn = text.find(cr);
    const bool cut = carriageReturn != std::string::npos;
    const std::string kept = cut ? text.substr(0, carriageReturn) : text;
    const v640_code_entry *entry = codeEntry(table, code);
    const int textLength = entry != nullptr ? entry->text_length : 0;
    const int length = static_cast<int>(text.size());
    const int expectedSize =
        cut ? (node != 0 ? 3 : 0) + textLength + static_cast<int>(kept.size()) + 1
            : textLength + length + (node != 0 ? 6 : 1);

    const bool buildable =
        node <= 31 && entry != nullptr && length >= entry->min_parameter_length &&
        length <= entry->max_parameter_length && allFrameCharacters(kept.data(), kept.size()) &&
        expectedSize >= (node != 0 ? 8 : 3);
    FUZZ_REQUIRE((frame != nullptr) == buildable);
    if (frame == nullptr) {
        return;
    }
    FUZZ_REQUIRE(v640_frame_size(frame) == expectedSize);
    if (node != 0) {
        FUZZ_REQUIRE(v640_get_node(frame) == static_cast<int>(node));
        FUZZ_REQUIRE(v640_get_fcs(frame) != -1);
        FUZZ_REQUIRE(v640_get_fcs(frame) == v640_calc_fcs(frame));
    } else {
        FUZZ_REQUIRE(frame[0] != soh);
        FUZZ_REQUIRE(v640_get_node(frame) == 0);
    }
    if (cut) {
        return;
    }
    FUZZ_REQUIRE(frame[expectedSize] == '\0');
    FUZZ_REQUIRE(getCode(frame) == static_cast<int>(code));
    int parameterLength = -1;
    const char *readBack = getParameter(frame, &parameterLength);
    FUZZ_REQUIRE(parameterLength == length);
    FUZZ_REQUIRE(readBack != nullptr && text.compare(0, text.size(), readBack, text.size()) == 0);
}

void seal(char *frame, const FrameBytes &before)
{
    // The controller's last two steps: a frame whose FCS cannot be computed is rejected whole.
    const int fcs = v640_calc_fcs(frame);
    FUZZ_REQUIRE(fcs >= -1 && fcs <= 0xFF);
    const int result = v640_set_fcs(frame, static_cast<unsigned int>(fcs));
    FUZZ_REQUIRE(result == (fcs == -1 ? 1 : 0));
    if (fcs == -1) {
        FUZZ_REQUIRE(unchanged(before, frame));
    } else if (frame[0] == soh) {
        FUZZ_REQUIRE(v640_get_fcs(frame) == fcs);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::unique_ptr<char[]> frame(new char[frameBufferSize]());
    FrameBytes before;
    while (!input.atEnd()) {
        const int operation = input.byte() % OperationCount;
        const uint8_t flags = input.byte();
        std::memcpy(before.data(), frame.get(), frameBufferSize);
        switch (operation) {
        case Load: {
            const uint8_t *bytes = nullptr;
            const std::size_t count = input.take(input.word16() % (frameBufferSize + 1), &bytes);
            if (count > 0) {
                std::memcpy(frame.get(), bytes, count);
            }
            break;
        }
        case Init:
            init(input, flags, frame.get(), before);
            break;
        case SetNode:
            setNode(input, flags, frame.get(), before);
            break;
        case SetMessage:
            setMessage(input, flags, frame.get(), before);
            break;
        case SetCode:
            setCode(input, flags, frame.get(), before);
            break;
        case SetFcs:
            setFcs(input, flags, frame.get(), before);
            break;
        case SetCommandParameter:
            setParameter(v640_command_list, v640_set_command_parameter, v640_get_command_code,
                         v640_get_command_parameter, input, flags, frame.get(), before);
            break;
        case SetResponseParameter:
            setParameter(v640_response_list, v640_set_response_parameter, v640_get_response_code,
                         v640_get_response_parameter, input, flags, frame.get(), before);
            break;
        case BuildCommand:
            build(v640_command_list, v640_build_command_frame, v640_get_command_code,
                  v640_get_command_parameter, input, flags);
            break;
        case BuildResponse:
            build(v640_response_list, v640_build_response_frame, v640_get_response_code,
                  v640_get_response_parameter, input, flags);
            break;
        case Seal:
            seal(frame.get(), before);
            break;
        }
    }
    return 0;
}
