// The encoder's tables, all derived at compile time from the VISCII letter
// assignment in viscii_letters.h and the byte classes of byte_classes.h: how
// each byte is spelled in VIQR, what it joins and accepts, and its lower case.  The static_asserts at the end pin the counts of the character set.
#pragma once

#include <array>
#include <cstdint>

#include "byte_classes.h"
#include "viscii_letters.h"

namespace viqr::detail {

// A VIQR spelling: up to three characters, NUL-terminated in a 4-byte field
// so that the encoder can copy a whole entry and advance by its length.
struct spelling {
    char text[4];
    unsigned char length;
};

namespace encoder_tables_detail {

constexpr int length_of(const char *s) {
    int n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

constexpr std::array<spelling, 256> make_spellings() {
    std::array<spelling, 256> table{};
    // 0x00 is carried through like any other control.
    for (int b = 0; b < 0x80; ++b) table[b] = {{char(b), '\0', '\0', '\0'}, 1};
    for (int b = 0x80; b < 256; ++b) table[b] = {{'\0', '\0', '\0', '\0'}, 0};
    for_each_letter([&](int cls, int tone, unsigned char code) {
        spelling s{};
        int n = length_of(letter_rows[cls].spelling);
        for (int i = 0; i < n; ++i) s.text[i] = letter_rows[cls].spelling[i];
        if (tone != TONE_NONE) s.text[n++] = tone_mark_char[tone];
        s.length = static_cast<unsigned char>(n);
        table[code] = s;
    });
    return table;
}

constexpr std::array<unsigned char, 256> make_lower() {
    std::array<unsigned char, 256> lower{};
    for (int b = 0; b < 256; ++b) lower[b] = static_cast<unsigned char>(b);
    for (int cls = 1; cls <= CASE_DISTANCE; ++cls)
        for (int tone = 0; tone < TONE_COUNT; ++tone)
            if (letter_rows[cls].code[tone] != 0)
                lower[letter_rows[cls].code[tone]] = letter_rows[cls + CASE_DISTANCE].code[tone];
    for (int b = 'A'; b <= 'Z'; ++b) lower[b] = static_cast<unsigned char>(b - 'A' + 'a');
    return lower;
}

}  // namespace encoder_tables_detail

inline constexpr std::array<spelling, 256> viqr_spelling = encoder_tables_detail::make_spellings();
inline constexpr std::array<unsigned char, 256> viscii_lower = encoder_tables_detail::make_lower();

inline constexpr unsigned char SMALL_D = 'd';
inline constexpr unsigned char SMALL_D_STROKE = 0xF0;

// What a byte would do if a VIQR reader saw it right after another one (what
// it "joins"), and what a byte would take if read right before it (what it
// "accepts").  A pair needs an escape between them when the two share a bit.
inline constexpr unsigned char JOIN_D = 0x01;       // a D or đ after D or d makes Đ
inline constexpr unsigned char JOIN_SHAPE = 0x02;   // a shape mark after an unshaped vowel
inline constexpr unsigned char JOIN_TONE = 0x04;    // a tone mark after an untoned vowel
inline constexpr unsigned char JOIN_RUN = 0x08;     // English mode: goes on composing after a shaped, untoned letter

namespace encoder_tables_detail {

// The ASCII letters of the letter rows are exactly D and the six vowels.
constexpr bool is_ascii_d_or_vowel(int b) {
    return is_ascii_letter(static_cast<unsigned char>(b)) && is_row_letter(static_cast<unsigned char>(b));
}

// In Vietnamese mode a reader joins these to the letter before.
constexpr std::array<unsigned char, 256> make_vietnamese_joins() {
    std::array<unsigned char, 256> joins{};
    for (int b = 0; b < 256; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        if (viscii_lower[b] == SMALL_D || viscii_lower[b] == SMALL_D_STROKE) joins[b] |= JOIN_D;
        if (is_shape_mark(byte)) joins[b] |= JOIN_SHAPE;
        if (is_tone_mark(byte)) joins[b] |= JOIN_TONE;
    }
    return joins;
}

constexpr std::array<unsigned char, 256> make_vietnamese_accepts() {
    std::array<unsigned char, 256> accepts{};
    for (int b = 0; b < 256; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        if (viscii_lower[b] == SMALL_D) accepts[b] |= JOIN_D;
        if (byte_is(byte, BYTE_VOWEL) && !byte_is(byte, BYTE_HAS_SHAPE)) accepts[b] |= JOIN_SHAPE;
        if (byte_is(byte, BYTE_VOWEL) && !byte_is(byte, BYTE_HAS_TONE)) accepts[b] |= JOIN_TONE;
    }
    return accepts;
}

// In English mode a reader that has just composed a letter with a shape mark
// and no tone is still composing: a tone mark would join it, and a vowel or a
// D would start another letter of the same run.
constexpr std::array<unsigned char, 256> make_english_joins() {
    std::array<unsigned char, 256> joins{};
    for (int b = 0; b < 256; ++b)
        if (is_tone_mark(static_cast<unsigned char>(b)) || is_ascii_d_or_vowel(b)) joins[b] = JOIN_RUN;
    return joins;
}

constexpr std::array<unsigned char, 256> make_english_accepts() {
    std::array<unsigned char, 256> accepts{};
    for (int b = 0; b < 256; ++b)
        if (byte_classes[b] & BYTE_HAS_SHAPE && !(byte_classes[b] & BYTE_HAS_TONE)) accepts[b] = JOIN_RUN;
    return accepts;
}

// Letters that carry a mark, and both forms of đ, are introduced by the
// composition character in English mode.
constexpr std::array<bool, 256> make_english_marked() {
    std::array<bool, 256> marked{};
    for (int b = 0; b < 256; ++b)
        marked[b] = (byte_classes[b] & (BYTE_HAS_SHAPE | BYTE_HAS_TONE)) || viscii_lower[b] == SMALL_D_STROKE;
    return marked;
}

template <class T, class Pred>
constexpr int count_bytes(const std::array<T, 256> &table, Pred pred) {
    int n = 0;
    for (const T &entry : table) n += pred(entry) ? 1 : 0;
    return n;
}

constexpr bool spellings_are_distinct() {
    for (int a = 0; a < 256; ++a)
        for (int b = a + 1; b < 256; ++b) {
            const spelling &x = viqr_spelling[a], &y = viqr_spelling[b];
            if (x.length == y.length && x.text[0] == y.text[0] && x.text[1] == y.text[1] && x.text[2] == y.text[2])
                return false;
        }
    return true;
}

}  // namespace encoder_tables_detail

inline constexpr std::array<unsigned char, 256> vietnamese_joins = encoder_tables_detail::make_vietnamese_joins();
inline constexpr std::array<unsigned char, 256> vietnamese_accepts = encoder_tables_detail::make_vietnamese_accepts();
inline constexpr std::array<unsigned char, 256> english_joins = encoder_tables_detail::make_english_joins();
inline constexpr std::array<unsigned char, 256> english_accepts = encoder_tables_detail::make_english_accepts();
inline constexpr std::array<bool, 256> english_marked = encoder_tables_detail::make_english_marked();

// Everything the encoder's common case needs of a byte, in one 8-byte word:
// its spelling in the low four bytes (NUL-padded), the spelling's length in
// the fifth, and in the sixth whether it joins what comes before it in the
// given mode, in which case the encoder must look at the previous byte.
struct packed_spelling {
    char text[4];
    unsigned char length;
    unsigned char needs_care;
    unsigned char unused[2];
};
static_assert(sizeof(packed_spelling) == 8);

template <class NeedsCare>
constexpr std::array<packed_spelling, 256> pack_spellings(NeedsCare needs_care) {
    std::array<packed_spelling, 256> table{};
    for (int b = 0; b < 256; ++b) {
        for (int i = 0; i < 4; ++i) table[b].text[i] = viqr_spelling[b].text[i];
        table[b].length = viqr_spelling[b].length;
        table[b].needs_care = needs_care(b) ? 1 : 0;
    }
    return table;
}

inline constexpr std::array<packed_spelling, 256> vietnamese_spelling =
    pack_spellings([](int b) { return vietnamese_joins[b] != 0; });
inline constexpr std::array<packed_spelling, 256> english_spelling =
    pack_spellings([](int b) { return english_joins[b] != 0 || english_marked[b]; });

namespace encoder_tables_check {
using namespace encoder_tables_detail;
static_assert(count_bytes(viqr_spelling, [](const spelling &s) { return s.length == 0; }) == 0,
              "every byte has a spelling");
static_assert(spellings_are_distinct(), "no two bytes share a spelling");
static_assert(viqr_spelling[0x14].text[0] == 'Y' && viqr_spelling[0x14].text[1] == '?');
static_assert(viqr_spelling[0xD0].length == 2 && viqr_spelling[0xF0].text[0] == 'd');
static_assert(viscii_lower[0xD0] == 0xF0 && viscii_lower[0x80] == 0xD5 && viscii_lower[0x14] == 0xD6 &&
              viscii_lower[0xC2] == 0xE2);
constexpr int count_changed_by_lower() {
    int n = 0;
    for (int b = 0; b < 256; ++b) n += viscii_lower[b] != b;
    return n;
}
static_assert(count_changed_by_lower() == 26 + 67, "A to Z and the 67 VISCII capitals");
static_assert(count_bytes(english_accepts, [](unsigned char a) { return a != 0; }) == 12,
              "Ă Â Ê Ô Ơ Ư and their lower case");
}  // namespace encoder_tables_check

}  // namespace viqr::detail
