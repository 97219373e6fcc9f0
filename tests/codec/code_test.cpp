// Code tables, code and parameter lookup, and the parameter writers with their length limits.

#include "code_records.h"
#include "frame_text.h"
#include "guarded_buffer.h"
#include "v640.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int preset = 12345;

// --- Tables -------------------------------------------------------------------------------

void expectTable(const v640_code_entry *table, const std::vector<CodeRecord> &expected)
{
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const CodeRecord &record = expected[i];
        SCOPED_TRACE(record.text);
        const v640_code_entry &entry = table[i];
        std::string paddedText = record.text;
        paddedText.resize(sizeof entry.text, '\0');
        EXPECT_EQ(entry.text_length, static_cast<int32_t>(std::strlen(record.text)));
        EXPECT_EQ(std::string(entry.text, sizeof entry.text), paddedText);
        EXPECT_EQ(entry.code, record.code);
        EXPECT_EQ(entry.min_parameter_length, record.minLength);
        EXPECT_EQ(entry.max_parameter_length, record.maxLength);
    }
    const v640_code_entry &end = table[expected.size()];
    EXPECT_EQ(end.text_length, 0);
    EXPECT_EQ(std::string(end.text, sizeof end.text), std::string(sizeof end.text, '\0'));
    EXPECT_EQ(end.code, 0u);
    EXPECT_EQ(end.min_parameter_length, 0);
    EXPECT_EQ(end.max_parameter_length, 0);
}

TEST(CodeTables, CommandListHoldsItsRecordsInOrderAndEndsWithZeroRecord)
{
    static_assert(sizeof v640_command_list / sizeof v640_command_list[0] == 28, "27 + end");
    ASSERT_EQ(commandRecords().size(), 27u);
    expectTable(v640_command_list, commandRecords());
}

TEST(CodeTables, ResponseListHoldsItsRecordsInOrderAndEndsWithZeroRecord)
{
    static_assert(sizeof v640_response_list / sizeof v640_response_list[0] == 10, "9 + end");
    ASSERT_EQ(responseRecords().size(), 9u);
    expectTable(v640_response_list, responseRecords());
}

// --- Per record: lookup and the limits of the parameter writers ----------------------------

class CodeRecordTest : public ::testing::TestWithParam<TableRecord>
{
protected:
    int getCode(const char *frame) const
    {
        return GetParam().table == Table::Command ? v640_get_command_code(frame)
                                                  : v640_get_response_code(frame);
    }
    const char *getParameter(const char *frame, int *length) const
    {
        return GetParam().table == Table::Command ? v640_get_command_parameter(frame, length)
                                                  : v640_get_response_parameter(frame, length);
    }
    int setParameter(char *frame, const char *parameter, int length) const
    {
        return GetParam().table == Table::Command
                   ? v640_set_command_parameter(frame, parameter, length)
                   : v640_set_response_parameter(frame, parameter, length);
    }
};

TEST_P(CodeRecordTest, GettersFindCodeAndParametersInBothForms)
{
    const CodeRecord &record = GetParam().record;
    const std::string text = record.text;
    for (int parameterLength : {record.minLength, record.maxLength}) {
        const std::string message = text + parameterText(parameterLength);
        for (bool addressed : {true, false}) {
            SCOPED_TRACE(::testing::Message() << parameterLength << (addressed ? " addr" : ""));
            const FrameBuffer frame =
                makeFrameBuffer(addressed ? sealedFrame("01", message) : message + "\r");
            const long messageOffset = addressed ? 3 : 0;
            EXPECT_EQ(getCode(frame.data()), static_cast<int>(record.code));
            int length = preset;
            EXPECT_EQ(offsetIn(frame.data(), getParameter(frame.data(), &length)),
                      messageOffset + static_cast<long>(text.size()));
            EXPECT_EQ(length, parameterLength);
            EXPECT_NE(getParameter(frame.data(), nullptr), nullptr);
        }
    }
}

