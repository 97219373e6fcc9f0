// Frame writers. Each call works on a guarded 279-byte frame buffer: a write past its end fails
// the case, and every byte that the expected result does not name must be left as it was.

#include "codec_test.h"

namespace {

// What v640_init_frame with size 278 leaves, addressed and not, and frames to overwrite.
const std::string started = buffer(soh + std::string(276, '0') + "\r");
const std::string zeros = buffer(std::string(277, '0') + "\r");
const std::string tiny = buffer("10\r");
const std::string node0 = buffer(sealed("00", "1401"));
const std::string node1 = buffer(sealed("01", "1401"));
const std::string letters = buffer(soh + "01XYZWVU00\r");

// Stores the FCS of the frame's content, as callers do last.
int seal(char *frame)
{
    return v640_set_fcs(frame, v640_calc_fcs(frame));
}

const WriteCase writeCases[] = {
    {"InitUnaddressed3", tiny, [](char *f) { return v640_init_frame(f, 3, 1); }, 0, "00\r\0"s},
    {"InitAddressed8", tiny, [](char *f) { return v640_init_frame(f, 8, 0); }, 0,
     soh + "000000\r\0"s},
    {"InitAddressed278", tiny, [](char *f) { return v640_init_frame(f, 278, 0); }, 0, started},
    {"InitUnaddressed2", tiny, [](char *f) { return v640_init_frame(f, 2, 1); }, 1, ""},
    {"InitAddressed7", tiny, [](char *f) { return v640_init_frame(f, 7, 0); }, 1, ""},
    {"InitUnaddressed279", tiny, [](char *f) { return v640_init_frame(f, 279, 1); }, 1, ""},
    {"InitNullFrame", "", [](char *) { return v640_init_frame(nullptr, 8, 0); }, 0, ""},
    {"InitNullFrameSize7", "", [](char *) { return v640_init_frame(nullptr, 7, 0); }, 1, ""},
    {"Node1", node0, [](char *f) { return v640_set_node(f, 1); }, 0, soh + "01"},
    {"Node31", node0, [](char *f) { return v640_set_node(f, 31); }, 0, soh + "31"},
    // A rejected node number may leave the node field unreliable, but nothing else.
    {"Node32", node0, [](char *f) -> int { return v640_set_node(f, 32) && (f[1] = f[2] = '0'); }, 1,
     ""},
    {"NodeUnaddressed", buffer("011401\r"), [](char *f) { return v640_set_node(f, 40); }, 0, ""},
    {"NodeNullFrame", "", [](char *) { return v640_set_node(nullptr, 0); }, 1, ""},
    {"Message1401", started, [](char *f) { return v640_set_message(f, "1401", 4); }, 0,
     soh + "00140100\r\0"s},
    {"Message1401Sealed", started,
     [](char *f) -> int {
         return v640_set_message(f, "1401", 4) || v640_set_node(f, 1) || seal(f);
     },
     0, sealed("01", "1401") + '\0'},
    {"MessageUnaddressed", zeros, [](char *f) { return v640_set_message(f, "1401", 4); }, 0,
     "1401\r\0"s},
    {"MessageSohMakesAddressed", zeros,
     [](char *f) -> int { return v640_set_message(f, (soh + "011401").c_str(), 7) || seal(f); }, 0,
     sealed("01", "1401") + '\0'},
    {"MessageLongest", node1,
     [](char *f) { return v640_set_message(f, guarded(std::string(272, 'M')), 272); }, 0,
     soh + "01" + std::string(272, 'M') + "00\r\0"s},
    {"MessageOne", node1, [](char *f) { return v640_set_message(f, guarded("M"), 1); }, 0,
     soh + "01M00\r\0"s},
    {"Message0", node1, [](char *f) { return v640_set_message(f, "1401", 0); }, 1, ""},
    {"Message273", node1,
     [](char *f) { return v640_set_message(f, guarded(std::string(273, 'M')), 273); }, 1, ""},
    {"MessageNull", node1, [](char *f) { return v640_set_message(f, nullptr, 4); }, 0, ""},
    {"MessageNullFrame", "", [](char *) { return v640_set_message(nullptr, "1401", 4); }, 0, ""},
    {"CodeFF", letters, [](char *f) { return v640_set_code(f, 0xFF); }, 0, soh + "01FF"},
    {"Code100", letters, [](char *f) { return v640_set_code(f, 0x100); }, 0, soh + "010100"},
    {"CodeUppercase", letters, [](char *f) { return v640_set_code(f, 0xabcd); }, 0, soh + "01ABCD"},
    {"CodeUnaddressed", buffer("XYZWVU\r"), [](char *f) { return v640_set_code(f, 0xA300); }, 0,
     "A300"},
    {"CodeNullFrame", "", [](char *) { return v640_set_code(nullptr, 0xFFFF); }, 0, ""},
    {"CodeNullFrame10000", "", [](char *) { return v640_set_code(nullptr, 0x10000); }, 1, ""},
    {"Fcs", node1, [](char *f) { return v640_set_fcs(f, 10); }, 0, soh + "0114010A\r"},
    {"Fcs256", node1, [](char *f) { return v640_set_fcs(f, 256); }, 1, ""},
    {"FcsMinusOne", node1, [](char *f) { return v640_set_fcs(f, 0xFFFFFFFF); }, 1, ""},
    {"FcsUnaddressed", buffer("1401\r"), [](char *f) { return v640_set_fcs(f, 5); }, 0, ""},
    {"FcsAddressedSeven", buffer(soh + "01100\r"), [](char *f) { return v640_set_fcs(f, 5); }, 0,
     ""},
    {"FcsInvalid", buffer(soh + "0114\n0100\r"), [](char *f) { return v640_set_fcs(f, 5); }, 0, ""},
    {"FcsNullFrame", "", [](char *) { return v640_set_fcs(nullptr, 5); }, 0, ""},
};

TEST_P(WriteTest, ResultAndFrameBuffer)
{
    expectWrite(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Writers, WriteTest, ::testing::ValuesIn(writeCases), caseName<WriteCase>);

} // namespace
