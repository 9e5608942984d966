// Conversions written in C against the C interface of viqr.h
// (c_api_calls.c), for the tests to compare with the C++ interface.
#pragma once

#include <stddef.h>

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

#ifdef __cplusplus
}
#endif
