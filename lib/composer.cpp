#include "composer.h"

#include <cstring>

namespace viqr::detail {

unsigned char class_table[256];
unsigned char default_class_table[256];

namespace {

// The class assignment and the per-class constants, worked out from the
// letter rows alone.  The table in composer.h must agree with them.
namespace derived {

constexpr bool is_plain_d_row(int cls) { return row_is_d(letter_rows[cls]) && letter_rows[cls].spelling[1] == '\0'; }

// How far a mark moves a letter's class: the distance from a bare row to the
// row spelled with the mark after it.
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

constexpr class_row mark_bits() {
    class_row bits{};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (is_plain_d_row(cls)) bits[cls] = MARK_STROKE;
    for (int tone = TONE_ACUTE; tone < TONE_COUNT; ++tone)
        bits[FIRST_TONE_CLASS + tone - 1] = static_cast<unsigned char>(tone);
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s) bits[FIRST_SHAPE_CLASS + s] = shape_mark_bit[s];
    return bits;
}

constexpr class_row class_shift() {
    class_row shift{};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (is_plain_d_row(cls)) shift[cls] = static_cast<unsigned char>(stroke_shift());
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s)
        shift[FIRST_SHAPE_CLASS + s] = static_cast<unsigned char>(shift_of_mark(shape_mark_char[s]));
    return shift;
}

// A letter accepts a second D when a row spells it doubled, every tone when its
// row has toned codes, and a shape mark when it has none yet and the row that
// the mark leads to is the same base letter with that mark.  A shape mark
// carries the mask of the shaped letters it leads to (never consulted).
constexpr class_row accept_mask() {
    class_row mask{};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls) {
        const letter_row &row = letter_rows[cls];
        unsigned char m = 0;
        if (is_plain_d_row(cls) && class_spelled(row.spelling[0], row.spelling[0]) > 0) m |= MARK_STROKE;
        if (row.code[TONE_ACUTE] != 0) m |= TONE_MASK;
        if (!row_has_shape(row) && !row_is_d(row))
            for (int s = 0; s < SHAPE_MARK_COUNT; ++s)
                if (class_spelled(row.spelling[0], shape_mark_char[s]) == cls + shift_of_mark(shape_mark_char[s]))
                    m |= shape_mark_bit[s];
        mask[cls] = m;
    }
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s) mask[FIRST_SHAPE_CLASS + s] = TONE_MASK;
    return mask;
}

}  // namespace derived

static_assert(accept_mask == derived::accept_mask(), "accept masks agree with the letter rows");
static_assert(mark_bits == derived::mark_bits(), "mark bits agree with the letter rows");
static_assert(class_shift == derived::class_shift(), "class shifts agree with the letter rows");

constexpr int bytes_with_class(int cls) {
    int n = 0;
    for (unsigned char k : default_classes) n += k == cls;
    return n;
}

// Every class but Đ and đ belongs to exactly one byte.
constexpr bool classes_have_one_byte_each() {
    for (int cls = 1; cls < CLASS_COUNT; ++cls) {
        const bool stroked = cls < LETTER_CLASS_COUNT && row_is_d(letter_rows[cls]) && !derived::is_plain_d_row(cls);
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
        if (cls - class_spelled(row.spelling[0], '\0') != derived::shift_of_mark(row.spelling[1]))
            return false;
    }
    return true;
}

// Each shaped row and each Đ / đ row is reached from exactly one bare letter.
constexpr bool every_marked_row_reachable_once() {
    const unsigned char bits[] = {MARK_STROKE, MARK_BREVE, MARK_CIRCUMFLEX, MARK_HORN};
    const int shifts[] = {class_shift[1], class_shift[FIRST_SHAPE_CLASS], class_shift[FIRST_SHAPE_CLASS + 1],
                          class_shift[FIRST_SHAPE_CLASS + 2]};
    int reached[LETTER_CLASS_COUNT] = {};
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        for (int i = 0; i < 4; ++i)
            if (accept_mask[cls] & bits[i]) ++reached[cls + shifts[i]];
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (reached[cls] != (letter_rows[cls].spelling[1] != '\0' ? 1 : 0)) return false;
    return true;
}

// Any letter reachable in COMPOSER_SHAPED takes every tone, which is why that
// state makes no accept_mask test.
constexpr bool shaped_letters_take_every_tone() {
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (row_has_shape(letter_rows[cls]) && accept_mask[cls] != TONE_MASK) return false;
    return true;
}

