// The typed reader: a streaming pre-pass that rewrites VIQR as people type it
// (nothing escaped) into strict VIQR, which the decoder engine then reads
// unchanged.  In Vietnamese mode it decides, word by word, whether each mark
// character is a diacritic or punctuation and whether each dd is đ, by
// whether the result is a Vietnamese syllable (syllables.h) and by the
// evidence around a mark that could be either.  It writes its decisions in
// the engine's own terms:
//   a mark that is punctuation      gets the composition character before it
//                                   (No^.i. -> No^.i\.);
//   a dd that is not đ              is written d\d;
//   a composition character that    is doubled, so the engine reads it back as
//   escapes nothing                 itself (1\.3 -> 1\\.3; a \ ending a line);
//   a mode letter after it          is text as well, and so doubled, save
//                                   the \V that opens the text (tonedown's
//                                   announcement), the one mode switch.
// English and Literal mode text passes through unchanged; the reader follows
// the mode switches exactly as the engine will, since it sees the same bytes.
//
// Memory: the pending word and the white space after it are kept in fixed
// buffers.  A token (a run of bytes without white space) longer than
// TYPED_TOKEN_MAX is decided as it stands and the rest read as a new token;
// white space beyond TYPED_SPACE_MAX settles the token before it.  A token
// followed by white space is decided once the first byte of the next token
// is known, and when that is a capital the second too (a capital that starts
// a sentence is followed by a small letter; one that starts a path or an
// abbreviation is not); where the input at hand holds those, the token is
// decided at once.  A reader may have a cache of its decisions (see
// typed_cache).
//
// Output room: every input byte becomes at most two output bytes, and a call
// may also release what was kept back, so typed_feed(n bytes) writes at most
// typed_output_room(n) bytes; typed_break and typed_flush write at most
// typed_output_room(0).  typed_feed may use that whole room as scratch
// beyond the count it returns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace viqr::detail {

inline constexpr std::size_t TYPED_TOKEN_MAX = 96;
inline constexpr std::size_t TYPED_SPACE_MAX = 32;
inline constexpr std::size_t TYPED_LOOKAHEAD = 2;  // bytes of the next token seen before deciding, at most
inline constexpr std::size_t TYPED_PENDING_MAX = TYPED_TOKEN_MAX + TYPED_SPACE_MAX + TYPED_LOOKAHEAD;

constexpr std::size_t typed_output_room(std::size_t input_length) { return 2 * (input_length + TYPED_PENDING_MAX); }

// One byte of a token with what the engine makes of it.
enum unit_kind : unsigned char {
    UNIT_PLAIN,   // no part of a word
    UNIT_LETTER,  // a letter
    UNIT_JOIN,    // a mark, or a second d, that the engine joins to the letter before it
};

// What goes before a unit's byte: nothing, or the composition character (an
// escape the typist wrote and that protects the byte, or a doubled one).
enum unit_prefix : unsigned char { PREFIX_NONE, PREFIX_ESCAPE };

struct unit {
    unsigned char byte;
    unit_kind kind;
    unit_prefix prefix;
    bool word_start;  // a letter that cannot join the one before it
    bool accepted;    // a join taken as a diacritic
};

// The word before the pending token, when only white space stands between
// them and it took every mark it joins: the first syllable of a possible
// compound.
inline constexpr std::size_t TYPED_PREVIOUS_MAX = 16;

// The decisions of a reader on tokens of up to TYPED_CACHE_TOKEN_MAX bytes,
// each under what it depends on beyond the token: the quotations open
// before it and, where a . or ? in it was weighed, the class of what
// follows it and which word that begins a compound stands before it.  It
// keeps where the strict VIQR written adds composition characters, and the
// state the token leaves.  Sets of two entries, the one used last first;
// one cache for each reader, never shared.
inline constexpr std::size_t TYPED_CACHE_SLOTS = 16384;
inline constexpr std::size_t TYPED_CACHE_TOKEN_MAX = 16;

