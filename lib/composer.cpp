#include "composer.h"

#include <cstring>

unsigned char class_table[256];
unsigned char default_class_table[256];

namespace composer_tables_check {
using namespace composer_tables_detail;

constexpr int bytes_with_class(int cls) {
    int n = 0;
    for (unsigned char k : default_classes) n += k == cls;
    return n;
}

constexpr int bytes_with_any_class() { return 256 - bytes_with_class(CLASS_NONE); }

// Every class but Đ and đ belongs to exactly one byte.
constexpr bool classes_have_one_byte_each() {
    for (int cls = 1; cls < CLASS_COUNT; ++cls) {
        const bool stroked = cls < LETTER_CLASS_COUNT && row_is_d(letter_rows[cls]) && !is_plain_d_row(cls);
        if (bytes_with_class(cls) != (stroked ? 0 : 1)) return false;
    }
    return true;
}

// A row spelled with a mark lies the mark's shift past its bare row, for every
// letter alike, so that adding class_shift always lands on the right row.
constexpr bool marked_rows_lie_one_shift_on() {
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls) {
        const letter_row &row = letter_rows[cls];
        if (row.spelling[1] == '\0') continue;
        if (cls - class_spelled(row.spelling[0], '\0') != shift_of_mark(row.spelling[1])) return false;
    }
    return true;
}

// Each shaped row and each Đ / đ row is reached from exactly one bare letter.
constexpr bool every_marked_row_reachable_once() {
    const unsigned char bits[] = {MARK_STROKE, MARK_BREVE, MARK_CIRCUMFLEX, MARK_HORN};
    const int shifts[] = {stroke_shift(), shift_of_mark(BREVE_CHAR), shift_of_mark(CIRCUMFLEX_CHAR),
                          shift_of_mark(HORN_CHAR)};
    int reached[LETTER_CLASS_COUNT] = {};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        for (int i = 0; i < 4; ++i)
            if (accept_mask[cls] & bits[i]) ++reached[cls + shifts[i]];
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (reached[cls] != (letter_rows[cls].spelling[1] != '\0' ? 1 : 0)) return false;
    return true;
}

constexpr bool cases_behave_alike() {
    for (int cls = 1; cls <= CASE_DISTANCE; ++cls)
        if (accept_mask[cls] != accept_mask[cls + CASE_DISTANCE] || mark_bits[cls] != mark_bits[cls + CASE_DISTANCE] ||
            class_shift[cls] != class_shift[cls + CASE_DISTANCE])
            return false;
    return true;
}

// Any letter reachable in COMPOSER_SHAPED takes every tone, which is why that
// state makes no accept_mask test.
constexpr bool shaped_letters_take_every_tone() {
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (row_has_shape(letter_rows[cls]) && accept_mask[cls] != TONE_MASK) return false;
    return true;
}

static_assert(bytes_with_any_class() == 34, "26 letters that start one, five tone marks, three shape marks");
static_assert(bytes_with_class(5) == 0 && bytes_with_class(19) == 0, "Đ and đ are reached only by merging");
static_assert(classes_have_one_byte_each());
static_assert(marked_rows_lie_one_shift_on());
static_assert(every_marked_row_reachable_once());
static_assert(cases_behave_alike());
static_assert(shaped_letters_take_every_tone());
static_assert(class_shift[FIRST_SHAPE_CLASS] == 1 && class_shift[FIRST_SHAPE_CLASS + 1] == 2 &&
                  class_shift[FIRST_SHAPE_CLASS + 2] == 3 && class_shift[1] == 4,
              "breve, circumflex, horn and the second D move a letter 1, 2, 3 and 4 rows on");
static_assert(accept_mask[2] == 0x1F && accept_mask[6] == 0x17 && accept_mask[9] == 0x37 && accept_mask[10] == 0x27 &&
              accept_mask[7] == 0x07 && accept_mask[1] == 0x40 && accept_mask[5] == 0x00);
static_assert(default_classes[0x44] == 1 && default_classes[0xC2] == 4 && default_classes[0xBF] == 13 &&
              default_classes[0xD0] == 0 && default_classes['\''] == FIRST_TONE_CLASS &&
              default_classes['.'] == FIRST_TONE_CLASS + 4 && default_classes['+'] == CLASS_COUNT - 1);
static_assert(viscii_letter[3][TONE_HOOK] == 0x02 && viscii_letter[19][TONE_NONE] == 0xF0);

}  // namespace composer_tables_check

void composer_reset(composer &c) {
    c.state = COMPOSER_IDLE;
    std::memcpy(default_class_table, default_classes.data(), sizeof default_class_table);
    std::memcpy(class_table, default_class_table, sizeof class_table);
    std::memcpy(c.mark_chars, default_mark_chars, sizeof c.mark_chars);
}

int composer_set_mark(int mark, unsigned char character, composer &c) {
    int entry = 0;
    while (entry < MARK_COUNT && default_mark_chars[entry] != mark) ++entry;
    if (entry == MARK_COUNT) return 0;

    const unsigned char current = c.mark_chars[entry];
    if (character == current) return 1;
    // The new character takes the class the current one has now; the current
    // one falls back to its default (the mark itself, for a default character).
    class_table[character] = class_table[current];
    class_table[current] = default_class_table[current];
    c.mark_chars[entry] = character;
    return 1;
}
