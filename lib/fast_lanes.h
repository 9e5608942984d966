// The two conversions most text goes through, without the code points in
// between: a single-byte charset to UTF-8, and UTF-8 to a single-byte
// charset.  Each reads its charset's tables (derived from the charset, so
// from the letter inventory) and shares its state with the general path (the
// letter the joiner holds), so that the converter may switch between the two
// at any piece; fuzz_codecs and codecs_test compare them through every
// split.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec_single_byte.h"
#include "letter_joiner.h"

namespace viqr::detail {

// ---------------------------------------------------------------------------
// Single-byte charset to UTF-8

// What a byte writes: its UTF-8 (copied as a whole 4-byte field), the VISCII
// byte of the letter it is when a mark may still change that letter, the
// marks it is (1 + the joiner's mark index; a VNI byte carries two), and
// whether it is undefined.
struct alignas(8) byte_field {
    unsigned char bytes[4];
    unsigned char length;
    unsigned char letter;
    unsigned char mark, second_mark;
    unsigned char undefined;
};

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
    return f;
}

constexpr byte_fields make_byte_fields(const single_byte_charset &charset) {
    byte_fields fields{};
    for (int b = 0; b < 256; ++b) fields[b] = field_of(charset.decode[b]);
    return fields;
}

// Converts `n` bytes.  A mark byte joins the letter written just before it
// (that letter's bytes are written again); a letter that a mark at the start
// of the next call may change is held in `joiner` instead of written, and
// the letter it held before is written first.
// Writes the letter `joined` over the letter `last` written just before.
inline unsigned char *rewrite_letter(unsigned char *o, unsigned char last, unsigned char joined) {
    o -= utf8_of_viscii[last].length;
    std::memcpy(o, utf8_of_viscii[joined].bytes, 4);
    return o + utf8_of_viscii[joined].length;
}

// mark_joins with a first column for no mark (index 0, joining nothing), so
// that a byte's mark number (1 + mark index, or 0) indexes it directly.
using join_row_ext = std::array<unsigned char, COMBINING_MARK_COUNT + 1>;
constexpr std::array<join_row_ext, 256> make_joins_by_number() {
    std::array<join_row_ext, 256> table{};
    for (int b = 0; b < 256; ++b)
        for (int m = 0; m < COMBINING_MARK_COUNT; ++m) table[b][m + 1] = mark_joins[b][m];
    return table;
}
inline constexpr std::array<join_row_ext, 256> joins_by_number = make_joins_by_number();

// Converts `n` bytes.  A mark byte joins the letter written just before it
// (that letter's bytes are written again); a letter that a mark at the start
// of the next call may change is held in `joiner` instead of written, and
// the letter it held before is written first.  Whether a byte is a mark that
// joins is as unpredictable as the text (in VNI a byte in four is a mark), so
// the step takes no branch on it.
template <bool Marks>
unsigned char *single_byte_to_utf8(const byte_fields &fields, const unsigned char *in, std::size_t n,
                                   unsigned char *o, letter_joiner &joiner, input_tracker &input) {
    unsigned char last = joiner.take_held();  // the letter just written, when a mark may change it
    if (last != 0) {
        std::memcpy(o, utf8_of_viscii[last].bytes, 4);
        o += utf8_of_viscii[last].length;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const byte_field &f = fields[in[i]];
        if (f.undefined) input.note_undefined(input.offset + i, in[i]);
        if (!Marks) {
            std::memcpy(o, f.bytes, 4);
            o += f.length;
            continue;
        }
        // As the joiner would: the first mark joins the letter before, the
        // second joins the letter the first made, or follows it.
        const unsigned char first = joins_by_number[last][f.mark];
        const unsigned char joined = f.second_mark != 0 ? joins_by_number[first][f.second_mark] : first;
        if (first != 0 && joined == 0) {
            o = rewrite_letter(o, last, first);
            std::memcpy(o, mark_utf8[f.second_mark - 1].bytes, 4);
            o += mark_utf8[f.second_mark - 1].length;
            last = 0;
            continue;
        }
        const utf8_field &letter = utf8_of_viscii[joined];
        o -= joined != 0 ? utf8_of_viscii[last].length : 0;
        std::memcpy(o, joined != 0 ? letter.bytes : f.bytes, 4);
        o += joined != 0 ? letter.length : f.length;
        last = joined != 0 ? (takes_marks[joined] ? joined : 0) : f.letter;
    }
    if (Marks && last != 0) {
        o -= utf8_of_viscii[last].length;
        joiner.hold(last);
    }
    return o;
}

// ---------------------------------------------------------------------------
// UTF-8 to a single-byte charset

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
};

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
    return s;
}

// Whether `b` may start a combining mark that joins a letter (U+0300..U+0341
// are CC 80 to CD 81).
constexpr bool may_start_mark(unsigned char b) { return b == 0xCC || b == 0xCD; }

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

// What utf8_to_single_byte read: how many bytes, how many characters and
// line breaks, and how many characters after the last line break.
struct plain_run {
    std::size_t bytes = 0, chars = 0, newlines = 0, since_newline = 0;
};

// Writes the start of `n` bytes of UTF-8 while it is plain: whole one- to
// three-byte sequences of characters the charset writes, none followed by a
// combining mark, and a last character that no mark in the next call could
// change.  The rest is for the general path.
inline plain_run utf8_to_single_byte(const spelling_pages &spellings, const flat_spellings &flat,
                                     const unsigned char *in, std::size_t n, unsigned char *&out) {
    unsigned char *o = out;
    std::size_t i = 0, chars = 0, newlines = 0, since_newline = 0;
    // Four bytes at a time while four are left: the character's sequence and
    // the byte after it.  Which of the three lengths a sequence has is not
    // predictable in Vietnamese text, so it is taken without a branch.
    while (i + 4 <= n) {
        const unsigned char b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        const unsigned length = 1u + (b0 >= 0xC0) + (b0 >= 0xE0);
        const bool two_ok = b0 - 0xC2u <= 0xDFu - 0xC2u && (b1 & 0xC0) == 0x80;
        const bool three_ok = b0 - 0xE1u <= 0xECu - 0xE1u && (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80;
        if (!(b0 < 0x80 || two_ok || three_ok)) break;
        const char32_t two = (char32_t(b0 & 0x1F) << 6) | (b1 & 0x3F);
        const char32_t three = (char32_t(b0 & 0x0F) << 12) | (char32_t(b1 & 0x3F) << 6) | (b2 & 0x3F);
        const char32_t cp = b0 < 0x80 ? char32_t(b0) : b0 < 0xE0 ? two : three;
        const spelling_field &f = flat[flat_index(cp)];
        if (f.length == 0 || may_start_mark(in[i + length])) break;
        o[0] = f.bytes[0];
        o[1] = f.bytes[1];
        o += f.length;
        ++chars;
        newlines += cp == U'\n';
        since_newline = cp == U'\n' ? 0 : since_newline + 1;
        i += length;
    }
    while (i < n) {
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
            break;
        }
        const spelling_field *f = spellings.find(cp);
        if (f == nullptr) break;
        if (i + length < n ? may_start_mark(in[i + length]) : viscii_letter_of(cp) != 0) break;
        o[0] = f->bytes[0];
        o[1] = f->bytes[1];
        o += f->length;
        ++chars;
        newlines += cp == U'\n';
        since_newline = cp == U'\n' ? 0 : since_newline + 1;
        i += length;
    }
    out = o;
    return {i, chars, newlines, since_newline};
}

}  // namespace viqr::detail
