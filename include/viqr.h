/* The viqr library: conversions between VISCII 1.1 and VIQR 1.1 text.
 *
 * This is the library's one public header, for C (C99 or later) and C++.
 * It declares
 *  - the modes of VIQR text and the states of a decoder context;
 *  - the option pre-parser, which takes -com and -bs out of a command line;
 *  - the decoder engine, which turns VIQR into VISCII through up to three
 *    independent contexts;
 *  - the encoder, which turns VISCII into VIQR chunk by chunk;
 *  - the UTF-8 conversions: UTF-8 to VIQR, and VIQR to UTF-8 through a
 *    decoder context;
 *  - the registry of encodings and the converters between them (toneconv).
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
/* The typed reader, for VIQR as people type it (nothing escaped): 1 turns it
 * on for a context, 0 off; viqr_query reports it as one byte.  When on,
 * viqr_feed_chunk, viqr_flush and viqr_close first rewrite Vietnamese-mode
 * text into strict VIQR, taking each mark for a diacritic only where it makes
 * a Vietnamese syllable and each dd for đ only at the start of one; the
 * single-byte viqr_feed ignores it and reads strictly.  The reader keeps back
 * the word in hand (at most VIQR_TYPED_PENDING_MAX bytes) until what follows
 * it is known, so the output of a chunk may lag its input; viqr_flush writes
 * the rest.  Bytes >= 0x80 are read as VISCII letters.  Output room:
 * viqr_feed_chunk(length) and viqr_flush then write at most
 * VIQR_TYPED_OUTPUT_SIZE(length) and VIQR_TYPED_OUTPUT_SIZE(0) bytes.  Turn
 * the reader on or off between texts, after viqr_flush: like a change of
 * VIQR_PARAM_STATE, which also restarts it, the change drops what it keeps
 * back. */
#define VIQR_PARAM_TYPED 16
#define VIQR_TYPED_PENDING_MAX 130
#define VIQR_TYPED_OUTPUT_SIZE(length) (4 * ((size_t)(length) + VIQR_TYPED_PENDING_MAX) + 2)

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

/* ------------------------------------------------------------------------
 * UTF-8.  viqr_from_utf8 reads UTF-8 instead of VISCII (tonedown -u);
 * viqr_to_utf8 writes UTF-8 instead of VISCII (toneup -u).  Both stream: a
 * caller hands over its input a chunk at a time, of any size, and gets the
 * same output however the input is split, because each state carries what a
 * chunk leaves open (a cut UTF-8 sequence, a letter that a combining mark may
 * still change, the encoder's or decoder's history).  No call allocates.
 *
 * Bytes that are not valid UTF-8 are copied unchanged.  The first one of each
 * input is noted in the state's viqr_utf8_scan, to be taken with
 * viqr_utf8_take_report and shown to the user; inputs are named with
 * viqr_utf8_begin_input (the conversion itself treats all inputs as one
 * text). */

/* Where an input first holds a byte that is not valid UTF-8. */
typedef struct viqr_utf8_report {
    const char *input;         /* the name given to viqr_utf8_begin_input */
    unsigned long long offset; /* counted from 0, the input's first byte */
} viqr_utf8_report;

/* The UTF-8 bookkeeping both directions share: the input being read, how far
 * it has been read, the UTF-8 sequence under way, and the reports not yet
 * taken.  The start functions below set it up. */
typedef struct viqr_utf8_scan {
    const char *input;
    unsigned long long offset; /* bytes of `input` converted before this call */
    unsigned serial;           /* counts the inputs begun */
    unsigned char reported;    /* `input` has had its report */
    unsigned char bytes[4];    /* the sequence under way: `have` of `need` bytes */
    unsigned char have, need;
    const char *sequence_input; /* where the sequence under way began */
    unsigned long long sequence_offset;
    unsigned sequence_serial;
    unsigned char sequence_input_reported;
    viqr_utf8_report reports[2]; /* at most one for an earlier input, one for this one */
    int report_count;
} viqr_utf8_scan;

/* Starts the next input, named `name` in reports.  A sequence cut at the end
 * of the previous input may go on in this one. */
