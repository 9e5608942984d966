// Conversions written in C against the C interface of viqr.h
// (c_api_calls.c), for the tests to compare with the C++ interface.
#pragma once

#include <stddef.h>

#include "viqr.h"

#ifdef __cplusplus
extern "C" {
#endif

// Opens a context in `mode` with hold on or off, feeds every byte through
// viqr_feed, flushes, records the state after the flush and closes it.
// Returns the bytes written at `out`, which has room for 2 * length + 2.
// Returns (size_t)-1 when no context could be opened.
size_t c_decode(int mode, int hold, const unsigned char *in, size_t length, unsigned char *out, int *end_state);

// The same through viqr_feed_chunk, in chunks of `chunk` bytes.
size_t c_decode_chunks(int mode, int hold, const unsigned char *in, size_t length, size_t chunk,
                       unsigned char *out, int *end_state);

// Encodes in two calls, the first `cut` bytes and the rest, carrying the
// history.  `out` has room for VIQR_ENCODER_OUTPUT_SIZE(length).
size_t c_encode(const unsigned char *in, size_t length, size_t cut, unsigned char *out,
                unsigned char composition_char, int mode);

// viqr_parse_options on the caller's vector; returns the count it leaves.
int c_parse_options(int argc, char **argv, unsigned char *composition_char, unsigned char *overstrike_char);

// What a UTF-8 conversion through the C functions wrote and reported.
typedef struct c_utf8_result {
    size_t length;  // bytes written at `out`; (size_t)-1 when no context was free
    int reports;    // reports taken
    const char *first_input;
    unsigned long long first_offset;
} c_utf8_result;

// The longest chunk the two functions below hand over at a time.
#define C_UTF8_MAX_CHUNK 64

// tonedown -u without the announcement: starts a viqr_from_utf8_state, names
// the one input "in", converts it in chunks of `chunk` bytes (0: in one call
// straight into `out`), finishes, and takes every report.  `out` has room for
// VIQR_FROM_UTF8_OUTPUT_SIZE(length) + VIQR_FROM_UTF8_OUTPUT_SIZE(0) bytes.
c_utf8_result c_from_utf8(const unsigned char *in, size_t length, size_t chunk, unsigned char composition_char,
                          int mode, unsigned char *out);

// toneup -u: opens a context in `mode`, hold on, and converts through it as
// c_from_utf8 does; closes it.  `out` has room for
// VIQR_TO_UTF8_OUTPUT_SIZE(length) + VIQR_TO_UTF8_OUTPUT_SIZE(0) bytes.
c_utf8_result c_to_utf8(const unsigned char *in, size_t length, size_t chunk, unsigned char composition_char,
                        int mode, unsigned char *out);

// What each call of a context's life wrote: two texts fed with
// viqr_feed_chunk, each followed by a flush, a second flush after the first
// text, and the close.  Through viqr_to_utf8 and viqr_to_utf8_finish instead
// when `utf8` is set.  Every piece has room for VIQR_TO_UTF8_OUTPUT_SIZE(8)
// bytes, and texts are shorter than 8.
typedef struct c_two_texts {
    unsigned char first[VIQR_TO_UTF8_OUTPUT_SIZE(8)], again[VIQR_TO_UTF8_OUTPUT_SIZE(8)],
        second[VIQR_TO_UTF8_OUTPUT_SIZE(8)], closed[VIQR_TO_UTF8_OUTPUT_SIZE(8)];
    size_t first_length, again_length, second_length, closed_length;
} c_two_texts;

// Returns 0 when no context could be opened.
int c_two_texts_through_one_context(int mode, int typed, int utf8, const char *first, const char *second,
                                    c_two_texts *result);

#ifdef __cplusplus
}
#endif