TEST_P(CodeRecordTest, SetterAcceptsExactlyTheLengthLimits)
{
    const CodeRecord &record = GetParam().record;
    const std::string text = record.text;
    const int lengths[] = {record.minLength - 1, record.minLength, record.maxLength,
                           record.maxLength + 1};
    for (int length : lengths) {
        for (bool addressed : {true, false}) {
            SCOPED_TRACE(::testing::Message() << length << (addressed ? " addr" : ""));
            FrameBuffer frame;
            frame.fill(bufferFiller);
            ASSERT_EQ(v640_init_frame(frame.data(), V640_MAX_FRAME_SIZE, addressed ? 0 : 1), 0);
            ASSERT_EQ(v640_set_code(frame.data(), record.code), 0);
            const FrameBuffer before = frame;
            const std::string parameter = parameterText(length < 0 ? 0 : length);
            const bool inLimits = length >= record.minLength && length <= record.maxLength;

            EXPECT_EQ(setParameter(frame.data(), parameter.c_str(), length), inLimits ? 0 : 1);
            if (!inLimits) {
                EXPECT_EQ(asString(frame), asString(before));
                continue;
            }
            const std::string message = text + parameter;
            const std::string expected =
                addressed ? addressedFrame("00", message, "00") : message + "\r";
            EXPECT_EQ(frameWithNul(frame), expected + '\0');
            EXPECT_EQ(getCode(frame.data()), static_cast<int>(record.code));
            int parameterLength = preset;
            EXPECT_NE(getParameter(frame.data(), &parameterLength), nullptr);
            EXPECT_EQ(parameterLength, length);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Records, CodeRecordTest, ::testing::ValuesIn(allTableRecords()),
                         tableRecordName);

// --- Getters: worked examples ---------------------------------------------------------------

TEST(CodeGetters, Message1401IsACommandButNoResponse)
{
    const FrameBuffer frame = makeFrameBuffer("\x01"
                                              "011401"
                                              "05\r");
    EXPECT_EQ(v640_get_command_code(frame.data()), 0x1401);
    int length = preset;
    EXPECT_EQ(offsetIn(frame.data(), v640_get_command_parameter(frame.data(), &length)), 7);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(v640_get_response_code(frame.data()), -1);
    length = preset;
    EXPECT_EQ(v640_get_response_parameter(frame.data(), &length), nullptr);
    EXPECT_EQ(length, 0);
}

TEST(CodeGetters, NormalEndWithTwentyDataCharacters)
{
    const std::string data = "0123456789ABCDEFGHIJ";
    const FrameBuffer frame = makeFrameBuffer(sealedFrame("01", "00" + data));
    EXPECT_EQ(v640_get_response_code(frame.data()), 0);
    int length = preset;
    const char *parameter = v640_get_response_parameter(frame.data(), &length);
    EXPECT_EQ(offsetIn(frame.data(), parameter), 5);
    EXPECT_EQ(length, 20);
}

TEST(CodeGetters, ErrorEndWithoutData)
{
    const FrameBuffer frame = makeFrameBuffer(sealedFrame("01", "72"));
    EXPECT_EQ(v640_get_response_code(frame.data()), 0x72);
    int length = preset;
    EXPECT_EQ(offsetIn(frame.data(), v640_get_response_parameter(frame.data(), &length)), 5);
    EXPECT_EQ(length, 0);
}

TEST(CodeGetters, ParameterGettersApplyNoLimits)
{
    for (int count : {7, 9, 0}) {
        const FrameBuffer frame =
            makeFrameBuffer(sealedFrame("01", "0100" + std::string(count, 'C')));
        int length = preset;
        EXPECT_EQ(offsetIn(frame.data(), v640_get_command_parameter(frame.data(), &length)), 7);
        EXPECT_EQ(length, count);
        EXPECT_EQ(v640_get_command_code(frame.data()), 0x0100);
    }
}

// Frames in which no code of either table starts the message, or that are too short or
// invalid: every getter fails.
struct NoCodeCase
{
    const char *name;
    std::string frame;
};

class CodeGettersNoCode : public ::testing::TestWithParam<NoCodeCase>
{
};

void expectNoCode(const char *frame)
{
    EXPECT_EQ(v640_get_command_code(frame), -1);
    EXPECT_EQ(v640_get_response_code(frame), -1);
    int length = preset;
    EXPECT_EQ(v640_get_command_parameter(frame, &length), nullptr);
    EXPECT_EQ(length, 0);
    length = preset;
    EXPECT_EQ(v640_get_response_parameter(frame, &length), nullptr);
    EXPECT_EQ(length, 0);
}

TEST_P(CodeGettersNoCode, InFrameBuffer)
{
    expectNoCode(makeFrameBuffer(GetParam().frame).data());
}

TEST_P(CodeGettersNoCode, EndingAtInaccessiblePage)
{
    const GuardedBuffer frame(GetParam().frame);
    expectNoCode(frame.data());
}

const NoCodeCase noCodeCases[] = {
    // "A300" needs four message characters; the FCS behind "A3" is no part of the message.
    {"OnlyA3Addressed", "\x01"
                        "01A3"
                        "00\r"},
    {"OnlyA3Unaddressed", "A3\r"},
    // "A301" is a command: the FCS 01 behind "A3" must not complete it.
    {"OnlyA3FollowedByFcs01", "\x01"
                              "01A3"
                              "01\r"},
    {"LowercaseA0", sealedFrame("01", "a0")},
    {"Lowercase7f", "7f\r"},
    {"LowercaseA300", sealedFrame("01", "a300192168001001")},
    {"UnknownXY", sealedFrame("01", "XY")},
    // "12" and "14" take no parameters, so "1234" and "1401" are not "12" or "14" followed by
    // parameter characters.
    {"Unknown1234", sealedFrame("01", "1234")},
    {"ParameterlessCodeFollowedByCharacters", "7F00\r"},
    {"AddressedSevenCharacters", "\x01"
                                 "0110"
                                 "0\r"},
    {"UnaddressedTwoCharacters", "1\r"},
    {"LoneCr", "\r"},
    {"InvalidCharacter", addressedFrame("01", "10\n", "00")},
    {"NoCr", std::string(278, '0')},
};

std::string noCodeName(const ::testing::TestParamInfo<NoCodeCase> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Frames, CodeGettersNoCode, ::testing::ValuesIn(noCodeCases), noCodeName);

TEST(CodeGetters, NullFrame)
{
    expectNoCode(nullptr);
    EXPECT_EQ(v640_get_command_parameter(nullptr, nullptr), nullptr);
}

TEST(CodeGetters, CodeIsReadFromTheMessageOnly)
{
    // Message "14" with FCS "01": no command "1401", but response "14".
    const FrameBuffer frame = makeFrameBuffer("\x01"
                                              "0114"
                                              "01\r");
    EXPECT_EQ(v640_get_command_code(frame.data()), -1);
    EXPECT_EQ(v640_get_response_code(frame.data()), 0x14);
}

TEST(CodeGetters, LongestFramesEndingAtInaccessiblePage)
{
    const GuardedBuffer command(sealedFrame("01", "10" + std::string(270, 'T')));
    EXPECT_EQ(v640_get_command_code(command.data()), 0x10);
    int length = preset;
    EXPECT_EQ(offsetIn(command.data(), v640_get_command_parameter(command.data(), &length)), 5);
    EXPECT_EQ(length, 270);

    const GuardedBuffer response("00" + std::string(275, 'R') + "\r");
    EXPECT_EQ(v640_get_response_code(response.data()), 0);
    length = preset;
    EXPECT_EQ(offsetIn(response.data(), v640_get_response_parameter(response.data(), &length)), 2);
    EXPECT_EQ(length, 275);
}

// --- Setters: worked examples and rejections -----------------------------------------------

TEST(ParameterSetter, NullParameterWithLengthZeroCutsFrameToCode)
{
    FrameBuffer frame = makeFrameBuffer(sealedFrame("01", "101234"));
    EXPECT_EQ(v640_set_command_parameter(frame.data(), nullptr, 0), 0);
    EXPECT_EQ(frameWithNul(frame), std::string("\x01"
                                               "0110"
                                               "00\r",
                                               9));
}

TEST(ParameterSetter, RoomIsLimitedByTheFramesPresentSize)
{
    for (bool addressed : {true, false}) {
        SCOPED_TRACE(addressed);
        // Message of six characters: "10" and room for four.
        FrameBuffer frame;
        frame.fill(bufferFiller);
        ASSERT_EQ(v640_init_frame(frame.data(), addressed ? 12 : 7, addressed ? 0 : 1), 0);
        ASSERT_EQ(v640_set_code(frame.data(), 0x10), 0);
        const FrameBuffer before = frame;
        EXPECT_EQ(v640_set_command_parameter(frame.data(), "ABCDE", 5), 1);
        EXPECT_EQ(asString(frame), asString(before));
        EXPECT_EQ(v640_set_command_parameter(frame.data(), "ABCD", 4), 0);
        EXPECT_EQ(frameWithNul(frame),
                  (addressed ? addressedFrame("00", "10ABCD", "00") : "10ABCD\r") + '\0');
    }
}

TEST(ParameterSetter, CopiesBytesUnchecked)
{
    FrameBuffer frame = makeFrameBuffer(sealedFrame("01", "10WXYZ"));
    EXPECT_EQ(v640_set_command_parameter(frame.data(), "A\nB", 3), 0);
    EXPECT_EQ(frameWithNul(frame), addressedFrame("01", "10A\nB", "00") + '\0');
    EXPECT_EQ(v640_frame_size(frame.data()), 0);
}

struct RejectCase
{
    const char *name;
    std::string frame;
    const char *parameter;
    int length;
};

class ParameterSetterRejects : public ::testing::TestWithParam<RejectCase>
{
};

TEST_P(ParameterSetterRejects, LeavesFrameUnchanged)
{
    const RejectCase &c = GetParam();
    FrameBuffer frame = makeFrameBuffer(c.frame);
    const FrameBuffer before = frame;
    EXPECT_EQ(v640_set_command_parameter(frame.data(), c.parameter, c.length), 1);
    EXPECT_EQ(asString(frame), asString(before));
    EXPECT_EQ(v640_set_response_parameter(frame.data(), c.parameter, c.length), 1);
    EXPECT_EQ(asString(frame), asString(before));
}

const RejectCase rejectCases[] = {
    {"UnknownCodeXY", sealedFrame("01", "XY0000"), "", 0},
    {"LowercaseCode", sealedFrame("01", "a20000"), "", 0},
    {"OnlyA3", addressedFrame("01", "A3", "00"), "", 0},
    {"NullParameterWithLength", sealedFrame("01", "10000000"), nullptr, 3},
    {"NegativeLength", sealedFrame("01", "10000000"), "", -1},
    {"InvalidFrame", addressedFrame("01", "10\t00000", "00"), "1", 1},
    {"NoCr", std::string(278, '0'), "1", 1},
    {"AddressedSevenCharacters",
     "\x01"
     "0110"
     "0\r",
     "", 0},
    {"UnaddressedTwoCharacters", "1\r", "", 0},
    {"TooLongForFrame", "10000\r", "12345", 5},
};

std::string rejectName(const ::testing::TestParamInfo<RejectCase> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, ParameterSetterRejects, ::testing::ValuesIn(rejectCases),
                         rejectName);

TEST(ParameterSetter, NullFrame)
{
    EXPECT_EQ(v640_set_command_parameter(nullptr, "", 0), 1);
    EXPECT_EQ(v640_set_response_parameter(nullptr, "", 0), 1);
}

TEST(ParameterSetter, ReadsNoMoreThanLengthAndWritesInsideTheFrameBuffer)
{
    GuardedBuffer frame(frameBufferSize);
    const GuardedBuffer parameter(std::string(270, 'Q'));
    ASSERT_EQ(v640_init_frame(frame.data(), V640_MAX_FRAME_SIZE, 0), 0);
    ASSERT_EQ(v640_set_code(frame.data(), 0x00), 0);
    EXPECT_EQ(v640_set_response_parameter(frame.data(), parameter.data(), 270), 0);
    EXPECT_EQ(frame.content(), addressedFrame("00", "00" + parameter.content(), "00") + '\0');
    EXPECT_TRUE(frame.frontUntouched());
}

} // namespace
