// Frame writers: start a frame, fill node, message, code and FCS.

#include "frame_text.h"
#include "guarded_buffer.h"
#include "v640.h"

#include <gtest/gtest.h>

#include <string>

namespace {

FrameBuffer startedFrame(bool addressed)
{
    FrameBuffer buffer;
    buffer.fill(bufferFiller);
    EXPECT_EQ(v640_init_frame(buffer.data(), V640_MAX_FRAME_SIZE, addressed ? 0 : 1), 0);
    return buffer;
}

// --- v640_init_frame ----------------------------------------------------------------------

struct InitCase
{
    int size;
    int noNode;
    int result;
};

class InitFrame : public ::testing::TestWithParam<InitCase>
{
};

TEST_P(InitFrame, StartsFrameOrWritesNothing)
{
    const InitCase &c = GetParam();
    FrameBuffer buffer = makeFrameBuffer("10\r");
    const FrameBuffer before = buffer;
    EXPECT_EQ(v640_init_frame(buffer.data(), c.size, c.noNode), c.result);
    if (c.result != 0) {
        EXPECT_EQ(asString(buffer), asString(before));
        return;
    }
    std::string expected(static_cast<std::size_t>(c.size - 1), '0');
    if (c.noNode == 0) {
        expected[0] = soh;
    }
    expected += "\r";
    expected += '\0';
    EXPECT_EQ(asString(buffer).substr(0, expected.size()), expected);
    EXPECT_EQ(v640_frame_size(buffer.data()), c.size);
}

TEST_P(InitFrame, NullFrameGetsOnlyTheRangeCheck)
{
    const InitCase &c = GetParam();
    EXPECT_EQ(v640_init_frame(nullptr, c.size, c.noNode), c.result);
}

INSTANTIATE_TEST_SUITE_P(Sizes, InitFrame,
                         ::testing::Values(InitCase{2, 1, 1}, InitCase{3, 1, 0},
                                           InitCase{278, 1, 0}, InitCase{279, 1, 1},
                                           InitCase{7, 0, 1}, InitCase{8, 0, 0},
                                           InitCase{278, 0, 0}, InitCase{279, 0, 1},
                                           InitCase{3, 0, 1}, InitCase{0, 1, 1}, InitCase{-8, 0, 1},
                                           InitCase{100, 7, 0}, InitCase{100, -1, 0}));

// --- v640_set_node ------------------------------------------------------------------------

struct NodeCase
{
    unsigned int node;
    const char *digits; // null: rejected
};

class SetNode : public ::testing::TestWithParam<NodeCase>
{
};

TEST_P(SetNode, AddressedFrameGetsTwoDecimalDigits)
{
    const NodeCase &c = GetParam();
    FrameBuffer buffer = makeFrameBuffer(addressedFrame("00", "1401", "05"));
    FrameBuffer expected = buffer;
    const int result = v640_set_node(buffer.data(), c.node);
    if (c.digits == nullptr) {
        EXPECT_EQ(result, 1);
        // Only the node field may have changed.
        buffer[1] = expected[1];
        buffer[2] = expected[2];
    } else {
        EXPECT_EQ(result, 0);
        expected[1] = c.digits[0];
        expected[2] = c.digits[1];
    }
    EXPECT_EQ(asString(buffer), asString(expected));
}

TEST_P(SetNode, UnaddressedFrameIsLeftAlone)
{
    FrameBuffer buffer = makeFrameBuffer("011401\r");
    const FrameBuffer before = buffer;
    EXPECT_EQ(v640_set_node(buffer.data(), GetParam().node), 0);
    EXPECT_EQ(asString(buffer), asString(before));
}

TEST_P(SetNode, NullFrameGetsOnlyTheRangeCheck)
{
    EXPECT_EQ(v640_set_node(nullptr, GetParam().node), GetParam().digits == nullptr ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Nodes, SetNode,
                         ::testing::Values(NodeCase{1, "01"}, NodeCase{9, "09"}, NodeCase{10, "10"},
                                           NodeCase{31, "31"}, NodeCase{0, nullptr},
                                           NodeCase{32, nullptr}, NodeCase{40, nullptr},
                                           NodeCase{0xFFFFFFFFu, nullptr}));

// --- v640_set_message ---------------------------------------------------------------------

TEST(SetMessage, BuildsTheNode1Message1401FrameFieldByField)
{
    FrameBuffer buffer = startedFrame(true);
    EXPECT_EQ(v640_set_message(buffer.data(), "1401", 4), 0);
    EXPECT_EQ(frameWithNul(buffer), std::string("\x01"
                                                "00"
                                                "1401"
                                                "00\r",
                                                11));
    EXPECT_EQ(v640_set_node(buffer.data(), 1), 0);
    const int fcs = v640_calc_fcs(buffer.data());
    EXPECT_EQ(fcs, 5);
    EXPECT_EQ(v640_set_fcs(buffer.data(), static_cast<unsigned int>(fcs)), 0);
    EXPECT_EQ(frameWithNul(buffer), std::string("\x01"
                                                "011401"
                                                "05\r",
                                                11));
}

TEST(SetMessage, UnaddressedFrameEndsWithCrAndNul)
{
    FrameBuffer buffer = startedFrame(false);
    EXPECT_EQ(v640_set_message(buffer.data(), "1401", 4), 0);
    EXPECT_EQ(frameWithNul(buffer), std::string("1401\r", 6));
}

TEST(SetMessage, SohMessageTurnsUnaddressedFrameIntoAddressedOne)
{
    FrameBuffer buffer = startedFrame(false);
    EXPECT_EQ(v640_set_message(buffer.data(),
                               "\x01"
                               "011401",
                               7),
              0);
    EXPECT_EQ(frameWithNul(buffer), std::string("\x01"
                                                "011401"
                                                "00\r",
                                                11));
    const int fcs = v640_calc_fcs(buffer.data());
    EXPECT_EQ(fcs, 5);
    EXPECT_EQ(v640_set_fcs(buffer.data(), static_cast<unsigned int>(fcs)), 0);
    EXPECT_EQ(frameWithNul(buffer), std::string("\x01"
                                                "011401"
                                                "05\r",
                                                11));
}

struct MessageLengthCase
{
    bool addressed;
    int length;
    int frameSize; // 0: rejected
};

class SetMessageLength : public ::testing::TestWithParam<MessageLengthCase>
{
};

TEST_P(SetMessageLength, AcceptsOneTo272Characters)
{
    const MessageLengthCase &c = GetParam();
    FrameBuffer buffer =
        makeFrameBuffer(c.addressed ? addressedFrame("01", "1401", "05") : "1401\r");
    const FrameBuffer before = buffer;
    const std::string message(273, 'M');
    if (c.frameSize == 0) {
        EXPECT_EQ(v640_set_message(buffer.data(), message.data(), c.length), 1);
        EXPECT_EQ(asString(buffer), asString(before));
        return;
    }
    EXPECT_EQ(v640_set_message(buffer.data(), message.data(), c.length), 0);
    EXPECT_EQ(v640_frame_size(buffer.data()), c.frameSize);
    const std::string body = message.substr(0, static_cast<std::size_t>(c.length));
    const std::string expected = c.addressed ? addressedFrame("01", body, "00") : body + "\r";
    EXPECT_EQ(frameWithNul(buffer), expected + '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, SetMessageLength,
    ::testing::Values(MessageLengthCase{true, 0, 0}, MessageLengthCase{true, -1, 0},
                      MessageLengthCase{true, 273, 0}, MessageLengthCase{false, 0, 0},
                      MessageLengthCase{false, 273, 0}, MessageLengthCase{true, 1, 7},
                      MessageLengthCase{true, 2, 8}, MessageLengthCase{true, 272, 278},
                      MessageLengthCase{false, 1, 2}, MessageLengthCase{false, 272, 273},
                      // Longer than the frame's present message: its earlier size does not
                      // matter.
                      MessageLengthCase{true, 200, 206}));

TEST(SetMessage, NullPointersWriteNothing)
{
    EXPECT_EQ(v640_set_message(nullptr, "1401", 4), 0);
    FrameBuffer buffer = makeFrameBuffer(addressedFrame("01", "1401", "05"));
    const FrameBuffer before = buffer;
    EXPECT_EQ(v640_set_message(buffer.data(), nullptr, 4), 0);
    EXPECT_EQ(asString(buffer), asString(before));
}

TEST(SetMessage, CopiesBytesUncheckedAndCrEndsTheFrame)
{
    FrameBuffer unaddressed = startedFrame(false);
    EXPECT_EQ(v640_set_message(unaddressed.data(), "10\r99", 5), 0);
    EXPECT_EQ(asString(unaddressed).substr(0, 7), std::string("10\r99\r", 7));
    EXPECT_EQ(v640_frame_size(unaddressed.data()), 3);

    FrameBuffer addressed = startedFrame(true);
    EXPECT_EQ(v640_set_message(addressed.data(), "10\r99", 5), 0);
    EXPECT_EQ(asString(addressed).substr(0, 12), std::string("\x01"
                                                             "00"
                                                             "10\r99"
                                                             "00\r",
                                                             12));
    EXPECT_EQ(v640_frame_size(addressed.data()), 6);

    FrameBuffer invalid = startedFrame(true);
    EXPECT_EQ(v640_set_message(invalid.data(), "1\n", 2), 0);
    EXPECT_EQ(v640_frame_size(invalid.data()), 0);
}

// --- v640_set_code ------------------------------------------------------------------------

struct CodeCase
{
    unsigned int code;
    const char *text;
};

class SetCode : public ::testing::TestWithParam<CodeCase>
{
};

TEST_P(SetCode, WritesUppercaseHexAtMessageStartWithoutMovingCr)
{
    const CodeCase &c = GetParam();
    const std::string text = c.text;
    for (bool addressed : {true, false}) {
        SCOPED_TRACE(addressed);
        const std::string message = "XYZWVU";
        FrameBuffer buffer =
            makeFrameBuffer(addressed ? addressedFrame("01", message, "00") : message + "\r");
        const std::string expectedMessage = text + message.substr(text.size());
        const FrameBuffer expected = makeFrameBuffer(
            addressed ? addressedFrame("01", expectedMessage, "00") : expectedMessage + "\r");
        EXPECT_EQ(v640_set_code(buffer.data(), c.code), 0);
        EXPECT_EQ(asString(buffer), asString(expected));
    }
    EXPECT_EQ(v640_set_code(nullptr, c.code), 0);
}

INSTANTIATE_TEST_SUITE_P(Codes, SetCode,
                         ::testing::Values(CodeCase{0x00, "00"}, CodeCase{0x10, "10"},
                                           CodeCase{0xA3, "A3"}, CodeCase{0xab, "AB"},
                                           CodeCase{0xFF, "FF"}, CodeCase{0x100, "0100"},
                                           CodeCase{0x1401, "1401"}, CodeCase{0xA300, "A300"},
                                           CodeCase{0xFFFF, "FFFF"}));

TEST(SetCode, RejectsCodesAbove0xFFFF)
{
    FrameBuffer buffer = startedFrame(true);
    EXPECT_EQ(v640_set_code(buffer.data(), 0x10000), 1);
    EXPECT_EQ(v640_set_code(buffer.data(), 0xFFFFFFFFu), 1);
    EXPECT_EQ(v640_set_code(nullptr, 0x10000), 1);
}

// --- v640_set_fcs -------------------------------------------------------------------------

struct FcsCase
{
    unsigned int fcs;
    const char *digits;
};

class SetFcs : public ::testing::TestWithParam<FcsCase>
{
};

TEST_P(SetFcs, WritesTwoUppercaseDigitsBeforeCr)
{
    FrameBuffer buffer = makeFrameBuffer(addressedFrame("01", "1401", "XX"));
    EXPECT_EQ(v640_set_fcs(buffer.data(), GetParam().fcs), 0);
    EXPECT_EQ(asString(buffer),
              asString(makeFrameBuffer(addressedFrame("01", "1401", GetParam().digits))));
}

INSTANTIATE_TEST_SUITE_P(Values, SetFcs,
                         ::testing::Values(FcsCase{0, "00"}, FcsCase{5, "05"}, FcsCase{10, "0A"},
                                           FcsCase{0xab, "AB"}, FcsCase{255, "FF"}));

struct FcsNoWriteCase
{
    const char *name;
    std::string frame;
    unsigned int fcs;
    int result;
};

class SetFcsNoWrite : public ::testing::TestWithParam<FcsNoWriteCase>
{
};

TEST_P(SetFcsNoWrite, LeavesFrameUnchanged)
{
    const FcsNoWriteCase &c = GetParam();
    FrameBuffer buffer = makeFrameBuffer(c.frame);
    const FrameBuffer before = buffer;
    EXPECT_EQ(v640_set_fcs(buffer.data(), c.fcs), c.result);
    EXPECT_EQ(asString(buffer), asString(before));
}

const FcsNoWriteCase fcsNoWriteCases[] = {
    {"Above255", addressedFrame("01", "1401", "00"), 256, 1},
    {"MinusOne", addressedFrame("01", "1401", "00"), 0xFFFFFFFFu, 1},
    {"Unaddressed", "1401\r", 5, 0},
    {"AddressedSevenCharacters",
     "\x01"
     "0110"
     "0\r",
     5, 0},
    {"InvalidCharacter", addressedFrame("01", "14\n01", "00"), 5, 0},
    {"NoCr", "\x01" + std::string(278, '0'), 5, 0},
};

std::string fcsNoWriteName(const ::testing::TestParamInfo<FcsNoWriteCase> &info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, SetFcsNoWrite, ::testing::ValuesIn(fcsNoWriteCases),
                         fcsNoWriteName);

TEST(SetFcs, NullFrameGetsOnlyTheRangeCheck)
{
    EXPECT_EQ(v640_set_fcs(nullptr, 5), 0);
    EXPECT_EQ(v640_set_fcs(nullptr, 256), 1);
}

// --- Bounds -------------------------------------------------------------------------------

// A 279-byte frame buffer that ends right before an inaccessible page, written by every writer
// at its largest: nothing may land past the buffer or in front of it.
TEST(WriterBounds, FullFrameBufferEndingAtInaccessiblePage)
{
    for (bool addressed : {true, false}) {
        SCOPED_TRACE(addressed);
        GuardedBuffer frame(frameBufferSize);
        const GuardedBuffer message(std::string("10") + std::string(270, 'P'));
        EXPECT_EQ(v640_init_frame(frame.data(), V640_MAX_FRAME_SIZE, addressed ? 0 : 1), 0);
        EXPECT_EQ(v640_set_node(frame.data(), 7), 0);
        EXPECT_EQ(v640_set_message(frame.data(), message.data(), 272), 0);
        EXPECT_EQ(v640_set_code(frame.data(), 0xA2), 0);
        const int fcs = v640_calc_fcs(frame.data());
        EXPECT_EQ(v640_set_fcs(frame.data(), static_cast<unsigned int>(fcs)), 0);
        const std::string body = "A2" + std::string(270, 'P');
        const std::string expected = addressed ? sealedFrame("07", body) : body + "\r";
        EXPECT_EQ(frame.content().substr(0, expected.size() + 1), expected + '\0');
        EXPECT_EQ(v640_frame_size(frame.data()), addressed ? 278 : 273);
        EXPECT_TRUE(frame.frontUntouched());
    }
}

} // namespace
