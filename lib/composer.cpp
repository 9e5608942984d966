#include "composer.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "byte_blocks.h"
#include "wide_blocks.h"

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

#if defined(VIQR_WIDE_BLOCKS)

// The run 64 bytes at a time, on processors with AVX-512 (see wide_blocks.h).
// For every byte of a block at once: what it makes of the input byte before
// it (a mark after a vowel, or a D after a D), and what a tone makes of a
// letter that a shape mark just made; then the merged letters go where their
// base letters are, the merged marks are dropped, and the block is
// compressed.  A letter before the block is the byte written last, which a
// merge at the block's start rewrites.  Blocks with what this does not
// follow (the stop byte, VISCII letters typed whole, a D after a D that
// merged) are left to the code after it.
namespace wide {

using namespace ::viqr::detail::wide;

constexpr std::ptrdiff_t WIDE = WIDE_SIZE;

constexpr bool is_mark_byte(int b) { return merging_index[b] != 0 && default_classes[b] >= FIRST_TONE_CLASS; }
constexpr bool is_tone_byte(int b) { return is_mark_byte(b) && is_tone_class(default_classes[b]); }
constexpr bool is_stroke_byte(int b) { return merging_index[b] != 0 && !is_mark_byte(b); }

struct alignas(64) compose_tables {
    unsigned char rows[128];          // ASCII letter -> its row among those a mark merges into, from 1; 0 for none
    unsigned char columns[128];       // ASCII mark -> its column, 0 to 7; 0xFF for every other byte
    unsigned char marked[128];        // row * 8 + column -> the letter they make
    unsigned char tone_columns[128];  // ASCII tone mark -> 0 to 4; 0xFF for every other byte
    unsigned char shaped_rows[128];   // 0x80 + i -> its row among the letters a tone merges into; 0xFF for none
    unsigned char toned[64];          // shaped row * 5 + tone column -> the letter they make
    unsigned char next[2][64];        // where byte i + 1 and i + 2 of a block are, for shifting a vector down
    unsigned char stroked[2];         // what a second D makes of D and of d
};

constexpr compose_tables make_tables() {
    compose_tables t{};
    int column = 0, tone_column = 0, row = 0, shaped_row = 0;
    for (int b = 0; b < 128; ++b) {
        t.columns[b] = t.tone_columns[b] = 0xFF;
        t.shaped_rows[b] = 0xFF;
    }
    for (int b = 0; b < 128; ++b) {
        if (is_mark_byte(b)) t.columns[b] = static_cast<unsigned char>(column++);
        if (is_tone_byte(b)) t.tone_columns[b] = static_cast<unsigned char>(tone_column++);
    }
    for (int p = 0; p < 128; ++p) {
        bool takes_a_mark = false;
        for (int b = 0; b < 128; ++b) takes_a_mark = takes_a_mark || (is_mark_byte(b) && merged_after[p][merging_index[b]]);
        if (!takes_a_mark) continue;
        t.rows[p] = static_cast<unsigned char>(++row);
        for (int b = 0; b < 128; ++b)
            if (is_mark_byte(b)) t.marked[8 * row + t.columns[b]] = merged_after[p][merging_index[b]];
    }
    for (int s = 128; s < 256; ++s) {
        bool takes_a_tone = false;
        for (int b = 0; b < 128; ++b) takes_a_tone = takes_a_tone || (is_tone_byte(b) && merged_after[s][merging_index[b]]);
        if (!takes_a_tone) continue;
        t.shaped_rows[s - 128] = static_cast<unsigned char>(shaped_row);
        for (int b = 0; b < 128; ++b)
            if (is_tone_byte(b)) t.toned[5 * shaped_row + t.tone_columns[b]] = merged_after[s][merging_index[b]];
        ++shaped_row;
    }
    for (int i = 0; i < 64; ++i) {
        t.next[0][i] = static_cast<unsigned char>((i + 1) % 64);
        t.next[1][i] = static_cast<unsigned char>((i + 2) % 64);
    }
    t.stroked[0] = merged_after['D'][merging_index['D']];
    t.stroked[1] = merged_after['d'][merging_index['d']];
    return t;
}

constexpr compose_tables table = make_tables();

// The tables above hold every merge there is: a mark after an ASCII letter,
// a tone after a letter from 0x80 on that a shape mark makes, and a D after
// D or d, which is the same whichever D follows.  A letter a shape mark makes
// takes nothing but a tone, and a letter a tone or a D makes takes nothing.
constexpr bool tables_hold_every_merge() {
    int rows = 0, shaped = 0, marks = 0, tones = 0;
    for (int b = 0; b < 128; ++b) {
        rows += table.rows[b] != 0;
        shaped += table.shaped_rows[b] != 0xFF;
        marks += table.columns[b] != 0xFF;
        tones += table.tone_columns[b] != 0xFF;
    }
    if (rows > 15 || shaped > 12 || marks != MARK_COUNT || tones != TONE_COUNT - 1) return false;
    for (int p = 0; p < 256; ++p)
        for (unsigned char b : merging_bytes) {
            const unsigned char merged = merged_after[p][merging_index[b]];
            if (merged == 0) continue;
            const bool stroke = is_stroke_byte(b) && (p | 0x20) == 'd' && merged == table.stroked[p == 'd'];
            const bool marked = p < 128 && is_mark_byte(b) && table.rows[p] != 0;
            const bool toned = p >= 128 && is_tone_byte(b) && table.shaped_rows[p - 128] != 0xFF;
            if (!stroke && !marked && !toned) return false;
            if (marked && !is_tone_byte(b) && (merged < 128 || table.shaped_rows[merged - 128] == 0xFF)) return false;
            if (stroke || toned || is_tone_byte(b))
                for (int next = 1; next <= MERGING_COUNT; ++next)
                    if (merged_after[merged][next] != 0) return false;
        }
    return true;
}
static_assert(tables_hold_every_merge());
static_assert(table.marked[8 * table.rows[int('a')] + table.columns[int('^')]] == 0xE2 &&
              table.toned[5 * table.shaped_rows[0xE2 - 128] + table.tone_columns[int('\'')]] == 0xA4,
              "a^ is â and â' is ấ");

VIQR_WIDE_TARGET inline __mmask64 valid(__m512i entries) {
    return _mm512_cmpneq_epi8_mask(entries, _mm512_set1_epi8(static_cast<char>(0xFF)));
}

// What the byte at each place makes of the byte before it: the letter, or 0.
VIQR_WIDE_TARGET inline __m512i merged_with_before(__m512i before, __m512i bytes) {
    const __m512i columns = look_up(~0ULL, table.columns, bytes);
    const __m512i rows = look_up(~0ULL, table.rows, before);
    const __m512i at = _mm512_add_epi8(_mm512_slli_epi16(rows, 3) & _mm512_set1_epi8(0x78), columns);
    const __m512i marked = look_up(valid(columns), table.marked, at);
    const __m512i d = _mm512_set1_epi8('d'), lower = _mm512_set1_epi8(0x20);
    const __mmask64 stroke = _mm512_cmpeq_epi8_mask(_mm512_or_si512(before, lower), d) &
                             _mm512_cmpeq_epi8_mask(_mm512_or_si512(bytes, lower), d);
    const __mmask64 after_small_d = _mm512_cmpeq_epi8_mask(before, d);
    const __m512i stroked = _mm512_mask_blend_epi8(after_small_d, _mm512_set1_epi8(static_cast<char>(table.stroked[0])),
                                                   _mm512_set1_epi8(static_cast<char>(table.stroked[1])));
    return _mm512_mask_blend_epi8(stroke, marked, stroked);
}

struct block_result {
    unsigned char *out;  // null: the block was left alone and nothing written
    int taken;           // the bytes taken: 64, or fewer when the run stops in the block
    bool last_merged;
};

// What the stop bytes of a block do: a stop byte ends the run unless it makes
// a letter break, which needs the byte after it in sight, and that byte not
// one of `ends`.
struct block_reach {
    int taken = static_cast<int>(WIDE);  // the bytes before the run ends
    __mmask64 in_reach = ~0ULL;          // those bytes
    __mmask64 breaks = 0;                // the stop bytes that make letter breaks
    __mmask64 may_merge = ~0ULL;         // neither a stop byte nor the byte after a letter break merges
};

VIQR_WIDE_TARGET block_reach reach_of(__m512i bytes, __mmask64 stops, const run_stop &stop) {
    block_reach reach;
    __mmask64 ending = stops;
    if (stop.letter_breaks) {
        __mmask64 ends = 0;
        for (unsigned char e : stop.ends) ends |= _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(static_cast<char>(e)));
        ending = stops & ((ends >> 1) | (1ULL << 63));
    }
    reach.breaks = stops & ~ending;
    if (ending != 0) {
        reach.taken = std::countr_zero(static_cast<unsigned long long>(ending));
        reach.in_reach = (1ULL << reach.taken) - 1;
    }
    reach.may_merge = reach.in_reach & ~stops & ~(reach.breaks << 1);
    return reach;
}