VIQR_API void viqr_utf8_begin_input(viqr_utf8_scan *scan, const char *name);
/* Takes the oldest report not yet taken into `report`: 1, or 0 when there is
 * none.  A null report is not stored: the report is taken and dropped. */
VIQR_API int viqr_utf8_take_report(viqr_utf8_scan *scan, viqr_utf8_report *report);

/* UTF-8 to VIQR, as tonedown -u.  Every Vietnamese letter, precomposed,
 * decomposed (base letter and combining marks in canonical order, U+0340 and
 * U+0341 for grave and acute) or partly composed, goes to the encoder as its
 * VISCII byte, so that it is spelled and escaped exactly as in VISCII input;
 * so does the rest of ASCII.  Every other character (combining marks that
 * complete no letter, the six control codes that are letters in VISCII,
 * anything beyond VISCII) and every invalid byte is copied unchanged, and a
 * mark after it needs no escape.  Write the mode announcement first, as
 * tonedown does. */
typedef struct viqr_from_utf8_state {
    unsigned char composition_char;
    int mode;               /* VIQR_MODE_VIETNAMESE or VIQR_MODE_ENGLISH */
    unsigned char previous; /* the encoder's history: the last VISCII byte encoded */
    unsigned char letter;   /* VISCII byte of a letter that a mark may still change; 0 for none */
    viqr_utf8_scan scan;
} viqr_from_utf8_state;

/* Room: each input byte gives at most 4 output bytes (an escape and a
 * three-character spelling); what a chunk carries over from the one before
 * (a letter, up to 3 bytes of a cut sequence) and the encoder's 4-byte
 * copies need at most 16 more. */
#define VIQR_FROM_UTF8_OUTPUT_SIZE(length) (4 * (size_t)(length) + 16)

VIQR_API void viqr_from_utf8_start(viqr_from_utf8_state *state, unsigned char composition_char, int mode);
/* Converts `length` bytes; `out` must have room for
 * VIQR_FROM_UTF8_OUTPUT_SIZE(length) bytes.  Returns the number of bytes
 * written; 0, changing nothing, with a null state, input or output, or a
 * state started in another mode. */
VIQR_API size_t viqr_from_utf8(viqr_from_utf8_state *state, const unsigned char *in, size_t length,
                               unsigned char *out);
/* At the end of the whole text: writes the letter and the cut sequence still
 * held.  `out` must have room for VIQR_FROM_UTF8_OUTPUT_SIZE(0) bytes. */
VIQR_API size_t viqr_from_utf8_finish(viqr_from_utf8_state *state, unsigned char *out);

/* VIQR to UTF-8, as toneup -u: a decoder context (opened with viqr_open,
 * hold on) reads the ASCII; every letter it composes is written as its
 * precomposed character (NFC).  Every byte beyond ASCII, and the six control
 * codes that are letters in VISCII, is copied unchanged and ends the letter
 * being composed, as any character that is not a mark does. */
typedef struct viqr_to_utf8_state {
    int context;
    unsigned char stand_in; /* fed to the context in place of a character beyond ASCII */
    viqr_utf8_scan scan;
} viqr_to_utf8_state;

/* Room: the context writes at most 2 bytes for each byte it reads (with the
 * typed reader on, at most VIQR_TYPED_OUTPUT_SIZE of them for a call), and
 * each becomes at most 3 bytes of UTF-8 (bytes copied stay 1); the flush and
 * the 4-byte copies of the UTF-8 table need at most 16 more. */
#define VIQR_TO_UTF8_OUTPUT_SIZE(length) (3 * VIQR_TYPED_OUTPUT_SIZE(length) + 16)

/* `context` is open; its composition character is set. */
VIQR_API void viqr_to_utf8_start(viqr_to_utf8_state *state, int context);
/* `out` must have room for VIQR_TO_UTF8_OUTPUT_SIZE(length) bytes.  Returns
 * the number of bytes written; 0, changing nothing, with a null state, input
 * or output, or a context that is not open. */
