// Frame check and field readers. Each frame ends a guarded buffer with its last byte, so a reader
// that looks past the first CR, or past offset 277, fails the case.

#include "codec_test.h"

namespace {

// Size, node, message and printable text as offset (-1 for null) and length, stored and
// computed FCS.
struct ReadCase
{
    const char *name;
    std::string frame;
    int size, node;
    long message;
    int messageLength;
    long printable;
    int printableLength, storedFcs, computedFcs;
};

const ReadCase invalid = {"Invalid", "", 0, -1, -1, 0, -1, 0, -1, -1};

void expectReaders(const char *frame, const ReadCase &c)
{
    EXPECT_EQ(v640_frame_size(frame), c.size);
    EXPECT_EQ(v640_get_node(frame), c.node);
    int length = 12345;
    EXPECT_EQ(offsetIn(frame, v640_get_message(frame, &length)), c.message);
    EXPECT_EQ(length, c.messageLength);
    EXPECT_EQ(offsetIn(frame, v640_get_message(frame, nullptr)), c.message);
    length = 12345;
    EXPECT_EQ(offsetIn(frame, v640_get_printable(frame, &length)), c.printable);
    EXPECT_EQ(length, c.printableLength);
    EXPECT_EQ(offsetIn(frame, v640_get_printable(frame, nullptr)), c.printable);
    EXPECT_EQ(v640_get_fcs(frame), c.storedFcs);
    EXPECT_EQ(v640_calc_fcs(frame), c.computedFcs);
}

const ReadCase readCases[] = {
    {"LoneCr", "\r", 1, -1, -1, 0, 0, 0, -1, 0},
    {"UnaddressedMinimum", "10\r", 3, 0, 0, 2, 0, 2, -1, 0},
    {"AddressedSeven", soh + "01100\r", 7, -1, -1, 0, 1, 5, -1, -1},
    {"Node31", soh + "311003\r", 8, 31, 3, 2, 1, 6, 3, 3},
    {"Node00", soh + "001001\r", 8, -1, 3, 2, 1, 6, 1, 1},
    {"Node32", soh + "321000\r", 8, -1, 3, 2, 1, 6, 0, 0},
    {"Node1A", soh + "1A1071\r", 8, -1, 3, 2, 1, 6, 0x71, 0x71},
    {"StoredFcsNotComputed", soh + "011401FF\r", 10, 1, 3, 4, 1, 8, 255, 5},
    {"LowercaseFcs", soh + "01100a\r", 8, 1, 3, 2, 1, 6, -1, 0},
    {"UppercaseFcs", soh + "01100A\r", 8, 1, 3, 2, 1, 6, 10, 0},
    {"SohInAddressedMessage", soh + "0110" + soh + "AB02\r", 11, 1, 3, 5, 1, 9, 2, 2},
    {"FormFromCharacter0Only", "01140105\r", 9, 0, 0, 8, 0, 8, -1, 0},
    {"PrintableEdges", "10 ~\r", 5, 0, 0, 4, 0, 4, -1, 0},
    {"BytesAfterCrIgnored", "10\r\n\xFF", 3, 0, 0, 2, 0, 2, -1, 0},
    {"Longest", soh + "0110" + std::string(269, 'A') + "B03\r", 278, 1, 3, 272, 1, 276, 3, 3},
    {"LongestUnaddressed", std::string(277, '0') + "\r", 278, 0, 0, 277, 0, 277, -1, 0},
    {"CrAt278", std::string(278, '0') + "\r", 0, -1, -1, 0, -1, 0, -1, -1},
    {"NoCr", std::string(278, '0'), 0, -1, -1, 0, -1, 0, -1, -1},
};

class Readers : public ::testing::TestWithParam<ReadCase>
{
};

TEST_P(Readers, FieldsOfTheFrame)
{
    expectReaders(guarded(GetParam().frame), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Frames, Readers, ::testing::ValuesIn(readCases), caseName<ReadCase>);

TEST(FrameCheck, NullFrame)
{
    expectReaders(nullptr, invalid);
}

TEST(FrameCheck, ByteOutsideTheCharacterSetBeforeTheCr)
{
    for (char bad : "\0\t\n\x02\x1F\x7F\x80\xFF"s) {
        for (const std::string &frame :
             {bad + "10\r"s, "1"s + bad + "0\r", soh + "0" + bad + "140105\r",
              soh + "0114" + bad + "0105\r", soh + "01140" + bad + "\r"}) {
            SCOPED_TRACE(::testing::PrintToString(frame));
            expectReaders(guarded(frame), invalid);
        }
    }
}

} // namespace
