// The frame writers, the parameter setters and the builders with arbitrary arguments: a crash
// and bounds net. What each call must write is the unit tests' business; here only the promises
// that hold for any input are checked.
//
// An input is a list of operations on one frame buffer of exactly 279 bytes on the heap, so that
// AddressSanitizer stops a write past it. Each operation is an operation byte, a flag byte, then
// its arguments (little-endian); message and parameter bytes sit in heap buffers of exactly
// their length.

#include <memory>
#include <string>

#include "fuzz_support.h"

namespace {

const int frameBufferSize = V640_MAX_FRAME_SIZE + 1;

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

// A writer accepts (0) or rejects (1), nothing else.
void requireWriterResult(int result)
{
    FUZZ_REQUIRE(result == 0 || result == 1);
}

// A builder gives null or a frame: a NUL-terminated text of at most the longest frame.
void requireBuilt(const char *frame)
{
    FUZZ_REQUIRE(frame == nullptr || std::memchr(frame, '\0', frameBufferSize) != nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::unique_ptr<char[]> buffer(new char[frameBufferSize]());
    while (!input.atEnd()) {
        const int operation = input.byte() % OperationCount;
        const uint8_t flags = input.byte();
        char *frame = (flags & nullFrame) ? nullptr : buffer.get();
        switch (operation) {
        case Load: {
            const uint8_t *bytes = nullptr;
            const std::size_t count = input.take(input.word16() % (frameBufferSize + 1), &bytes);
            if (count > 0) {
                std::memcpy(buffer.get(), bytes, count);
            }
            break;
        }
        case Init:
            requireWriterResult(
                v640_init_frame(frame, static_cast<int16_t>(input.word16()), flags & noNode));
            break;
        case SetNode:
            requireWriterResult(v640_set_node(frame, input.word32()));
            break;
        case SetMessage:
        case SetCommandParameter:
        case SetResponseParameter: {
            const int length = static_cast<int16_t>(input.word16());
            const std::unique_ptr<char[]> bytes = argumentBytes(input, length);
            const char *argument = (flags & nullArgument) ? nullptr : bytes.get();
            requireWriterResult(operation == SetMessage ? v640_set_message(frame, argument, length)
                                : operation == SetCommandParameter
                                    ? v640_set_command_parameter(frame, argument, length)
                                    : v640_set_response_parameter(frame, argument, length));
            break;
        }
        case SetCode:
            requireWriterResult(v640_set_code(frame, input.word32()));
            break;
        case SetFcs:
            requireWriterResult(v640_set_fcs(frame, input.word32()));
            break;
        case BuildCommand:
        case BuildResponse: {
            const uint32_t node = input.word32();
            const uint32_t code = input.word32();
            const uint8_t *taken = nullptr;
            const std::size_t count = input.take(input.word16() % 400, &taken);
            const std::string bytes(reinterpret_cast<const char *>(taken), count);
            const char *parameter = (flags & nullArgument) ? nullptr : bytes.c_str();
            requireBuilt(operation == BuildCommand
                             ? v640_build_command_frame(node, code, parameter)
                             : v640_build_response_frame(node, code, parameter));
            break;
        }
        case Seal: {
            const int fcs = v640_calc_fcs(buffer.get());
            FUZZ_REQUIRE(fcs >= -1 && fcs <= 0xFF);
            requireWriterResult(v640_set_fcs(buffer.get(), static_cast<unsigned int>(fcs)));
            break;
        }
        }
    }
    return 0;
}
