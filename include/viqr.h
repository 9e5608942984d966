/* The viqr library: conversions between VISCII 1.1 and VIQR 1.1 text.
 *
 * This is the library's one public header, for C (C99 or later) and C++.
 * It declares
 *  - the modes of VIQR text and the states of a decoder context;
 *  - the option pre-parser, which takes -com and -bs out of a command line;
 *  - the decoder engine, which turns VIQR into VISCII through up to three
 *    independent contexts;
 *  - the encoder, which turns VISCII into VIQR chunk by chunk.
 *
 * The first part is the C interface: plain functions whose results come back
 * through pointers, every name starting with viqr_ or VIQR_.  They are the
 * only symbols the shared library exports, so any foreign-function interface
 * can call them.  The second part, seen only by C++, is the C++ interface:
 * the same operations taking references, the un-prefixed constants and
 * viscii_to_viqr, all inline over the C functions.
 *
 * The contexts of the decoder engine are process-wide and unguarded: a
 * program whose threads share them needs its own lock.  The manual page
 * viqr(3) describes every function. */
#ifndef VIQR_H
#define VIQR_H

#include <stddef.h>

#if defined(__GNUC__)
#define VIQR_API __attribute__((visibility("default")))
#else
#define VIQR_API
#endif

/* Modes of VIQR text; also the states 0..2 of a decoder context. */
#define VIQR_MODE_VIETNAMESE 0
#define VIQR_MODE_ENGLISH 1
#define VIQR_MODE_LITERAL 2

/* States a decoder context reaches only inside viqr_feed. */
#define VIQR_STATE_ESCAPE 3         /* composition character read in Vietnamese or English mode */
#define VIQR_STATE_LITERAL_ESCAPE 4 /* composition character read in Literal mode */
#define VIQR_STATE_HOLDING 5        /* a letter that may still take marks is held back */

/* Selectors of viqr_query and viqr_set, tested in this order. */
#define VIQR_PARAM_STATE 1
#define VIQR_PARAM_COMPOSE_CHAR 2
#define VIQR_PARAM_OVERSTRIKE_CHAR 4
#define VIQR_PARAM_HOLD 8

#define VIQR_MAX_CONTEXTS 3

#define VIQR_DEFAULT_COMPOSITION_CHAR 0x5C /* backslash */
#define VIQR_DEFAULT_OVERSTRIKE_CHAR 0x08  /* backspace */

/* Room the encoder's output of `length` input bytes needs.  A byte grows to
 * at most four bytes: the composition character and a three-character
 * spelling, or in English mode a switch back to English (two bytes) and a
 * one-character spelling.  Every spelling is copied as a whole 4-byte field,
 * so the last one may reach three bytes past its end; after a switch that is
 * two bytes past four a byte. */
#define VIQR_ENCODER_OUTPUT_SIZE(length) (4 * (size_t)(length) + 2)

/* Room a decoder's output of `length` input bytes needs: a byte yields at
 * most two.  A flush yields at most two bytes too. */
#define VIQR_DECODER_OUTPUT_SIZE(length) (2 * (size_t)(length))