VIQR_API size_t viqr_to_utf8(viqr_to_utf8_state *state, const unsigned char *in, size_t length,
                             unsigned char *out);
/* Flushes the context at the end of the whole text; `out` must have room
 * for VIQR_TO_UTF8_OUTPUT_SIZE(0) bytes. */
VIQR_API size_t viqr_to_utf8_finish(viqr_to_utf8_state *state, unsigned char *out);

/* 1 when the `length` bytes at `text` are valid UTF-8 (a sequence cut by
 * the end included) with at least one character of more than one byte: text
 * that is probably UTF-8 rather than VISCII.  0 otherwise, and for a null
 * text. */
VIQR_API int viqr_looks_like_utf8(const unsigned char *text, size_t length);

/* ------------------------------------------------------------------------
 * Encodings and converters (toneconv)
 *
 * One registry names every encoding the library reads or writes: an
 * encoding is an index from 0 to viqr_encoding_count() - 1, found by name
 * with viqr_encoding_lookup.  A converter reads one encoding and writes
 * another through Unicode: it decodes the input's bytes, composes each base
 * letter with the marks after it (a VNI mark byte, a combining tone of
 * Windows-1258 or VN1, combining characters in UTF-8), and encodes the
 * result.  It streams: the output is the same however the input is cut into
 * chunks, and what one chunk leaves open (a cut UTF-8 sequence, a letter
 * that a mark may still change) is carried to the next.
 *
 * Nothing is lost in silence.  A byte the source does not define (or
 * invalid UTF-8) is written as U+FFFD, or "?" where the target cannot hold
 * U+FFFD; a character the target cannot hold is written as a substitute: a
 * Vietnamese letter as its nearest form (in tcvn3 a capital with a tone as
 * its small letter), anything else as "?".  Both are counted in the loss
 * report, with where the first one stood, from the start of the current
 * input.
 *
 * A converter allocates its state when it is opened and nothing after; two
 * converters share nothing, but a converter that reads VIQR holds one of
 * the VIQR_MAX_CONTEXTS decoder contexts until it is closed. */

/* Flags of viqr_converter_open. */
#define VIQR_CONVERT_ENGLISH_MODE 1 /* writing viqr: English mode, as tonedown -m */

/* What a converter may keep back from one call to the next, in input bytes
 * (the typed VIQR reader's word is the longest). */
#define VIQR_CONVERT_PENDING_MAX 256
/* Room the output of viqr_convert(length) needs, and of viqr_convert_finish
 * with length 0.  An input byte gives at most twelve output bytes (a VNI
 * byte that carries two marks, written as two numeric character
 * references). */
#define VIQR_CONVERT_OUTPUT_SIZE(length) (12 * ((size_t)(length) + VIQR_CONVERT_PENDING_MAX))

/* How substitutes for characters the target cannot hold were written
 * (bits of viqr_loss_report.substitutes). */
#define VIQR_SUBSTITUTE_LOWERCASE 1 /* a capital the target lacks, as its small letter */
#define VIQR_SUBSTITUTE_QUESTION_MARK 2

typedef struct viqr_converter viqr_converter;

/* What the current input lost.  Lines and columns count characters of the
 * input (a letter with its marks is one), from 1; byte offsets count the
 * input's bytes, from 0. */
typedef struct viqr_loss_report {
    unsigned long long unwritable;        /* characters the target cannot hold */
    unsigned long unwritable_first;       /* the first one's code point */
    unsigned long long unwritable_line;   /* where it stood */
    unsigned long long unwritable_column;
    int substitutes;                      /* VIQR_SUBSTITUTE_ bits */
    unsigned long long undefined;         /* bytes or sequences the source does not define */
    unsigned long long undefined_offset;  /* the first one's byte offset */
    unsigned char undefined_byte;         /* its first byte */
    unsigned long undefined_substitute;   /* what they were written as: 0xFFFD or '?' */
} viqr_loss_report;

/* The registry.  Names and aliases are lower case; aliases are separated by
 * single spaces ("" for none).  Out of range: null, or 0 for the two
 * predicates. */
