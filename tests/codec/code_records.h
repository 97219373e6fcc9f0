#ifndef VORSEL_TESTS_CODEC_CODE_RECORDS_H
#define VORSEL_TESTS_CODEC_CODE_RECORDS_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// The records that the two code tables must hold, in table order, as the protocol defines them.

struct CodeRecord
{
    const char *text;
    uint32_t code;
    int minLength;
    int maxLength;
};

inline const std::vector<CodeRecord> &commandRecords()
{
    static const std::vector<CodeRecord> records = {
        {"0100", 0x0100, 8, 8},   {"0200", 0x0200, 24, 264}, {"0300", 0x0300, 24, 24},
        {"0400", 0x0400, 4, 258}, {"10", 0x0010, 0, 270},    {"12", 0x0012, 0, 0},
        {"13", 0x0013, 0, 0},     {"1401", 0x1401, 0, 0},    {"1402", 0x1402, 0, 0},
        {"1403", 0x1403, 0, 0},   {"1410", 0x1410, 0, 0},    {"1411", 0x1411, 0, 0},
        {"1412", 0x1412, 0, 0},   {"1413", 0x1413, 0, 0},    {"1414", 0x1414, 0, 0},
        {"1420", 0x1420, 0, 0},   {"1421", 0x1421, 0, 0},    {"15", 0x0015, 0, 0},
        {"16", 0x0016, 0, 0},     {"17", 0x0017, 0, 0},      {"40", 0x0040, 0, 0},
        {"7F", 0x007F, 0, 0},     {"A0", 0x00A0, 0, 0},      {"A1", 0x00A1, 1, 16},
        {"A2", 0x00A2, 0, 16},    {"A300", 0xA300, 12, 12},  {"A301", 0xA301, 12, 12},
    };
    return records;
}

inline const std::vector<CodeRecord> &responseRecords()
{
    static const std::vector<CodeRecord> records = {
        {"00", 0x0000, 0, 270}, {"14", 0x0014, 0, 0}, {"70", 0x0070, 0, 0},
        {"71", 0x0071, 0, 0},   {"72", 0x0072, 0, 0}, {"7B", 0x007B, 0, 0},
        {"7E", 0x007E, 0, 0},   {"7F", 0x007F, 0, 0}, {"9A", 0x009A, 0, 0},
    };
    return records;
}

enum class Table { Command, Response };

struct TableRecord
{
    Table table;
    CodeRecord record;
};

inline std::vector<TableRecord> allTableRecords()
{
    std::vector<TableRecord> all;
    for (const CodeRecord &record : commandRecords()) {
        all.push_back({Table::Command, record});
    }
    for (const CodeRecord &record : responseRecords()) {
        all.push_back({Table::Response, record});
    }
    return all;
}

inline std::string tableRecordName(const ::testing::TestParamInfo<TableRecord> &info)
{
    return std::string(info.param.table == Table::Command ? "Command" : "Response") + "_" +
           info.param.record.text;
}

// Printable parameter characters of the given count, varied so that a misplaced character
// shows in the FCS as well.
inline std::string parameterText(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += static_cast<char>('!' + (i * 7) % 94);
    }
    return text;
}

#endif
