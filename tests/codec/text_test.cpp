// Text conversion: byte strings, single characters, counted numbers and byte arrays.

#include "guarded_buffer.h"
#include "text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>

namespace {

constexpr char untouched = '#';

std::string bytes(const char *data, int count)
{
    return std::string(data, static_cast<std::size_t>(count));
}

// --- Byte strings -------------------------------------------------------------------------

TEST(TextSize, CountsCharactersBeforeNul)
{
    EXPECT_EQ(text_size(nullptr), 0);
    EXPECT_EQ(text_size(""), 0);
    EXPECT_EQ(text_size("abc"), 3);
    EXPECT_EQ(text_size("ab\0cd"), 2);
}

TEST(TextCopy, StopsAtMaximumLength)
{
    char destination[8];
    std::fill(std::begin(destination), std::end(destination), untouched);
    EXPECT_EQ(text_copy("abcdef", destination, 3), 3);
    EXPECT_EQ(bytes(destination, 5), std::string("abc\0#", 5));
}

TEST(TextCopy, StopsAtSourceNul)
{
    char destination[8];
    std::fill(std::begin(destination), std::end(destination), untouched);
    EXPECT_EQ(text_copy("ab", destination, 5), 2);
    EXPECT_EQ(bytes(destination, 4), std::string("ab\0#", 4));
}

TEST(TextCopy, ZeroMaximumWritesOnlyNul)
{
    char destination[4] = {untouched, untouched, untouched, untouched};
    EXPECT_EQ(text_copy("abc", destination, 0), 0);
    EXPECT_EQ(bytes(destination, 2), std::string("\0#", 2));
}

TEST(TextCopy, RejectionsWriteNothing)
{
    char destination[4] = {untouched, untouched, untouched, untouched};
    EXPECT_EQ(text_copy(nullptr, destination, 3), 0);
    EXPECT_EQ(text_copy("abc", destination, -1), 0);
    EXPECT_EQ(bytes(destination, 4), "####");
    EXPECT_EQ(text_copy("abc", nullptr, 3), 0);
}

TEST(TextFill, UsesLowEightBitsOfCharacter)
{
    char text[5] = {untouched, untouched, untouched, untouched, untouched};
    EXPECT_EQ(text_fill(text, 0x141, 3), 3);
    EXPECT_EQ(bytes(text, 5), "AAA##");
}

TEST(TextFill, RejectionsAndSizeQueries)
{
    char text[3] = {untouched, untouched, untouched};
    EXPECT_EQ(text_fill(text, 'x', -2), 0);
    EXPECT_EQ(text_fill(text, 'x', 0), 0);
    EXPECT_EQ(bytes(text, 3), "###");
    EXPECT_EQ(text_fill(nullptr, 'x', 7), 7);
}

TEST(TextClear, ZeroesExactlyCount)
{
    char text[4] = {untouched, untouched, untouched, untouched};
    EXPECT_EQ(text_clear(text, 3), 3);
    EXPECT_EQ(bytes(text, 4), std::string("\0\0\0#", 4));
    EXPECT_EQ(text_clear(text + 3, -1), 0);
    EXPECT_EQ(text_clear(text + 3, 0), 0);
    EXPECT_EQ(text[3], untouched);
    EXPECT_EQ(text_clear(nullptr, 9), 9);
}

struct CompCase
{
    const char *text1;
    const char *text2;
    int count;
    int expected;
};

class TextComp : public ::testing::TestWithParam<CompCase>
{
};

TEST_P(TextComp, ComparesExactlyCountBytes)
{
    const CompCase &c = GetParam();
    EXPECT_EQ(text_comp(c.text1, c.text2, c.count), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextComp,
                         ::testing::Values(CompCase{"ab", "ac", 1, 0}, CompCase{"ab", "ac", 2, 1},
                                           CompCase{"ab", "ab", -1, 1}, CompCase{"ab", "ab", 0, 0},
                                           CompCase{nullptr, "ab", 2, 0},
                                           CompCase{"ab", nullptr, 2, 0},
                                           // Does not stop at a NUL.
                                           CompCase{"a\0b", "a\0c", 3, 1},
                                           CompCase{"a\0b", "a\0b", 3, 0},
                                           CompCase{"xyz", "xyZ", 3, 1}));

TEST(PopulationCount, CountsSetBits)
{
    EXPECT_EQ(population_count(0u), 0);
    EXPECT_EQ(population_count(0xFFFFFFFFu), 32);
    EXPECT_EQ(population_count(0x80000001u), 2);
    EXPECT_EQ(population_count(0x00F0F000u), 8);
}

// --- Single characters --------------------------------------------------------------------

// Every one of the 256 char values, so that locale-dependent or sign-extension mistakes show.
TEST(CharacterClasses, FixedAsciiRangesOverAllBytes)
{
    for (int value = 0; value < 256; ++value) {
        const char character = static_cast<char>(value);
        const bool decimal = value >= '0' && value <= '9';
        const bool upperHex = value >= 'A' && value <= 'F';
        SCOPED_TRACE(value);
        EXPECT_EQ(char1_is_dec(character), decimal ? 1 : 0);
        EXPECT_EQ(char1_is_hex(character), decimal || upperHex ? 1 : 0);
        EXPECT_EQ(char1_to_dec(character), decimal ? value - '0' : 0);
        EXPECT_EQ(char1_to_hex(character),
                  decimal ? value - '0' : (upperHex ? value - 'A' + 10 : 0));
    }
}

TEST(CharacterClasses, LowercaseIsNeverAHexDigit)
{
    EXPECT_EQ(char1_is_hex('a'), 0);
    EXPECT_EQ(char1_is_hex('F'), 1);
    EXPECT_EQ(char1_to_hex('f'), 0);
    EXPECT_EQ(char1_to_hex('F'), 15);
}

TEST(DigitCharacters, ValuesInRangeGiveDigits)
{
    const char decimalDigits[] = "0123456789";
    const char hexDigits[] = "0123456789ABCDEF";
    for (uint32_t value = 0; value < 10; ++value) {
        EXPECT_EQ(dec_to_char1(value), decimalDigits[value]);
    }
    for (uint32_t value = 0; value < 16; ++value) {
        EXPECT_EQ(hex_to_char1(value), hexDigits[value]);
    }
}

TEST(DigitCharacters, ValuesOutOfRangeGiveNul)
{
    EXPECT_EQ(dec_to_char1(10), '\0');
    EXPECT_EQ(dec_to_char1(0xFFFFFFFFu), '\0');
    EXPECT_EQ(hex_to_char1(16), '\0');
    EXPECT_EQ(hex_to_char1(0x8000000Au), '\0');
}

// --- Counted texts and numbers ------------------------------------------------------------

struct ClassCase
{
    const char *text;
    int length;
    int isDecimal;
    int isHex;
};

class TextIsDigits : public ::testing::TestWithParam<ClassCase>
{
};

TEST_P(TextIsDigits, ChecksExactlyLengthCharacters)
{
    const ClassCase &c = GetParam();
    EXPECT_EQ(text_is_dec(c.text, c.length), c.isDecimal);
    EXPECT_EQ(text_is_hex(c.text, c.length), c.isHex);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextIsDigits,
                         ::testing::Values(ClassCase{"0123456789", 10, 1, 1},
                                           ClassCase{"0A", 2, 0, 1}, ClassCase{"0a", 2, 0, 0},
                                           ClassCase{"ABCDEF", 6, 0, 1}, ClassCase{"G", 1, 0, 0},
                                           ClassCase{"12x", 2, 1, 1}, ClassCase{"12x", 3, 0, 0},
                                           ClassCase{" 1", 2, 0, 0}, ClassCase{"1", 0, 0, 0},
                                           ClassCase{"1", -1, 0, 0}, ClassCase{nullptr, 1, 0, 0}));

struct NumberCase
{
    const char *text;
    int length;
    uint32_t expected;
};

class TextToDec : public ::testing::TestWithParam<NumberCase>
{
};

TEST_P(TextToDec, ReadsDecimalValue)
{
    const NumberCase &c = GetParam();
    EXPECT_EQ(text_to_dec(c.text, c.length), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextToDec,
                         ::testing::Values(NumberCase{"0031", 4, 31},
                                           NumberCase{"4294967295", 10, 0xFFFFFFFFu},
                                           // 2^32 and 9999999999 wrap modulo 2^32.
                                           NumberCase{"4294967296", 10, 0},
                                           NumberCase{"9999999999", 10, 1410065407u},
                                           NumberCase{"12345678901", 11, 0}, NumberCase{"1", 0, 0},
                                           NumberCase{"1", -3, 0}, NumberCase{nullptr, 2, 0},
                                           // A non-digit counts as 0 in its place.
                                           NumberCase{"1x3", 3, 103}, NumberCase{"1A", 2, 10},
                                           NumberCase{"987", 2, 98}));

class TextToHex : public ::testing::TestWithParam<NumberCase>
{
};

TEST_P(TextToHex, ReadsUppercaseHexValue)
{
    const NumberCase &c = GetParam();
    EXPECT_EQ(text_to_hex(c.text, c.length), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextToHex,
    ::testing::Values(NumberCase{"A300", 4, 0xA300}, NumberCase{"A3000000F", 9, 0},
                      NumberCase{"FFFFFFFF", 8, 0xFFFFFFFFu}, NumberCase{"01234567", 8, 0x01234567},
                      NumberCase{"89ABCDEF", 8, 0x89ABCDEF},
                      // Lowercase letters and other non-digits count as 0.
                      NumberCase{"1f", 2, 0x10}, NumberCase{"ff", 2, 0}, NumberCase{"1G", 2, 0x10},
                      NumberCase{"A", 0, 0}, NumberCase{"A", -1, 0}, NumberCase{nullptr, 2, 0},
                      NumberCase{"ABC", 2, 0xAB}));

struct ToTextCase
{
    uint32_t value;
    int length;
    const char *expected;
};

class DecToText : public ::testing::TestWithParam<ToTextCase>
{
};

TEST_P(DecToText, WritesExactlyLengthDigits)
{
    const ToTextCase &c = GetParam();
    std::array<char, 16> text;
    text.fill(untouched);
    EXPECT_EQ(dec_to_text(c.value, text.data(), c.length), c.length);
    EXPECT_EQ(bytes(text.data(), c.length + 1), std::string(c.expected) + untouched);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecToText,
                         ::testing::Values(ToTextCase{7, 2, "07"}, ToTextCase{1234, 2, "34"},
                                           ToTextCase{0, 1, "0"},
                                           ToTextCase{4294967295u, 10, "4294967295"},
                                           ToTextCase{4294967295u, 12, "004294967295"},
                                           ToTextCase{31, 2, "31"}));

class HexToText : public ::testing::TestWithParam<ToTextCase>
{
};

TEST_P(HexToText, WritesExactlyLengthUppercaseDigits)
{
    const ToTextCase &c = GetParam();
    std::array<char, 16> text;
    text.fill(untouched);
    EXPECT_EQ(hex_to_text(c.value, text.data(), c.length), c.length);
    EXPECT_EQ(bytes(text.data(), c.length + 1), std::string(c.expected) + untouched);
}

INSTANTIATE_TEST_SUITE_P(Cases, HexToText,
                         ::testing::Values(ToTextCase{10, 2, "0A"}, ToTextCase{0x1401, 2, "01"},
                                           ToTextCase{0xA300, 10, "000000A300"},
                                           ToTextCase{0xDEADBEEF, 8, "DEADBEEF"},
                                           ToTextCase{0xabcdef, 6, "ABCDEF"},
                                           ToTextCase{0x5, 1, "5"}));

TEST(NumberToText, RejectionsWriteNothing)
{
    char text[4] = {untouched, untouched, untouched, untouched};
    EXPECT_EQ(dec_to_text(5, text, 0), 0);
    EXPECT_EQ(dec_to_text(5, text, -1), 0);
    EXPECT_EQ(hex_to_text(5, text, 0), 0);
    EXPECT_EQ(hex_to_text(5, text, -1), 0);
    EXPECT_EQ(bytes(text, 4), "####");
    EXPECT_EQ(dec_to_text(5, nullptr, 2), 0);
    EXPECT_EQ(hex_to_text(5, nullptr, 2), 0);
}

// --- Byte arrays --------------------------------------------------------------------------

TEST(ArrayToText, WritesUppercasePairs)
{
    const unsigned char array[] = {0x00, 0x7F, 0xA5, 0xFF, 0x3C};
    char text[12];
    std::fill(std::begin(text), std::end(text), untouched);
    EXPECT_EQ(array_to_text(array, 3, text), 6);
    EXPECT_EQ(bytes(text, 7), "007FA5#");
    EXPECT_EQ(array_to_text(array + 3, 2, text), 4);
    EXPECT_EQ(bytes(text, 7), "FF3CA5#");
}

TEST(ArrayToText, RejectionsAndSizeQueries)
{
    const unsigned char array[] = {0x12};
    char text[2] = {untouched, untouched};
    EXPECT_EQ(array_to_text(array, 0, text), 0);
    EXPECT_EQ(array_to_text(array, -1, text), 0);
    EXPECT_EQ(array_to_text(nullptr, 4, text), 8);
    EXPECT_EQ(bytes(text, 2), "##");
    EXPECT_EQ(array_to_text(array, 4, nullptr), 8);
}

struct ToArrayCase
{
    const char *text;
    int length;
    std::string expected;
};

class TextToArray : public ::testing::TestWithParam<ToArrayCase>
{
};

TEST_P(TextToArray, ReadsPairsOfUppercaseDigits)
{
    const ToArrayCase &c = GetParam();
    std::array<char, 8> array;
    array.fill(untouched);
    EXPECT_EQ(text_to_array(c.text, c.length, array.data()), c.length / 2);
    EXPECT_EQ(bytes(array.data(), c.length / 2 + 1), c.expected + untouched);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextToArray,
                         ::testing::Values(ToArrayCase{"007FA5", 6, std::string("\x00\x7F\xA5", 3)},
                                           ToArrayCase{"7g", 2, "\x70"},
                                           ToArrayCase{"ab", 2, std::string("\0", 1)},
                                           ToArrayCase{"fF", 2, "\x0F"},
                                           ToArrayCase{"C3D", 2, "\xC3"}));

TEST(TextToArray, RejectionsAndSizeQueries)
{
    char array[4] = {untouched, untouched, untouched, untouched};
    EXPECT_EQ(text_to_array("007", 3, array), 0);
    EXPECT_EQ(text_to_array("0", 1, array), 0);
    EXPECT_EQ(text_to_array("", 0, array), 0);
    EXPECT_EQ(text_to_array("00", -2, array), 0);
    EXPECT_EQ(text_to_array(nullptr, 6, array), 3);
    EXPECT_EQ(bytes(array, 4), "####");
    EXPECT_EQ(text_to_array("0011", 4, nullptr), 2);
}

// --- Counts are never overstepped ---------------------------------------------------------
// Each input or output ends right before an inaccessible page: one byte too many crashes.

TEST(GuardedBuffer, AccessPastTheEndCrashes)
{
    GuardedBuffer buffer(std::string("abc"));
    volatile const char *end = buffer.data() + buffer.size();
    EXPECT_DEATH((void)*end, "");
}

TEST(TextBounds, ReadersStopAtTheirCounts)
{
    GuardedBuffer digits(std::string("4294967295"));
    EXPECT_EQ(text_to_dec(digits.data(), 10), 0xFFFFFFFFu);
    EXPECT_EQ(text_is_dec(digits.data(), 10), 1);
    EXPECT_EQ(text_is_hex(digits.data(), 10), 1);

    GuardedBuffer hexDigits(std::string("89ABCDEF"));
    EXPECT_EQ(text_to_hex(hexDigits.data(), 8), 0x89ABCDEFu);
    EXPECT_EQ(text_is_hex(hexDigits.data(), 8), 1);
    EXPECT_EQ(text_is_dec(hexDigits.data(), 8), 0);

    GuardedBuffer other(std::string("89ABCDEF"));
    EXPECT_EQ(text_comp(hexDigits.data(), other.data(), 8), 0);

    GuardedBuffer nulTerminated(std::string("abc", 4));
    EXPECT_EQ(text_size(nulTerminated.data()), 3);
}

TEST(TextBounds, CopyReadsAndWritesNoMoreThanMaximum)
{
    // A source of exactly max_length characters needs no NUL.
    GuardedBuffer source(std::string("abcdef"));
    GuardedBuffer destination(7);
    EXPECT_EQ(text_copy(source.data(), destination.data(), 6), 6);
    EXPECT_EQ(destination.content(), std::string("abcdef\0", 7));
    EXPECT_TRUE(destination.frontUntouched());

    GuardedBuffer shortSource(std::string("ab", 3));
    EXPECT_EQ(text_copy(shortSource.data(), destination.data(), 6), 2);
    EXPECT_EQ(destination.content().substr(0, 3), std::string("ab\0", 3));
}

TEST(TextBounds, FillAndClearWriteExactlyCount)
{
    GuardedBuffer text(5);
    EXPECT_EQ(text_fill(text.data(), 'z', 5), 5);
    EXPECT_EQ(text.content(), "zzzzz");
    EXPECT_EQ(text_clear(text.data(), 5), 5);
    EXPECT_EQ(text.content(), std::string(5, '\0'));
    EXPECT_TRUE(text.frontUntouched());
}

TEST(TextBounds, NumberWritersWriteExactlyLength)
{
    GuardedBuffer decimal(12);
    EXPECT_EQ(dec_to_text(4294967295u, decimal.data(), 12), 12);
    EXPECT_EQ(decimal.content(), "004294967295");
    EXPECT_TRUE(decimal.frontUntouched());

    GuardedBuffer hex(10);
    EXPECT_EQ(hex_to_text(0xA300, hex.data(), 10), 10);
    EXPECT_EQ(hex.content(), "000000A300");
    EXPECT_TRUE(hex.frontUntouched());
}

TEST(TextBounds, ArrayConversionsStayInsideBothBuffers)
{
    GuardedBuffer array(std::string("\x00\x7F\xA5", 3));
    GuardedBuffer text(6);
    EXPECT_EQ(array_to_text(array.data(), 3, text.data()), 6);
    EXPECT_EQ(text.content(), "007FA5");
    EXPECT_TRUE(text.frontUntouched());

    GuardedBuffer back(3);
    EXPECT_EQ(text_to_array(text.data(), 6, back.data()), 3);
    EXPECT_EQ(back.content(), array.content());
    EXPECT_TRUE(back.frontUntouched());
}

} // namespace
