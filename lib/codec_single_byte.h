// The machinery every single-byte encoding shares: a charset is what each
// byte stands for; the decoder reads through that table, the encoder through
// its reverse, derived at compile time.  The charsets themselves live in a
// small header each (codec_viscii.h, codec_tcvn.h, codec_vps.h,
// codec_cp1258.h), built from the letter inventory in the shape of
// `letter_rows`: a byte for each letter class and tone.
#pragma once

#include <array>
#include <cstdint>

#include "codec.h"
#include "letter_joiner.h"

namespace viqr::detail {

// A letter assignment in the shape of `letter_rows`: the byte of each letter
// class under each tone; 0 where the encoding lacks the letter (and for the
// classes of D and d, whose none entry is the ASCII letter).
using byte_rows = unsigned char[LETTER_CLASS_COUNT][TONE_COUNT];

struct single_byte_charset {
    std::array<char32_t, 256> decode;  // UNDEFINED_INPUT where the byte is undefined
    std::array<bool, 256> read_only;   // bytes read but never written
    bool combining_tones;              // writes a letter it lacks as a letter and a combining tone
};

// The five combining tone marks in tone order (index tone - 1).
inline constexpr char32_t combining_tone(int tone) { return combining_marks[FIRST_TONE_MARK + tone - 1]; }

// The letter class and tone of each VISCII byte that is a letter.
struct class_and_tone {
    unsigned char cls, tone;
};
constexpr std::array<class_and_tone, 256> make_letter_of_viscii() {
    std::array<class_and_tone, 256> table{};
    for_each_letter([&](int cls, int tone, unsigned char code) {
        table[code] = {static_cast<unsigned char>(cls), static_cast<unsigned char>(tone)};
    });
    return table;
}
inline constexpr std::array<class_and_tone, 256> letter_of_viscii = make_letter_of_viscii();

// Starting points for a charset: ASCII standing for itself, and every byte
// undefined.
constexpr std::array<char32_t, 256> ascii_and_undefined() {
    std::array<char32_t, 256> table{};
    for (int b = 0; b < 256; ++b) table[b] = b < 0x80 ? static_cast<char32_t>(b) : UNDEFINED_INPUT;
    return table;
}

// Puts the letters of `rows` into `table` (where `only` says so).
template <class Only>
constexpr void put_letters(std::array<char32_t, 256> &table, const byte_rows &rows, Only only) {
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        for (int tone = 0; tone < TONE_COUNT; ++tone)
            if (rows[cls][tone] != 0 && only(cls, tone)) table[rows[cls][tone]] = unicode_rows[cls][tone];
}

// How many letters of the inventory `rows` holds.
constexpr int count_letters(const byte_rows &rows) {
    int n = 0;
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        for (int tone = 0; tone < TONE_COUNT; ++tone) n += rows[cls][tone] != 0 && unicode_rows[cls][tone] != 0;
    return n;
}

// No byte holds two letters, and the ASCII letters are where ASCII has them.
constexpr bool rows_are_one_to_one(const byte_rows &rows) {
    int uses[256] = {};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        for (int tone = 0; tone < TONE_COUNT; ++tone) {
            const unsigned char b = rows[cls][tone];
            if (b == 0) continue;
            if (++uses[b] > 1) return false;
            const char32_t cp = unicode_rows[cls][tone];
            if ((cp < 0x80 || b < 0x80) && cp < 0x80 && cp != b) return false;
        }
    return true;
}

// The reverse of a charset: the byte of each code point, as 0x100 | byte (0
// for none), in pages of 256 code points; every charset's characters lie
// below U+2200, in a few pages.
inline constexpr char32_t REVERSE_END = 0x2200;
inline constexpr int REVERSE_PAGES = 8;

struct reverse_charset {
    std::array<unsigned char, REVERSE_END / 256> page_of{};  // 1 + page index; 0 for none
    std::array<std::array<std::uint16_t, 256>, REVERSE_PAGES> pages{};
    int page_count = 0;

    constexpr int byte_of(char32_t cp) const {
        if (cp >= REVERSE_END) return -1;
        const unsigned char page = page_of[cp >> 8];
        if (page == 0) return -1;
        const std::uint16_t r = pages[page - 1][cp & 0xFF];
        return r == 0 ? -1 : (r & 0xFF);
    }
};

// Where two bytes stand for one code point, the lower is written.  Code
// points beyond the pages cannot be written (make_reverse's callers check
// with reverse_agrees).
constexpr reverse_charset make_reverse(const single_byte_charset &charset) {
    reverse_charset r;
    for (int b = 255; b >= 0; --b) {
        const char32_t cp = charset.decode[b];
        if (cp >= REVERSE_END || charset.read_only[b]) continue;
        unsigned char &page = r.page_of[cp >> 8];
        if (page == 0) {
            if (r.page_count == REVERSE_PAGES) continue;
            page = static_cast<unsigned char>(++r.page_count);
        }
        r.pages[page - 1][cp & 0xFF] = static_cast<std::uint16_t>(0x100 | b);
    }
    return r;
}

// Every byte the reverse gives back stands for the code point asked for.
constexpr bool reverse_agrees(const single_byte_charset &charset, const reverse_charset &reverse) {
    for (int b = 0; b < 256; ++b) {
        const char32_t cp = charset.decode[b];
        if (cp == UNDEFINED_INPUT || charset.read_only[b]) continue;
        const int back = reverse.byte_of(cp);
        if (back < 0 || charset.decode[back] != cp) return false;
    }
    return true;
}

// Whether some byte is a combining mark, so that the letters before such
// bytes must be composed.
constexpr bool decomposes_somewhere(const single_byte_charset &charset) {
    for (char32_t cp : charset.decode)
        if (combining_mark_of(cp) != NO_MARK) return true;
    return false;
}

// Writes a code point a charset lacks: a capital as its small letter where
// the charset has that (TCVN3's capitals with a tone, VPS's Ỗ), anything else
// as "?", and tells `losses`.  UNDEFINED_INPUT, already counted, is written
// as "?" without a word.  Returns the end of what it wrote.
template <class ByteOf>
unsigned char *write_substitute(char32_t cp, std::size_t index, ByteOf byte_of, unsigned char *o, loss_sink &losses) {
    if (cp == UNDEFINED_INPUT) {
        *o++ = '?';
        return o;
    }
    if (const unsigned char letter = viscii_letter_of(cp); letter != 0) {
        const class_and_tone ct = letter_of_viscii[letter];
        const int small = ct.cls <= CASE_DISTANCE ? byte_of(unicode_rows[ct.cls + CASE_DISTANCE][ct.tone]) : -1;
        if (small >= 0) {
            *o++ = static_cast<unsigned char>(small);
            losses.unwritable(index, cp, VIQR_SUBSTITUTE_LOWERCASE);
            return o;
        }
    }
    *o++ = '?';
    losses.unwritable(index, cp, VIQR_SUBSTITUTE_QUESTION_MARK);
    return o;
}

}  // namespace viqr::detail
