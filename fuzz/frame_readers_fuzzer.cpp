// Every frame reader and the code and parameter getters on arbitrary bytes, and the text
// functions that take a count on the same bytes.
//
// The bytes go into a heap buffer of exactly their size, so AddressSanitizer stops any read past
// it. Readers stop at a NUL, the first CR or offset 277; a buffer that holds none of these within
// it (shorter than 278 bytes, no NUL, no CR) gets one NUL behind it, as a C string would.

#include <algorithm>
#include <memory>

#include "fuzz_support.h"

namespace {

const std::size_t maximumInput = 400;
const char soh = 0x01;
const char cr = 0x0D;

// Reads every byte of a range that a reader handed out, so that a wrong length shows at once.
unsigned int touch(const char *start, int length)
{
    unsigned int sum = 0;
    for (int i = 0; i < length; ++i) {
        sum += static_cast<unsigned char>(start[i]);
    }
    return sum;
}

// A code comes with the rest of the message as its parameters; no code, no parameters.
void checkCodeGetters(int (*getCode)(const char *), char *(*getParameter)(const char *, int *),
                      const char *frame, const char *message, int messageLength)
{
    const int code = getCode(frame);
    int parameterLength = -1;
    const char *parameter = getParameter(frame, &parameterLength);
    FUZZ_REQUIRE(getParameter(frame, nullptr) == parameter);
    FUZZ_REQUIRE(code >= -1 && code <= 0xFFFF);
    if (code == -1) {
        FUZZ_REQUIRE(parameter == nullptr && parameterLength == 0);
        return;
    }
    FUZZ_REQUIRE(message != nullptr && parameter > message && parameterLength >= 0);
    FUZZ_REQUIRE(parameter + parameterLength == message + messageLength);
    touch(parameter, parameterLength);
}

void checkReaders(const char *frame, std::size_t bufferSize)
{
    const int size = v640_frame_size(frame);
    FUZZ_REQUIRE(size >= 0 && size <= V640_MAX_FRAME_SIZE);
    FUZZ_REQUIRE(static_cast<std::size_t>(size) <= bufferSize);
    if (size > 0) {
        FUZZ_REQUIRE(frame[size - 1] == cr);
        FUZZ_REQUIRE(allFrameCharacters(frame, static_cast<std::size_t>(size - 1)));
    }
    const bool addressed = size > 0 && frame[0] == soh;

    int printableLength = -1;
    const char *printable = v640_get_printable(frame, &printableLength);
    FUZZ_REQUIRE(v640_get_printable(frame, nullptr) == printable);
    if (size == 0) {
        FUZZ_REQUIRE(printable == nullptr && printableLength == 0);
    } else {
        // Everything between SOH and CR, or from the start to CR.
        FUZZ_REQUIRE(printable == frame + (addressed ? 1 : 0));
        FUZZ_REQUIRE(printable + printableLength == frame + size - 1);
        touch(printable, printableLength);
    }

    int messageLength = -1;
    const char *message = v640_get_message(frame, &messageLength);
    FUZZ_REQUIRE(v640_get_message(frame, nullptr) == message);
    if (message == nullptr) {
        FUZZ_REQUIRE(messageLength == 0);
        FUZZ_REQUIRE(size < (addressed ? 8 : 3));
    } else {
        FUZZ_REQUIRE(size >= (addressed ? 8 : 3));
        FUZZ_REQUIRE(message == frame + (addressed ? 3 : 0));
        FUZZ_REQUIRE(message + messageLength == frame + size - (addressed ? 3 : 1));
        touch(message, messageLength);
    }

    const int node = v640_get_node(frame);
    FUZZ_REQUIRE(node >= -1 && node <= 31);
    FUZZ_REQUIRE((node == 0) == (message != nullptr && !addressed));
    FUZZ_REQUIRE(node <= 0 || (message != nullptr && addressed));

    const int storedFcs = v640_get_fcs(frame);
    FUZZ_REQUIRE(storedFcs >= -1 && storedFcs <= 255);
    if (storedFcs != -1) {
        FUZZ_REQUIRE(message != nullptr && addressed);
    }
    const int calculatedFcs = v640_calc_fcs(frame);
    FUZZ_REQUIRE(calculatedFcs >= -1 && calculatedFcs <= 255);
    FUZZ_REQUIRE((calculatedFcs != -1) == (message != nullptr || (size > 0 && !addressed)));
    if (size > 0 && !addressed) {
        FUZZ_REQUIRE(calculatedFcs == 0);
    }

    checkCodeGetters(v640_get_command_code, v640_get_command_parameter, frame, message,
                     messageLength);
    checkCodeGetters(v640_get_response_code, v640_get_response_parameter, frame, message,
                     messageLength);
}

// Each call touches exactly its count of bytes, each in a heap block of exactly that size.
void checkTextFunctions(const char *bytes, int count)
{
    std::unique_ptr<char[]> copy(new char[count]);
    std::memcpy(copy.get(), bytes, static_cast<std::size_t>(count));
    FUZZ_REQUIRE(text_comp(bytes, copy.get(), count) == 0);
    if (count > 0) {
        copy[count - 1] ^= 1;
        FUZZ_REQUIRE(text_comp(bytes, copy.get(), count) == 1);
        FUZZ_REQUIRE(text_comp(bytes, copy.get(), count - 1) == 0);
    }
    const int character = count << 8 | (count > 0 ? bytes[0] & 0xFF : 0);
    FUZZ_REQUIRE(text_fill(copy.get(), character, count) == count);
    FUZZ_REQUIRE(std::count(copy.get(), copy.get() + count, char(character & 0xFF)) == count);
    FUZZ_REQUIRE(text_clear(copy.get(), count) == count);
    FUZZ_REQUIRE(std::count(copy.get(), copy.get() + count, '\0') == count);

    // Hexadecimal text and back gives the bytes again.
    std::unique_ptr<char[]> text(new char[2 * count]);
    FUZZ_REQUIRE(array_to_text(bytes, count, text.get()) == 2 * count);
    FUZZ_REQUIRE(text_to_array(text.get(), 2 * count, copy.get()) == count);
    FUZZ_REQUIRE(std::memcmp(copy.get(), bytes, static_cast<std::size_t>(count)) == 0);
    // Any bytes read as text: one byte per pair.
    FUZZ_REQUIRE(text_to_array(bytes, count, copy.get()) == (count % 2 == 0 ? count / 2 : 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size > maximumInput) {
        return -1;
    }
    if (size == 0) {
        // A null frame is read as an invalid one.
        checkReaders(nullptr, 0);
    }
    const bool bounded = size >= V640_MAX_FRAME_SIZE || std::memchr(data, '\0', size) != nullptr ||
                         std::memchr(data, cr, size) != nullptr;
    const std::size_t bufferSize = bounded ? size : size + 1;
    std::unique_ptr<char[]> frame(new char[bufferSize]);
    std::memcpy(frame.get(), data, size);
    if (!bounded) {
        frame[size] = '\0';
    }
    checkReaders(frame.get(), bufferSize);
    checkTextFunctions(frame.get(), static_cast<int>(bufferSize));
    return 0;
}
