// Frame check and field readers: size, node, message, printable text, stored and computed FCS.

#include "frame_text.h"
#include "guarded_buffer.h"
#include "v640.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// Marks a reader result that the frame does not decide.
constexpr int unspecified = INT_MIN;
constexpr int preset = 12345;

struct ReadCase
{
    const char *name;
    std::string frame;
    int size;
    int node;
    long messageOffset; // -1: null
    int messageLength;
    long printableOffset; // -1: null
    int printableLength;
    int storedFcs;
    int computedFcs;
};

void expectReaders(const ReadCase &c, const char *frame)
{
    EXPECT_EQ(v640_frame_size(frame), c.size);
    EXPECT_EQ(v640_get_node(frame), c.node);

    int length = preset;
    EXPECT_EQ(offsetIn(frame, v640_get_message(frame, &length)), c.messageOffset);
    EXPECT_EQ(length, c.messageLength);
    EXPECT_EQ(offsetIn(frame, v640_get_message(frame, nullptr)), c.messageOffset);

    length = preset;
    EXPECT_EQ(offsetIn(frame, v640_get_printable(frame, &length)), c.printableOffset);
    EXPECT_EQ(length, c.printableLength);
    EXPECT_EQ(offsetIn(frame, v640_get_printable(frame, nullptr)), c.printableOffset);

    EXPECT_EQ(v640_get_fcs(frame), c.storedFcs);
    if (c.computedFcs != unspecified) {
        EXPECT_EQ(v640_calc_fcs(frame), c.computedFcs);
    }
}

class FrameReaders : public ::testing::TestWithParam<ReadCase>
{
};

TEST_P(FrameReaders, InFrameBuffer)
{
    const FrameBuffer buffer = makeFrameBuffer(GetParam().frame);
    expectReaders(GetParam(), buffer.data());
}

// The same bytes with nothing behind them: the readers must not look past the first CR, nor
// past offset 277 when there is no CR.
TEST_P(FrameReaders, EndingAtInaccessiblePage)
{
    const GuardedBuffer buffer(GetParam().frame);
    expectReaders(GetParam(), buffer.data());
}

std::string longAddressedFrame()
{
    const std::string message = "10" + std::string(269, 'A') + "B";
    return addressedFrame("01", message, "03");
}

const ReadCase readCases[] = {
    {"LoneCr", "\r", 1, -1, -1, 0, 0, 0, -1, unspecified},
    {"UnaddressedOneCharacter", "1\r", 2, -1, -1, 0, 0, 1, -1, unspecified},
    {"UnaddressedMinimum", "10\r", 3, 0, 0, 2, 0, 2, -1, 0},
    {"AddressedSevenCharacters",
     "\x01"
     "0110"
     "0\r",
     7, -1, -1, 0, 1, 5, -1, -1},
    {"AddressedMinimum",
     "\x01"
     "0110"
     "00\r",
     8, 1, 3, 2, 1, 6, 0, 0},
    {"Node1Message1401",
     "\x01"
     "011401"
     "05\r",
     10, 1, 3, 4, 1, 8, 5, 5},
    {"Node0Message1401", "1401\r", 5, 0, 0, 4, 0, 4, -1, 0},
    {"Node31",
     "\x01"
     "3110"
     "03\r",
     8, 31, 3, 2, 1, 6, 3, 3},
    {"Node00",
     "\x01"
     "0010"
     "01\r",
     8, -1, 3, 2, 1, 6, 1, 1},
    {"Node32",
     "\x01"
     "3210"
     "00\r",
     8, -1, 3, 2, 1, 6, 0, 0},
    {"Node1A",
     "\x01"
     "1A10"
     "71\r",
     8, -1, 3, 2, 1, 6, 0x71, 0x71},
    {"NodeWithLowercase",
     "\x01"
     "0a10"
     "00\r",
     8, -1, 3, 2, 1, 6, 0, 0x50},
    {"StoredFcsDiffersFromContent",
     "\x01"
     "011401"
     "FF\r",
     10, 1, 3, 4, 1, 8, 255, 5},
    {"LowercaseFcs",
     "\x01"
     "0110"
     "0a\r",
     8, 1, 3, 2, 1, 6, -1, 0},
    {"UppercaseFcs",
     "\x01"
     "0110"
     "0A\r",
     8, 1, 3, 2, 1, 6, 10, 0},
    {"FcsWithNonHexLetter",
     "\x01"
     "0110"
     "G0\r",
     8, 1, 3, 2, 1, 6, -1, 0},
    {"SohInAddressedMessage",
     "\x01"
     "0110"
     "\x01"
     "AB"
     "02\r",
     11, 1, 3, 5, 1, 9, 2, 2},
    {"SohInUnaddressedMessage",
     "10\x01"
     "99\r",
     6, 0, 0, 5, 0, 5, -1, 0},
    // The form comes from character 0 alone.
    {"AddressedLookingWithoutSoh",
     "011401"
     "05\r",
     9, 0, 0, 8, 0, 8, -1, 0},
    {"PrintableEdges", "10 ~\r", 5, 0, 0, 4, 0, 4, -1, 0},
    {"BytesAfterCrIgnored", "10\r\n\xFF\x7F", 3, 0, 0, 2, 0, 2, -1, 0},
    {"Longest", longAddressedFrame(), 278, 1, 3, 272, 1, 276, 3, 3},
    {"LongestUnaddressed", std::string(277, '0') + "\r", 278, 0, 0, 277, 0, 277, -1, 0},
    {"NoCrInFirst278", std::string(278, '0'), 0, -1, -1, 0, -1, 0, -1, -1},
    {"NoCrInFirst278Addressed", "\x01" + std::string(277, '0'), 0, -1, -1, 0, -1, 0, -1, -1},
};