// The strict VIQR of a token is the token with composition characters
// written before some of its bytes (the reader only regroups), so an entry
// keeps where they go rather than the bytes: two entries to a line of the
// processor's cache.
struct alignas(32) typed_cache_entry {
    unsigned char key[TYPED_CACHE_TOKEN_MAX];  // the token, zero-padded
    std::uint32_t escapes;          // bit k: a composition character before byte k (bit `length`: after the last)
    // The rest of the key, compared at once: the context (the quotations
    // open before the token, and what follows it and the word before), the
    // token's length (0: an empty entry) and the composition character.
    std::uint32_t tag;
    unsigned char quotes_after;
    unsigned char takes_diacritic;  // a mark of the token is taken as one
    unsigned char previous_length;  // the word it leaves for compounds: its last bytes
    unsigned char previous_first_id;  // compound_first_id of that word
};
static_assert(TYPED_CACHE_TOKEN_MAX < 32, "an escape bit for each byte and one after the last");

struct typed_cache {
    alignas(64) typed_cache_entry slots[TYPED_CACHE_SLOTS];
};

struct typed_reader {
    typed_cache *cache;            // null: every token decided afresh
    unsigned char composition_char;
    unsigned char mode;            // the engine's mode once it has read what was written
    bool viscii_input;             // bytes >= 0x80 are VISCII letters, not opaque
    bool escape_pending;           // English or Literal mode: an escape awaits its byte
    bool at_text_start;            // nothing settled yet: a \V here is tonedown's announcement
    bool token_done;               // white space ended the token; `space` holds it
    bool quote_open;               // a ' opened a quotation on this line
    bool backtick_open;            // a ` opened a quotation on this line
    bool diacritic_on_line;        // a mark was taken as a diacritic on this line
    bool token_took_diacritic;     // the token decided last took one
    bool cutting;                  // the token is settled because the buffer is full
    // The decision being taken asked what stands around the token beyond
    // the quotations open before it: what follows it, the word before it,
    // or whether a diacritic was taken on the line.  One that did not holds
    // wherever the token stands, and is kept so.
    mutable bool context_weighed;
    // Where a full buffer cut a word, the engine's letter at the cut, so
    // that the rest of the word reads on from it.
    bool carry_word;
    unsigned char carry_class;
    unsigned char carry_state;
    unsigned char lookahead_length;
    unsigned char run_lines;       // line ends in the white space since the last token (2 at most)
    unsigned short token_length;
    unsigned short space_length;
    unsigned char lookahead[TYPED_LOOKAHEAD];
    unsigned char previous_length;
    unsigned char previous[TYPED_PREVIOUS_MAX];  // the bytes of that word, all its marks taken
    // A word once kept as `previous` with its compound_first_id, which a
    // decision taken from the cache knows and weighing a . or ? asks for.
    unsigned char known_length;
    unsigned char known_first_id;
    unsigned char known_word[TYPED_PREVIOUS_MAX];
    unsigned char token[TYPED_TOKEN_MAX + 16];  // 16 bytes more, to read a short token as two numbers
    unsigned char space[TYPED_SPACE_MAX];
};

// Starts reading: the composition character, the initial mode (0..2),
// whether bytes >= 0x80 are VISCII letters (VISCII input) or opaque (the
// ASCII runs of UTF-8 input), and the reader's own cache (or null).
void typed_reset(typed_reader &r, unsigned char composition_char, int mode, bool viscii_input, typed_cache *cache);

// Whether the readers reset from now on use their cache (on unless turned
// off): the cache changes no byte of the output, and the tests and the
// fuzzer check so.
void typed_use_cache(bool on);

// Reads `length` bytes and writes the strict VIQR decided so far at `out`;
// returns how many bytes it wrote.
std::size_t typed_feed(typed_reader &r, const unsigned char *in, std::size_t length, unsigned char *out);

// A character that is not fed (a non-ASCII character of UTF-8 input) stands
// here: decides and writes the pending word as at a word boundary.
std::size_t typed_break(typed_reader &r, unsigned char *out);

// End of input: decides and writes whatever is pending.
std::size_t typed_flush(typed_reader &r, unsigned char *out);

}  // namespace viqr::detail
