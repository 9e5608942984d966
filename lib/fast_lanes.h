// The two conversions most text goes through, without the code points in
// between: a single-byte charset to UTF-8, and UTF-8 to a single-byte
// charset.  Each reads its charset's tables (derived from the charset, so
// from the letter inventory) and shares its state with the general path (the
// letter the joiner holds), so that the converter may switch between the two
// at any piece; fuzz_codecs and codecs_test compare them through every
// split.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec_single_byte.h"
#include "implementation.h"
#include "letter_joiner.h"

namespace viqr::detail {

// ---------------------------------------------------------------------------
// Runs of printable ASCII, which every charset here writes as itself

inline constexpr std::size_t BLOCK_SIZE = 16;

// Eight bytes from `p`, the first in the lowest byte whatever the processor
// (compilers make it one load).
inline std::uint64_t load_word(const unsigned char *p) {
    std::uint64_t x = 0;
    for (int k = 7; k >= 0; --k) x = (x << 8) | p[k];
    return x;
}

// How many of the eight bytes of `x` are printable ASCII (0x20..0x7E) before
// the first that is not (8 when none is).  A byte below 0x20 borrows and one
// of 0x7F or more carries only into the byte above it, and is itself marked,
// so the lowest mark is exact.
inline std::size_t printable_ascii_prefix_of_word(std::uint64_t x) {
    constexpr std::uint64_t ones = 0x0101010101010101u, highs = ones * 0x80;
    const std::uint64_t outside = (((x - ones * 0x20) & ~x) | x | (x + ones)) & highs;
    return static_cast<std::size_t>(std::countr_zero(outside)) / 8;
}

// How many of the BLOCK_SIZE bytes at `p` are printable ASCII before the
// first that is not, a word at a time.
inline std::size_t printable_ascii_prefix(const unsigned char *p) {
    for (std::size_t at = 0; at < BLOCK_SIZE; at += 8)
        if (const std::size_t k = printable_ascii_prefix_of_word(load_word(p + at)); k != 8) return at + k;
    return BLOCK_SIZE;
}

// ---------------------------------------------------------------------------
// Single-byte charset to UTF-8

// What a byte writes: its UTF-8 (copied as a whole 4-byte field), the VISCII
// byte of the letter it is when a mark may still change that letter, the
// marks it is (1 + the joiner's mark index; a VNI byte carries two, and
// `marks` numbers the pair for mark_join_table), and whether it is undefined.
struct alignas(8) byte_field {
    unsigned char bytes[4];
    unsigned char length;
    unsigned char letter;
    unsigned char mark, second_mark;
    unsigned char undefined;
    unsigned char marks;
};

// The pairs of marks a byte may carry, numbered from 1 (0: no mark): `mark`
// and `second_mark` as in byte_field.
inline constexpr int MARK_PAIRS = 1 + COMBINING_MARK_COUNT * (COMBINING_MARK_COUNT + 1);

constexpr unsigned char mark_pair_of(unsigned char mark, unsigned char second_mark) {
    return static_cast<unsigned char>(mark == 0 ? 0 : mark + COMBINING_MARK_COUNT * second_mark);
}
static_assert(mark_pair_of(COMBINING_MARK_COUNT, COMBINING_MARK_COUNT) == MARK_PAIRS - 1);

// What a mark byte does to the letter written just before it, looked up at
// once by (letter, pair of marks): the letter's bytes are written again as
// `bytes`, `back` bytes back, and `next` is the letter a further mark may
// change.  Where the first mark does not join the letter the byte writes its
// own UTF-8 (KEEPS); where the second does not join the letter the first
// made (never in the charsets' own spellings), the lane joins the marks one
// at a time (ONE_AT_A_TIME).
struct mark_join {
    enum action_kind : unsigned char { KEEPS, JOINS, ONE_AT_A_TIME };
    unsigned char bytes[4];
    unsigned char length, back, next;
    action_kind action;
};
static_assert(sizeof(mark_join) == 8, "a row of the table indexed with a shift");
using mark_join_row = std::array<mark_join, MARK_PAIRS>;

constexpr std::array<mark_join_row, 256> make_mark_join_table() {
    std::array<mark_join_row, 256> table{};
    for (int last = 1; last < 256; ++last) {
        if (!takes_marks[last]) continue;
        for (int mark = 1; mark <= COMBINING_MARK_COUNT; ++mark)
            for (int second_mark = 0; second_mark <= COMBINING_MARK_COUNT; ++second_mark) {
                mark_join &j = table[last][mark_pair_of(static_cast<unsigned char>(mark), static_cast<unsigned char>(second_mark))];
                const unsigned char first = mark_joins[last][mark - 1];
                if (first == 0) continue;
                const unsigned char second = second_mark != 0 ? mark_joins[first][second_mark - 1] : 0;
                if (second_mark != 0 && second == 0) {
                    j.action = mark_join::ONE_AT_A_TIME;
                    continue;
                }
                const unsigned char joined = second != 0 ? second : first;
                j.action = mark_join::JOINS;
                for (int k = 0; k < 4; ++k) j.bytes[k] = utf8_of_viscii[joined].bytes[k];
                j.length = utf8_of_viscii[joined].length;
                j.back = utf8_of_viscii[last].length;
                j.next = takes_marks[joined] ? joined : 0;
            }
    }
    return table;
}
inline constexpr std::array<mark_join_row, 256> mark_join_table = make_mark_join_table();

// The UTF-8 of each combining mark, by the joiner's mark index.
constexpr std::array<utf8_field, COMBINING_MARK_COUNT> make_mark_utf8() {
    std::array<utf8_field, COMBINING_MARK_COUNT> table{};
    for (int m = 0; m < COMBINING_MARK_COUNT; ++m) table[m] = utf8_of(combining_marks[m]);
    return table;
}
inline constexpr std::array<utf8_field, COMBINING_MARK_COUNT> mark_utf8 = make_mark_utf8();

// Two combining marks as one field (a VNI mark byte).
constexpr byte_field field_of_marks(char32_t first, char32_t second) {
    byte_field f{};
    const utf8_field a = utf8_of(first), b = utf8_of(second);
    for (int i = 0; i < a.length; ++i) f.bytes[f.length++] = a.bytes[i];
    for (int i = 0; i < b.length; ++i) f.bytes[f.length++] = b.bytes[i];
    f.mark = static_cast<unsigned char>(combining_mark_of(first) + 1);
    f.second_mark = static_cast<unsigned char>(combining_mark_of(second) + 1);
    f.marks = mark_pair_of(f.mark, f.second_mark);
    return f;
}

using byte_fields = std::array<byte_field, 256>;

constexpr byte_field field_of(char32_t cp) {
    byte_field f{};
    if (cp == UNDEFINED_INPUT) {
        cp = 0xFFFD;
        f.undefined = 1;
    }
    const utf8_field u = utf8_of(cp);
    for (int i = 0; i < 4; ++i) f.bytes[i] = u.bytes[i];
    f.length = u.length;
    const unsigned char letter = viscii_letter_of(cp);
    f.letter = letter != 0 && takes_marks[letter] ? letter : 0;
    const int mark = cp >= FIRST_COMBINING && cp <= LAST_COMBINING ? combining_mark_of(cp) : NO_MARK;
    f.mark = static_cast<unsigned char>(mark + 1);
    f.marks = mark_pair_of(f.mark, 0);
    return f;
}

constexpr byte_fields make_byte_fields(const single_byte_charset &charset) {
    byte_fields fields{};
    for (int b = 0; b < 256; ++b) fields[b] = field_of(charset.decode[b]);
    return fields;
}

// Writes the letter `joined` over the letter `last` written just before.
inline unsigned char *rewrite_letter(unsigned char *o, unsigned char last, unsigned char joined) {
    o -= utf8_of_viscii[last].length;
    std::memcpy(o, utf8_of_viscii[joined].bytes, 4);
    return o + utf8_of_viscii[joined].length;
}

// Whether the bytes 0x20..0x7E stand for themselves, so that runs of them
// may be copied a block at a time.
constexpr bool printable_ascii_as_is(const byte_fields &fields) {
    for (int b = 0x20; b < 0x7F; ++b)
        if (fields[b].length != 1 || fields[b].bytes[0] != b || fields[b].mark != 0) return false;
    return true;
}

// Converts `n` bytes.  A mark byte joins the letter written just before it
// (that letter's bytes are written again); a letter that a mark at the start
// of the next call may change is held in `joiner` instead of written, and
// the letter it held before is written first.
template <bool Marks>
unsigned char *single_byte_to_utf8(const byte_fields &fields, bool blocks, const unsigned char *in, std::size_t n,
                                   unsigned char *o, letter_joiner &joiner, input_tracker &input) {
    unsigned char last = joiner.take_held();  // the letter just written, when a mark may change it
    if (last != 0) {
        std::memcpy(o, utf8_of_viscii[last].bytes, 4);
        o += utf8_of_viscii[last].length;
    }
    std::size_t i = 0;
    while (i < n) {
        // A run of printable ASCII, copied a block at a time (where marks
        // make each byte a branch; without them the plain loop is faster).
        if (Marks && blocks && i + BLOCK_SIZE <= n && in[i] - 0x20u < 0x5Fu) {
            const std::size_t run = printable_ascii_prefix(in + i);
            std::memcpy(o, in + i, BLOCK_SIZE);
            o += run;
            i += run;
            last = fields[in[i - 1]].letter;
            // What ends a run is mostly a mark or a letter: take it at once.
            if (i == n) break;
        }
        const byte_field &f = fields[in[i]];
        if (f.undefined) input.note_undefined(input.offset + i, in[i]);
        ++i;
        if (Marks && f.mark != 0) {
            // As the joiner would: the first mark joins the letter before,
            // the second joins the letter the first made, or follows it.
            const mark_join &j = mark_join_table[last][f.marks];
            if (j.action == mark_join::JOINS) {
                o -= j.back;
                std::memcpy(o, j.bytes, 4);
                o += j.length;
                last = j.next;
                continue;
            }
            if (j.action == mark_join::ONE_AT_A_TIME) {
                o = rewrite_letter(o, last, mark_joins[last][f.mark - 1]);
                std::memcpy(o, mark_utf8[f.second_mark - 1].bytes, 4);
                o += mark_utf8[f.second_mark - 1].length;
                last = 0;
                continue;
            }
        }
        std::memcpy(o, f.bytes, 4);
        o += f.length;
        if (Marks) last = f.letter;
    }
    if (Marks && last != 0) {
        o -= utf8_of_viscii[last].length;
        joiner.hold(last);
    }
    return o;
}

// ---------------------------------------------------------------------------
// UTF-8 to a single-byte charset (or VNI)

// How a code point is written: one byte, or (Windows-1258) a letter without
// its tone and a combining tone; length 0 where the charset cannot write it.
struct spelling_field {
    unsigned char bytes[2];
    unsigned char length;
};

// By pages of 256 code points below REVERSE_END, as reverse_charset.
struct spelling_pages {
    std::array<unsigned char, REVERSE_END / 256> page_of{};
    std::array<std::array<spelling_field, 256>, REVERSE_PAGES + 1> pages{};
    int page_count = 0;
    bool printable_ascii_as_is = false;  // 0x20..0x7E are written as themselves