std::string readCaseName(const ::testing::TestParamInfo<ReadCase> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Frames, FrameReaders, ::testing::ValuesIn(readCases), readCaseName);

TEST(FrameCheck, CrAt277IsTheLongestFrameAndCrAt278IsInvalid)
{
    std::string bytes(278, '0');
    bytes[277] = '\r';
    EXPECT_EQ(v640_frame_size(makeFrameBuffer(bytes).data()), 278);

    bytes[277] = '0';
    bytes += '\r';
    ASSERT_EQ(bytes.size(), frameBufferSize);
    const FrameBuffer tooLong = makeFrameBuffer(bytes);
    EXPECT_EQ(v640_frame_size(tooLong.data()), 0);
    int length = preset;
    EXPECT_EQ(v640_get_printable(tooLong.data(), &length), nullptr);
    EXPECT_EQ(length, 0);

    bytes[0] = soh;
    EXPECT_EQ(v640_frame_size(makeFrameBuffer(bytes).data()), 0);
}

TEST(FrameCheck, NullFrameIsInvalidForEveryReader)
{
    EXPECT_EQ(v640_frame_size(nullptr), 0);
    EXPECT_EQ(v640_get_node(nullptr), -1);
    int length = preset;
    EXPECT_EQ(v640_get_message(nullptr, &length), nullptr);
    EXPECT_EQ(length, 0);
    length = preset;
    EXPECT_EQ(v640_get_printable(nullptr, &length), nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(v640_get_message(nullptr, nullptr), nullptr);
    EXPECT_EQ(v640_get_fcs(nullptr), -1);
    EXPECT_EQ(v640_calc_fcs(nullptr), -1);
}

// A byte outside the frame character set anywhere before the CR: node field, message or FCS,
// in either form.
struct BadByteCase
{
    const char *name;
    char byte;
};

class FrameCheckBadByte : public ::testing::TestWithParam<BadByteCase>
{
};

TEST_P(FrameCheckBadByte, MakesEveryReaderFail)
{
    const char bad = GetParam().byte;
    const std::string frames[] = {
        std::string("1") + bad + "0\r",
        std::string(1, bad) + "10\r",
        addressedFrame(std::string("0") + bad, "1401", "05"),
        addressedFrame("01", std::string("14") + bad + "01", "05"),
        addressedFrame("01", "1401", std::string("0") + bad),
    };
    for (const std::string &frame : frames) {
        SCOPED_TRACE(::testing::PrintToString(frame));
        const FrameBuffer buffer = makeFrameBuffer(frame);
        EXPECT_EQ(v640_frame_size(buffer.data()), 0);
        EXPECT_EQ(v640_get_node(buffer.data()), -1);
        int length = preset;
        EXPECT_EQ(v640_get_message(buffer.data(), &length), nullptr);
        EXPECT_EQ(length, 0);
        length = preset;
        EXPECT_EQ(v640_get_printable(buffer.data(), &length), nullptr);
        EXPECT_EQ(length, 0);
        EXPECT_EQ(v640_get_fcs(buffer.data()), -1);
        EXPECT_EQ(v640_calc_fcs(buffer.data()), -1);
    }
}

const BadByteCase badBytes[] = {
    {"Nul", '\0'},    {"LineFeed", '\n'},  {"Tab", '\t'},
    {"Stx", '\x02'},  {"UnitSep", '\x1F'}, {"Del", '\x7F'},
    {"High", '\x80'}, {"Latin1", '\xE9'},  {"AllOnes", '\xFF'},
};

std::string badByteName(const ::testing::TestParamInfo<BadByteCase> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Bytes, FrameCheckBadByte, ::testing::ValuesIn(badBytes), badByteName);

} // namespace
