// The Unicode code point of every letter of the VISCII assignment, in the
// shape of `letter_rows` (viscii_letters.h): indexed by letter class and tone.
// From it and from `letter_rows` come the tables that the UTF-8 conversions
// consult: a VISCII byte's UTF-8 bytes, a code point's VISCII byte, and how
// a combining mark after a letter turns it into another letter.
//
// A decomposed Vietnamese letter is its base letter followed by the combining
// form of its shape mark and of its tone mark.  Two such marks of the same
// canonical combining class (230: breve, circumflex and every tone but the dot
// below) may not change places without changing the text, so a shape mark
// joins a letter that already carries a tone of its class only in the
// canonical order, which is shape first.
#pragma once

#include <array>
#include <cstddef>

#include "composer.h"
#include "viscii_letters.h"

namespace viqr::detail {

inline constexpr char32_t unicode_rows[LETTER_CLASS_COUNT][TONE_COUNT] = {
    //  class  letter   none    acute   grave   hook    tilde   dot
    /*  0 */ /*      */ {0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000},
    /*  1 */ /* D    */ {0x0044, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000},
    /*  2 */ /* A    */ {0x0041, 0x00C1, 0x00C0, 0x1EA2, 0x00C3, 0x1EA0},  // A Á À Ả Ã Ạ
    /*  3 */ /* Ă    */ {0x0102, 0x1EAE, 0x1EB0, 0x1EB2, 0x1EB4, 0x1EB6},  // Ă Ắ Ằ Ẳ Ẵ Ặ
    /*  4 */ /* Â    */ {0x00C2, 0x1EA4, 0x1EA6, 0x1EA8, 0x1EAA, 0x1EAC},  // Â Ấ Ầ Ẩ Ẫ Ậ
    /*  5 */ /* Đ    */ {0x0110, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000},
    /*  6 */ /* E    */ {0x0045, 0x00C9, 0x00C8, 0x1EBA, 0x1EBC, 0x1EB8},  // E É È Ẻ Ẽ Ẹ
    /*  7 */ /* I    */ {0x0049, 0x00CD, 0x00CC, 0x1EC8, 0x0128, 0x1ECA},  // I Í Ì Ỉ Ĩ Ị
    /*  8 */ /* Ê    */ {0x00CA, 0x1EBE, 0x1EC0, 0x1EC2, 0x1EC4, 0x1EC6},  // Ê Ế Ề Ể Ễ Ệ
    /*  9 */ /* O    */ {0x004F, 0x00D3, 0x00D2, 0x1ECE, 0x00D5, 0x1ECC},  // O Ó Ò Ỏ Õ Ọ
    /* 10 */ /* U    */ {0x0055, 0x00DA, 0x00D9, 0x1EE6, 0x0168, 0x1EE4},  // U Ú Ù Ủ Ũ Ụ
    /* 11 */ /* Ô    */ {0x00D4, 0x1ED0, 0x1ED2, 0x1ED4, 0x1ED6, 0x1ED8},  // Ô Ố Ồ Ổ Ỗ Ộ
    /* 12 */ /* Ơ    */ {0x01A0, 0x1EDA, 0x1EDC, 0x1EDE, 0x1EE0, 0x1EE2},  // Ơ Ớ Ờ Ở Ỡ Ợ
    /* 13 */ /* Ư    */ {0x01AF, 0x1EE8, 0x1EEA, 0x1EEC, 0x1EEE, 0x1EF0},  // Ư Ứ Ừ Ử Ữ Ự
    /* 14 */ /* Y    */ {0x0059, 0x00DD, 0x1EF2, 0x1EF6, 0x1EF8, 0x1EF4},  // Y Ý Ỳ Ỷ Ỹ Ỵ
    /* 15 */ /* d    */ {0x0064, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000},
    /* 16 */ /* a    */ {0x0061, 0x00E1, 0x00E0, 0x1EA3, 0x00E3, 0x1EA1},  // a á à ả ã ạ
    /* 17 */ /* ă    */ {0x0103, 0x1EAF, 0x1EB1, 0x1EB3, 0x1EB5, 0x1EB7},  // ă ắ ằ ẳ ẵ ặ
    /* 18 */ /* â    */ {0x00E2, 0x1EA5, 0x1EA7, 0x1EA9, 0x1EAB, 0x1EAD},  // â ấ ầ ẩ ẫ ậ
    /* 19 */ /* đ    */ {0x0111, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000},
    /* 20 */ /* e    */ {0x0065, 0x00E9, 0x00E8, 0x1EBB, 0x1EBD, 0x1EB9},  // e é è ẻ ẽ ẹ
    /* 21 */ /* i    */ {0x0069, 0x00ED, 0x00EC, 0x1EC9, 0x0129, 0x1ECB},  // i í ì ỉ ĩ ị
    /* 22 */ /* ê    */ {0x00EA, 0x1EBF, 0x1EC1, 0x1EC3, 0x1EC5, 0x1EC7},  // ê ế ề ể ễ ệ
    /* 23 */ /* o    */ {0x006F, 0x00F3, 0x00F2, 0x1ECF, 0x00F5, 0x1ECD},  // o ó ò ỏ õ ọ
    /* 24 */ /* u    */ {0x0075, 0x00FA, 0x00F9, 0x1EE7, 0x0169, 0x1EE5},  // u ú ù ủ ũ ụ
    /* 25 */ /* ô    */ {0x00F4, 0x1ED1, 0x1ED3, 0x1ED5, 0x1ED7, 0x1ED9},  // ô ố ồ ổ ỗ ộ
    /* 26 */ /* ơ    */ {0x01A1, 0x1EDB, 0x1EDD, 0x1EDF, 0x1EE1, 0x1EE3},  // ơ ớ ờ ở ỡ ợ
    /* 27 */ /* ư    */ {0x01B0, 0x1EE9, 0x1EEB, 0x1EED, 0x1EEF, 0x1EF1},  // ư ứ ừ ử ữ ự
    /* 28 */ /* y    */ {0x0079, 0x00FD, 0x1EF3, 0x1EF7, 0x1EF9, 0x1EF5},  // y ý ỳ ỷ ỹ ỵ
};

// The combining marks, indexed as the composer indexes the eight marks:
// breve, circumflex, horn, then the five tones in tone order.
inline constexpr int COMBINING_MARK_COUNT = MARK_COUNT;
inline constexpr char32_t combining_marks[COMBINING_MARK_COUNT] = {0x0306, 0x0302, 0x031B, 0x0301,
                                                                   0x0300, 0x0309, 0x0303, 0x0323};
// Their canonical combining classes.
inline constexpr unsigned char combining_classes[COMBINING_MARK_COUNT] = {230, 230, 216, 230, 230, 230, 230, 220};
inline constexpr int FIRST_TONE_MARK = SHAPE_MARK_COUNT;  // tone t is mark FIRST_TONE_MARK + t - 1
inline constexpr int NO_MARK = -1;

// Which of the eight marks a code point is; U+0340 and U+0341 are canonical
// equivalents of the grave and acute tone marks.
constexpr int combining_mark_of(char32_t cp) {
    if (cp == 0x0340) return FIRST_TONE_MARK + TONE_GRAVE - 1;
    if (cp == 0x0341) return FIRST_TONE_MARK + TONE_ACUTE - 1;
    for (int m = 0; m < COMBINING_MARK_COUNT; ++m)
        if (combining_marks[m] == cp) return m;
    return NO_MARK;
}

// The code points that combining_mark_of recognises all lie here, so a
// table over this range answers for them.
inline constexpr char32_t FIRST_COMBINING = 0x0300;
inline constexpr char32_t LAST_COMBINING = 0x0341;

// Whether UTF-8 byte `b` may start a combining mark that joins a letter:
// the lead bytes of FIRST_COMBINING..LAST_COMBINING.
constexpr bool may_start_mark(unsigned char b) { return b == 0xCC || b == 0xCD; }
static_assert(0xC0 + (FIRST_COMBINING >> 6) == 0xCC && 0xC0 + (LAST_COMBINING >> 6) == 0xCD,
              "the combining marks' UTF-8 starts with CC or CD");

// One character's UTF-8 bytes in a 4-byte field, so that a writer can copy
// the whole field and advance by the length; eight bytes in all, so that a
// field is one load.
struct alignas(8) utf8_field {
    unsigned char bytes[4];
    unsigned char length;
};
static_assert(sizeof(utf8_field) == 8);

constexpr utf8_field utf8_of(char32_t cp) {
    if (cp < 0x80) return {{static_cast<unsigned char>(cp), 0, 0, 0}, 1};
    if (cp < 0x800)
        return {{static_cast<unsigned char>(0xC0 | (cp >> 6)), static_cast<unsigned char>(0x80 | (cp & 0x3F)), 0, 0},
                2};
    return {{static_cast<unsigned char>(0xE0 | (cp >> 12)), static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)),
             static_cast<unsigned char>(0x80 | (cp & 0x3F)), 0},
            3};
}