    constexpr const spelling_field *find(char32_t cp) const {
        if (cp >= REVERSE_END) return nullptr;
        const unsigned char page = page_of[cp >> 8];
        if (page == 0) return nullptr;
        const spelling_field &f = pages[page - 1][cp & 0xFF];
        return f.length == 0 ? nullptr : &f;
    }

    constexpr void put(char32_t cp, spelling_field f) {
        unsigned char &page = page_of[cp >> 8];
        if (page == 0) page = static_cast<unsigned char>(++page_count);
        pages[page - 1][cp & 0xFF] = f;
    }

    // Sets printable_ascii_as_is, once every spelling is in.
    constexpr void note_printable_ascii() {
        printable_ascii_as_is = true;
        for (char32_t cp = 0x20; cp < 0x7F; ++cp) {
            const spelling_field *f = find(cp);
            printable_ascii_as_is = printable_ascii_as_is && f != nullptr && f->length == 1 && f->bytes[0] == cp;
        }
    }
};

// Writes each code point as `spelled` spells it, and one it lacks as
// write_substitute does with `byte_of`.  Returns the end of what it wrote.
template <class ByteOf>
unsigned char *write_spelled(const spelling_pages &spelled, const char32_t *in, std::size_t n, unsigned char *o,
                             loss_sink &losses, ByteOf byte_of) {
    for (std::size_t i = 0; i < n; ++i) {
        if (const spelling_field *f = spelled.find(in[i]); f != nullptr) {
            o[0] = f->bytes[0];
            o[1] = f->bytes[1];
            o += f->length;
        } else {
            o = write_substitute(in[i], i, byte_of, o, losses);
        }
    }
    return o;
}

constexpr spelling_pages make_spellings(const single_byte_charset &charset) {
    const reverse_charset reverse = make_reverse(charset);
    spelling_pages s;
    for (char32_t cp = 0; cp < REVERSE_END; ++cp)
        if (const int b = reverse.byte_of(cp); b >= 0) s.put(cp, {{static_cast<unsigned char>(b), 0}, 1});
    if (charset.combining_tones)
        for_each_letter([&](int cls, int tone, unsigned char) {
            const char32_t cp = unicode_rows[cls][tone];
            if (tone == TONE_NONE || reverse.byte_of(cp) >= 0) return;
            const int base = reverse.byte_of(unicode_rows[cls][TONE_NONE]);
            const int mark = reverse.byte_of(combining_tone(tone));
            if (base >= 0 && mark >= 0)
                s.put(cp, {{static_cast<unsigned char>(base), static_cast<unsigned char>(mark)}, 2});
        });
    s.note_printable_ascii();
    return s;
}

// The spellings again, in one table for the code points of Vietnamese
// text (below U+0800, and U+1E00..U+21FF: the letters and the punctuation),
// indexed without a branch; the last entry spells nothing.
inline constexpr char32_t FLAT_LOW_END = 0x800;
inline constexpr char32_t FLAT_HIGH_FIRST = 0x1E00;
inline constexpr std::size_t FLAT_SIZE = FLAT_LOW_END + (REVERSE_END - FLAT_HIGH_FIRST) + 1;
static_assert(FLAT_SIZE == FLAT_SPELLINGS, "codec.h declares the size");

constexpr std::size_t flat_index(char32_t cp) {
    const std::size_t high = cp - FLAT_HIGH_FIRST < REVERSE_END - FLAT_HIGH_FIRST
                                 ? FLAT_LOW_END + (cp - FLAT_HIGH_FIRST)
                                 : FLAT_SIZE - 1;
    return cp < FLAT_LOW_END ? cp : high;
}

constexpr flat_spellings make_flat_spellings(const spelling_pages &pages) {
    flat_spellings flat{};
    for (char32_t cp = 0; cp < REVERSE_END; ++cp)
        if (const spelling_field *f = pages.find(cp); f != nullptr && flat_index(cp) != FLAT_SIZE - 1)
            flat[flat_index(cp)] = *f;
    return flat;
}

// The spelling of each VISCII byte's character, for the text that a kernel
// (implementation.h) has read from UTF-8 into VISCII, packed in a word to be
// read with one load: the bytes from the lowest and the length above them,
// so that a character the charset lacks has a word below 1 << LENGTH_AT.
struct viscii_byte_spellings {
    std::array<std::uint32_t, 256> packed{};
    bool as_is = true;     // each byte is spelled as itself
    bool one_byte = true;  // each character the charset has takes one byte
    static constexpr int LENGTH_AT = 16;