#ifdef __cplusplus
extern "C" {
#endif

/* What the encoder remembers from one chunk to the next: the previous input
 * byte, which decides whether the next one must be escaped.  Start at 0. */
typedef struct viqr_encoder_history {
#ifdef __cplusplus
    unsigned char previous = 0;
#else
    unsigned char previous;
#endif
} viqr_encoder_history;

/* ------------------------------------------------------------------------
 * Option pre-parser */

/* Removes "-com" and "-bs" with their values from argv wherever they stand
 * and stores the values: a character, or a backslash and octal digits.
 * Compacts argv in place and updates *argc.  A missing value is reported on
 * stderr.  Null argc or argv: nothing happens.  A null character pointer:
 * that option is still removed with its value, and the value is dropped. */
VIQR_API void viqr_parse_options(int *argc, char **argv, unsigned char *composition_char,
                                 unsigned char *overstrike_char);

/* ------------------------------------------------------------------------
 * Decoder engine: VIQR to VISCII
 *
 * A handle is 0..VIQR_MAX_CONTEXTS-1; viqr_open returns -1 when no context
 * is free or the mode is not one of the three modes.  Calls with a handle
 * that is not an open context do nothing (viqr_feed returns -1 and sets the
 * count to 0).  An output area has room for 2 bytes; a null one drops the
 * output, and a null count is not stored. */
VIQR_API int viqr_open(int mode, unsigned char composition_char, unsigned char overstrike_char);
VIQR_API int viqr_feed(int handle, unsigned char byte, unsigned char *out, int *count);
/* Feeds `length` bytes as viqr_feed would one at a time and returns how many
 * bytes it wrote at `out`, which has room for VIQR_DECODER_OUTPUT_SIZE(length).
 * With a null `in` or `out` it does nothing and returns 0. */
VIQR_API size_t viqr_feed_chunk(int handle, const unsigned char *in, size_t length, unsigned char *out);
VIQR_API void viqr_flush(int handle, unsigned char *out, int *count);
VIQR_API void viqr_close(int handle, unsigned char *out, int *count);
/* Copies the selected parameter to `destination`: an int for the state, one
 * byte for the others.  A null destination is left alone. */
VIQR_API void viqr_query(int handle, void *destination, int selector);
VIQR_API void viqr_set(int handle, int value, int selector);

/* ------------------------------------------------------------------------
 * Encoder: VISCII to VIQR */

/* Converts `length` bytes of VISCII at `input` (0x00 bytes included) to VIQR
 * in `mode` (VIQR_MODE_VIETNAMESE or VIQR_MODE_ENGLISH), escaping with
 * `composition_char`.  `output` must hold VIQR_ENCODER_OUTPUT_SIZE(length)
 * bytes.  Returns the number of bytes written; 0 for any other mode or a null
 * input or output.  `history` carries the previous byte from call to call; a
 * null history starts afresh at every call. */
VIQR_API size_t viqr_viscii_to_viqr(const unsigned char *input, size_t length, unsigned char *output,
                                    unsigned char composition_char, int mode, viqr_encoder_history *history);

#ifdef __cplusplus
}  // extern "C"

// ---------------------------------------------------------------------------
// The C++ interface: references where the C functions take pointers.

#include <cstddef>

inline constexpr int MODE_VIETNAMESE = VIQR_MODE_VIETNAMESE;
inline constexpr int MODE_ENGLISH = VIQR_MODE_ENGLISH;
inline constexpr int MODE_LITERAL = VIQR_MODE_LITERAL;

inline constexpr int STATE_ESCAPE = VIQR_STATE_ESCAPE;
inline constexpr int STATE_LITERAL_ESCAPE = VIQR_STATE_LITERAL_ESCAPE;
inline constexpr int STATE_HOLDING = VIQR_STATE_HOLDING;

inline constexpr unsigned char DEFAULT_COMPOSITION_CHAR = VIQR_DEFAULT_COMPOSITION_CHAR;
inline constexpr unsigned char DEFAULT_OVERSTRIKE_CHAR = VIQR_DEFAULT_OVERSTRIKE_CHAR;

inline void viqr_parse_options(int &argc, char **argv, unsigned char &composition_char,
                               unsigned char &overstrike_char) {
    viqr_parse_options(&argc, argv, &composition_char, &overstrike_char);
}

inline int viqr_feed(int handle, unsigned char byte, unsigned char *out, int &count) {
    return viqr_feed(handle, byte, out, &count);
}

inline void viqr_flush(int handle, unsigned char *out, int &count) { viqr_flush(handle, out, &count); }

inline void viqr_close(int handle, unsigned char *out, int &count) { viqr_close(handle, out, &count); }

constexpr std::size_t viqr_encoder_output_size(std::size_t length) { return VIQR_ENCODER_OUTPUT_SIZE(length); }

inline std::size_t viscii_to_viqr(const unsigned char *input, std::size_t length, unsigned char *output,
                                  unsigned char composition_char, int mode, viqr_encoder_history &history) {
    return viqr_viscii_to_viqr(input, length, output, composition_char, mode, &history);
}

#else

static inline size_t viqr_encoder_output_size(size_t length) { return VIQR_ENCODER_OUTPUT_SIZE(length); }

#endif /* __cplusplus */

#endif /* VIQR_H */
