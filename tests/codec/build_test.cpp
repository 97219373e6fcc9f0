// Whole-frame builders: sealed frames from node, code and parameter text, and their null results.
// Parameters lie in guarded buffers that end with their NUL. Every table code at its length limits
// is built in the code tests.

#include "codec_test.h"

namespace {

constexpr bool command = true;
constexpr bool response = false;

std::string built(const char *frame)
{
    return frame == nullptr ? "null" : std::string(frame, v640_frame_size(frame));
}

struct BuildCase
{
    const char *name;
    bool command;
    unsigned int node, code;
    const char *parameter;
    std::string frame;
};

const BuildCase buildCases[] = {
    {"Node1Code1401", command, 1, 0x1401, "", soh + "01140105\r"},
    {"Node1Code10With1234", command, 1, 0x10, "1234", soh + "0110123404\r"},
    {"NullParameterAsEmpty", command, 1, 0x10, nullptr, soh + "011000\r"},
    {"SohInParameter", command, 1, 0x10, "\x01", soh + "0110" + soh + "01\r"},
    // The frame ends at a CR in the parameter; the FCS takes the two characters before it.
    {"CrInParameterEndsFrame", command, 1, 0x10, "12\r34", soh + "011000\r"},
    {"CrLeavesUnderEight", command, 1, 0x10, "1\r", "null"},
    {"Node32", command, 32, 0x1401, "", "null"},
    {"Code10000", command, 1, 0x10000, "", "null"},
    // The record found must be the code asked for, not one that its text begins with or that the
    // rest of the buffer completes.
    {"Code1234NotCode12", command, 1, 0x1234, "", "null"},
    {"Code0001NotCode0100", command, 1, 0x0001, "0000000C", "null"},
    {"CodeA3NotCodeA300", command, 1, 0xA3, "192168001200", "null"},
    {"Response1401NotResponse14", response, 1, 0x1401, "", "null"},
    {"LineFeedInParameter", command, 1, 0x10, "12\n", "null"},
    {"DelInParameter", command, 0, 0x10, "\x7F", "null"},
};

class Builders : public ::testing::TestWithParam<BuildCase>
{
};

TEST_P(Builders, FrameOrNull)
{
    const BuildCase &c = GetParam();
    const char *parameter = c.parameter == nullptr ? nullptr : guarded(c.parameter + "\0"s);
    const auto build = c.command ? v640_build_command_frame : v640_build_response_frame;
    EXPECT_EQ(built(build(c.node, c.code, parameter)), c.frame);
}

INSTANTIATE_TEST_SUITE_P(Cases, Builders, ::testing::ValuesIn(buildCases), caseName<BuildCase>);

TEST(BuilderBuffer, SharedByBothBuilders)
{
    const char *commandFrame = v640_build_command_frame(1, 0x1401, "");
    const char *responseFrame = v640_build_response_frame(3, 0x72, "");
    ASSERT_NE(commandFrame, nullptr);
    EXPECT_EQ(responseFrame, commandFrame);
    EXPECT_EQ(std::string(commandFrame), sealed("03", "72"));
    EXPECT_EQ(v640_build_command_frame(0, 0x16, nullptr), responseFrame);
    EXPECT_EQ(std::string(responseFrame), "16\r");
}

} // namespace