    static constexpr std::uint32_t pack(const spelling_field &f) {
        return f.bytes[0] | f.bytes[1] << 8 | std::uint32_t{f.length} << LENGTH_AT;
    }
    static constexpr bool lacks(std::uint32_t word) { return word >> LENGTH_AT == 0; }
    constexpr spelling_field field(int v) const {
        const std::uint32_t word = packed[v];
        return {{static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8)},
                static_cast<unsigned char>(word >> LENGTH_AT)};
    }
};

constexpr viscii_byte_spellings make_viscii_byte_spellings(const spelling_pages &pages) {
    viscii_byte_spellings table{};
    for (int v = 0; v < 256; ++v) {
        const char32_t cp = code_point_of_viscii[v];
        const unsigned char page = pages.page_of[cp >> 8];
        const spelling_field f = page != 0 ? pages.pages[page - 1][cp & 0xFF] : spelling_field{};
        table.packed[v] = viscii_byte_spellings::pack(f);
        table.as_is = table.as_is && f.length == 1 && f.bytes[0] == v;
        table.one_byte = table.one_byte && f.length <= 1;
    }
    return table;
}

// The tables of the lane from UTF-8: a charset's spellings (by code point,
// flat, and by VISCII byte), and the implementation whose kernel reads UTF-8.
struct utf8_lane {
    const spelling_pages *spellings;
    const flat_spellings *flat;
    const viscii_byte_spellings *from_viscii;
    const implementation *kernels;
};