VIQR_API int viqr_encoding_count(void);
VIQR_API const char *viqr_encoding_name(int encoding);
VIQR_API const char *viqr_encoding_aliases(int encoding);
VIQR_API const char *viqr_encoding_description(int encoding);
VIQR_API int viqr_encoding_can_read(int encoding);
VIQR_API int viqr_encoding_can_write(int encoding);
/* The encoding a name or alias stands for, whatever its case; -1 for none
 * and for a null name. */
VIQR_API int viqr_encoding_lookup(const char *name);

/* Opens a converter from `from` to `to`.  Null, with errno set, when either
 * is out of range or cannot be read or written that way (EINVAL), when no
 * decoder context is free for reading VIQR (EMFILE), or when memory runs
 * out (ENOMEM). */
VIQR_API viqr_converter *viqr_converter_open(int from, int to, int flags);
/* Converts `length` bytes at `in`; `out` must have room for
 * VIQR_CONVERT_OUTPUT_SIZE(length) bytes.  Returns the number of bytes
 * written; 0 with a null converter, input or output. */
VIQR_API size_t viqr_convert(viqr_converter *converter, const unsigned char *in, size_t length, unsigned char *out);
/* At the end of the whole text: writes what is still kept back, into room
 * for VIQR_CONVERT_OUTPUT_SIZE(0) bytes, and makes the converter ready for
 * a new text, as if just opened (the loss report stays until the next
 * viqr_convert_begin_input). */
VIQR_API size_t viqr_convert_finish(viqr_converter *converter, unsigned char *out);
/* The next input begins: offsets, lines and the loss report start afresh.
 * The conversion goes on: a letter cut by the end of the previous input may
 * be finished by this one. */
VIQR_API void viqr_convert_begin_input(viqr_converter *converter);
/* Copies the current input's loss report to `report` (unless null); returns
 * 1 when anything was lost, 0 otherwise (and with a null converter). */
VIQR_API int viqr_convert_losses(const viqr_converter *converter, viqr_loss_report *report);
/* Frees the converter and its decoder context; null is allowed. */
VIQR_API void viqr_converter_close(viqr_converter *converter);

/* ------------------------------------------------------------------------
 * Detection
 *
 * viqr_detect tells which encoding a text is in.  It reads the text under
 * every Vietnamese encoding it knows (utf-8, tcvn3, vni, viscii, cp1258,
 * viqr, the three repairs utf-8-as-cp1252, tcvn3-as-cp1252 and
 * vni-as-cp1252, and the rarer vn1, vps and viscii-1.0) and weighs each
 * reading: words that make Vietnamese syllables with the tone where it
 * belongs count for it; words no syllable rule allows, capitals inside
 * words, letters Vietnamese lacks, rare symbols, control characters and
 * undefined bytes count against it.  It reads only as much of the text as
 * the decision needs (a few kilobytes when the text is clear).
 *
 * The first entry written is the verdict: a registry index (utf-8-nfd for
 * UTF-8 whose letters are mostly decomposed; utf-8 also for valid UTF-8
 * that is not Vietnamese), VIQR_DETECT_ASCII for plain ASCII that is not
 * VIQR, VIQR_DETECT_UNKNOWN when no reading fits, or VIQR_DETECT_TOO_LITTLE
 * when the text is too thin to tell (a few bytes, one word, a list of
 * numbers).  The entries after it
 * are the other readings, best first, leaving out those that give the same
 * text as one before them.
 *
 * The confidence, 0 to 100, of a Vietnamese reading is the share of its
 * words with letters beyond ASCII that read as Vietnamese syllables, out of
 * those words and everything in the reading that is nonsense (one count
 * each for a word that is no syllable, a capital inside a word, a word with
 * a letter Vietnamese lacks, a rare symbol, a control character, an
 * undefined byte), plus one, so that a short text cannot reach 100.  Of
 * utf-8 for text that is not Vietnamese: n / (n + 1) for its n characters
 * beyond ASCII; of ascii: its words out of its words and its VIQR
 * syllables, plus one; of the two unknown verdicts: 0. */