// One block at `in`, with two input bytes before it, up to where the run
// stops; `merged_before` tells whether the byte before the block merged.
// Made twice, for the blocks without a stop byte (almost all) and with one,
// so that the first kind does no work for the second.
template <bool WithStops>
VIQR_WIDE_TARGET inline block_result compose_block_reaching(const unsigned char *in, __m512i bytes,
                                                            const block_reach &reach, bool merged_before,
                                                            unsigned char *o) {
    const __m512i before = _mm512_loadu_si512(in - 1);
    const __m512i two_before = _mm512_loadu_si512(in - 2);
    const __mmask64 in_reach = WithStops ? reach.in_reach : ~0ULL;
    const __mmask64 may_merge = WithStops ? reach.may_merge : ~0ULL;
    const __mmask64 breaks = WithStops ? reach.breaks : 0;
    const int taken = WithStops ? reach.taken : static_cast<int>(WIDE);
    // Bytes up to the stop, and the byte before the block, are ASCII.
    if (((_mm512_movepi8_mask(bytes) & in_reach) | (_mm512_movepi8_mask(before) & 1)) != 0) return {nullptr, 0, false};

    const __m512i merged = merged_with_before(before, bytes);
    const __mmask64 first_merges = _mm512_test_epi8_mask(merged, merged) & may_merge;
    const __mmask64 merges_before = (first_merges << 1) | (merged_before ? 1 : 0);
    if ((first_merges & merges_before) != 0) return {nullptr, 0, false};  // a run of Ds

    // A tone after the letter that the byte before it made with a shape mark.
    const __m512i made_before = merged_with_before(two_before, before);
    const __mmask64 made_high = _mm512_movepi8_mask(made_before);
    const __m512i shaped_rows = look_up(made_high, table.shaped_rows, made_before);
    const __m512i tone_columns = look_up(~0ULL, table.tone_columns, bytes);
    const __mmask64 tone_merges = merges_before & made_high & valid(shaped_rows) & valid(tone_columns) & may_merge;
    const __m512i at = _mm512_add_epi8(_mm512_add_epi8(_mm512_slli_epi16(shaped_rows, 2) & _mm512_set1_epi8(0x3C),
                                                       shaped_rows),
                                       tone_columns);
    const __m512i toned = _mm512_maskz_permutexvar_epi8(tone_merges, at, vector(table.toned));

    // Each merged letter goes where its base letter is: one place back for
    // a first mark, two for a tone after a shape mark.
    __m512i letters = _mm512_mask_permutexvar_epi8(bytes, first_merges >> 1, vector(table.next[0]), merged);
    letters = _mm512_mask_permutexvar_epi8(letters, tone_merges >> 2, vector(table.next[1]), toned);
    // A base letter before the block was written last: the marks at the
    // block's start merge into it one by one.
    for (int i = 0; i < 2 && ((first_merges | tone_merges) >> i & 1); ++i)
        o[-1] = merged_after[o[-1]][merging_index[in[i]]];

    const __mmask64 dropped = first_merges | tone_merges;
    const __mmask64 kept = ~dropped & ~breaks & in_reach;
    _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(kept, letters));
    return {o + std::popcount(static_cast<unsigned long long>(kept)), taken,
            taken > 0 && (dropped >> (taken - 1) & 1) != 0};
}