// What utf8_to_single_byte read: how many bytes, how many characters and
// line breaks, and how many characters after the last line break.
struct plain_run {
    std::size_t bytes = 0, chars = 0, newlines = 0, since_newline = 0;

    void count(char32_t cp) {
        ++chars;
        newlines += cp == U'\n';
        since_newline = cp == U'\n' ? 0 : since_newline + 1;
    }
};

// The character whose sequence starts at `p` (three bytes readable), each
// of the three lengths decoded side by side and the right one picked:
// which length comes next is not predictable in Vietnamese text.  Valid
// for ASCII and for well-formed sequences of two bytes and of three from
// E1 to EC, which hold every character of the charsets.
struct sequence {
    char32_t cp;
    unsigned length;
    bool valid;
};

inline sequence read_sequence(const unsigned char *p) {
    const unsigned char b0 = p[0], b1 = p[1], b2 = p[2];
    const bool two_ok = b0 - 0xC2u <= 0xDFu - 0xC2u && (b1 & 0xC0) == 0x80;
    const bool three_ok = b0 - 0xE1u <= 0xECu - 0xE1u && (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80;
    const char32_t two = (char32_t(b0 & 0x1F) << 6) | (b1 & 0x3F);
    const char32_t three = (char32_t(b0 & 0x0F) << 12) | (char32_t(b1 & 0x3F) << 6) | (b2 & 0x3F);
    return {b0 < 0x80 ? char32_t(b0) : b0 < 0xE0 ? two : three, 1u + (b0 >= 0xC0) + (b0 >= 0xE0),
            b0 < 0x80 || two_ok || three_ok};
}

// The characters from `i` while they are plain (see utf8_to_single_byte),
// until `limit` or a little past it, one at a time.  False when it stopped
// at a character that is not plain, which is then at `i`.
inline bool take_characters(const utf8_lane &lane, const unsigned char *in, std::size_t &at, std::size_t limit,
                            std::size_t n, unsigned char *&out, plain_run &run) {
    unsigned char *o = out;
    std::size_t i = at;
    bool plain = true;
    // While four bytes are left: the character's sequence and the byte
    // after it.
    while (i < limit && i + 4 <= n) {
        const sequence c = read_sequence(in + i);
        const spelling_field &f = (*lane.flat)[flat_index(c.cp)];
        if (!c.valid || f.length == 0 || may_start_mark(in[i + c.length])) {
            plain = false;
            break;
        }
        o[0] = f.bytes[0];
        o[1] = f.bytes[1];
        o += f.length;
        run.count(c.cp);
        i += c.length;
    }
    while (plain && i < limit && i < n) {
        const unsigned char b = in[i];
        char32_t cp;
        std::size_t length;
        if (b < 0x80) {
            cp = b;
            length = 1;
        } else if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (in[i + 1] & 0xC0) == 0x80) {
            cp = (char32_t(b & 0x1F) << 6) | (in[i + 1] & 0x3F);
            length = 2;
        } else if (b >= 0xE1 && b <= 0xEC && i + 2 < n && (in[i + 1] & 0xC0) == 0x80 && (in[i + 2] & 0xC0) == 0x80) {
            cp = (char32_t(b & 0x0F) << 12) | (char32_t(in[i + 1] & 0x3F) << 6) | (in[i + 2] & 0x3F);
            length = 3;
        } else {
            plain = false;
            break;
        }
        const spelling_field *f = lane.spellings->find(cp);
        if (f == nullptr || (i + length < n ? may_start_mark(in[i + length]) : viscii_letter_of(cp) != 0)) {
            plain = false;
            break;
        }
        o[0] = f->bytes[0];
        o[1] = f->bytes[1];
        o += f->length;
        run.count(cp);
        i += length;
    }
    out = o;
    at = i;
    return plain;
}

