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
// for none), directly for the code points where the letters lie and by
// search for the few others.
struct reverse_charset {
    std::array<std::uint16_t, LOW_LETTERS_END> low{};
    std::array<std::uint16_t, HIGH_LETTERS_END - HIGH_LETTERS_FIRST> high{};
    struct pair {
        char32_t cp;
        unsigned char byte;
    };
    std::array<pair, 256> others{};  // sorted by code point
    int other_count = 0;

    constexpr int byte_of(char32_t cp) const {
        std::uint16_t r = 0;
        if (cp < LOW_LETTERS_END) {
            r = low[cp];
        } else if (cp >= HIGH_LETTERS_FIRST && cp < HIGH_LETTERS_END) {
            r = high[cp - HIGH_LETTERS_FIRST];
        } else {
            int lo = 0, hi = other_count;
            while (lo < hi) {
                const int mid = (lo + hi) / 2;
                if (others[mid].cp < cp)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            if (lo < other_count && others[lo].cp == cp) r = 0x100 | others[lo].byte;
        }
        return r == 0 ? -1 : (r & 0xFF);
    }
};

// Where two bytes stand for one code point, the lower is written.
constexpr reverse_charset make_reverse(const single_byte_charset &charset) {
    reverse_charset r;
    for (int b = 255; b >= 0; --b) {
        const char32_t cp = charset.decode[b];
        if (cp == UNDEFINED_INPUT || charset.read_only[b]) continue;
        const auto entry = static_cast<std::uint16_t>(0x100 | b);
        if (cp < LOW_LETTERS_END) {
            r.low[cp] = entry;
        } else if (cp >= HIGH_LETTERS_FIRST && cp < HIGH_LETTERS_END) {
            r.high[cp - HIGH_LETTERS_FIRST] = entry;
        } else {
            int at = 0;
            while (at < r.other_count && r.others[at].cp < cp) ++at;
            if (at < r.other_count && r.others[at].cp == cp) {
                r.others[at].byte = static_cast<unsigned char>(b);
                continue;
            }
            for (int k = r.other_count; k > at; --k) r.others[k] = r.others[k - 1];
            r.others[at] = {cp, static_cast<unsigned char>(b)};
            ++r.other_count;
        }
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

template <const single_byte_charset &Charset>
class single_byte_decoder final : public decoder {
public:
    std::size_t decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) override {
        for (std::size_t i = 0; i < n; ++i) {
            const char32_t cp = Charset.decode[in[i]];
            if (cp == UNDEFINED_INPUT) input.note_undefined(input.offset + i, in[i]);
            out[i] = cp;
        }
        return n;
    }
    std::size_t finish(char32_t *, input_tracker &) override { return 0; }
    bool decomposes() const override { return decomposing; }

private:
    static constexpr bool decomposing = decomposes_somewhere(Charset);
};

// Writes a code point the charset lacks: a letter as itself with a combining
// tone where the charset has both (Windows-1258), or as its small letter (a
// capital the charset lacks: TCVN3's capitals with a tone, VPS's Ỗ); anything
// else as "?".  Returns the end of what it wrote.
template <class ByteOf>
unsigned char *write_substitute(char32_t cp, std::size_t index, bool combining_tones, ByteOf byte_of,
                                unsigned char *o, loss_sink &losses) {
    if (cp == UNDEFINED_INPUT) {
        *o++ = '?';  // counted already, as undefined input
        return o;
    }
    const unsigned char letter = viscii_letter_of(cp);
    if (letter != 0) {
        const class_and_tone ct = letter_of_viscii[letter];
        if (combining_tones && ct.tone != TONE_NONE) {
            const int base = byte_of(unicode_rows[ct.cls][TONE_NONE]);
            const int tone = byte_of(combining_tone(ct.tone));
            if (base >= 0 && tone >= 0) {
                *o++ = static_cast<unsigned char>(base);
                *o++ = static_cast<unsigned char>(tone);
                return o;
            }
        }
        if (ct.cls <= CASE_DISTANCE) {
            const int small = byte_of(unicode_rows[ct.cls + CASE_DISTANCE][ct.tone]);
            if (small >= 0) {
                *o++ = static_cast<unsigned char>(small);
                losses.unwritable(index, cp, VIQR_SUBSTITUTE_LOWERCASE);
                return o;
            }
        }
    }
    *o++ = '?';
    losses.unwritable(index, cp, VIQR_SUBSTITUTE_QUESTION_MARK);
    return o;
}

template <const single_byte_charset &Charset>
class single_byte_encoder final : public encoder {
public:
    unsigned char *encode(const char32_t *in, std::size_t n, unsigned char *o, loss_sink &losses) override {
        for (std::size_t i = 0; i < n; ++i) {
            const int b = reverse.byte_of(in[i]);
            if (b >= 0)
                *o++ = static_cast<unsigned char>(b);
            else
                o = write_substitute(
                    in[i], i, Charset.combining_tones, [](char32_t cp) { return reverse.byte_of(cp); }, o, losses);
        }
        return o;
    }

private:
    static constexpr reverse_charset reverse = make_reverse(Charset);
    static_assert(reverse_agrees(Charset, reverse));
};

}  // namespace viqr::detail