static_assert(bytes_with_class(CLASS_NONE) == 256 - 34, "26 letters that start one, five tone marks, three shape marks");
static_assert(classes_have_one_byte_each());
static_assert(marked_rows_lie_one_shift_on());
static_assert(every_marked_row_reachable_once());
static_assert(shaped_letters_take_every_tone());
static_assert(default_classes[0x44] == 1 && default_classes[0xC2] == 4 && default_classes[0xBF] == 13 &&
              default_classes[0xD0] == 0 && default_classes['\''] == FIRST_TONE_CLASS &&
              default_classes['.'] == FIRST_TONE_CLASS + 4 && default_classes['+'] == CLASS_COUNT - 1);

}  // namespace

void composer_reset(composer &c) {
    c.state = COMPOSER_IDLE;
    std::memcpy(default_class_table, default_classes.data(), sizeof default_class_table);
    std::memcpy(class_table, default_class_table, sizeof class_table);
    std::memcpy(c.mark_chars, default_mark_chars, sizeof c.mark_chars);
}

namespace {

// What a byte of class k does to a letter of class `open` under way, worked
// out from the per-class constants: the letter it merges into (0 when it does
// not merge) and the class of the letter still under way afterwards (0 when a
// tone or a second D finished it).  One look-up instead of the accept test,
// the shift and the letter table, for the run below.
struct merge_step {
    unsigned char letter;
    unsigned char next_class;
};

constexpr auto merge_steps = [] {
    std::array<std::array<merge_step, CLASS_COUNT>, LETTER_CLASS_COUNT> table{};
    for (int open = 1; open < LETTER_CLASS_COUNT; ++open)
        for (int k = 0; k < CLASS_COUNT; ++k) {
            if ((accept_mask[open] & mark_bits[k]) == 0) continue;
            const int merged = open + class_shift[k];
            const bool shaped = is_shape_class(static_cast<unsigned char>(k));
            table[open][k] = {viscii_letter[merged][mark_bits[k] & TONE_MASK],
                              static_cast<unsigned char>(shaped ? merged : 0)};
        }
    return table;
}();

constexpr bool merged_letters_are_never_zero() {
    for (int open = 1; open < LETTER_CLASS_COUNT; ++open)
        for (int k = 0; k < CLASS_COUNT; ++k)
            if ((accept_mask[open] & mark_bits[k]) != 0 && merge_steps[open][k].letter == 0) return false;
    return true;
}
static_assert(merged_letters_are_never_zero(), "a letter of 0 in merge_steps means \"does not merge\"");

}  // namespace

const unsigned char *compose_held_run(composer &c, const unsigned char *in, const unsigned char *end,
                                      unsigned char stop, unsigned char &held, unsigned char *&out) {
    const unsigned char *const first = in;
    unsigned open_class = c.state == COMPOSER_IDLE ? 0 : c.letter_class;
    unsigned char h = held;
    unsigned char *o = out;
    for (; in != end && *in != stop; ++in) {
        const unsigned char b = *in;
        const unsigned char k = class_table[b];
        const merge_step m = merge_steps[open_class][k];
        if (m.letter != 0) {
            *o = m.letter;
            o += m.next_class == 0;
            h = m.next_class != 0 ? m.letter : 0;
            open_class = m.next_class;
            continue;
        }
        *o = h;
        o += h != 0;
        const bool starts_letter = is_letter_class(k);
        *o = b;
        o += !starts_letter;
        h = starts_letter ? b : 0;
        open_class = starts_letter ? k : 0;
    }
    // Settle the composer's fields by stepping the bytes of the letter under
    // way again: its base, and its shape mark when it has one.  When that
    // letter began before this run, step the whole run from where it began.
    const std::size_t letter_length = open_class == 0 ? 0 : row_has_shape(letter_rows[open_class]) ? 2 : 1;
    const unsigned char *replay = first;
    if (letter_length <= static_cast<std::size_t>(in - first)) {
        replay = in - letter_length;
        c.state = COMPOSER_IDLE;
    }
    for (int pending, combined; replay != in; ++replay) compose_char(c, *replay, pending, combined);
    held = h;
    out = o;
    return in;
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

}  // namespace viqr::detail
