// Text conversion. Inputs and outputs lie in guarded buffers of exactly their counts, so one byte
// too far in either direction fails the case.

#include "codec_test.h"
#include "text.h"

#include <tuple>

namespace {

TEST(Guarded, AccessPastTheEndKillsTheProcess)
{
    EXPECT_DEATH((void)*static_cast<volatile char *>(guarded("abc") + 3), "");
}

// Each call writes into a guarded buffer of exactly the size of the expected bytes.
struct TextCase
{
    const char *name;
    int (*call)(char *out);
    int result;
    std::string out;
};

const TextCase textCases[] = {
    {"SizeNull", [](char *) { return text_size(nullptr); }, 0, ""},
    {"SizeAbc", [](char *) { return text_size(guarded("abc\0"s)); }, 3, ""},
    {"CopyStopsAtMaximum", [](char *b) { return text_copy(guarded("abcdef"), b, 3); }, 3, "abc\0"s},
    {"CopyStopsAtNul", [](char *b) { return text_copy(guarded("ab\0"s), b, 5); }, 2, "ab\0"s},
    {"CopyExactlyMaximum", [](char *b) { return text_copy(guarded("abcdef"), b, 6); }, 6,
     "abcdef\0"s},
    {"CopyZeroWritesNul", [](char *b) { return text_copy("abc", b, 0); }, 0, "\0"s},
    {"CopyNullSource", [](char *b) { return text_copy(nullptr, b, 3); }, 0, ""},
    {"CopyNegative", [](char *b) { return text_copy("abc", b, -1); }, 0, ""},
    {"CopyNullDestination", [](char *) { return text_copy("abc", nullptr, 3); }, 0, ""},
    {"FillLowEightBits", [](char *b) { return text_fill(b, 0x141, 3); }, 3, "AAA"},
    {"FillZero", [](char *b) { return text_fill(b, 'x', 0); }, 0, ""},
    {"FillNegative", [](char *b) { return text_fill(b, 'x', -2); }, 0, ""},
    {"FillSizeQuery", [](char *) { return text_fill(nullptr, 'x', 7); }, 7, ""},
    {"Clear", [](char *b) { return text_clear(b, 3); }, 3, "\0\0\0"s},
    {"ClearNegative", [](char *b) { return text_clear(b, -1); }, 0, ""},
    {"ClearSizeQuery", [](char *) { return text_clear(nullptr, 9); }, 9, ""},
    {"CompOneByte", [](char *) { return text_comp(guarded("ab"), guarded("ac"), 1); }, 0, ""},
    {"CompTwoBytes", [](char *) { return text_comp(guarded("ab"), guarded("ac"), 2); }, 1, ""},
    {"CompPastNul", [](char *) { return text_comp(guarded("a\0b"s), guarded("a\0c"s), 3); }, 1, ""},
    {"CompZero", [](char *) { return text_comp(guarded("a"), guarded("b"), 0); }, 0, ""},
    {"CompNegative", [](char *) { return text_comp("ab", "ab", -1); }, 1, ""},
    {"CompNull", [](char *) { return text_comp(nullptr, "ab", 2); }, 0, ""},
    {"PopulationAll", [](char *) { return population_count(0xFFFFFFFF); }, 32, ""},
    {"DecLeadingZero", [](char *b) { return dec_to_text(7, b, 2); }, 2, "07"},
    {"DecLowDigits", [](char *b) { return dec_to_text(1234, b, 2); }, 2, "34"},
    {"DecWide", [](char *b) { return dec_to_text(4294967295u, b, 12); }, 12, "004294967295"},
    {"DecNull", [](char *) { return dec_to_text(5, nullptr, 2); }, 0, ""},
    {"HexUppercase", [](char *b) { return hex_to_text(10, b, 2); }, 2, "0A"},
    {"HexLowDigits", [](char *b) { return hex_to_text(0x1401, b, 2); }, 2, "01"},
    {"HexAllDigits", [](char *b) { return hex_to_text(0xDEADBEEF, b, 8); }, 8, "DEADBEEF"},
    {"HexWide", [](char *b) { return hex_to_text(0xA300, b, 10); }, 10, "000000A300"},
    {"HexNegative", [](char *b) { return hex_to_text(5, b, -1); }, 0, ""},
    {"HexNull", [](char *) { return hex_to_text(5, nullptr, 2); }, 0, ""},
    {"ToText", [](char *b) { return array_to_text(guarded("\0\x7F\xA5"s), 3, b); }, 6, "007FA5"},
    {"ToTextZero", [](char *b) { return array_to_text(guarded("x"), 0, b); }, 0, ""},
    {"ToTextNegative", [](char *b) { return array_to_text("x", -1, b); }, 0, ""},
    {"ToTextSizeQuery", [](char *b) { return array_to_text(nullptr, 4, b); }, 8, ""},
    // Twice such a count is no int.
    {"ToTextTooLong", [](char *) { return array_to_text(nullptr, 0x40000000, nullptr); }, 0, ""},
    {"ToArray", [](char *b) { return text_to_array(guarded("007FA5"), 6, b); }, 3, "\0\x7F\xA5"s},
    // A lowercase letter is no hexadecimal digit either.
    {"ToArrayNonDigits", [](char *b) { return text_to_array(guarded("7gfF"), 4, b); }, 2,
     "\x70\x0F"},
    {"ToArrayOdd", [](char *b) { return text_to_array(guarded("007"), 3, b); }, 0, ""},
    {"ToArrayNegative", [](char *b) { return text_to_array("00", -2, b); }, 0, ""},
    {"ToArraySizeQuery", [](char *b) { return text_to_array(nullptr, 6, b); }, 3, ""},
};

class TextCalls : public ::testing::TestWithParam<TextCase>
{
};

TEST_P(TextCalls, ResultAndBytesWritten)
{
    const TextCase &c = GetParam();
    expectWrite({c.name, std::string(c.out.size(), filler), c.call, c.result, c.out});
}

INSTANTIATE_TEST_SUITE_P(Text, TextCalls, ::testing::ValuesIn(textCases), caseName<TextCase>);

// Text, length, then text_is_dec, text_is_hex, text_to_dec and text_to_hex of them.
const std::tuple<const char *, int, int, int, uint32_t, uint32_t> digitsCases[] = {
    {"0031", 4, 1, 1, 31, 0x31},
    {"4294967296", 10, 1, 1, 0, 0},
    {"9999999999", 10, 1, 1, 1410065407, 0},
    {"12345678901", 11, 1, 1, 0, 0},
    {"A300", 4, 0, 1, 300, 0xA300},
    {"89ABCDEF", 8, 0, 1, 89000000, 0x89ABCDEF},
    {"FFFFFFFF", 8, 0, 1, 0, 0xFFFFFFFF},
    {"A3000000F", 9, 0, 1, 30000000, 0},
    {"0A", 2, 0, 1, 0, 10},
    {"0a", 2, 0, 0, 0, 0},
    {"1f", 2, 0, 0, 10, 0x10},
    // The neighbours of the digit ranges, and a byte that a signed char makes negative.
    {"/:@G", 4, 0, 0, 0, 0},
    {"`afF", 4, 0, 0, 0, 0xF},
    {"\2609", 2, 0, 0, 9, 9}, // 0xB0, then 9
    {"1", 0, 0, 0, 0, 0},
    {nullptr, 2, 0, 0, 0, 0},
};

TEST(CountedText, DigitTestsAndValues)
{
    for (const auto &[characters, length, isDec, isHex, dec, hex] : digitsCases) {
        const char *text = characters == nullptr ? nullptr : guarded(characters);
        SCOPED_TRACE(::testing::Message() << (characters ? characters : "null") << " / " << length);
        EXPECT_EQ(text_is_dec(text, length), isDec);
        EXPECT_EQ(text_is_hex(text, length), isHex);
        EXPECT_EQ(text_to_dec(text, length), dec);
        EXPECT_EQ(text_to_hex(text, length), hex);
    }
}

} // namespace
