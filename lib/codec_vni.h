// VNI-Windows (the VNI fonts, VNI-Times): a letter is its base letter
// followed by one mark byte that carries its shape mark and tone together;
// ơ, ư, đ, the i with a tone and ỵ are one byte each.  A capital's bytes are
// its small letter's, 0x20 lower, as the fonts place them.  The bytes that
// are neither letters nor marks keep their Windows-1252 meaning.
#pragma once

#include "codec_cp1252.h"
#include "codec_single_byte.h"
#include "fast_lanes.h"

namespace viqr::detail {

inline constexpr unsigned char VNI_CAPITAL_SHIFT = 0x20;

// The mark bytes of small letters, by tone: after a vowel without a shape
// mark, after a vowel with a breve, after one with a circumflex (ơ and ư
// take the first row after their own byte).
inline constexpr unsigned char vni_tone_marks[TONE_COUNT] = {0x00, 0xF9, 0xF8, 0xFB, 0xF5, 0xEF};
inline constexpr unsigned char vni_breve_marks[TONE_COUNT] = {0xEA, 0xE9, 0xE8, 0xFA, 0xFC, 0xEB};
inline constexpr unsigned char vni_circumflex_marks[TONE_COUNT] = {0xE2, 0xE1, 0xE0, 0xE5, 0xE3, 0xE4};
// The small letters written in one byte.
inline constexpr unsigned char vni_i_letters[TONE_COUNT] = {'i', 0xED, 0xEC, 0xE6, 0xF3, 0xF2};
inline constexpr unsigned char VNI_Y_DOT = 0xEE;
inline constexpr unsigned char VNI_O_HORN = 0xF4;
inline constexpr unsigned char VNI_U_HORN = 0xF6;
inline constexpr unsigned char VNI_D_STROKE = 0xF1;
// Đ and đ as Windows-1252 shows them (Ð ð) read as the letters too.
inline constexpr unsigned char VNI_ETH = 0xF0;

// A letter's VNI bytes: one or two.
struct vni_spelling {
    unsigned char bytes[2];
    unsigned char length;
};

constexpr vni_spelling spell_in_vni(int cls, int tone) {
    const bool capital = cls <= CASE_DISTANCE;
    const letter_row &row = letter_rows[capital ? cls + CASE_DISTANCE : cls];
    const auto shift = [&](unsigned char b) { return static_cast<unsigned char>(capital && b >= 0x80 ? b - VNI_CAPITAL_SHIFT : b); };
    const auto base = static_cast<unsigned char>(letter_rows[cls].spelling[0]);
    const char first = row.spelling[0], second = row.spelling[1];
    if (first == 'i' && tone != TONE_NONE) return {{shift(vni_i_letters[tone]), 0}, 1};
    if (first == 'y' && tone == TONE_DOT) return {{shift(VNI_Y_DOT), 0}, 1};
    if (first == 'd' && second == 'd') return {{shift(VNI_D_STROKE), 0}, 1};
    if (second == HORN_CHAR) {
        const unsigned char letter = shift(first == 'o' ? VNI_O_HORN : VNI_U_HORN);
        if (tone == TONE_NONE) return {{letter, 0}, 1};
        return {{letter, shift(vni_tone_marks[tone])}, 2};
    }
    if (second == BREVE_CHAR) return {{base, shift(vni_breve_marks[tone])}, 2};
    if (second == CIRCUMFLEX_CHAR) return {{base, shift(vni_circumflex_marks[tone])}, 2};
    if (tone == TONE_NONE) return {{base, 0}, 1};
    return {{base, shift(vni_tone_marks[tone])}, 2};
}

constexpr std::array<vni_spelling, 256> make_vni_of_viscii() {
    std::array<vni_spelling, 256> table{};
    for (int b = 0; b < 0x80; ++b) table[b] = {{static_cast<unsigned char>(b), 0}, 1};
    for_each_letter([&](int cls, int tone, unsigned char code) { table[code] = spell_in_vni(cls, tone); });
    return table;
}
inline constexpr std::array<vni_spelling, 256> vni_of_viscii = make_vni_of_viscii();

// What a byte reads as: one code point, or for a mark byte the combining
// marks it carries (at most two).
struct vni_reading {
    char32_t cps[2];
    unsigned char count;
};

constexpr std::array<vni_reading, 256> make_vni_readings() {
    std::array<vni_reading, 256> table{};
    for (int b = 0; b < 256; ++b) {
        char32_t cp = static_cast<char32_t>(b);
        if (b >= 0x80 && b < 0xA0) cp = cp1252_punctuation[b - 0x80];
        table[b] = {{cp, 0}, 1};
    }
    for_each_letter([&](int cls, int tone, unsigned char) {
        const vni_spelling s = spell_in_vni(cls, tone);
        if (s.length == 1) {
            table[s.bytes[0]] = {{unicode_rows[cls][tone], 0}, 1};
            return;
        }
        // The mark byte carries the marks the base does not.
        const letter_row &row = letter_rows[cls];
        vni_reading marks{};
        const bool horn = row.spelling[1] == HORN_CHAR;
        if (!horn) {
            if (row.spelling[1] == BREVE_CHAR) marks.cps[marks.count++] = combining_marks[0];
            if (row.spelling[1] == CIRCUMFLEX_CHAR) marks.cps[marks.count++] = combining_marks[1];
        }
        if (tone != TONE_NONE) marks.cps[marks.count++] = combining_tone(tone);
        table[s.bytes[1]] = marks;
    });
    table[VNI_ETH] = {{0x0111, 0}, 1};
    table[VNI_ETH - VNI_CAPITAL_SHIFT] = {{0x0110, 0}, 1};
    return table;
}
inline constexpr std::array<vni_reading, 256> vni_readings = make_vni_readings();

// The bytes of characters that are not letters: every byte that reads as one
// code point, but Ð and ð (read as Đ and đ, which have their own bytes).
constexpr single_byte_charset make_vni_others() {
    single_byte_charset c{};
    for (int b = 0; b < 256; ++b) c.decode[b] = vni_readings[b].count == 1 ? vni_readings[b].cps[0] : UNDEFINED_INPUT;
    c.read_only[VNI_ETH] = c.read_only[VNI_ETH - VNI_CAPITAL_SHIFT] = true;
    return c;
}
inline constexpr single_byte_charset vni_others = make_vni_others();

namespace vni_check {

// No byte is both a letter and a mark, or two different marks: reading each
// letter's bytes gives back its base and marks.
constexpr bool spellings_read_back() {
    bool ok = true;
    for_each_letter([&](int cls, int tone, unsigned char code) {
        const vni_spelling s = spell_in_vni(cls, tone);
        if (s.length == 1) {
            ok = ok && vni_readings[s.bytes[0]].cps[0] == unicode_rows[cls][tone];
            return;
        }
        // base, then marks: the letter joiner's tables must make the letter
        unsigned char letter = viscii_letter_of(vni_readings[s.bytes[0]].cps[0]);
        const vni_reading &marks = vni_readings[s.bytes[1]];
        for (int m = 0; m < marks.count && letter != 0; ++m) letter = mark_joins[letter][combining_mark_of(marks.cps[m])];
        ok = ok && letter == code;
    });
    return ok;
}

constexpr int count_two_byte_letters() {
    int n = 0;
    for_each_letter([&](int cls, int tone, unsigned char) { n += spell_in_vni(cls, tone).length == 2; });
    return n;
}

static_assert(spellings_read_back());
// Of the 134 letters beyond ASCII, 18 are one byte (ơ ư đ, i with five tones,
// ỵ, each in two cases) and the rest two.
static_assert(count_two_byte_letters() == 134 - 18);
static_assert(vni_of_viscii[0xAE].bytes[0] == 'e' && vni_of_viscii[0xAE].bytes[1] == 0xE4, "ệ is e and 0xE4");
static_assert(vni_of_viscii[0x8A].bytes[0] == 'E' && vni_of_viscii[0x8A].bytes[1] == 0xC1, "Ế is E and 0xC1");

}  // namespace vni_check

// The fast lane's table: each byte as one character, or as its two marks.
constexpr byte_fields make_vni_fields() {
    byte_fields fields{};
    for (int b = 0; b < 256; ++b) {
        const vni_reading &r = vni_readings[b];
        fields[b] = r.count == 1 ? field_of(r.cps[0]) : field_of_marks(r.cps[0], r.cps[1]);
    }
    return fields;
}

class vni_decoder final : public decoder {
public:
    const byte_fields *fields() const override { return &table; }
    std::size_t decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) override {
        char32_t *o = out;
        for (std::size_t i = 0; i < n; ++i) {
            const vni_reading &r = vni_readings[in[i]];
            if (r.cps[0] == UNDEFINED_INPUT) input.note_undefined(input.offset + i, in[i]);
            *o++ = r.cps[0];
            if (r.count == 2) *o++ = r.cps[1];
        }
        return static_cast<std::size_t>(o - out);
    }
    std::size_t finish(char32_t *, input_tracker &) override { return 0; }
    bool decomposes() const override { return true; }

private:
    static constexpr byte_fields table = make_vni_fields();
};

