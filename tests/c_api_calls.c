/* Conversions through the C interface of viqr.h, compiled as C99: the header
 * must serve a C program as it is, and these calls must give the bytes that
 * the C++ interface gives. */
#include "c_api_calls.h"

#include <string.h>

#include "viqr.h"

/* A context in `mode` with hold on or off; -1 when none is free. */
static int open_context(int mode, int hold) {
    const int handle = viqr_open(mode, VIQR_DEFAULT_COMPOSITION_CHAR, VIQR_DEFAULT_OVERSTRIKE_CHAR);
    if (handle >= 0) viqr_set(handle, hold, VIQR_PARAM_HOLD);
    return handle;
}

/* Flushes `handle` into `out`, records the state after the flush and closes
 * the context; returns the bytes written. */
static size_t flush_and_close(int handle, unsigned char *out, int *end_state) {
    int count = 0;
    viqr_flush(handle, out, &count);
    viqr_query(handle, end_state, VIQR_PARAM_STATE);
    viqr_close(handle, NULL, NULL);
    return (size_t)count;
}

size_t c_decode(int mode, int hold, const unsigned char *in, size_t length, unsigned char *out, int *end_state) {
    const int handle = open_context(mode, hold);
    size_t written = 0;
    int count = 0;
    size_t i;
    if (handle < 0) return (size_t)-1;
    for (i = 0; i < length; ++i) {
        viqr_feed(handle, in[i], out + written, &count);
        written += (size_t)count;
    }
    return written + flush_and_close(handle, out + written, end_state);
}