// Text read by steps of take_plain_steps: from `i`, while a step is left
// before `end`, written at `o`.
struct plain_stream {
    std::size_t i, end;
    unsigned char *o;
    plain_run run;
};

// One step: a run of printable ASCII (copied a word at a time) and the
// character after it, when both are plain, without a branch between them:
// which of the two comes next is not predictable in Vietnamese text.  False,
// taking nothing, at a character that is not plain or near the end.
inline bool take_plain_step(const flat_spellings &flat, const unsigned char *in, plain_stream &s) {
    // A step reads a word, the character that may begin in its last byte
    // and the byte after that character.
    if (s.end - s.i < BLOCK_SIZE) return false;
    const unsigned char *p = in + s.i;
    const std::size_t ascii = printable_ascii_prefix_of_word(load_word(p));
    std::memcpy(s.o, p, 8);
    if (ascii == 8) {
        if (may_start_mark(p[8])) return false;
        s.o += 8;
        s.i += 8;
        s.run.chars += 8;
        s.run.since_newline += 8;
        return true;
    }
    const sequence c = read_sequence(p + ascii);
    const spelling_field &f = flat[flat_index(c.cp)];
    if (!c.valid || f.length == 0 || may_start_mark(p[ascii]) || may_start_mark(p[ascii + c.length])) return false;
    s.o[ascii] = f.bytes[0];
    s.o[ascii + 1] = f.bytes[1];
    s.o += ascii + f.length;
    s.i += ascii + c.length;
    s.run.chars += ascii + 1;
    s.run.newlines += c.cp == U'\n';
    s.run.since_newline = c.cp == U'\n' ? 0 : s.run.since_newline + ascii + 1;
    return true;
}

