// The letter composer: builds one VISCII letter from its VIQR spelling, a
// base letter followed by at most one shape mark and then at most one tone
// mark, or a D followed by a second D.  One byte in, one byte out per step;
// two flags tell the caller whether the byte replaces the previous one and
// whether the letter may still take marks.
//
// Every table here is derived at compile time from the letter assignment in
// viscii_letters.h.  The two 256-entry class tables the composer consults at
// run time start all zero and are filled from the derived assignment by
// composer_reset.
#pragma once

#include <array>

#include "viscii_letters.h"

inline constexpr unsigned char COMPOSER_IDLE = 0;    // no letter under construction
inline constexpr unsigned char COMPOSER_BASE = 1;    // a letter taken; may take a shape, a tone or a second D
inline constexpr unsigned char COMPOSER_SHAPED = 2;  // a shape mark merged; may still take a tone

// What a byte brings when it follows a letter: a tone number in the low three
// bits, or one of the other marks.
inline constexpr unsigned char TONE_MASK = 0x07;
inline constexpr unsigned char MARK_BREVE = 0x08;
inline constexpr unsigned char MARK_CIRCUMFLEX = 0x10;
inline constexpr unsigned char MARK_HORN = 0x20;
inline constexpr unsigned char MARK_STROKE = 0x40;  // carried by D and d: a second D makes Đ / đ

// Letter classes: 0 no part of a letter, 1..28 letters (the letter rows),
// 29..33 the five tone marks in tone order, 34..36 breve, circumflex, horn.
inline constexpr int CLASS_NONE = 0;
inline constexpr int FIRST_TONE_CLASS = LETTER_CLASS_COUNT;           // 29, acute
inline constexpr int FIRST_SHAPE_CLASS = FIRST_TONE_CLASS + TONE_COUNT - 1;  // 34, breve
inline constexpr int SHAPE_MARK_COUNT = 3;
inline constexpr int CLASS_COUNT = FIRST_SHAPE_CLASS + SHAPE_MARK_COUNT;     // 37
inline constexpr int MARK_COUNT = SHAPE_MARK_COUNT + TONE_COUNT - 1;         // 8

// The shape marks in class order, with what each brings.
inline constexpr char shape_mark_char[SHAPE_MARK_COUNT] = {BREVE_CHAR, CIRCUMFLEX_CHAR, HORN_CHAR};
inline constexpr unsigned char shape_mark_bit[SHAPE_MARK_COUNT] = {MARK_BREVE, MARK_CIRCUMFLEX, MARK_HORN};

// The per-context record.  Only `state` and `letter_class` carry from one
// step to the next; the other fields record the bytes of the current letter.
struct composer {
    unsigned char state;
    unsigned char base_char;
    unsigned char mark_char;
    unsigned char tone_char;
    unsigned char letter_class;
    unsigned char mark_class;
    unsigned char tone_class;
    unsigned char mark_chars[MARK_COUNT];  // breve, circumflex, horn, acute, grave, hook, tilde, dot
};

// The default characters of the eight marks, in the order of `mark_chars`.
inline constexpr char default_mark_chars[MARK_COUNT] = {BREVE_CHAR, CIRCUMFLEX_CHAR, HORN_CHAR, '\'', '`',
                                                        '?', '~', '.'};

namespace composer_tables_detail {

using class_row = std::array<unsigned char, CLASS_COUNT>;

constexpr bool same_spelling(const char *a, const char *b) {
    for (int i = 0; i < 3; ++i) {
        if (a[i] != b[i]) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

// The class of the row spelled `first`, `second`; -1 when there is none.
constexpr int class_spelled(char first, char second) {
    const char wanted[3] = {first, second, '\0'};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (same_spelling(letter_rows[cls].spelling, wanted)) return cls;
    return -1;
}

constexpr bool is_plain_d_row(int cls) { return row_is_d(letter_rows[cls]) && letter_rows[cls].spelling[1] == '\0'; }

// How far a mark moves a letter's class: the distance from a bare row to the
// row spelled with the mark after it.  The same for every letter that takes
// the mark (checked in composer.cpp).
constexpr int shift_of_mark(char mark) {
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls) {
        const letter_row &row = letter_rows[cls];
        if (row.spelling[1] != '\0') continue;
        const int marked = class_spelled(row.spelling[0], mark);
        if (marked > 0) return marked - cls;
    }
    return 0;
}

constexpr int stroke_shift() { return shift_of_mark('D'); }

constexpr class_row make_mark_bits() {
    class_row bits{};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (is_plain_d_row(cls)) bits[cls] = MARK_STROKE;
    for (int tone = TONE_ACUTE; tone < TONE_COUNT; ++tone)
        bits[FIRST_TONE_CLASS + tone - 1] = static_cast<unsigned char>(tone);
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s) bits[FIRST_SHAPE_CLASS + s] = shape_mark_bit[s];
    return bits;
}

constexpr class_row make_class_shift() {
    class_row shift{};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (is_plain_d_row(cls)) shift[cls] = static_cast<unsigned char>(stroke_shift());
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s)
        shift[FIRST_SHAPE_CLASS + s] = static_cast<unsigned char>(shift_of_mark(shape_mark_char[s]));
    return shift;
}