size_t c_decode_chunks(int mode, int hold, const unsigned char *in, size_t length, size_t chunk,
                       unsigned char *out, int *end_state) {
    const int handle = open_context(mode, hold);
    size_t written = 0;
    size_t at;
    if (handle < 0) return (size_t)-1;
    for (at = 0; at < length; at += chunk) {
        const size_t n = length - at < chunk ? length - at : chunk;
        written += viqr_feed_chunk(handle, in + at, n, out + written);
    }
    return written + flush_and_close(handle, out + written, end_state);
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

/* The reports of a conversion's one input, "in": how many, and the first. */
static void take_reports(viqr_utf8_scan *scan, c_utf8_result *result) {
    viqr_utf8_report report;
    while (viqr_utf8_take_report(scan, &report)) {
        if (result->reports == 0) {
            result->first_input = report.input;
            result->first_offset = report.offset;
        }
        ++result->reports;
    }
}

/* Each chunk's output goes to a buffer of exactly the room the header asks
 * for, which must therefore be a constant expression in C. */
static unsigned char from_utf8_piece[VIQR_FROM_UTF8_OUTPUT_SIZE(C_UTF8_MAX_CHUNK)];
static unsigned char to_utf8_piece[VIQR_TO_UTF8_OUTPUT_SIZE(C_UTF8_MAX_CHUNK)];

static size_t chunk_length(size_t length, size_t at, size_t chunk) {
    const size_t left = length - at;
    if (chunk > C_UTF8_MAX_CHUNK) chunk = C_UTF8_MAX_CHUNK;
    return left < chunk ? left : chunk;
}

/* The calls of one UTF-8 conversion, for the one chunk loop below; each
 * takes its own kind of state. */
typedef struct utf8_calls {
    size_t (*convert)(void *state, const unsigned char *in, size_t length, unsigned char *out);
    size_t (*finish)(void *state, unsigned char *out);
    unsigned char *piece; /* room for the output of C_UTF8_MAX_CHUNK bytes */
} utf8_calls;

static size_t from_utf8_call(void *state, const unsigned char *in, size_t length, unsigned char *out) {
    return viqr_from_utf8((viqr_from_utf8_state *)state, in, length, out);
}
static size_t from_utf8_finish_call(void *state, unsigned char *out) {
    return viqr_from_utf8_finish((viqr_from_utf8_state *)state, out);
}
static size_t to_utf8_call(void *state, const unsigned char *in, size_t length, unsigned char *out) {
    return viqr_to_utf8((viqr_to_utf8_state *)state, in, length, out);
}
static size_t to_utf8_finish_call(void *state, unsigned char *out) {
    return viqr_to_utf8_finish((viqr_to_utf8_state *)state, out);
}

/* Converts the one input "in" through `calls` on a started `state` whose
 * reports `scan` holds: in chunks of `chunk` bytes, each into its piece, or
 * with `chunk` 0 in one call straight into `out`; then the finish. */
static c_utf8_result convert_utf8(const utf8_calls *calls, void *state, viqr_utf8_scan *scan,
                                  const unsigned char *in, size_t length, size_t chunk, unsigned char *out) {
    c_utf8_result result = {0, 0, NULL, 0};
    size_t at, taken;
    viqr_utf8_begin_input(scan, "in");
    if (chunk == 0) {
        result.length = calls->convert(state, in, length, out);
    } else {
        for (at = 0; at < length; at += taken) {
            taken = chunk_length(length, at, chunk);
            const size_t n = calls->convert(state, in + at, taken, calls->piece);
            memcpy(out + result.length, calls->piece, n);
            result.length += n;
            take_reports(scan, &result);
        }
    }
    take_reports(scan, &result);
    result.length += calls->finish(state, out + result.length);
    take_reports(scan, &result);
    return result;
}

c_utf8_result c_from_utf8(const unsigned char *in, size_t length, size_t chunk, unsigned char composition_char,
                          int mode, unsigned char *out) {
    static const utf8_calls calls = {from_utf8_call, from_utf8_finish_call, from_utf8_piece};
    viqr_from_utf8_state state;
    viqr_from_utf8_start(&state, composition_char, mode);
    return convert_utf8(&calls, &state, &state.scan, in, length, chunk, out);
}

c_utf8_result c_to_utf8(const unsigned char *in, size_t length, size_t chunk, unsigned char composition_char,
                        int mode, unsigned char *out) {
    static const utf8_calls calls = {to_utf8_call, to_utf8_finish_call, to_utf8_piece};
    c_utf8_result result = {(size_t)-1, 0, NULL, 0};
    viqr_to_utf8_state state;
    const int context = viqr_open(mode, composition_char, VIQR_DEFAULT_OVERSTRIKE_CHAR);
    if (context < 0) return result;
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    viqr_to_utf8_start(&state, context);
    result = convert_utf8(&calls, &state, &state.scan, in, length, chunk, out);
    viqr_close(context, NULL, NULL);
    return result;
}

/* One step of c_two_texts_through_one_context: a text (or, for a null text,
 * nothing) and then the end of the text, into `out`. */
static size_t text_then_end(int context, viqr_to_utf8_state *state, int utf8, const char *text, unsigned char *out) {
    const unsigned char *in = (const unsigned char *)text;
    const size_t length = text != NULL ? strlen(text) : 0;
    size_t written = 0;
    int count = 0;
    if (utf8) {
        if (length > 0) written = viqr_to_utf8(state, in, length, out);
        return written + viqr_to_utf8_finish(state, out + written);
    }
    if (length > 0) written = viqr_feed_chunk(context, in, length, out);
    viqr_flush(context, out + written, &count);
    return written + (size_t)count;
}

int c_two_texts_through_one_context(int mode, int typed, int utf8, const char *first, const char *second,
                                    c_two_texts *result) {
    viqr_to_utf8_state state;
    int count = 0;
    const int context = open_context(mode, 1);
    if (context < 0) return 0;
    viqr_set(context, typed, VIQR_PARAM_TYPED);
    viqr_to_utf8_start(&state, context);
    result->first_length = text_then_end(context, &state, utf8, first, result->first);
    result->again_length = text_then_end(context, &state, utf8, NULL, result->again);
    result->second_length = text_then_end(context, &state, utf8, second, result->second);
    viqr_close(context, result->closed, &count);
    result->closed_length = (size_t)count;
    return 1;
}
