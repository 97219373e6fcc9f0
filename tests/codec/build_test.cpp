// Whole-frame builders: sealed frames from node, code and parameter text, and their null results.

#include "code_records.h"
#include "frame_text.h"
#include "guarded_buffer.h"
#include "v640.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The whole NUL-terminated result.
std::string built(const char *frame)
{
    return frame == nullptr ? "<null>" : std::string(frame);
}

// The result's frame characters, up to and including its first CR.
std::string builtFrame(const char *frame)
{
    if (frame == nullptr) {
        return "<null>";
    }
    const int size = v640_frame_size(frame);
    return size == 0 ? "<invalid>" : std::string(frame, static_cast<std::size_t>(size));
}

// Two decimal digits of a node number of 1 to 31.
std::string nodeDigits(unsigned int node)
{
    return {static_cast<char>('0' + node / 10), static_cast<char>('0' + node % 10)};
}

// --- Worked examples ------------------------------------------------------------------------

struct ExampleCase
{
    const char *name;
    bool command;
    unsigned int node;
    unsigned int code;
    const char *parameter;
    std::string frame;
};

class BuilderExample : public ::testing::TestWithParam<ExampleCase>
{
};

TEST_P(BuilderExample, BuildsSealedFrame)
{
    const ExampleCase &c = GetParam();
    const char *frame = c.command ? v640_build_command_frame(c.node, c.code, c.parameter)
                                  : v640_build_response_frame(c.node, c.code, c.parameter);
    EXPECT_EQ(builtFrame(frame), c.frame);
    // A NUL follows the CR, except where a CR in the parameter ended the frame early.
    if (c.parameter == nullptr || std::strchr(c.parameter, '\r') == nullptr) {
        EXPECT_EQ(built(frame), c.frame);
    }
}

const ExampleCase exampleCases[] = {
    {"Node1Code1401", true, 1, 0x1401, "",
     "\x01"
     "011401"
     "05\r"},
    {"Node1Code10With1234", true, 1, 0x10, "1234",
     "\x01"
     "01101234"
     "04\r"},
    {"Node0Code1401", true, 0, 0x1401, "", "1401\r"},
    {"NullParameterLikeEmpty", true, 1, 0x10, nullptr,
     "\x01"
     "0110"
     "00\r"},
    {"EmptyParameter", true, 1, 0x10, "",
     "\x01"
     "0110"
     "00\r"},
    {"Node31", true, 31, 0x7F, "", sealedFrame("31", "7F")},
    {"ReadPages1And2", true, 1, 0x0100, "0000000C", sealedFrame("01", "01000000000C")},
    {"ResponseNormalEnd", false, 1, 0x00, "",
     "\x01"
     "0100"
     "01\r"},
    {"ResponseNormalEndUnaddressed", false, 0, 0x00, "OK", "00OK\r"},
    {"ResponseErrorEnd", false, 12, 0x9A, nullptr, sealedFrame("12", "9A")},
    {"SohInParameter", true, 1, 0x10, "\x01",
     "\x01"
     "0110"
     "\x01"
     "01\r"},
    // A CR in the parameter ends the frame; the FCS takes the two characters before it.
    {"CrInParameterCutsFrame", true, 1, 0x10, "12\r34",
     "\x01"
     "0110"
     "00\r"},
    {"CrInParameterUnaddressed", false, 0, 0x00, "ab\rcd", "00ab\r"},
};

std::string exampleName(const ::testing::TestParamInfo<ExampleCase> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Examples, BuilderExample, ::testing::ValuesIn(exampleCases), exampleName);

// --- Per record: every table code builds at its length limits and not past them -----------

class BuilderRecord : public ::testing::TestWithParam<TableRecord>
{
protected:
    const char *build(unsigned int node, const std::string &parameter) const
    {
        const unsigned int code = GetParam().record.code;
        return GetParam().table == Table::Command
                   ? v640_build_command_frame(node, code, parameter.c_str())
                   : v640_build_response_frame(node, code, parameter.c_str());
    }
};

TEST_P(BuilderRecord, BuildsWithinLimitsInBothForms)
{
    const CodeRecord &record = GetParam().record;
    for (int length : {record.minLength, record.maxLength}) {
        const std::string message = record.text + parameterText(length);
        for (unsigned int node : {0u, 1u, 31u}) {
            SCOPED_TRACE(::testing::Message() << "length " << length << " node " << node);
            const std::string expected =
                node == 0 ? message + "\r" : sealedFrame(nodeDigits(node), message);
            EXPECT_EQ(built(build(node, parameterText(length))), expected);
        }
    }
}

