// Pieces shared by the fuzz targets: a failed invariant crashes, and inputs are read front to
// back in a fixed layout so that seed files can be written by hand from worked examples.
#ifndef VORSEL_FUZZ_FUZZ_SUPPORT_H
#define VORSEL_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "v640.h"

// libFuzzer reports an abort as a crash and keeps the input that caused it.
#define FUZZ_REQUIRE(condition)                                                                    \
    ((condition) ? static_cast<void>(0) : fuzzInvariantFailed(#condition, __FILE__, __LINE__))

[[noreturn]] inline void fuzzInvariantFailed(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant failed: %s\n", file, line, condition);
    std::abort();
}

// Reads the fuzzer's bytes from the front; past the end every value reads as 0.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, std::size_t size) : data(data), size(size) {}

    bool atEnd() const { return position == size; }
    std::size_t remaining() const { return size - position; }

    uint8_t byte() { return atEnd() ? 0 : data[position++]; }

    // Little-endian, so that a seed spells small values as "value, 0".
    uint16_t word16()
    {
        const uint16_t low = byte();
        return static_cast<uint16_t>(low | byte() << 8);
    }

    uint32_t word32()
    {
        const uint32_t low = word16();
        return low | static_cast<uint32_t>(word16()) << 16;
    }

    // Up to count bytes; returns how many were taken.
    std::size_t take(std::size_t count, const uint8_t **bytes)
    {
        const std::size_t taken = count < remaining() ? count : remaining();
        *bytes = data + position;
        position += taken;
        return taken;
    }

private:
    const uint8_t *data;
    std::size_t size;
    std::size_t position = 0;
};

inline bool isFrameCharacter(char character)
{
    const unsigned char value = static_cast<unsigned char>(character);
    return value == 0x01 || (value >= 0x20 && value <= 0x7E);
}

inline bool allFrameCharacters(const char *text, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!isFrameCharacter(text[i])) {
            return false;
        }
    }
    return true;
}

inline int tableSize(const v640_code_entry *table)
{
    int count = 0;
    while (table[count].text_length != 0) {
        ++count;
    }
    return count;
}

#endif
