// What every byte is, in one 256-entry property table: ASCII letter, digit,
// white space, control, VIQR mark character, and for the bytes of the letter
// rows whether the letter is a vowel, carries a shape mark or a tone.  The
// letter bits are derived from `letter_rows` at compile time; each predicate
// is one look-up, so every reader of bytes asks the same question the same way.
#pragma once

#include <array>
#include <cstdint>

#include "viscii_letters.h"

namespace viqr::detail {

inline constexpr std::uint16_t BYTE_UPPER = 0x001;       // A..Z
inline constexpr std::uint16_t BYTE_LOWER = 0x002;       // a..z
inline constexpr std::uint16_t BYTE_DIGIT = 0x004;       // 0..9
inline constexpr std::uint16_t BYTE_SPACE = 0x008;       // space, \t \n \v \f \r (the C locale's isspace)
inline constexpr std::uint16_t BYTE_CONTROL = 0x010;     // C0 controls and DEL
inline constexpr std::uint16_t BYTE_SHAPE_MARK = 0x020;  // ( ^ +
inline constexpr std::uint16_t BYTE_TONE_MARK = 0x040;   // ' ` ? ~ .
inline constexpr std::uint16_t BYTE_LETTER = 0x080;      // a letter of `letter_rows`: ASCII or VISCII
inline constexpr std::uint16_t BYTE_VOWEL = 0x100;       // a vowel letter of `letter_rows`
inline constexpr std::uint16_t BYTE_HAS_SHAPE = 0x200;   // a letter with a shape mark
inline constexpr std::uint16_t BYTE_HAS_TONE = 0x400;    // a letter with a tone

namespace byte_classes_detail {

constexpr bool is_vowel_spelling(char c) {
    for (char v : "AEIOUYaeiouy")
        if (v != '\0' && v == c) return true;
    return false;
}

constexpr std::array<std::uint16_t, 256> make_byte_classes() {
    std::array<std::uint16_t, 256> classes{};
    for (int b = 0; b < 0x80; ++b) {
        std::uint16_t c = 0;
        if (b >= 'A' && b <= 'Z') c |= BYTE_UPPER;
        if (b >= 'a' && b <= 'z') c |= BYTE_LOWER;
        if (b >= '0' && b <= '9') c |= BYTE_DIGIT;
        if (b == ' ' || (b >= '\t' && b <= '\r')) c |= BYTE_SPACE;
        if (b < ' ' || b == 0x7F) c |= BYTE_CONTROL;
        if (is_shape_char(char(b))) c |= BYTE_SHAPE_MARK;
        classes[b] = c;
    }
    for (int tone = TONE_ACUTE; tone < TONE_COUNT; ++tone)
        classes[static_cast<unsigned char>(tone_mark_char[tone])] |= BYTE_TONE_MARK;
    // A VISCII letter in the C0 range keeps its control bit: it is both, and
    // each reader decides which one counts for it.
    for_each_letter([&](int cls, int tone, unsigned char code) {
        const letter_row &row = letter_rows[cls];
        std::uint16_t c = BYTE_LETTER;
        if (is_vowel_spelling(row.spelling[0])) c |= BYTE_VOWEL;
        if (row_has_shape(row)) c |= BYTE_HAS_SHAPE;
        if (tone != TONE_NONE) c |= BYTE_HAS_TONE;
        classes[code] |= c;
    });
    return classes;
}

}  // namespace byte_classes_detail

inline constexpr std::array<std::uint16_t, 256> byte_classes = byte_classes_detail::make_byte_classes();

constexpr bool byte_is(unsigned char b, std::uint16_t bits) { return (byte_classes[b] & bits) != 0; }
constexpr bool is_ascii_upper(unsigned char b) { return byte_is(b, BYTE_UPPER); }
constexpr bool is_ascii_lower(unsigned char b) { return byte_is(b, BYTE_LOWER); }
constexpr bool is_ascii_letter(unsigned char b) { return byte_is(b, BYTE_UPPER | BYTE_LOWER); }
constexpr bool is_digit(unsigned char b) { return byte_is(b, BYTE_DIGIT); }
constexpr bool is_space(unsigned char b) { return byte_is(b, BYTE_SPACE); }
constexpr bool is_control(unsigned char b) { return byte_is(b, BYTE_CONTROL); }
constexpr bool is_shape_mark(unsigned char b) { return byte_is(b, BYTE_SHAPE_MARK); }
constexpr bool is_tone_mark(unsigned char b) { return byte_is(b, BYTE_TONE_MARK); }
constexpr bool is_viqr_mark(unsigned char b) { return byte_is(b, BYTE_SHAPE_MARK | BYTE_TONE_MARK); }
constexpr bool is_row_letter(unsigned char b) { return byte_is(b, BYTE_LETTER); }
constexpr bool is_viscii_letter(unsigned char b) { return is_row_letter(b) && !is_ascii_letter(b); }

namespace byte_classes_check {

constexpr int count_bytes(std::uint16_t bits) {
    int n = 0;
    for (int b = 0; b < 256; ++b) n += byte_is(static_cast<unsigned char>(b), bits);
    return n;
}

static_assert(count_bytes(BYTE_UPPER) == 26 && count_bytes(BYTE_LOWER) == 26 && count_bytes(BYTE_DIGIT) == 10);
static_assert(count_bytes(BYTE_SPACE) == 6 && count_bytes(BYTE_CONTROL) == 33);
static_assert(count_bytes(BYTE_SHAPE_MARK) == 3 && count_bytes(BYTE_TONE_MARK) == 5);
static_assert(count_bytes(BYTE_LETTER) == 14 + 134, "A D E I O U Y in both cases, and every VISCII letter");
static_assert(count_bytes(BYTE_VOWEL) == 144, "twelve ASCII vowels and 132 VISCII vowels");
static_assert(count_bytes(BYTE_HAS_SHAPE) == 72, "twelve shaped rows of six letters");
static_assert(count_bytes(BYTE_HAS_TONE) == 120, "24 vowel rows, five tones each");
static_assert(!is_space(0x02) && is_control(0x02) && is_viscii_letter(0x02) && !is_viscii_letter('a'));

}  // namespace byte_classes_check

}  // namespace viqr::detail
