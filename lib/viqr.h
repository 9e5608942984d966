// The viqr_ library: what tonedown and toneup share.  The option pre-parser
// takes -com and -bs out of a command line; the decoder engine turns VIQR text
// into VISCII through up to three independent contexts.
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

// Removes "-com" and "-bs" with their values from argv wherever they stand and
// stores the values: a character, or a backslash and octal digits.  Compacts
// argv in place and updates argc.  A missing value is reported on stderr.
void viqr_parse_options(int &argc, char **argv, unsigned char &composition_char,
                        unsigned char &overstrike_char);

// Decoder engine.  A handle is 0..VIQR_MAX_CONTEXTS-1; viqr_open returns -1 when
// no context is free or the mode is not one of the three modes.  Calls with a
// handle that is not an open context do nothing.  `out` has room for 2 bytes.
int viqr_open(int mode, unsigned char composition_char, unsigned char overstrike_char);
int viqr_feed(int handle, unsigned char byte, unsigned char *out, int &count);
// Feeds `length` bytes as viqr_feed would one at a time and returns how many
// bytes it wrote at `out`, which has room for 2 * length.
std::size_t viqr_feed_chunk(int handle, const unsigned char *in, std::size_t length, unsigned char *out);
void viqr_flush(int handle, unsigned char *out, int &count);
void viqr_close(int handle, unsigned char *out, int &count);
void viqr_query(int handle, void *destination, int selector);
void viqr_set(int handle, int value, int selector);

// The typed reader, for VIQR as people type it (nothing escaped).
// viqr_set(handle, 1, VIQR_PARAM_TYPED) turns it on for a context, 0 off;
// viqr_query reports it as one byte.  When on, viqr_feed_chunk and viqr_flush
// (and viqr_close) first rewrite Vietnamese-mode text into strict VIQR, taking
// each mark for a diacritic only where it makes a Vietnamese syllable and each
// dd for đ only at the start of one; the single-byte viqr_feed ignores it and
// reads strictly.  The reader keeps back the word in hand (at most
// VIQR_TYPED_PENDING_MAX bytes) until what follows it is known, so the output
// of a chunk may lag its input; viqr_flush writes the rest.  Bytes >= 0x80 are
// read as VISCII letters.  Output room: viqr_feed_chunk(length) and viqr_flush
// then write at most viqr_typed_room(length) and viqr_typed_room(0) bytes.
// Turn the reader on or off between texts, after viqr_flush: like a change
// of VIQR_PARAM_STATE, which also restarts it, the change drops what it
// keeps back.
inline constexpr int VIQR_PARAM_TYPED = 16;
inline constexpr std::size_t VIQR_TYPED_PENDING_MAX = 130;
constexpr std::size_t viqr_typed_room(std::size_t length) { return 4 * (length + VIQR_TYPED_PENDING_MAX) + 2; }