// How each code point is written: a letter as its one or two bytes, any
// other character as its byte; in the fast lanes' tables (fast_lanes.h).
constexpr spelling_pages make_vni_spellings() {
    const reverse_charset others = make_reverse(vni_others);
    spelling_pages s;
    for (char32_t cp = 0; cp < REVERSE_END; ++cp) {
        if (const unsigned char letter = viscii_letter_of(cp); letter != 0) {
            const vni_spelling &v = vni_of_viscii[letter];
            s.put(cp, {{v.bytes[0], v.bytes[1]}, v.length});
        } else if (const int b = others.byte_of(cp); b >= 0) {
            s.put(cp, {{static_cast<unsigned char>(b), 0}, 1});
        }
    }
    s.note_printable_ascii();
    return s;
}

class vni_encoder final : public encoder {
public:
    unsigned char *encode(const char32_t *in, std::size_t n, unsigned char *o, loss_sink &losses) override {
        return write_spelled(spelled, in, n, o, losses, [](char32_t) { return -1; });
    }
    const spelling_pages *spellings() const override { return &spelled; }
    const flat_spellings *flat() const override { return &flat_spelled; }
    const viscii_byte_spellings *viscii_spelled() const override { return &from_viscii; }

private:
    static constexpr spelling_pages spelled = make_vni_spellings();
    static constexpr flat_spellings flat_spelled = make_flat_spellings(spelled);
    static constexpr viscii_byte_spellings from_viscii = make_viscii_byte_spellings(spelled);
    static_assert(spelled.printable_ascii_as_is && !from_viscii.one_byte);
};

}  // namespace viqr::detail
