/* Conversions through the C interface of viqr.h, compiled as C99: the header
 * must serve a C program as it is, and these calls must give the bytes that
 * the C++ interface gives. */
#include "c_api_calls.h"

#include "viqr.h"

size_t c_decode(int mode, int hold, const unsigned char *in, size_t length, unsigned char *out, int *end_state) {
    const int handle = viqr_open(mode, VIQR_DEFAULT_COMPOSITION_CHAR, VIQR_DEFAULT_OVERSTRIKE_CHAR);
    size_t written = 0;
    int count = 0;
    size_t i;
    if (handle < 0) return (size_t)-1;
    viqr_set(handle, hold, VIQR_PARAM_HOLD);
    for (i = 0; i < length; ++i) {
        viqr_feed(handle, in[i], out + written, &count);
        written += (size_t)count;
    }
    viqr_flush(handle, out + written, &count);
    written += (size_t)count;
    viqr_query(handle, end_state, VIQR_PARAM_STATE);
    viqr_close(handle, NULL, NULL);
    return written;
}

size_t c_decode_chunks(int mode, int hold, const unsigned char *in, size_t length, size_t chunk,
                       unsigned char *out, int *end_state) {
    const int handle = viqr_open(mode, VIQR_DEFAULT_COMPOSITION_CHAR, VIQR_DEFAULT_OVERSTRIKE_CHAR);
    size_t written = 0;
    int count = 0;
    size_t at;
    if (handle < 0) return (size_t)-1;
    viqr_set(handle, hold, VIQR_PARAM_HOLD);
    for (at = 0; at < length; at += chunk) {
        const size_t n = length - at < chunk ? length - at : chunk;
        written += viqr_feed_chunk(handle, in + at, n, out + written);
    }
    viqr_flush(handle, out + written, &count);
    written += (size_t)count;
    viqr_query(handle, end_state, VIQR_PARAM_STATE);
    viqr_close(handle, NULL, NULL);
    return written;
}

size_t c_encode(const unsigned char *in, size_t length, size_t cut, unsigned char *out,
                unsigned char composition_char, int mode) {
    viqr_encoder_history history = {0};
    size_t written;
    if (cut > length) cut = length;
    written = viqr_viscii_to_viqr(in, cut, out, composition_char, mode, &history);
    written += viqr_viscii_to_viqr(in + cut, length - cut, out + written, composition_char, mode, &history);
    return written;
}

int c_parse_options(int argc, char **argv, unsigned char *composition_char, unsigned char *overstrike_char) {
    viqr_parse_options(&argc, argv, composition_char, overstrike_char);
    return argc;
}
