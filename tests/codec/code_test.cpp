// Code tables, code and parameter lookup, and the parameter writers with their length limits.

#include "codec_test.h"

#include <cstring>

namespace {

// A table and the functions that use it.
struct Table
{
    const v640_code_entry *entries;
    int (*getCode)(const char *);
    char *(*getParameter)(const char *, int *);
    int (*setParameter)(char *, const char *, int);
    char *(*build)(unsigned int, unsigned int, const char *);
};

const Table tables[] = {
    {v640_command_list, v640_get_command_code, v640_get_command_parameter,
     v640_set_command_parameter, v640_build_command_frame},
    {v640_response_list, v640_get_response_code, v640_get_response_parameter,
     v640_set_response_parameter, v640_build_response_frame},
};

// A record's text is its code in upper-case hexadecimal, two digits up to FF; the table ends with
// an all-zero record.
TEST(CodeTables, TextsSpellTheirCodes)
{
    static_assert(sizeof v640_command_list / sizeof *v640_command_list == 28, "27 and the end");
    static_assert(sizeof v640_response_list / sizeof *v640_response_list == 10, "9 and the end");
    for (const Table &table : tables) {
        const v640_code_entry *entry = table.entries;
        for (; entry->text_length != 0; ++entry) {
            char text[8] = {};
            hex_to_text(entry->code, text, entry->code <= 0xFF ? 2 : 4);
            EXPECT_EQ(std::string(entry->text, sizeof entry->text), std::string(text, sizeof text));
            EXPECT_EQ(entry->text_length, entry->code <= 0xFF ? 2 : 4);
            EXPECT_LE(entry->min_parameter_length, entry->max_parameter_length);
        }
        EXPECT_TRUE(entry->code == 0 && entry->text[0] == 0 && entry->max_parameter_length == 0);
    }
}

// One record at one parameter length and node: the setter accepts exactly the limits and leaves
// the frame as it was otherwise; the builder agrees, and the getters find what it built.
void expectLimits(const Table &table, const v640_code_entry &record, int length, unsigned int node)
{
    SCOPED_TRACE(::testing::Message() << record.text << " with " << length << " at " << node);
    const std::string digits = node == 1 ? "01" : "31";
    const std::string message = record.text + text(length);
    const bool fits =
        length >= record.min_parameter_length && length <= record.max_parameter_length;
    char *frame = guarded(buffer(""));
    v640_init_frame(frame, 278, node == 0);
    v640_set_node(frame, node);
    v640_set_code(frame, record.code);
    const std::string before(frame, frameBufferSize);
    EXPECT_EQ(table.setParameter(frame, guarded(text(length)), length), fits ? 0 : 1);
    if (!fits) {
        EXPECT_EQ(std::string(frame, frameBufferSize), before);
        EXPECT_EQ(length < 0 ? nullptr : table.build(node, record.code, text(length).c_str()),
                  nullptr);
        return;
    }
    EXPECT_EQ(std::string(frame), node == 0 ? message + "\r" : soh + digits + message + "00\r");
    const char *built = table.build(node, record.code, guarded(text(length) + '\0'));
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(std::string(built), node == 0 ? message + "\r" : sealed(digits, message));
    int parameterLength = -1;
    EXPECT_EQ(table.getCode(built), static_cast<int>(record.code));
    EXPECT_EQ(table.getParameter(built, &parameterLength),
              built + (node == 0 ? 0 : 3) + std::strlen(record.text));
    EXPECT_EQ(parameterLength, length);
}

// Every record of both tables at min - 1, min, max and max + 1 parameter characters and at nodes
// 0, 1 and 31. "10" and "00" with 270 characters make the longest frame, 278 characters.
TEST(ParameterLimits, EveryRecordAtAndJustPastItsBounds)
{
    for (const Table &table : tables) {
        for (const v640_code_entry *record = table.entries; record->text_length != 0; ++record) {
            const int min = record->min_parameter_length;
            const int max = record->max_parameter_length;
            for (int length : {min - 1, min, max, max + 1}) {
                for (unsigned int node : {0u, 1u, 31u}) {
                    expectLimits(table, *record, length, node);
                }
            }
        }
    }
}

// Code, parameter offset (-1 for null) and parameter length, looked up in each table.
struct LookupCase
{
    const char *name;
    std::string frame;
    int command[3], response[3];
};

void expectLookups(const char *frame, const LookupCase &c)
{
    for (int i = 0; i < 2; ++i) {
        const int *expected = i == 0 ? c.command : c.response;
        EXPECT_EQ(tables[i].getCode(frame), expected[0]);
        int length = 12345;
        EXPECT_EQ(offsetIn(frame, tables[i].getParameter(frame, &length)), expected[1]);
        EXPECT_EQ(length, expected[2]);
        EXPECT_EQ(offsetIn(frame, tables[i].getParameter(frame, nullptr)), expected[1]);
    }
}

const LookupCase lookupCases[] = {
    {"Command1401", soh + "01140105\r", {0x1401, 7, 0}, {-1, -1, 0}},
    {"NormalEndWith20", sealed("01", "00" + text(20)), {-1, -1, 0}, {0, 5, 20}},
    {"GettersApplyNoLimits", sealed("01", "0100" + text(7)), {0x100, 7, 7}, {-1, -1, 0}},
    // "A300" needs four message characters: the FCS behind "A3" is no part of the message.
    {"OnlyA3BeforeFcs01", soh + "01A301\r", {-1, -1, 0}, {-1, -1, 0}},
    // A code without parameters matches only as the whole message.
    {"Code1234", sealed("01", "1234"), {-1, -1, 0}, {-1, -1, 0}},
    {"Code72WithMore", "72XX\r", {-1, -1, 0}, {-1, -1, 0}},
    {"Code1401WithMore", sealed("01", "1401AB"), {-1, -1, 0}, {-1, -1, 0}},
    {"LowercaseA0", sealed("01", "a0"), {-1, -1, 0}, {-1, -1, 0}},
    {"AddressedSeven", soh + "01100\r", {-1, -1, 0}, {-1, -1, 0}},
    {"UnaddressedTwo", "1\r", {-1, -1, 0}, {-1, -1, 0}},
    {"InvalidCharacter", soh + "0110\n00\r", {-1, -1, 0}, {-1, -1, 0}},
};

class Lookups : public ::testing::TestWithParam<LookupCase>
{
};

TEST_P(Lookups, CodeAndParameters)
{
    expectLookups(guarded(GetParam().frame), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Frames, Lookups, ::testing::ValuesIn(lookupCases), caseName<LookupCase>);

TEST(CodeLookup, NullFrame)
{
    expectLookups(nullptr, {"Null", "", {-1, -1, 0}, {-1, -1, 0}});
}

const std::string room4 = buffer(soh + "0010000000\r"); // "10" and room for four characters

const WriteCase setterCases[] = {
    {"NullParameterCutsToCode", buffer(sealed("01", "101234")),
     [](char *f) { return v640_set_command_parameter(f, nullptr, 0); }, 0, soh + "011000\r\0"s},
    {"FillsRoomOfPresentFrame", room4,
     [](char *f) { return v640_set_command_parameter(f, "ABCD", 4); }, 0, soh + "0010ABCD00\r\0"s},
    {"NeverLengthensFrame", room4,
     [](char *f) { return v640_set_command_parameter(f, "ABCDE", 5); }, 1, ""},
    {"UnknownCode", buffer(sealed("01", "XY0000")),
     [](char *f) { return v640_set_command_parameter(f, "", 0); }, 1, ""},
    {"CommandCodeAsResponse", buffer(sealed("01", "1001")),
     [](char *f) { return v640_set_response_parameter(f, "", 0); }, 1, ""},
    {"NullParameterWithLength", buffer(sealed("01", "10000000")),
     [](char *f) { return v640_set_command_parameter(f, nullptr, 3); }, 1, ""},
    {"InvalidFrame", buffer(soh + "0110\t0000\r"),
     [](char *f) { return v640_set_command_parameter(f, "1", 1); }, 1, ""},
    {"AddressedSeven", buffer(soh + "01100\r"),
     [](char *f) { return v640_set_command_parameter(f, "", 0); }, 1, ""},
    {"NullFrame", "", [](char *) { return v640_set_response_parameter(nullptr, "", 0); }, 1, ""},
};

INSTANTIATE_TEST_SUITE_P(ParameterSetters, WriteTest, ::testing::ValuesIn(setterCases),
                         caseName<WriteCase>);

} // namespace
