// Helpers shared by the codec tests: guarded buffers, frame text and one-call writer cases.
#ifndef VORSEL_TESTS_CODEC_CODEC_TEST_H
#define VORSEL_TESTS_CODEC_CODEC_TEST_H

#include "v640.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace std::string_literals;

constexpr char filler = '#';
constexpr std::size_t frameBufferSize = V640_MAX_FRAME_SIZE + 1;
inline const std::string soh = "\x01";

// Copies the bytes so that the last one lies right before an inaccessible page: any access one
// past the end kills the test. Filler in front of them shows a write before the start. Calls
// take four such pages in turn, so up to four guarded buffers can be in use at once.
inline char *guarded(const std::string &bytes)
{
    static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    static void *const pages =
        mmap(nullptr, 8 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    static int next = 0;
    if (pages == MAP_FAILED) {
        throw std::bad_alloc();
    }
    char *start = static_cast<char *>(pages) + 2 * page * static_cast<std::size_t>(next++ % 4);
    if (mprotect(start + page, page, PROT_NONE) != 0) {
        throw std::bad_alloc();
    }
    std::fill(start, start + page, filler);
    return std::copy(bytes.begin(), bytes.end(), start + page - bytes.size()) - bytes.size();
}

// A full frame buffer: the bytes, a NUL behind them where there is room, then filler.
inline std::string buffer(const std::string &bytes)
{
    return (bytes + '\0' + std::string(frameBufferSize, filler)).substr(0, frameBufferSize);
}

// SOH, node digits, message, FCS as the exclusive-or of node digits and message, CR.
inline std::string sealed(const std::string &node, const std::string &message)
{
    unsigned int fcs = 0;
    for (char character : node + message) {
        fcs ^= static_cast<unsigned char>(character);
    }
    return soh + node + message + "0123456789ABCDEF"[fcs >> 4] + "0123456789ABCDEF"[fcs & 15] +
           "\r";
}

// Printable characters, varied so that a misplaced one changes the FCS.
inline std::string text(int count)
{
    std::string characters;
    for (int i = 0; i < count; ++i) {
        characters += static_cast<char>('!' + i * 7 % 94);
    }
    return characters;
}

// Offset of a pointer result inside the frame, -1 for null.
inline long offsetIn(const char *frame, const char *result)
{
    return result == nullptr ? -1 : result - frame;
}

// One call on a guarded buffer that holds `before`: its result, and the buffer afterwards, which
// begins with `after` and keeps the rest of `before`.
struct WriteCase
{
    const char *name;
    std::string before;
    int (*call)(char *buffer);
    int result;
    std::string after;
};

inline void expectWrite(const WriteCase &c)
{
    char *data = guarded(c.before);
    EXPECT_EQ(c.call(data), c.result);
    EXPECT_EQ(std::string(data, c.before.size()),
              c.after + c.before.substr(std::min(c.after.size(), c.before.size())));
    // The page in front of the buffer still holds only filler.
    const char *page =
        data - reinterpret_cast<std::uintptr_t>(data - 1) % sysconf(_SC_PAGESIZE) - 1;
    EXPECT_EQ(std::string(page, data - page), std::string(data - page, filler));
}

// Frame writer and parameter setter cases; the test itself is in frame_write_test.cpp.
class WriteTest : public ::testing::TestWithParam<WriteCase>
{
};

template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case> &info)
{
    return info.param.name;
}

#endif
