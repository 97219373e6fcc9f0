#include "text.h"

#include <limits.h>

int text_size(const char *text)
{
    if (text == nullptr) {
        return 0;
    }
    int size = 0;
    while (text[size] != '\0') {
        ++size;
    }
    return size;
}

int text_copy(const char *source, char *destination, int max_length)
{
    if (source == nullptr || destination == nullptr || max_length < 0) {
        return 0;
    }
    int copied = 0;
    while (copied < max_length && source[copied] != '\0') {
        destination[copied] = source[copied];
        ++copied;
    }
    destination[copied] = '\0';
    return copied;
}

int text_fill(char *text, int character, int count)
{
    if (count < 0) {
        return 0;
    }
    if (text != nullptr) {
        for (int i = 0; i < count; ++i) {
            text[i] = static_cast<char>(character & 0xFF);
        }
    }
    return count;
}

int text_clear(char *text, int count)
{
    return text_fill(text, 0, count);
}

int text_comp(const char *text1, const char *text2, int count)
{
    if (count < 0) {
        return 1;
    }
    if (text1 == nullptr || text2 == nullptr) {
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        if (text1[i] != text2[i]) {
            return 1;
        }
    }
    return 0;
}

int population_count(uint32_t value)
{
    int count = 0;
    for (; value != 0; value &= value - 1) {
        ++count;
    }
    return count;
}

int char1_is_dec(char character)
{
    return character >= '0' && character <= '9';
}

int char1_is_hex(char character)
{
    return char1_is_dec(character) || (character >= 'A' && character <= 'F');
}

int char1_to_dec(char character)
{
    return char1_is_dec(character) ? character - '0' : 0;
}

int char1_to_hex(char character)
{
    if (char1_is_dec(character)) {
        return character - '0';
    }
    if (character >= 'A' && character <= 'F') {
        return character - 'A' + 10;
    }
    return 0;
}

char dec_to_char1(uint32_t value)
{
    return value <= 9 ? static_cast<char>('0' + value) : '\0';
}

char hex_to_char1(uint32_t value)
{
    if (value <= 9) {
        return static_cast<char>('0' + value);
    }
    return value <= 15 ? static_cast<char>('A' + (value - 10)) : '\0';
}

int text_is_dec(const char *text, int length)
{
    if (text == nullptr || length < 1) {
        return 0;
    }
    for (int i = 0; i < length; ++i) {
        if (!char1_is_dec(text[i])) {
            return 0;
        }
    }
    return 1;
}

int text_is_hex(const char *text, int length)
{
    if (text == nullptr || length < 1) {
        return 0;
    }
    for (int i = 0; i < length; ++i) {
        if (!char1_is_hex(text[i])) {
            return 0;
        }
    }
    return 1;
}

uint32_t text_to_dec(const char *text, int length)
{
    if (text == nullptr || length < 1 || length > 10) {
        return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < length; ++i) {
        value = value * 10u + static_cast<uint32_t>(char1_to_dec(text[i]));
    }
    return value;
}

uint32_t text_to_hex(const char *text, int length)
{
    if (text == nullptr || length < 1 || length > 8) {
        return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < length; ++i) {
        value = (value << 4) + static_cast<uint32_t>(char1_to_hex(text[i]));
    }
    return value;
}

int dec_to_text(uint32_t value, char *text, int length)
{
    if (text == nullptr || length < 1) {
        return 0;
    }
    for (int i = length - 1; i >= 0; --i) {
        text[i] = dec_to_char1(value % 10u);
        value /= 10u;
    }
    return length;
}

int hex_to_text(uint32_t value, char *text, int length)
{
    if (text == nullptr || length < 1) {
        return 0;
    }
    for (int i = length - 1; i >= 0; --i) {
        text[i] = hex_to_char1(value & 0xFu);
        value >>= 4;
    }
    return length;
}

// A count whose text length is no int is out of range, like a count below 1.
int array_to_text(const void *array, int count, char *text)
{
    if (count < 1 || count > INT_MAX / 2) {
        return 0;
    }
    if (array == nullptr || text == nullptr) {
        return 2 * count;
    }
    const unsigned char *bytes = static_cast<const unsigned char *>(array);
    for (int i = 0; i < count; ++i) {
        text[2 * i] = hex_to_char1(bytes[i] >> 4);
        text[2 * i + 1] = hex_to_char1(bytes[i] & 0xFu);
    }
    return 2 * count;
}

int text_to_array(const char *text, int length, void *array)
{
    if (length < 2 || length % 2 != 0) {
        return 0;
    }
    if (text == nullptr || array == nullptr) {
        return length / 2;
    }
    unsigned char *bytes = static_cast<unsigned char *>(array);
    for (int i = 0; i < length / 2; ++i) {
        bytes[i] = static_cast<unsigned char>(16 * char1_to_hex(text[2 * i]) +
                                              char1_to_hex(text[2 * i + 1]));
    }
    return length / 2;
}