TEST_P(BuilderRecord, YieldsNullJustPastLimits)
{
    const CodeRecord &record = GetParam().record;
    for (unsigned int node : {0u, 1u}) {
        SCOPED_TRACE(node);
        if (record.minLength > 0) {
            EXPECT_EQ(build(node, parameterText(record.minLength - 1)), nullptr);
        }
        EXPECT_EQ(build(node, parameterText(record.maxLength + 1)), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Records, BuilderRecord, ::testing::ValuesIn(allTableRecords()),
                         tableRecordName);

TEST(Builder, LongestFrameHas278Characters)
{
    const std::string parameter(270, 'L');
    const char *frame = v640_build_command_frame(1, 0x10, parameter.c_str());
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(std::string(frame), sealedFrame("01", "10" + parameter));
    EXPECT_EQ(v640_frame_size(frame), 278);
    EXPECT_EQ(v640_build_command_frame(1, 0x10, (parameter + "L").c_str()), nullptr);
}

TEST(Builder, ReadsParameterOnlyUpToItsNul)
{
    const GuardedBuffer parameter(std::string(270, 'G') + '\0');
    EXPECT_EQ(built(v640_build_command_frame(2, 0x10, parameter.data())),
              sealedFrame("02", "10" + std::string(270, 'G')));
}

// --- Null results ---------------------------------------------------------------------------

struct NullCase
{
    const char *name;
    bool command;
    unsigned int node;
    unsigned int code;
    std::string parameter;
};

class BuilderNull : public ::testing::TestWithParam<NullCase>
{
};

TEST_P(BuilderNull, YieldsNull)
{
    const NullCase &c = GetParam();
    const char *frame = c.command ? v640_build_command_frame(c.node, c.code, c.parameter.c_str())
                                  : v640_build_response_frame(c.node, c.code, c.parameter.c_str());
    EXPECT_EQ(built(frame), "<null>");
}

const NullCase nullCases[] = {
    {"Node32", true, 32, 0x1401, ""},
    {"NodeAllOnes", true, 0xFFFFFFFFu, 0x1401, ""},
    {"ResponseNode32", false, 32, 0x00, ""},
    {"Code10000", true, 1, 0x10000, ""},
    {"CodeAllOnes", true, 1, 0xFFFFFFFFu, ""},
    {"ResponseCode10000", false, 1, 0x10000, ""},
    {"Code1234NotInTable", true, 1, 0x1234, ""},
    {"Read7Characters", true, 1, 0x0100, "0000000"},
    {"Read9Characters", true, 1, 0x0100, "000000000"},
    {"ErrorEndTakesNoParameter", false, 1, 0x72, "1"},
    {"ResponseCode1401", false, 1, 0x1401, ""},
    {"CommandCodeAsResponse", false, 1, 0x10, ""},
    {"ResponseCodeAsCommand", true, 1, 0x9A, ""},
    {"LineFeedInParameter", true, 1, 0x10, "12\n"},
    {"TabInParameter", true, 0, 0x10, "\t"},
    {"StxInParameter", true, 1, 0x10, "\x02"},
    {"DelInParameter", true, 1, 0x10, "A\x7F"},
    {"HighByteInParameter", false, 1, 0x00, "\x80"},
    {"AllOnesByteInParameter", true, 0, 0x10, "\xFF"},
    // A CR so early that the addressed frame is left under 8 characters.
    {"CrCutsFrameUnderMinimum", true, 1, 0x10, "\r"},
    {"CrCutsFrameToSeven", true, 1, 0x10, "1\r"},
};

std::string nullName(const ::testing::TestParamInfo<NullCase> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, BuilderNull, ::testing::ValuesIn(nullCases), nullName);

// A code whose text begins with a table code, or reads as one once the builder's zero filler
// follows it, is still not in the table: the record found must be the code asked for.
INSTANTIATE_TEST_SUITE_P(
    CodesOnlyPrefixedByTableCodes, BuilderNull,
    ::testing::Values(NullCase{"Command1234", true, 1, 0x1234, ""},
                      NullCase{"Command1234Unaddressed", true, 0, 0x1234, ""},
                      NullCase{"Command1000", true, 1, 0x1000, "x"},
                      NullCase{"Command7F00", true, 1, 0x7F00, ""},
                      NullCase{"CommandA000", true, 1, 0xA000, ""},
                      NullCase{"CommandA200", true, 1, 0xA200, "pw"},
                      NullCase{"Command0001AsRead", true, 1, 0x0001, "0000000C"},
                      NullCase{"Command0001AsReadUnaddressed", true, 0, 0x0001, "0000000C"},
                      NullCase{"Command0002AsWrite", true, 1, 0x0002, parameterText(24)},
                      NullCase{"Command0003AsSameWrite", true, 1, 0x0003, parameterText(24)},
                      NullCase{"Command0004AsByteWrite", true, 1, 0x0004, "00AB"},
                      NullCase{"CommandA3AsSetIp", true, 1, 0xA3, "192168001200"},
                      NullCase{"Response1401", false, 1, 0x1401, ""},
                      NullCase{"Response1401Unaddressed", false, 0, 0x1401, ""},
                      NullCase{"Response7000", false, 1, 0x7000, ""},
                      NullCase{"Response9A00", false, 1, 0x9A00, ""}),
    nullName);

// --- Shared static buffer -------------------------------------------------------------------

TEST(Builder, ResponseBuildOverwritesEarlierCommandFrame)
{
    const char *command = v640_build_command_frame(1, 0x1401, "");
    ASSERT_NE(command, nullptr);
    const std::string commandFrame = command;
    const char *response = v640_build_response_frame(3, 0x72, "");
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(command, response);
    EXPECT_NE(std::string(command), commandFrame);
    EXPECT_EQ(std::string(command), sealedFrame("03", "72"));
}

TEST(Builder, CommandBuildOverwritesEarlierResponseFrame)
{
    const char *response = v640_build_response_frame(0, 0x00, "DATA");
    ASSERT_NE(response, nullptr);
    const char *command = v640_build_command_frame(0, 0x16, nullptr);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(response, command);
    EXPECT_EQ(std::string(response), "16\r");
}

} // namespace
