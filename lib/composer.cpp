#include "composer.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "buffer_sizes.h"
#include "composer_run.h"
#include "implementation.h"

namespace viqr::detail {

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
    c.letter_class = CLASS_NONE;
    c.kernels = &active_implementation();
}

namespace {

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

// The run.  Every byte is written where it lands and a merging byte rewrites
// the byte before it, so the letter under way is always the byte written
// last, and the byte before a merging byte is the input byte before it
// unless that one merged; a byte that merged is the one whose written byte
// differs from it.  The output is built in a stage whose first byte is the
// byte written last before it, kept back because the next byte may still
// rewrite it: on entry that is the held letter, or 0, into which nothing
// merges.  Staging also lets the kernels' block stores overshoot without
// touching the caller's buffer past what the run writes.
constexpr std::size_t STAGE_SLACK = 160;  // the most a kernel writes past the stage's end

class run_stage {
public:
    run_stage(unsigned char held, unsigned char *&out) : out_(out) {
        bytes_[0] = held;
        emit_from_ = held != 0 ? bytes_ : bytes_ + 1;
    }

    // Writes the byte at `at`, or merges it into the byte written last.
    void compose(const unsigned char *at) {
        const unsigned char merged = merged_after[written_[-1]][merging_index[*at]];
        if (merged != 0)
            written_[-1] = merged;
        else
            *written_++ = *at;
    }

    // Hands what is settled on once the stage is full, keeping back the byte
    // written last.
    void empty_when_full() {
        if (written_ - bytes_ < static_cast<std::ptrdiff_t>(COMPOSER_STAGE_SIZE)) return;
        emit(written_ - 1);
        bytes_[0] = written_[-1];
        emit_from_ = bytes_;
        written_ = bytes_ + 1;
    }

    // Lets the kernels compose as far as they can; returns where they stopped.
    const unsigned char *compose_with(const implementation &kernels, const unsigned char *in,
                                      const unsigned char *end, const run_stop &run_end) {
        while (kernels.compose_run != nullptr && in != end && *in != run_end.byte) {
            const progress taken = kernels.compose_run(in, end, written_, bytes_ + COMPOSER_STAGE_SIZE, run_end);
            const bool moved = taken.in != in;
            in = taken.in;
            written_ = taken.out;
            empty_when_full();
            if (!moved) break;
        }
        return in;
    }

    unsigned char last() const { return written_[-1]; }

    // Hands everything over, or all but the byte written last.
    void emit_all(bool keep_last) { emit(keep_last ? written_ - 1 : written_); }

private:
    void emit(unsigned char *to) {
        const auto n = static_cast<std::size_t>(to - emit_from_);
        std::memcpy(out_, emit_from_, n);
        out_ += n;
    }

    unsigned char bytes_[COMPOSER_STAGE_SIZE + STAGE_SLACK];
    unsigned char *emit_from_;
    unsigned char *written_ = bytes_ + 1;
    unsigned char *&out_;
};

// The end of a run at `in`: a letter still open stays held (its written byte
// is not handed over yet) and the letter under way is settled; the rest is
// handed over.
const unsigned char *finish_run(composer &c, const unsigned char *first, const unsigned char *in, run_stage &stage,
                                unsigned char &held) {
    const unsigned char last = stage.last();
    const bool open = is_letter_class(default_classes[last]);
    const bool last_merged = last != in[-1];
    settle_letter(c, first, in, !open ? 0 : last_merged ? 2 : 1);
    stage.emit_all(open);
    held = open ? last : 0;
    return in;
}

}  // namespace

const unsigned char *compose_held_run(composer &c, const unsigned char *in, const unsigned char *end,
                                      const run_stop &run_end, unsigned char &held, unsigned char *&out) {
    const unsigned char stop = run_end.byte;
    const unsigned char *const first = in;
    if (in == end || *in == stop) return in;
    run_stage stage(held, out);
    // Two bytes alone, so that the kernels have two bytes of the run before them.
    stage.compose(in++);
    if (in == end || *in == stop) return finish_run(c, first, in, stage, held);
    stage.compose(in++);
    in = stage.compose_with(*c.kernels, in, end, run_end);
    for (; in != end && *in != stop; ++in) {
        stage.compose(in);
        stage.empty_when_full();
    }
    return finish_run(c, first, in, stage, held);
}

}  // namespace viqr::detail