// Every Vietnamese letter lies below U+0200 or in Latin Extended Additional.
inline constexpr char32_t LOW_LETTERS_END = 0x0200;
inline constexpr char32_t HIGH_LETTERS_FIRST = 0x1EA0;
inline constexpr char32_t HIGH_LETTERS_END = 0x1EFA;

namespace unicode_tables {

// The VISCII byte whose letter has this code point; 0 for none.
template <char32_t First, char32_t End>
constexpr std::array<unsigned char, End - First> make_viscii_of() {
    std::array<unsigned char, End - First> table{};
    for_each_letter([&](int cls, int tone, unsigned char code) {
        const char32_t cp = unicode_rows[cls][tone];
        if (cp >= First && cp < End) table[cp - First] = code;
    });
    return table;
}

// What each byte value stands for in VISCII, as UTF-8.  ASCII stands for
// itself but for the six control codes that are letters in VISCII.
constexpr std::array<utf8_field, 256> make_utf8_of_viscii() {
    std::array<utf8_field, 256> table{};
    for (int b = 0; b < 0x80; ++b) table[b] = utf8_of(static_cast<char32_t>(b));
    for_each_letter([&](int cls, int tone, unsigned char code) { table[code] = utf8_of(unicode_rows[cls][tone]); });
    return table;
}

// The letter that a VISCII letter becomes when `mark` follows it, or 0 when
// the mark does not join it: a tone joins a vowel without one; a shape mark
// joins a vowel that has none and takes it, unless the letter's tone has the
// same combining class (then the text spells the tone first, which is not
// the letter).
using join_row = std::array<unsigned char, COMBINING_MARK_COUNT>;

constexpr std::array<join_row, 256> make_joins() {
    std::array<join_row, 256> table{};
    for_each_letter([&](int cls, int tone, unsigned char code) {
        const letter_row &row = letter_rows[cls];
        if (tone == TONE_NONE)
            for (int t = TONE_ACUTE; t < TONE_COUNT; ++t) table[code][FIRST_TONE_MARK + t - 1] = row.code[t];
        if (row_has_shape(row) || row_is_d(row)) return;
        for (int s = 0; s < SHAPE_MARK_COUNT; ++s) {
            const int shaped = class_spelled(row.spelling[0], shape_mark_char[s]);
            if (shaped < 0) continue;
            if (tone != TONE_NONE && combining_classes[FIRST_TONE_MARK + tone - 1] == combining_classes[s]) continue;
            table[code][s] = letter_rows[shaped].code[tone];
        }
    });
    return table;
}

constexpr std::array<bool, 256> make_takes_marks() {
    std::array<bool, 256> table{};
    const std::array<join_row, 256> joins = make_joins();
    for (int b = 0; b < 256; ++b)
        for (unsigned char j : joins[b]) table[b] = table[b] || j != 0;
    return table;
}

}  // namespace unicode_tables

