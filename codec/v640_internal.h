// Pieces shared by the codec's source files; not part of the public interface.
#ifndef VORSEL_CODEC_V640_INTERNAL_H
#define VORSEL_CODEC_V640_INTERNAL_H

enum {
    V640_SOH = 0x01,
    V640_CR = 0x0D,
    V640_MIN_ADDRESSED_SIZE = 8,
    V640_MIN_UNADDRESSED_SIZE = 3,
    V640_MAX_MESSAGE_LENGTH = 272,
};

int v640_is_addressed(const char *frame);

// Size of a valid frame that is long enough to take apart, else 0.
int v640_parsable_size(const char *frame);

// Code of the first record of the table whose text starts the frame's message, or -1. Unlike the
// public getters it also matches a code without parameters that more characters follow, as the
// parameter setters do.
int v640_find_code_prefix(const struct v640_code_entry *table, const char *frame);

// Writes the place-holder FCS (addressed frames), CR and NUL at end.
void v640_end_frame(char *frame, char *end);

inline char *v640_no_text(int *length)
{
    if (length != nullptr) {
        *length = 0;
    }
    return nullptr;
}

#endif
