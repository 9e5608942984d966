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

// ---------------------------------------------------------------------------
// UTF-8.  `tonedown -u` reads UTF-8 instead of VISCII (viqr_from_utf8);
// `toneup -u` writes UTF-8 instead of VISCII (viqr_to_utf8).  Both stream: a
// caller hands over its input a chunk at a time, of any size, and gets the
// same output however the input is split, because each state carries what a
// chunk leaves open (a cut UTF-8 sequence, a letter that a combining mark may
// still change, the encoder's or decoder's history).  No call allocates.
//
// Bytes that are not valid UTF-8 are copied unchanged.  The first one of each
// input is noted in the state's viqr_utf8_scan, to be taken with
// viqr_utf8_take_report and shown to the user; inputs are named with
// viqr_utf8_begin_input (the conversion itself treats all inputs as one text).

// Where an input first holds a byte that is not valid UTF-8.
struct viqr_utf8_report {
    const char *input;          // the name given to viqr_utf8_begin_input
    unsigned long long offset;  // counted from 0, the input's first byte
};

// The UTF-8 bookkeeping both directions share: the input being read, how far
// it has been read, the UTF-8 sequence under way, and the reports not yet
// taken.  Zero-initialised (`viqr_utf8_scan scan{};`) it is ready for use.
struct viqr_utf8_scan {
    const char *input;
    unsigned long long offset;  // bytes of `input` converted before this call
    unsigned serial;            // counts the inputs begun
    bool reported;              // `input` has had its report
    unsigned char bytes[4];     // the sequence under way: `have` of `need` bytes
    unsigned char have, need;
    const char *sequence_input;  // where the sequence under way began
    unsigned long long sequence_offset;
    unsigned sequence_serial;
    bool sequence_input_reported;
    viqr_utf8_report reports[2];  // at most one for an earlier input, one for this one
    int report_count;
};

// Starts the next input, named `name` in reports.  A sequence cut at the end
// of the previous input may go on in this one.
void viqr_utf8_begin_input(viqr_utf8_scan &scan, const char *name);
// Takes the oldest report not yet taken; false when there is none.
bool viqr_utf8_take_report(viqr_utf8_scan &scan, viqr_utf8_report &report);

// UTF-8 to VIQR, as tonedown -u.  Every Vietnamese letter, precomposed,
// decomposed (base letter and combining marks in canonical order, U+0340 and
// U+0341 for grave and acute) or partly composed, goes to the encoder as its
// VISCII byte, so that it is spelled and escaped exactly as in VISCII input;
// so does the rest of ASCII.  Every other character (combining marks that
// complete no letter, the six control codes that are letters in VISCII,
// anything beyond VISCII) and every invalid byte is copied unchanged, and a
// mark after it needs no escape.  Write the mode announcement first, as
// tonedown does.
struct viqr_from_utf8_state {
    unsigned char composition_char;
    int mode;                 // MODE_VIETNAMESE or MODE_ENGLISH
    unsigned char previous;   // the encoder's history: the last VISCII byte encoded
    unsigned char letter;     // VISCII byte of a letter that a mark may still change; 0 for none
    viqr_utf8_scan scan;
};

void viqr_from_utf8_start(viqr_from_utf8_state &state, unsigned char composition_char, int mode);
// Converts `length` bytes; `out` must have room for viqr_from_utf8_room(length)
// bytes.  Returns the number of bytes written.
std::size_t viqr_from_utf8(viqr_from_utf8_state &state, const unsigned char *in, std::size_t length,
                           unsigned char *out);
// At the end of the whole text: writes the letter and the cut sequence still
// held.  `out` must have room for viqr_from_utf8_room(0) bytes.
std::size_t viqr_from_utf8_finish(viqr_from_utf8_state &state, unsigned char *out);
// Room: each input byte gives at most 4 output bytes (an escape and a
// three-character spelling); what a chunk carries over from the one before
// (a letter, up to 3 bytes of a cut sequence) and the encoder's 4-byte
// copies need at most 16 more.
constexpr std::size_t viqr_from_utf8_room(std::size_t length) { return 4 * length + 16; }

// VIQR to UTF-8, as toneup -u: a decoder context (opened with viqr_open, hold
// on) reads the ASCII; every letter it composes is written as its
// precomposed character (NFC).  Every byte beyond ASCII, and the six control
// codes that are letters in VISCII, is copied unchanged and ends the letter
// being composed, as any character that is not a mark does.
struct viqr_to_utf8_state {
    int context;
    unsigned char stand_in;  // fed to the context in place of a character beyond ASCII
    viqr_utf8_scan scan;
};

// `context` is open; its composition character is set.
void viqr_to_utf8_start(viqr_to_utf8_state &state, int context);
// `out` must have room for viqr_to_utf8_room(length) bytes.
std::size_t viqr_to_utf8(viqr_to_utf8_state &state, const unsigned char *in, std::size_t length,
                         unsigned char *out);
// Flushes the context at the end of the whole text; `out` must have room for
// viqr_to_utf8_room(0) bytes.
std::size_t viqr_to_utf8_finish(viqr_to_utf8_state &state, unsigned char *out);
// Room: the context writes at most 2 bytes for each byte it reads, and each
// becomes at most 3 bytes of UTF-8 (6 an input byte; bytes copied stay 1);
// the flush and the 4-byte copies of the UTF-8 table need at most 16 more.
constexpr std::size_t viqr_to_utf8_room(std::size_t length) { return 6 * length + 16; }

// Valid UTF-8 (a sequence cut by the end of `length` included) with at least
// one character of more than one byte: text that is probably UTF-8 rather
// than VISCII.
bool viqr_looks_like_utf8(const unsigned char *text, std::size_t length);