// Below this many bytes the text is not split in two.
inline constexpr std::size_t SPLIT_AT_LEAST = 512;

// Where a character begins near the middle of `from`..`to`, or `to` when
// none does within a sequence's length.
inline std::size_t middle_character(const unsigned char *in, std::size_t from, std::size_t to) {
    std::size_t mid = from + (to - from) / 2;
    for (int k = 0; k < 4; ++k, ++mid)
        if ((in[mid] & 0xC0) != 0x80) return mid;
    return to;
}

// The characters from `i` while they are plain, until `limit` or a little
// past it, one at a time or (where the charset writes printable ASCII as it
// stands) by steps.  Each step waits on the one before, for where it
// starts: a long text is split in two at a character, and the two halves
// are taken side by side, the second written further on and moved up to
// the first once it has reached the middle.  The output has room for two
// bytes for every byte read and a little more.
inline bool take_plain_characters(const utf8_lane &lane, const unsigned char *in, std::size_t &at, std::size_t limit,
                                  std::size_t n, unsigned char *&out, plain_run &run) {
    if (lane.spellings->printable_ascii_as_is) {
        const flat_spellings &flat = *lane.flat;
        const std::size_t mid = limit - at >= SPLIT_AT_LEAST ? middle_character(in, at, limit) : limit;
        plain_stream first{at, mid, out, run};
        if (mid == limit) {
            while (take_plain_step(flat, in, first)) {}
        } else {
            plain_stream second{mid, limit, out + 2 * (mid - at) + 2 * BLOCK_SIZE, plain_run{}};
            unsigned char *const second_start = second.o;
            bool both = true;
            while (both) {
                const bool one = take_plain_step(flat, in, first), other = take_plain_step(flat, in, second);
                both = one && other;
            }
            while (take_plain_step(flat, in, first)) {}
            while (take_plain_step(flat, in, second)) {}
            // The first half's last characters one at a time; if it reaches
            // the middle, the second half follows it.
            if (take_characters(lane, in, first.i, mid, n, first.o, first.run)) {
                const auto written = static_cast<std::size_t>(second.o - second_start);
                std::memmove(first.o, second_start, written);
                first.o += written;
                first.i = second.i;
                first.run.chars += second.run.chars;
                first.run.newlines += second.run.newlines;
                first.run.since_newline =
                    second.run.newlines != 0 ? second.run.since_newline : first.run.since_newline + second.run.since_newline;
            }
        }
        at = first.i;
        out = first.o;
        run = first.run;
    }
    return take_characters(lane, in, at, limit, n, out, run);
}

