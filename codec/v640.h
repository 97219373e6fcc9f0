/*
 * V640 frame codec.
 *
 * A frame is a run of characters ended by the first CR. Addressed frames (character 0 is SOH)
 * carry SOH, two node digits, the message, a two-digit FCS and CR; unaddressed frames carry
 * only the message and CR. A message is a code (2 or 4 uppercase hex digits) followed by its
 * parameter characters. Frames are held in caller buffers of V640_MAX_FRAME_SIZE + 1 bytes;
 * every writer leaves a NUL behind the CR.
 *
 * Results: writers return 0 for success and 1 for a rejected argument; value readers return -1
 * when there is no valid value; pointer readers return null and set the length to 0. Like
 * strchr, pointer readers return a plain char pointer into the caller's frame, so callers that
 * hold a writable frame can use it without a cast.
 *
 * Code lookup: the four getters (v640_get_command_code, v640_get_response_code,
 * v640_get_command_parameter, v640_get_response_parameter) read a code that takes no parameters
 * (max_parameter_length 0) only as the whole message, so that "1401" is the command 1401 and
 * never the error end 14 followed by "01". A message that begins with such a code and goes on
 * matches no code: these getters then give -1, or null and length 0, where a lookup of the first
 * record whose text starts the message would give that record. Only they differ from that lookup:
 *   v640_get_command_code on "1234": -1, not 0x0012 (code 12 followed by "34"). The response code
 *     of "1234" is -1 either way: no response code is 12.
 *   v640_get_response_code on "72XX": -1, not 0x0072; v640_get_response_parameter: null and
 *     length 0, not "XX" of length 2.
 *   v640_get_command_parameter on "1401AB": null and length 0, not "AB" of length 2;
 *     v640_get_command_code: -1, not 0x1401.
 * The parameter setters, and the builders through them, take the code that starts the message,
 * whatever follows it, and replace what follows.
 */
#ifndef VORSEL_CODEC_V640_H
#define VORSEL_CODEC_V640_H

#include <stdint.h>

#include "text.h"

#define V640_MAX_FRAME_SIZE 278

#ifdef __cplusplus
extern "C" {
#endif

/* Frame layout and frame check sequence. */
int v640_frame_size(const char *frame);
int v640_get_node(const char *frame);
char *v640_get_message(const char *frame, int *length);
char *v640_get_printable(const char *frame, int *length);
int v640_get_fcs(const char *frame);
int v640_calc_fcs(const char *frame);

int v640_init_frame(char *frame, int size, int no_node);
int v640_set_node(char *frame, unsigned int node);
int v640_set_message(char *frame, const char *message, int length);
int v640_set_code(char *frame, unsigned int code);
int v640_set_fcs(char *frame, unsigned int fcs);

/* Command and response codes. */
typedef struct v640_code_entry
{
    int32_t text_length; /* 2 or 4; 0 only in the end record */
    char text[8];        /* uppercase hex, NUL-padded */
    uint32_t code;
    int32_t min_parameter_length;
    int32_t max_parameter_length;
} v640_code_entry;

/* Both tables end with an all-zero record. */
extern const v640_code_entry v640_command_list[28];
extern const v640_code_entry v640_response_list[10];

int v640_get_command_code(const char *frame);
int v640_get_response_code(const char *frame);
char *v640_get_command_parameter(const char *frame, int *length);
char *v640_get_response_parameter(const char *frame, int *length);
int v640_set_command_parameter(char *frame, const char *parameter, int length);
int v640_set_response_parameter(char *frame, const char *parameter, int length);

/* Whole-frame builders. Both return a pointer into one static buffer that they share: the
 * result stays valid until the next call of either builder. Not reentrant. */
char *v640_build_command_frame(unsigned int node, unsigned int code, const char *parameter);
char *v640_build_response_frame(unsigned int node, unsigned int code, const char *parameter);

#ifdef __cplusplus
}
#endif

#endif