// A letter accepts a second D when a row spells it doubled, every tone when its
// row has toned codes, and a shape mark when it has none yet and the row that
// the mark leads to is the same base letter with that mark.
constexpr class_row make_accept_mask() {
    class_row mask{};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls) {
        const letter_row &row = letter_rows[cls];
        unsigned char m = 0;
        if (is_plain_d_row(cls) && class_spelled(row.spelling[0], row.spelling[0]) > 0)
            m |= MARK_STROKE;
        if (row.code[TONE_ACUTE] != 0) m |= TONE_MASK;
        if (!row_has_shape(row) && !row_is_d(row))
            for (int s = 0; s < SHAPE_MARK_COUNT; ++s)
                if (class_spelled(row.spelling[0], shape_mark_char[s]) == cls + shift_of_mark(shape_mark_char[s]))
                    m |= shape_mark_bit[s];
        mask[cls] = m;
    }
    // Never consulted, since only letters are looked up; a shape mark carries
    // the mask of the shaped letters it leads to.
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s) mask[FIRST_SHAPE_CLASS + s] = TONE_MASK;
    return mask;
}

using letter_table = std::array<std::array<unsigned char, TONE_COUNT>, LETTER_CLASS_COUNT>;

constexpr letter_table make_viscii_letter() {
    letter_table table{};
    for (int cls = 0; cls < LETTER_CLASS_COUNT; ++cls)
        for (int tone = 0; tone < TONE_COUNT; ++tone) table[cls][tone] = letter_rows[cls].code[tone];
    return table;
}

// The byte of every row that can start a letter (all but Đ and đ, which are
// reached only by merging), and the eight mark characters.
constexpr std::array<unsigned char, 256> make_default_classes() {
    std::array<unsigned char, 256> classes{};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (!(row_is_d(letter_rows[cls]) && letter_rows[cls].spelling[1] != '\0'))
            classes[letter_rows[cls].code[TONE_NONE]] = static_cast<unsigned char>(cls);
    for (int tone = TONE_ACUTE; tone < TONE_COUNT; ++tone)
        classes[static_cast<unsigned char>(tone_mark_char[tone])] = static_cast<unsigned char>(FIRST_TONE_CLASS + tone - 1);
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s)
        classes[static_cast<unsigned char>(shape_mark_char[s])] = static_cast<unsigned char>(FIRST_SHAPE_CLASS + s);
    return classes;
}

}  // namespace composer_tables_detail

inline constexpr composer_tables_detail::class_row mark_bits = composer_tables_detail::make_mark_bits();
inline constexpr composer_tables_detail::class_row accept_mask = composer_tables_detail::make_accept_mask();
inline constexpr composer_tables_detail::class_row class_shift = composer_tables_detail::make_class_shift();
inline constexpr composer_tables_detail::letter_table viscii_letter = composer_tables_detail::make_viscii_letter();
inline constexpr std::array<unsigned char, 256> default_classes = composer_tables_detail::make_default_classes();

// The class tables shared by every composer of the process.  Both are all
// zero until the first composer_reset; `class_table` is what compose_char
// consults and what composer_set_mark rewrites, `default_class_table` is the
// assignment above as the last reset copied it.
extern unsigned char class_table[256];
extern unsigned char default_class_table[256];

// Puts the composer in COMPOSER_IDLE, rebuilds both shared class tables (so it
// undoes every composer_set_mark made through any composer) and gives this
// composer the default mark characters.
void composer_reset(composer &c);

// One step.  Returns either ch itself (`combined` 0; any letter under way is
// finished) or the letter of the previous step with ch merged into it
// (`combined` 1).  `pending` is 1 when the composer is not idle afterwards.
// Inline because it lies on the decoder's per-byte path.
inline unsigned char compose_char(composer &c, unsigned char ch, int &pending, int &combined);

// Makes `character` stand for the mark whose default character is `mark`.
// Returns 1 when `mark` names one of the eight marks, 0 (changing nothing)
// otherwise.
int composer_set_mark(int mark, unsigned char character, composer &c);

namespace composer_detail {

inline unsigned char start_letter(composer &c, unsigned char ch, unsigned char k, int &pending, int &combined) {
    c.base_char = ch;
    c.letter_class = k;
    const bool letter = k != CLASS_NONE && k < LETTER_CLASS_COUNT;
    c.state = letter ? COMPOSER_BASE : COMPOSER_IDLE;
    pending = letter;
    combined = 0;
    return ch;
}

inline unsigned char merge_into_base(composer &c, unsigned char ch, unsigned char k, int &pending, int &combined) {
    c.mark_char = ch;
    c.mark_class = k;
    if ((accept_mask[c.letter_class] & mark_bits[k]) == 0) return start_letter(c, ch, k, pending, combined);
    c.letter_class = static_cast<unsigned char>(c.letter_class + class_shift[k]);
    const bool shape = k >= FIRST_SHAPE_CLASS;
    c.state = shape ? COMPOSER_SHAPED : COMPOSER_IDLE;
    pending = shape;
    combined = 1;
    return viscii_letter[c.letter_class][mark_bits[k] & TONE_MASK];
}

inline unsigned char tone_shaped(composer &c, unsigned char ch, unsigned char k, int &pending, int &combined) {
    c.state = COMPOSER_IDLE;
    c.tone_char = ch;
    c.tone_class = k;
    if (k < FIRST_TONE_CLASS || k >= FIRST_SHAPE_CLASS) return start_letter(c, ch, k, pending, combined);
    pending = 0;
    combined = 1;
    return viscii_letter[c.letter_class][mark_bits[k] & TONE_MASK];
}

}  // namespace composer_detail

inline unsigned char compose_char(composer &c, unsigned char ch, int &pending, int &combined) {
    const unsigned char k = class_table[ch];
    switch (c.state) {
    case COMPOSER_BASE:
        return composer_detail::merge_into_base(c, ch, k, pending, combined);
    case COMPOSER_SHAPED:
        return composer_detail::tone_shaped(c, ch, k, pending, combined);
    default:
        return composer_detail::start_letter(c, ch, k, pending, combined);
    }
}