VIQR_WIDE_TARGET block_result compose_block(const unsigned char *in, const run_stop &stop, bool merged_before,
                                            unsigned char *o) {
    const __m512i bytes = _mm512_loadu_si512(in);
    const __mmask64 stops = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(static_cast<char>(stop.byte)));
    if (stops == 0) [[likely]]
        return compose_block_reaching<false>(in, bytes, block_reach{}, merged_before, o);
    return compose_block_reaching<true>(in, bytes, reach_of(bytes, stops, stop), merged_before, o);
}

}  // namespace wide

#endif

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
                                          const run_stop &run_end, unsigned char &held, unsigned char *&out) {
    const unsigned char stop = run_end.byte;
    const unsigned char *const first = in;
    if (in == end || *in == stop) return in;
    unsigned char stage[STAGE_SIZE + 160];
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
    bool stopped = false;
    auto empty_stage_when_full = [&] {
        if (o - stage < static_cast<std::ptrdiff_t>(STAGE_SIZE)) return;
        emit(o - 1);
        stage[0] = o[-1];
        emit_from = stage;
        o = stage + 1;
    };
#if defined(VIQR_WIDE_BLOCKS)
    if (end - in >= 3 * wide::WIDE && wide_blocks_available()) {
        // Every block has two input bytes before it.
        if (*in != stop) compose_one(in++);
        while (!stopped && in - first >= 2 && end - in >= wide::WIDE) {
            const wide::block_result block = wide::compose_block(in, run_end, after_merge == in, o);
            if (block.out == nullptr) break;
            o = block.out;
            // A branch, not `in += block.taken`: where the next block begins
            // must not wait for this one to be worked out.
            if (block.taken == wide::WIDE) {
                in += wide::WIDE;
            } else {
                in += block.taken;
                stopped = true;
            }
            if (block.last_merged) after_merge = in;
            empty_stage_when_full();
        }
    }
#endif
    // Within blocks, the byte before a merging byte is the input byte before
    // it, unless that was a merging byte too: then it is what that one left.
    // This keeps the look-ups of a block independent of each other.
    unsigned char last_left = o[-1];
    unsigned before_merges = merging_index[in[-1]] != 0;  // bit 0: the byte before the block may merge

    // A block needs 16 more readable bytes past any of its bytes.
    while (!stopped && end - in >= 2 * BLOCK_SIZE) {
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
        empty_stage_when_full();
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
                                      const run_stop &stop, unsigned char &held, unsigned char *&out) {
    if (marks_moved) return compose_run_stepwise(c, in, end, stop.byte, held, out);
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