inline constexpr auto viscii_of_low = unicode_tables::make_viscii_of<0, LOW_LETTERS_END>();
inline constexpr auto viscii_of_high = unicode_tables::make_viscii_of<HIGH_LETTERS_FIRST, HIGH_LETTERS_END>();
inline constexpr std::array<utf8_field, 256> utf8_of_viscii = unicode_tables::make_utf8_of_viscii();
inline constexpr std::array<unicode_tables::join_row, 256> mark_joins = unicode_tables::make_joins();
inline constexpr std::array<bool, 256> takes_marks = unicode_tables::make_takes_marks();

// The six control codes that are letters in VISCII; in UTF-8 they are controls.
constexpr bool is_c0_letter(unsigned char b) { return b < 0x20 && utf8_of_viscii[b].length > 1; }

namespace unicode_letters_check {

constexpr bool zero_where_letter_rows_are() {
    for (int cls = 0; cls < LETTER_CLASS_COUNT; ++cls)
        for (int tone = 0; tone < TONE_COUNT; ++tone)
            if ((unicode_rows[cls][tone] == 0) != (letter_rows[cls].code[tone] == 0)) return false;
    return true;
}

// A letter that is ASCII in VISCII is the same ASCII letter in Unicode, and
// every other letter lies beyond ASCII.
constexpr bool ascii_bases_agree() {
    bool ok = true;
    for_each_letter([&](int cls, int tone, unsigned char code) {
        const char32_t cp = unicode_rows[cls][tone];
        ok = ok && (code_is_ascii_letter(code) ? cp == code : cp >= 0x80);
    });
    return ok;
}

constexpr int count_beyond_ascii() {
    int n = 0;
    for_each_letter([&](int cls, int tone, unsigned char) { n += unicode_rows[cls][tone] >= 0x80; });
    return n;
}

constexpr bool code_points_distinct() {
    bool ok = true;
    for_each_letter([&](int c1, int t1, unsigned char) {
        for_each_letter([&](int c2, int t2, unsigned char) {
            if ((c1 != c2 || t1 != t2) && unicode_rows[c1][t1] == unicode_rows[c2][t2]) ok = false;
        });
    });
    return ok;
}

// Capital and small letter lie 0x20 apart in ASCII and Latin-1, next to each
// other beyond.
constexpr bool cases_pair_up() {
    for (int cls = 1; cls <= CASE_DISTANCE; ++cls)
        for (int tone = 0; tone < TONE_COUNT; ++tone) {
            const char32_t upper = unicode_rows[cls][tone], lower = unicode_rows[cls + CASE_DISTANCE][tone];
            if (upper == 0) continue;
            if (lower != upper + (upper < 0x100 ? 0x20 : 1)) return false;
        }
    return true;
}

// Every byte 0x80..0xFF and the six control codes that are letters have
// exactly one code point, found again by the reverse tables.
constexpr bool every_letter_byte_has_one_code_point() {
    int found = 0;
    for (int b = 0; b < 256; ++b) {
        int uses = 0;
        for_each_letter([&](int, int, unsigned char code) { uses += code == b; });
        const bool letter_code = b >= 0x80 || (b < 0x20 && uses > 0);
        if (letter_code && uses != 1) return false;
        found += letter_code;
    }
    bool ok = found == 134;
    for_each_letter([&](int cls, int tone, unsigned char code) {
        const char32_t cp = unicode_rows[cls][tone];
        const unsigned char back = cp < LOW_LETTERS_END ? viscii_of_low[cp] : viscii_of_high[cp - HIGH_LETTERS_FIRST];
        ok = ok && back == code && cp < HIGH_LETTERS_END && (cp < LOW_LETTERS_END || cp >= HIGH_LETTERS_FIRST);
    });
    return ok;
}

constexpr int count_c0_letters() {
    int n = 0;
    for (int b = 0; b < 0x20; ++b) n += is_c0_letter(static_cast<unsigned char>(b));
    return n;
}

constexpr int count_joins() {
    int n = 0;
    for (const auto &row : mark_joins)
        for (unsigned char j : row) n += j != 0;
    return n;
}

static_assert(zero_where_letter_rows_are());
static_assert(ascii_bases_agree());
static_assert(count_beyond_ascii() == 134, "the 134 VISCII letters beyond ASCII");
static_assert(code_points_distinct());
static_assert(cases_pair_up());
static_assert(every_letter_byte_has_one_code_point());
static_assert(count_c0_letters() == 6);
static_assert(combining_mark_of(0x0340) == combining_mark_of(0x0300) && combining_mark_of(0x0341) == FIRST_TONE_MARK);
// Tones: the 24 untoned vowels take five each (120).  Shapes, per case: the
// untoned A E O U take six (A breve and circumflex, E circumflex, O circumflex
// and horn, U horn); with a dot below the same six; with one of the other
// four tones only the horn (O and U: eight).  20 per case, 40 in all.
static_assert(count_joins() == 160);
static_assert(mark_joins[0xE1][1] == 0 && mark_joins[0xD5][1] == 0xA7 && mark_joins[0xF3][2] == 0xBE,
              "á takes no circumflex after it; ạ does (ậ); ó takes the horn (ớ)");

}  // namespace unicode_letters_check

}  // namespace viqr::detail
