#include "composer.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "byte_blocks.h"

namespace viqr::detail {

unsigned char class_table[256];
unsigned char default_class_table[256];

namespace {

// The fast run reads the composer's tables through two derived ones, and so
// holds only while the class table is the default assignment; once
// composer_set_mark has moved a mark, runs go step by step.
bool marks_moved = false;

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
    marks_moved = false;
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


// The bytes that can merge into the byte before them: the eight marks and
// the D that doubles a D, numbered from 1.  Every other byte is written as it
// comes (a letter starts a new one), which is what lets a run copy the text
// between two of them unchanged.
constexpr auto merging_index = [] {
    std::array<unsigned char, 256> index{};
    unsigned char next = 1;
    for (int b = 0; b < 256; ++b)
        if (mark_bits[default_classes[b]] != 0) index[b] = next++;
    return index;
}();

constexpr int MERGING_COUNT = [] {
    int n = 0;
    for (unsigned char i : merging_index) n += i != 0;
    return n;
}();
static_assert(MERGING_COUNT == MARK_COUNT + 2, "the eight marks, D and d");

constexpr auto merging_bytes = [] {
    std::array<unsigned char, MERGING_COUNT> bytes{};
    for (int b = 0; b < 256; ++b)
        if (merging_index[b] != 0) bytes[merging_index[b] - 1] = static_cast<unsigned char>(b);
    return bytes;
}();

// What a merging byte makes of the byte written before it: the letter it
// merges into, or 0.  Under the default classes the byte written last tells
// the letter under way: a bare or shaped letter is open with its own class
// (a shaped letter takes the same tones whether it was typed whole or built
// from a mark), while a toned letter, Đ, đ and every other byte are not open
// and have no letter class.  So merge_steps, read by the class of that byte,
// is the whole rule.
constexpr auto merged_after = [] {
    std::array<std::array<unsigned char, 16>, 256> table{};
    for (int before = 0; before < 256; ++before) {
        const unsigned char open = default_classes[before];
        if (!is_letter_class(open)) continue;
        for (int b = 0; b < 256; ++b)
            if (merging_index[b] != 0)
                table[before][merging_index[b]] = merge_steps[open][default_classes[b]].letter;
    }
    return table;
}();
static_assert(MERGING_COUNT < 16);
static_assert(merged_after['a'][merging_index['^']] == 0xE2 && merged_after[0xE2][merging_index['\'']] == 0xA4 &&
                  merged_after[0xA4][merging_index['.']] == 0 && merged_after['d'][merging_index['d']] == 0xF0 &&
                  merged_after[0xF0][merging_index['d']] == 0 && merged_after['b'][merging_index['\'']] == 0,
              "a^ is â, â' is ấ which takes nothing more, dd is đ which takes no D, b takes no tone");

// Settles the composer's fields by stepping the bytes of the letter under way
// again: its base, and its shape mark when it has one (letter_length bytes
// before `in`, none when no letter is open).  When that letter began before
// this run, the whole run is stepped from where it began.
void settle_letter(composer &c, const unsigned char *first, const unsigned char *in, std::size_t letter_length) {
    const unsigned char *replay = first;
    if (letter_length <= static_cast<std::size_t>(in - first)) {
        replay = in - letter_length;
        c.state = COMPOSER_IDLE;
    }
    for (int pending, combined; replay != in; ++replay) compose_char(c, *replay, pending, combined);
}

// The run one step at a time, for any class table.  The loop keeps only what
// decides the next step, the class and shape of the letter under way.
const unsigned char *compose_run_stepwise(composer &c, const unsigned char *in, const unsigned char *end,
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
    settle_letter(c, first, in, open_class == 0 ? 0 : row_has_shape(letter_rows[open_class]) ? 2 : 1);
    held = h;
    out = o;
    return in;
}

// The run under the default classes.  Every byte is written where it lands
// and a merging byte rewrites the byte before it, so the letter under way is
// always the byte written last; text between merging bytes is copied 16 bytes
// at a time.  The output is built in a stage whose first byte is the byte
// written last before it, kept back because the next byte may still rewrite
// it: on entry that is the held letter, or 0, into which nothing merges.
// Staging also lets the block copies overshoot without touching the
// caller's buffer past what the run writes.
constexpr std::size_t STAGE_SIZE = 4096;

const unsigned char *compose_run_in_place(composer &c, const unsigned char *in, const unsigned char *end,
                                          unsigned char stop, unsigned char &held, unsigned char *&out) {
    const unsigned char *const first = in;
    if (in == end || *in == stop) return in;
    unsigned char stage[STAGE_SIZE + 64];
    stage[0] = held;
    unsigned char *emit_from = held != 0 ? stage : stage + 1;
    unsigned char *o = stage + 1;
    auto emit = [&](unsigned char *to) {
        const auto n = static_cast<std::size_t>(to - emit_from);
        std::memcpy(out, emit_from, n);
        out += n;
    };
    const unsigned char *after_merge = nullptr;  // just past the last byte that merged
    auto compose_one = [&](const unsigned char *at) {
        const unsigned char merged = merged_after[o[-1]][merging_index[*at]];
        if (merged != 0) {
            o[-1] = merged;
            after_merge = at + 1;
        } else {
            *o++ = *at;
        }
    };

    // The first byte alone, so that every block has an input byte before it.
    compose_one(in++);
    // Within blocks, the byte before a merging byte is the input byte before
    // it, unless that was a merging byte too: then it is what that one left.
    // This keeps the look-ups of a block independent of each other.
    unsigned char last_left = o[-1];
    unsigned before_merges = merging_index[first[0]] != 0;  // bit 0: the byte before the block may merge
    bool stopped = false;

    // A block needs 16 more readable bytes past any of its bytes.
    while (end - in >= 2 * BLOCK_SIZE) {
        const unsigned stops = bytes_equal(in, stop);
        const unsigned merging = bytes_in(in, merging_bytes) & ~stops;
        const unsigned neighbours = (merging << 1) | before_merges;
        const unsigned upto = stops == 0 ? BLOCK_SIZE : static_cast<unsigned>(std::countr_zero(stops));
        copy_block(o, in);
        std::ptrdiff_t removed = 0;
        for (unsigned mask = merging & ((1u << upto) - 1); mask != 0; mask &= mask - 1) {
            const std::ptrdiff_t j = std::countr_zero(mask);
            const unsigned char b = in[j];
            // A branch, not a choice: the choice would chain every look-up to
            // the one before, while neighbouring merging bytes are the rarer case.
            unsigned char before = in[j - 1];
            if ((neighbours >> j) & 1) [[unlikely]]
                before = last_left;
            const unsigned char merged = merged_after[before][merging_index[b]];
            last_left = b;
            if (merged != 0) {
                unsigned char *const at = o + (j - removed);  // where b was copied
                at[-1] = merged;
                copy_block(at, in + j + 1);
                ++removed;
                last_left = merged;
                after_merge = in + j + 1;
            }
        }
        o += upto - removed;
        in += upto;
        if (stops != 0) {
            stopped = true;
            break;
        }
        before_merges = merging >> (BLOCK_SIZE - 1);
        if (o - stage >= static_cast<std::ptrdiff_t>(STAGE_SIZE)) {
            emit(o - 1);
            stage[0] = o[-1];
            emit_from = stage;
            o = stage + 1;
        }
    }
    for (; !stopped && in != end && *in != stop; ++in) compose_one(in);

    const unsigned char last = o[-1];
    const bool open = is_letter_class(default_classes[last]);
    settle_letter(c, first, in, !open ? 0 : after_merge == in ? 2 : 1);
    emit(open ? o - 1 : o);
    held = open ? last : 0;
    return in;
}

}  // namespace

const unsigned char *compose_held_run(composer &c, const unsigned char *in, const unsigned char *end,
                                      unsigned char stop, unsigned char &held, unsigned char *&out) {
    if (marks_moved) return compose_run_stepwise(c, in, end, stop, held, out);
    return compose_run_in_place(c, in, end, stop, held, out);
}

int composer_set_mark(int mark, unsigned char character, composer &c) {
    int entry = 0;
    while (entry < MARK_COUNT && default_mark_chars[entry] != mark) ++entry;
    if (entry == MARK_COUNT) return 0;

    const unsigned char current = c.mark_chars[entry];
    if (character == current) return 1;
    // The new character takes the class the current one has now; the current
    // one falls back to its default (the mark itself, for a default character).
    marks_moved = true;
    class_table[character] = class_table[current];
    class_table[current] = default_class_table[current];
    c.mark_chars[entry] = character;
    return 1;
}

}  // namespace viqr::detail
