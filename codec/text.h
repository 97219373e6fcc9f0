/*
 * Byte-string, character and number-to-text conversion.
 *
 * Decimal digits are "0" to "9"; hexadecimal digits are "0" to "9" and "A" to "F" only.
 * Lowercase letters are never read as hexadecimal digits and every hexadecimal text written
 * here is uppercase. No function allocates or keeps state; every output goes into a
 * caller-owned buffer of the stated size, and a rejected call writes nothing.
 */
#ifndef VORSEL_CODEC_TEXT_H
#define VORSEL_CODEC_TEXT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Byte strings. */
int text_size(const char *text);
int text_copy(const char *source, char *destination, int max_length);
int text_fill(char *text, int character, int count);
int text_clear(char *text, int count);
int text_comp(const char *text1, const char *text2, int count);
int population_count(uint32_t value);

/* Single characters. */
int char1_is_dec(char character);
int char1_is_hex(char character);
int char1_to_dec(char character);
int char1_to_hex(char character);
char dec_to_char1(uint32_t value);
char hex_to_char1(uint32_t value);

/* Counted texts and numbers. */
int text_is_dec(const char *text, int length);
int text_is_hex(const char *text, int length);
uint32_t text_to_dec(const char *text, int length);
uint32_t text_to_hex(const char *text, int length);
int dec_to_text(uint32_t value, char *text, int length);
int hex_to_text(uint32_t value, char *text, int length);

/* Byte arrays: taken as untyped memory so that char, signed char and unsigned char
 * buffers all serve without casts. */
int array_to_text(const void *array, int count, char *text);
int text_to_array(const char *text, int length, void *array);

#ifdef __cplusplus
}
#endif

#endif
