#include <string.h>

#include "v640.h"
#include "v640_internal.h"

int v640_frame_size(const char *frame)
{
    if (frame == nullptr) {
        return 0;
    }
    // Never look at character V640_MAX_FRAME_SIZE or beyond: the buffer may end there.
    for (int i = 0; i < V640_MAX_FRAME_SIZE; ++i) {
        const unsigned char character = static_cast<unsigned char>(frame[i]);
        // Printable ASCII, 0x20 to 0x7E, in one comparison: every reader walks the frame.
        if (static_cast<unsigned char>(character - 0x20) <= 0x7E - 0x20) {
            continue;
        }
        if (character == V640_CR) {
            return i + 1;
        }
        if (character != V640_SOH) {
            return 0;
        }
    }
    return 0;
}

int v640_is_addressed(const char *frame)
{
    return frame[0] == V640_SOH;
}

int v640_parsable_size(const char *frame)
{
    const int size = v640_frame_size(frame);
    if (size == 0) {
        return 0;
    }
    const int minimum =
        v640_is_addressed(frame) ? V640_MIN_ADDRESSED_SIZE : V640_MIN_UNADDRESSED_SIZE;
    return size >= minimum ? size : 0;
}

int v640_get_node(const char *frame)
{
    if (v640_parsable_size(frame) == 0) {
        return -1;
    }
    if (!v640_is_addressed(frame)) {
        return 0;
    }
    if (!text_is_dec(frame + 1, 2)) {
        return -1;
    }
    const int node = static_cast<int>(text_to_dec(frame + 1, 2));
    return node >= 1 && node <= 31 ? node : -1;
}

char *v640_get_message(const char *frame, int *length)
{
    const int size = v640_parsable_size(frame);
    if (size == 0) {
        return v640_no_text(length);
    }
    if (length != nullptr) {
        *length = v640_is_addressed(frame) ? size - 6 : size - 1;
    }
    return const_cast<char *>(v640_is_addressed(frame) ? frame + 3 : frame);
}

char *v640_get_printable(const char *frame, int *length)
{
    const int size = v640_frame_size(frame);
    if (size == 0) {
        return v640_no_text(length);
    }
    const int start = v640_is_addressed(frame) ? 1 : 0;
    if (length != nullptr) {
        *length = size - 1 - start;
    }
    return const_cast<char *>(frame + start);
}

int v640_get_fcs(const char *frame)
{
    const int size = v640_parsable_size(frame);
    if (size == 0 || !v640_is_addressed(frame) || !text_is_hex(frame + size - 3, 2)) {
        return -1;
    }
    return static_cast<int>(text_to_hex(frame + size - 3, 2));
}

int v640_calc_fcs(const char *frame)
{
    // Any valid unaddressed frame has the FCS 0, however short: a one-character message typed
    // at node 0 must still build.
    if (v640_frame_size(frame) != 0 && !v640_is_addressed(frame)) {
        return 0;
    }
    const int size = v640_parsable_size(frame);
    if (size == 0) {
        return -1;
    }
    unsigned char fcs = 0;
    for (int i = 1; i <= size - 4; ++i) {
        fcs ^= static_cast<unsigned char>(frame[i]);
    }
    return fcs;
}

int v640_init_frame(char *frame, int size, int no_node)
{
    const int minimum = no_node ? V640_MIN_UNADDRESSED_SIZE : V640_MIN_ADDRESSED_SIZE;
    if (size < minimum || size > V640_MAX_FRAME_SIZE) {
        return 1;
    }
    if (frame == nullptr) {
        return 0;
    }
    memset(frame, '0', static_cast<size_t>(size - 1));
    if (!no_node) {
        frame[0] = V640_SOH;
    }
    frame[size - 1] = V640_CR;
    frame[size] = '\0';
    return 0;
}

int v640_set_node(char *frame, unsigned int node)
{
    const bool in_range = node >= 1 && node <= 31;
    if (frame == nullptr) {
        return in_range ? 0 : 1;
    }
    if (!v640_is_addressed(frame)) {
        return 0; // no node field to write
    }
    if (!in_range) {
        return 1;
    }
    dec_to_text(node, frame + 1, 2);
    return 0;
}

void v640_end_frame(char *frame, char *end)
{
    if (v640_is_addressed(frame)) {
        *end++ = '0';
        *end++ = '0';
    }
    *end++ = V640_CR;
    *end = '\0';
}

int v640_set_message(char *frame, const char *message, int length)
{
    if (length < 1 || length > V640_MAX_MESSAGE_LENGTH) {
        return 1;
    }
    if (frame == nullptr || message == nullptr) {
        return 0;
    }
    // The destination follows the form before the copy, the ending the form after it: a
    // message that starts with SOH turns an unaddressed frame into an addressed one.
    char *destination = v640_is_addressed(frame) ? frame + 3 : frame;
    memmove(destination, message, static_cast<size_t>(length));
    v640_end_frame(frame, destination + length);
    return 0;
}

int v640_set_code(char *frame, unsigned int code)
{
    if (code > 0xFFFF) {
        return 1;
    }
    if (frame == nullptr) {
        return 0;
    }
    char *message = v640_is_addressed(frame) ? frame + 3 : frame;
    hex_to_text(code, message, code <= 0xFF ? 2 : 4);
    return 0;
}

int v640_set_fcs(char *frame, unsigned int fcs)
{
    if (fcs > 0xFF) {
        return 1;
    }
    const int size = v640_parsable_size(frame);
    if (size != 0 && v640_is_addressed(frame)) {
        hex_to_text(fcs, frame + size - 3, 2);
    }
    return 0;
}