// The input bytes of the first `chars` characters at `p`, which a kernel
// took: ASCII and letters of two and three bytes.
inline std::size_t bytes_of_characters(const unsigned char *p, std::size_t chars) {
    std::size_t at = 0;
    for (std::size_t c = 0; c < chars; ++c) at += 1u + (p[at] >= 0xC0) + (p[at] >= 0xE0);
    return at;
}

// Counts the characters of `count` VISCII bytes.
inline void count_viscii(const unsigned char *viscii, std::size_t count, plain_run &run) {
    std::size_t newlines = 0;
    for (std::size_t j = 0; j < count; ++j) newlines += viscii[j] == '\n';
    run.chars += count;
    if (newlines == 0) {
        run.since_newline += count;
        return;
    }
    run.newlines += newlines;
    std::size_t last = count - 1;
    while (viscii[last] != '\n') --last;
    run.since_newline = count - 1 - last;
}

// Spells `count` VISCII bytes where they are, in a charset of one byte a
// character; false when the charset lacks one of them (the bytes are then
// of no use).  The table is read once a byte, and a lack looked for after.
inline bool spell_viscii_in_place(const viscii_byte_spellings &table, unsigned char *bytes, std::size_t count) {
    std::uint32_t least = ~0u;  // a lack is below every spelling
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint32_t spelled = table.packed[bytes[j]];
        least = std::min(least, spelled);
        bytes[j] = static_cast<unsigned char>(spelled);
    }
    return !viscii_byte_spellings::lacks(least);
}

// Writes a spelling packed as in viscii_byte_spellings (both bytes, whatever
// its length) and returns its end.
inline unsigned char *put_packed(unsigned char *o, std::uint32_t packed) {
    o[0] = static_cast<unsigned char>(packed);
    o[1] = static_cast<unsigned char>(packed >> 8);
    return o + (packed >> viscii_byte_spellings::LENGTH_AT);
}

