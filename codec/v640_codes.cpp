#include <string.h>

#include "v640.h"
#include "v640_internal.h"

// One record per line: text length, text, code, fewest and most parameter characters.
// clang-format off
const v640_code_entry v640_command_list[28] = {
    {4, "0100", 0x0100, 8, 8},
    {4, "0200", 0x0200, 24, 264},
    {4, "0300", 0x0300, 24, 24},
    {4, "0400", 0x0400, 4, 258},
    {2, "10", 0x0010, 0, 270},
    {2, "12", 0x0012, 0, 0},
    {2, "13", 0x0013, 0, 0},
    {4, "1401", 0x1401, 0, 0},
    {4, "1402", 0x1402, 0, 0},
    {4, "1403", 0x1403, 0, 0},
    {4, "1410", 0x1410, 0, 0},
    {4, "1411", 0x1411, 0, 0},
    {4, "1412", 0x1412, 0, 0},
    {4, "1413", 0x1413, 0, 0},
    {4, "1414", 0x1414, 0, 0},
    {4, "1420", 0x1420, 0, 0},
    {4, "1421", 0x1421, 0, 0},
    {2, "15", 0x0015, 0, 0},
    {2, "16", 0x0016, 0, 0},
    {2, "17", 0x0017, 0, 0},
    {2, "40", 0x0040, 0, 0},
    {2, "7F", 0x007F, 0, 0},
    {2, "A0", 0x00A0, 0, 0},
    {2, "A1", 0x00A1, 1, 16},
    {2, "A2", 0x00A2, 0, 16},
    {4, "A300", 0xA300, 12, 12},
    {4, "A301", 0xA301, 12, 12},
    {0, "", 0, 0, 0},
};

const v640_code_entry v640_response_list[10] = {
    {2, "00", 0x0000, 0, 270},
    {2, "14", 0x0014, 0, 0},
    {2, "70", 0x0070, 0, 0},
    {2, "71", 0x0071, 0, 0},
    {2, "72", 0x0072, 0, 0},
    {2, "7B", 0x007B, 0, 0},
    {2, "7E", 0x007E, 0, 0},
    {2, "7F", 0x007F, 0, 0},
    {2, "9A", 0x009A, 0, 0},
    {0, "", 0, 0, 0},
};
// clang-format on

namespace {

enum class Match {
    // The code's text starts the message; what follows is replaced by the setters.
    Prefix,
    // As Prefix, but a code that takes no parameters must be the whole message: "1401" is not
    // response "14" followed by "01".
    Parameters,
};

// The first record of the table that matches the frame's message, or null.
const v640_code_entry *find_code(const v640_code_entry *table, const char *frame, Match match,
                                 char **message, int *message_length)
{
    *message = v640_get_message(frame, message_length);
    if (*message == nullptr) {
        return nullptr;
    }
    for (const v640_code_entry *entry = table; entry->text_length != 0; ++entry) {
        if (*message_length >= entry->text_length && (*message)[0] == entry->text[0] &&
            memcmp(*message, entry->text, static_cast<size_t>(entry->text_length)) == 0 &&
            (match == Match::Prefix || entry->max_parameter_length > 0 ||
             *message_length == entry->text_length)) {
            return entry;
        }
    }
    return nullptr;
}

int get_code(const v640_code_entry *table, const char *frame)
{
    char *message;
    int message_length;
    const v640_code_entry *entry =
        find_code(table, frame, Match::Parameters, &message, &message_length);
    return entry != nullptr ? static_cast<int>(entry->code) : -1;
}

char *get_parameter(const v640_code_entry *table, const char *frame, int *length)
{
    char *message;
    int message_length;
    const v640_code_entry *entry =
        find_code(table, frame, Match::Parameters, &message, &message_length);
    if (entry == nullptr) {
        return v640_no_text(length);
    }
    if (length != nullptr) {
        *length = message_length - entry->text_length;
    }
    return message + entry->text_length;
}

int set_parameter(const v640_code_entry *table, char *frame, const char *parameter, int length)
{
    if (frame == nullptr || (parameter == nullptr && length != 0)) {
        return 1;
    }
    char *message;
    int message_length;
    const v640_code_entry *entry =
        find_code(table, frame, Match::Prefix, &message, &message_length);
    if (entry == nullptr || length < entry->min_parameter_length ||
        length > entry->max_parameter_length || length > message_length - entry->text_length) {
        return 1;
    }
    char *destination = message + entry->text_length;
    if (length > 0) {
        memmove(destination, parameter, static_cast<size_t>(length));
    }
    v640_end_frame(frame, destination + length);
    return 0;
}

} // namespace

int v640_find_code_prefix(const v640_code_entry *table, const char *frame)
{
    char *message;
    int message_length;
    const v640_code_entry *entry =
        find_code(table, frame, Match::Prefix, &message, &message_length);
    return entry != nullptr ? static_cast<int>(entry->code) : -1;
}

int v640_get_command_code(const char *frame)
{
    return get_code(v640_command_list, frame);
}

int v640_get_response_code(const char *frame)
{
    return get_code(v640_response_list, frame);
}

char *v640_get_command_parameter(const char *frame, int *length)
{
    return get_parameter(v640_command_list, frame, length);
}

char *v640_get_response_parameter(const char *frame, int *length)
{
    return get_parameter(v640_response_list, frame, length);
}

int v640_set_command_parameter(char *frame, const char *parameter, int length)
{
    return set_parameter(v640_command_list, frame, parameter, length);
}

int v640_set_response_parameter(char *frame, const char *parameter, int length)
{
    return set_parameter(v640_response_list, frame, parameter, length);
}
