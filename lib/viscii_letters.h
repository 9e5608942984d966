// The VISCII 1.1 letter assignment: the one place where a Vietnamese letter
// meets its byte.  Every other table of the project (the composer's letter and
// class tables, the encoder's spelling, property and lower-case tables) is
// derived from `letter_rows` at compile time and checked against it.
#pragma once

#include <cstddef>

namespace viqr::detail {

inline constexpr int TONE_NONE = 0;
inline constexpr int TONE_ACUTE = 1;
inline constexpr int TONE_GRAVE = 2;
inline constexpr int TONE_HOOK = 3;   // hook above
inline constexpr int TONE_TILDE = 4;
inline constexpr int TONE_DOT = 5;    // dot below
inline constexpr int TONE_COUNT = 6;

// The VIQR character of each tone, indexed by tone number; none for TONE_NONE.
inline constexpr char tone_mark_char[TONE_COUNT] = {'\0', '\'', '`', '?', '~', '.'};

// The VIQR characters of the three shape marks.
inline constexpr char BREVE_CHAR = '(';
inline constexpr char CIRCUMFLEX_CHAR = '^';
inline constexpr char HORN_CHAR = '+';

// One letter without its tone, and its VISCII code under each tone.
struct letter_row {
    char spelling[3];                 // base letter, then a shape mark or a second D
    unsigned char code[TONE_COUNT];   // 0 where the letter takes no tone
};

// Indexed by letter class: the fourteen capitals 1 to 14, the same fourteen in
// lower case 15 to 28 (lower-case class = capital class + 14).  Row 0 stands
// for no letter.  Classes 2..4, 6..14 and so on follow the order in which a
// shape mark raises a letter's class: A+1 is A(, A+2 is A^, D+4 is DD.
inline constexpr int LETTER_CLASS_COUNT = 29;
inline constexpr int CASE_DISTANCE = 14;

inline constexpr letter_row letter_rows[LETTER_CLASS_COUNT] = {
    //  class  spelling   none  acute grave hook  tilde dot
    /*  0 */ {"",    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    /*  1 */ {"D",   {0x44, 0x00, 0x00, 0x00, 0x00, 0x00}},
    /*  2 */ {"A",   {0x41, 0xC1, 0xC0, 0xC4, 0xC3, 0x80}},
    /*  3 */ {"A(",  {0xC5, 0x81, 0x82, 0x02, 0x05, 0x83}},
    /*  4 */ {"A^",  {0xC2, 0x84, 0x85, 0x86, 0x06, 0x87}},
    /*  5 */ {"DD",  {0xD0, 0x00, 0x00, 0x00, 0x00, 0x00}},
    /*  6 */ {"E",   {0x45, 0xC9, 0xC8, 0xCB, 0x88, 0x89}},
    /*  7 */ {"I",   {0x49, 0xCD, 0xCC, 0x9B, 0xCE, 0x98}},
    /*  8 */ {"E^",  {0xCA, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E}},
    /*  9 */ {"O",   {0x4F, 0xD3, 0xD2, 0x99, 0xA0, 0x9A}},
    /* 10 */ {"U",   {0x55, 0xDA, 0xD9, 0x9C, 0x9D, 0x9E}},
    /* 11 */ {"O^",  {0xD4, 0x8F, 0x90, 0x91, 0x92, 0x93}},
    /* 12 */ {"O+",  {0xB4, 0x95, 0x96, 0x97, 0xB3, 0x94}},
    /* 13 */ {"U+",  {0xBF, 0xBA, 0xBB, 0xBC, 0xFF, 0xB9}},
    /* 14 */ {"Y",   {0x59, 0xDD, 0x9F, 0x14, 0x19, 0x1E}},
    /* 15 */ {"d",   {0x64, 0x00, 0x00, 0x00, 0x00, 0x00}},
    /* 16 */ {"a",   {0x61, 0xE1, 0xE0, 0xE4, 0xE3, 0xD5}},
    /* 17 */ {"a(",  {0xE5, 0xA1, 0xA2, 0xC6, 0xC7, 0xA3}},
    /* 18 */ {"a^",  {0xE2, 0xA4, 0xA5, 0xA6, 0xE7, 0xA7}},
    /* 19 */ {"dd",  {0xF0, 0x00, 0x00, 0x00, 0x00, 0x00}},
    /* 20 */ {"e",   {0x65, 0xE9, 0xE8, 0xEB, 0xA8, 0xA9}},
    /* 21 */ {"i",   {0x69, 0xED, 0xEC, 0xEF, 0xEE, 0xB8}},
    /* 22 */ {"e^",  {0xEA, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE}},
    /* 23 */ {"o",   {0x6F, 0xF3, 0xF2, 0xF6, 0xF5, 0xF7}},
    /* 24 */ {"u",   {0x75, 0xFA, 0xF9, 0xFC, 0xFB, 0xF8}},
    /* 25 */ {"o^",  {0xF4, 0xAF, 0xB0, 0xB1, 0xB2, 0xB5}},
    /* 26 */ {"o+",  {0xBD, 0xBE, 0xB6, 0xB7, 0xDE, 0xFE}},
    /* 27 */ {"u+",  {0xDF, 0xD1, 0xD7, 0xD8, 0xE6, 0xF1}},
    /* 28 */ {"y",   {0x79, 0xFD, 0xCF, 0xD6, 0xDB, 0xDC}},
};

// Helpers for the checks below and for the tables derived elsewhere.
constexpr bool is_shape_char(char c) { return c == BREVE_CHAR || c == CIRCUMFLEX_CHAR || c == HORN_CHAR; }
constexpr bool row_has_shape(const letter_row &row) { return is_shape_char(row.spelling[1]); }
constexpr bool row_is_d(const letter_row &row) { return row.spelling[0] == 'D' || row.spelling[0] == 'd'; }
constexpr bool code_is_ascii_letter(unsigned char code) { return code >= 0x41 && code <= 0x7A; }

// The class of the row spelled `first`, `second` (a base letter and a shape
// mark or a second D, or `second` '\0' for a bare letter); -1 when none is.
constexpr int class_spelled(char first, char second) {
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls) {
        const char *s = letter_rows[cls].spelling;
        if (s[0] == first && s[1] == second) return cls;
    }
    return -1;
}

// Calls `visit(row_class, tone, code)` for every letter of the assignment.
template <class Visit>
constexpr void for_each_letter(Visit visit) {
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        for (int tone = 0; tone < TONE_COUNT; ++tone)
            if (tone == TONE_NONE || letter_rows[cls].code[tone] != 0)
                visit(cls, tone, letter_rows[cls].code[tone]);
}

namespace viscii_letters_check {

constexpr int count_letters_outside_ascii() {
    int n = 0;
    for_each_letter([&](int, int, unsigned char code) { n += !code_is_ascii_letter(code); });
    return n;
}

// Every byte outside ASCII letters is used at most once, and 0x80..0xFF all are.
constexpr bool codes_are_one_to_one() {
    int uses[256] = {};
    for_each_letter([&](int, int, unsigned char code) { ++uses[code]; });
    for (int b = 0; b < 256; ++b) {
        if (uses[b] > 1) return false;
        if (b >= 0x80 && uses[b] != 1) return false;
    }
    return true;
}

// A lower-case row is its capital row spelled in lower case.
constexpr bool cases_pair_up() {
    for (int cls = 1; cls <= CASE_DISTANCE; ++cls) {
        const letter_row &upper = letter_rows[cls], &lower = letter_rows[cls + CASE_DISTANCE];
        for (int i = 0; i < 3; ++i) {
            char u = upper.spelling[i], l = lower.spelling[i];
            char folded = (u >= 'A' && u <= 'Z') ? char(u - 'A' + 'a') : u;
            if (folded != l) return false;
        }
        for (int tone = 0; tone < TONE_COUNT; ++tone)
            if ((upper.code[tone] == 0) != (lower.code[tone] == 0)) return false;
    }
    return true;
}

// The letters that take no tone are exactly D, Đ and their lower case.
constexpr bool only_d_lacks_tones() {
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        for (int tone = 1; tone < TONE_COUNT; ++tone)
            if ((letter_rows[cls].code[tone] == 0) != row_is_d(letter_rows[cls])) return false;
    return true;
}

static_assert(count_letters_outside_ascii() == 134, "VISCII has 134 letters beyond plain ASCII");
static_assert(codes_are_one_to_one(), "every letter has one byte and 0x80..0xFF are all letters");
static_assert(cases_pair_up(), "each capital row has its lower-case row 14 classes on");
static_assert(only_d_lacks_tones(), "every vowel takes all five tones");

}  // namespace viscii_letters_check

}  // namespace viqr::detail