// Writes the spellings of `count` VISCII bytes up to the first that the
// charset lacks; returns how many it wrote.  All are written first without
// a look at each; only where one is lacking are they written again up to it.
inline std::size_t spell_viscii(const viscii_byte_spellings &table, const unsigned char *viscii, std::size_t count,
                                unsigned char *&out) {
    unsigned char *o = out;
    bool lacking = false;
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint32_t packed = table.packed[viscii[j]];
        o = put_packed(o, packed);
        lacking |= viscii_byte_spellings::lacks(packed);
    }
    std::size_t j = count;
    if (lacking) {
        o = out;
        for (j = 0; !viscii_byte_spellings::lacks(table.packed[viscii[j]]); ++j) o = put_packed(o, table.packed[viscii[j]]);
    }
    out = o;
    return j;
}

// Room past the input's length that the kernels may write into.
inline constexpr std::size_t KERNEL_SLACK = 256;

// The characters from `i` while the kernel takes them a block at a time:
// it writes them as VISCII, which is spelled in the charset.  False when it
// stopped at a character the charset lacks, which is then at `i`.
//
// The kernel writes into the output itself, which has room for it: the
// converter's output room is several times its input, and the lanes write
// at most two bytes for each byte read.  A charset of one byte a character
// is spelled there in place; a lack found then (rare) has the block read
// again into `viscii` and spelled from there, as for Windows-1258.
inline bool take_kernel_blocks(const utf8_lane &lane, const unsigned char *in, std::size_t &i, std::size_t n,
                               unsigned char *&out, plain_run &run) {
    const viscii_byte_spellings &table = *lane.from_viscii;
    unsigned char viscii[PIECE + KERNEL_SLACK];
    while (n - i > 2 * static_cast<std::size_t>(lane.kernels->block)) {
        const std::size_t span = std::min(n - i, PIECE);
        const auto read = [&](unsigned char *to) {
            return lane.kernels->letters_from_utf8(in + i, in + i + span, to, to + span + KERNEL_SLACK);
        };
        const bool in_place = table.one_byte;
        const progress p = read(in_place ? out : viscii);
        auto taken = static_cast<std::size_t>(p.in - (in + i));
        auto count = static_cast<std::size_t>(p.out - (in_place ? out : viscii));
        if (count == 0) return true;
        // A mark after the last character may join it: that character is
        // left for the general path.
        if (may_start_mark(in[i + taken])) {
            --count;
            do --taken;
            while ((in[i + taken] & 0xC0) == 0x80);
        }
        if (in_place) {
            const plain_run before = run;
            count_viscii(out, count, run);
            if (table.as_is || spell_viscii_in_place(table, out, count)) {
                out += count;
                i += taken;
                if (taken == 0) return true;
                continue;
            }
            run = before;
            read(viscii);
        }
        const std::size_t spelled = spell_viscii(table, viscii, count, out);
        count_viscii(viscii, spelled, run);
        if (spelled != count) {
            i += bytes_of_characters(in + i, spelled);
            return false;
        }
        i += taken;
        if (taken == 0) return true;
    }
    return true;
}

// Writes the start of `n` bytes of UTF-8 while it is plain: whole one- to
// three-byte sequences of characters the charset writes, none followed by a
// combining mark, and a last character that no mark in the next call could
// change.  The rest is for the general path.  With a kernel that reads
// UTF-8, the text goes through it while it takes blocks, and a block's
// worth one character at a time where it stops.
inline plain_run utf8_to_single_byte(const utf8_lane &lane, const unsigned char *in, std::size_t n,
                                     unsigned char *&out) {
    plain_run run;
    std::size_t i = 0;
    const bool kernel = lane.kernels->letters_from_utf8 != nullptr;
    const auto block = static_cast<std::size_t>(lane.kernels->block);
    while (i < n) {
        if (kernel && !take_kernel_blocks(lane, in, i, n, out, run)) break;
        if (!take_plain_characters(lane, in, i, kernel ? std::min(n, i + block) : n, n, out, run)) break;
    }
    run.bytes = i;
    return run;
}

}  // namespace viqr::detail
