// The viqr_ library: conversions between VISCII 1.1 and VIQR 1.1 text.
//
// This is the library's one public header.  It declares
//  - the modes of VIQR text and the states of a decoder context;
//  - the option pre-parser, which takes -com and -bs out of a command line;
//  - the decoder engine, which turns VIQR into VISCII through up to three
//    independent contexts;
//  - the encoder, which turns VISCII into VIQR chunk by chunk.
// Everything else of the library is private to it.
#pragma once

#include <cstddef>

// Modes of VIQR text; also the states 0..2 of a decoder context.
inline constexpr int MODE_VIETNAMESE = 0;
inline constexpr int MODE_ENGLISH = 1;
inline constexpr int MODE_LITERAL = 2;

// States a decoder context reaches only inside viqr_feed.
inline constexpr int STATE_ESCAPE = 3;          // composition character read in Vietnamese or English mode
inline constexpr int STATE_LITERAL_ESCAPE = 4;  // composition character read in Literal mode
inline constexpr int STATE_HOLDING = 5;         // a letter that may still take marks is held back

// Selectors of viqr_query and viqr_set, tested in this order.
inline constexpr int VIQR_PARAM_STATE = 1;
inline constexpr int VIQR_PARAM_COMPOSE_CHAR = 2;
inline constexpr int VIQR_PARAM_OVERSTRIKE_CHAR = 4;
inline constexpr int VIQR_PARAM_HOLD = 8;

inline constexpr int VIQR_MAX_CONTEXTS = 3;

inline constexpr unsigned char DEFAULT_COMPOSITION_CHAR = '\\';
inline constexpr unsigned char DEFAULT_OVERSTRIKE_CHAR = 0x08;

// ---------------------------------------------------------------------------
// Option pre-parser

// Removes "-com" and "-bs" with their values from argv wherever they stand and
// stores the values: a character, or a backslash and octal digits.  Compacts
// argv in place and updates argc.  A missing value is reported on stderr.
void viqr_parse_options(int &argc, char **argv, unsigned char &composition_char,
                        unsigned char &overstrike_char);

// ---------------------------------------------------------------------------
// Decoder engine: VIQR to VISCII

// A handle is 0..VIQR_MAX_CONTEXTS-1; viqr_open returns -1 when no context is
// free or the mode is not one of the three modes.  Calls with a handle that is
// not an open context do nothing.  `out` has room for 2 bytes.
int viqr_open(int mode, unsigned char composition_char, unsigned char overstrike_char);
int viqr_feed(int handle, unsigned char byte, unsigned char *out, int &count);
// Feeds `length` bytes as viqr_feed would one at a time and returns how many
// bytes it wrote at `out`, which has room for 2 * length.
std::size_t viqr_feed_chunk(int handle, const unsigned char *in, std::size_t length, unsigned char *out);
void viqr_flush(int handle, unsigned char *out, int &count);
void viqr_close(int handle, unsigned char *out, int &count);
void viqr_query(int handle, void *destination, int selector);
void viqr_set(int handle, int value, int selector);

// ---------------------------------------------------------------------------
// Encoder: VISCII to VIQR

// Room the output of `length` input bytes needs.  A byte grows to at most four
// bytes: the composition character and a three-character spelling, or in
// English mode a switch back to English (two bytes) and a one-character
// spelling.  Every spelling is copied as a whole 4-byte field, so the last one
// may reach three bytes past its end; after a switch that is two bytes past
// four a byte.
constexpr std::size_t viqr_encoder_output_size(std::size_t length) { return 4 * length + 2; }

// What the encoder remembers from one chunk to the next: the previous input
// byte, which decides whether the next one must be escaped.  Start at 0.
struct viqr_encoder_history {
    unsigned char previous = 0;
};

// Converts `length` bytes of VISCII at `input` (0x00 bytes included) to VIQR in
// `mode` (MODE_VIETNAMESE or MODE_ENGLISH), escaping with `composition_char`.
// `output` must hold viqr_encoder_output_size(length) bytes.  Returns the
// number of bytes written; 0 for any other mode.
std::size_t viscii_to_viqr(const unsigned char *input, std::size_t length, unsigned char *output,
                           unsigned char composition_char, int mode, viqr_encoder_history &history);