#define VIQR_DETECT_UNKNOWN (-1)      /* no reading fits */
#define VIQR_DETECT_ASCII (-2)        /* plain ASCII that is not VIQR */
#define VIQR_DETECT_TOO_LITTLE (-3)   /* unknown: too little text to tell */

typedef struct viqr_detection {
    int encoding;   /* a registry index, or one of the VIQR_DETECT_ verdicts */
    int confidence; /* 0..100 */
} viqr_detection;

/* Detects the encoding of the `length` bytes at `text` and writes at most
 * `room` entries to `ranked`, the verdict first; returns how many it wrote
 * (0 when `room` is below 1 or a pointer is null). */
VIQR_API int viqr_detect(const unsigned char *text, size_t length, viqr_detection *ranked, int room);

/* The `auto` converter: detects the encoding of the `length` bytes at
 * `text` (the start of the text, or all of it) and opens a converter from
 * it to `to`, as viqr_converter_open does; plain ASCII is read as utf-8.
 * The caller then converts the text from its start.  The verdict goes to
 * `verdict` (unless null).  Null when the verdict is unknown (errno
 * EILSEQ) or viqr_converter_open fails. */
VIQR_API viqr_converter *viqr_converter_open_auto(const unsigned char *text, size_t length, int to, int flags,
                                                  viqr_detection *verdict);

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

constexpr std::size_t viqr_typed_room(std::size_t length) { return VIQR_TYPED_OUTPUT_SIZE(length); }

inline std::size_t viscii_to_viqr(const unsigned char *input, std::size_t length, unsigned char *output,
                                  unsigned char composition_char, int mode, viqr_encoder_history &history) {
    return viqr_viscii_to_viqr(input, length, output, composition_char, mode, &history);
}


// The UTF-8 conversions with references.
inline void viqr_utf8_begin_input(viqr_utf8_scan &scan, const char *name) { viqr_utf8_begin_input(&scan, name); }
inline bool viqr_utf8_take_report(viqr_utf8_scan &scan, viqr_utf8_report &report) {
    return viqr_utf8_take_report(&scan, &report) != 0;
}

constexpr std::size_t viqr_from_utf8_room(std::size_t length) { return VIQR_FROM_UTF8_OUTPUT_SIZE(length); }
inline void viqr_from_utf8_start(viqr_from_utf8_state &state, unsigned char composition_char, int mode) {
    viqr_from_utf8_start(&state, composition_char, mode);
}
inline std::size_t viqr_from_utf8(viqr_from_utf8_state &state, const unsigned char *in, std::size_t length,
                                  unsigned char *out) {
    return viqr_from_utf8(&state, in, length, out);
}
inline std::size_t viqr_from_utf8_finish(viqr_from_utf8_state &state, unsigned char *out) {
    return viqr_from_utf8_finish(&state, out);
}

constexpr std::size_t viqr_to_utf8_room(std::size_t length) { return VIQR_TO_UTF8_OUTPUT_SIZE(length); }
inline void viqr_to_utf8_start(viqr_to_utf8_state &state, int context) { viqr_to_utf8_start(&state, context); }
inline std::size_t viqr_to_utf8(viqr_to_utf8_state &state, const unsigned char *in, std::size_t length,
                                unsigned char *out) {
    return viqr_to_utf8(&state, in, length, out);
}
inline std::size_t viqr_to_utf8_finish(viqr_to_utf8_state &state, unsigned char *out) {
    return viqr_to_utf8_finish(&state, out);
}

// Converters with references, and a deleter for std::unique_ptr.
constexpr std::size_t viqr_convert_room(std::size_t length) { return VIQR_CONVERT_OUTPUT_SIZE(length); }
inline bool viqr_convert_losses(const viqr_converter &converter, viqr_loss_report &report) {
    return viqr_convert_losses(&converter, &report) != 0;
}
struct viqr_converter_closer {
    void operator()(viqr_converter *converter) const { viqr_converter_close(converter); }
};

#else

static inline size_t viqr_encoder_output_size(size_t length) { return VIQR_ENCODER_OUTPUT_SIZE(length); }

#endif /* __cplusplus */

#endif /* VIQR_H */
