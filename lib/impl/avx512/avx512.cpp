// The AVX-512 implementation: blocks of 64 bytes, for processors with
// AVX-512 and its byte permutes and byte compression (AVX512BW, VBMI, VBMI2).
// With them a kernel can look up and place every byte of a block at once
// instead of visiting the bytes that need a rule one by one.  The code is
// compiled for that processor function by function (VIQR_AVX512) and run only
// where the processor has it.
#include <immintrin.h>

#include <bit>
#include <cstring>

#include "composer_run.h"
#include "encoder_tables.h"
#include "exchange.h"
#include "impl/implementations.h"
#include "unicode_letters.h"
#include "utf8.h"
#include "impl/avx2/avx2.h"

#define VIQR_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,avx2,bmi,bmi2,popcnt")))

namespace viqr::detail {
namespace {

constexpr std::ptrdiff_t WIDE_SIZE = 64;
constexpr std::ptrdiff_t WIDE = WIDE_SIZE;

bool supported() {
    // The checks include the operating system's saving of the AVX-512 state.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

// Where the bytes of four vectors a, b, c, d go when they are interleaved
// into slots a0 b0 c0 d0 a1 b1 c1 d1 ...: `pairs` interleaves two vectors
// byte by byte (their first 32 bytes, then their last 32), and `quads` two
// such pairs two bytes at a time (16 bytes of the original vectors each).
struct alignas(64) interleaving {
    unsigned char pairs[2][64];
    unsigned char quads[2][64];
};

constexpr interleaving make_interleaving() {
    interleaving t{};
    for (int half = 0; half < 2; ++half)
        for (int k = 0; k < 32; ++k) {
            t.pairs[half][2 * k] = static_cast<unsigned char>(32 * half + k);
            t.pairs[half][2 * k + 1] = static_cast<unsigned char>(64 + 32 * half + k);
        }
    for (int half = 0; half < 2; ++half)
        for (int k = 0; k < 16; ++k) {
            const int pair = 2 * (16 * half + k);
            t.quads[half][4 * k] = static_cast<unsigned char>(pair);
            t.quads[half][4 * k + 1] = static_cast<unsigned char>(pair + 1);
            t.quads[half][4 * k + 2] = static_cast<unsigned char>(64 + pair);
            t.quads[half][4 * k + 3] = static_cast<unsigned char>(64 + pair + 1);
        }
    return t;
}

inline constexpr interleaving interleave = make_interleaving();

VIQR_AVX512 inline __m512i vector(const unsigned char *p) { return _mm512_load_si512(p); }

// The entry of a 128-entry table for each byte of `index` (its low seven
// bits) where `where` is set, 0 elsewhere.
VIQR_AVX512 inline __m512i look_up(__mmask64 where, const unsigned char (&entries)[128], __m512i index) {
    return _mm512_maskz_permutex2var_epi8(where, vector(entries), index, vector(entries + 64));
}

// The entry of a 256-entry table for each byte of `index`.
VIQR_AVX512 inline __m512i look_up(const unsigned char (&entries)[256], __m512i index) {
    const __m512i low = _mm512_permutex2var_epi8(vector(entries), index, vector(entries + 64));
    const __m512i high = _mm512_permutex2var_epi8(vector(entries + 128), index, vector(entries + 192));
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

// Writes the non-zero bytes of `slots` in order; the store runs up to 64
// bytes on, which the caller's later output must cover.
VIQR_AVX512 inline unsigned char *put_filled(unsigned char *out, __m512i slots) {
    const __mmask64 filled = _mm512_test_epi8_mask(slots, slots);
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(filled, slots));
    return out + std::popcount(static_cast<unsigned long long>(filled));
}

// Each of 64 bytes becomes up to four: a, b, c and d hold them, 0 for none.
// Writes them in order, byte after byte, and returns the end.
VIQR_AVX512 inline unsigned char *put_in_order(unsigned char *out, __m512i a, __m512i b, __m512i c, __m512i d) {
    for (int half = 0; half < 2; ++half) {
        const __m512i pairs = vector(interleave.pairs[half]);
        const __m512i front = _mm512_permutex2var_epi8(a, pairs, b);
        const __m512i back = _mm512_permutex2var_epi8(c, pairs, d);
        out = put_filled(out, _mm512_permutex2var_epi8(front, vector(interleave.quads[0]), back));
        out = put_filled(out, _mm512_permutex2var_epi8(front, vector(interleave.quads[1]), back));
    }
    return out;
}


namespace encoder {
// Vietnamese mode 64 bytes at a time.  Every byte becomes four slots, the
// composition character when it needs one and the three characters of its
// spelling, with 0 for a slot it does not fill; the slots are put in order
// and compressed.  A 0 byte could not be told from an empty slot, and the
// composition character is rare in VISCII text, so a block with either goes
// to spell_vietnamese instead.



struct alignas(64) spelling_tables {
    unsigned char spelled[3][128];  // the characters of the spelling of 0x80 + i; 0 past its end
    unsigned char low_spelled[3][64];  // the same of the six control codes that are letters; 0 for other bytes
    unsigned char joins[256];       // vietnamese_joins
    unsigned char accepts[256];     // vietnamese_accepts
};

constexpr spelling_tables make_spelling_tables() {
    spelling_tables t{};
    for (int i = 0; i < 128; ++i)
        for (int k = 0; k < 3; ++k) {
            const packed_spelling &s = vietnamese_spelling[0x80 + i];
            t.spelled[k][i] = k < s.length ? static_cast<unsigned char>(s.text[k]) : 0;
        }
    for (int b = 0; b < 256; ++b) {
        t.joins[b] = vietnamese_joins[b];
        t.accepts[b] = vietnamese_accepts[b];
    }
    for (int b = 0; b < 0x20; ++b) {
        const packed_spelling &s = vietnamese_spelling[b];
        if (s.length == 1) continue;
        for (int k = 0; k < 3; ++k) t.low_spelled[k][b] = k < s.length ? static_cast<unsigned char>(s.text[k]) : 0;
    }
    return t;
}

constexpr spelling_tables spelling_table = make_spelling_tables();

// Every byte from 0x80 on and six below 0x20 are marked letters, spelled in
// two or three; every other byte stands for itself.
constexpr bool letters_are_spelled_in_two_or_three() {
    int letters = 0;
    for (int b = 0; b < 0x100; ++b) {
        const packed_spelling &s = vietnamese_spelling[b];
        if (s.length == 1 && static_cast<unsigned char>(s.text[0]) == b) continue;
        if (s.length < 2 || s.length > 3 || (b >= 0x20 && b < 0x80)) return false;
        ++letters;
    }
    return letters == 128 + 6;
}
static_assert(letters_are_spelled_in_two_or_three());
static_assert(spelling_table.low_spelled[1][0x14] == '?' && spelling_table.low_spelled[0][int('\n')] == 0 &&
              spelling_table.spelled[2][0xA4 - 0x80] == '\'' && spelling_table.spelled[2][0xE2 - 0x80] == 0,
              "0x14 is Y?, ấ is a^' and â is a^");

// Character k of the spelling of each letter of `bytes` (0 past its end and
// for bytes that are no letter); `high` and `controls` tell where the letters
// from 0x80 on and below 0x20 may be.
VIQR_AVX512 inline __m512i spelled(int k, __m512i bytes, __mmask64 high, __mmask64 controls) {
    const __m512i low = _mm512_maskz_permutexvar_epi8(controls, bytes, vector(spelling_table.low_spelled[k]));
    const __m512i high_letters =
        _mm512_maskz_permutex2var_epi8(high, vector(spelling_table.spelled[k]), bytes, vector(spelling_table.spelled[k] + 64));
    return _mm512_or_si512(low, high_letters);
}

// Spells the bytes from `in` while 128 or more are left, and stops at a
// block with a byte it leaves alone; every block has an input byte before
// it.  Each store may run 64 bytes past what is written, into room that the
// output of the 64 bytes still to come fills.
VIQR_AVX512 progress encode_vietnamese(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                       unsigned char composition_char) {
    const __m512i composition = _mm512_set1_epi8(static_cast<char>(composition_char));
    while (end - in >= 2 * WIDE) {
        const __m512i bytes = _mm512_loadu_si512(in);
        const __mmask64 left_alone =
            _mm512_testn_epi8_mask(bytes, bytes) | _mm512_cmpeq_epi8_mask(bytes, composition);
        if (left_alone != 0) break;
        const __mmask64 high = _mm512_movepi8_mask(bytes);
        const __mmask64 controls = _mm512_cmplt_epu8_mask(bytes, _mm512_set1_epi8(0x20));
        const __m512i low_first = _mm512_maskz_permutexvar_epi8(controls, bytes, vector(spelling_table.low_spelled[0]));
        const __mmask64 low_letters = _mm512_test_epi8_mask(low_first, low_first);
        const __m512i first = _mm512_mask_blend_epi8(high | low_letters, bytes, spelled(0, bytes, high, controls));
        const __m512i second = spelled(1, bytes, high, controls);
        const __m512i third = spelled(2, bytes, high, controls);
        const __m512i before = _mm512_loadu_si512(in - 1);
        const __mmask64 escaped =
            _mm512_test_epi8_mask(look_up(spelling_table.joins, bytes), look_up(spelling_table.accepts, before));
        const __m512i escape = _mm512_maskz_mov_epi8(escaped, composition);

        out = put_in_order(out, escape, first, second, third);
        in += WIDE;
    }
    return {in, out};
}

}  // namespace encoder

namespace run {
// The run 64 bytes at a time, on processors with AVX-512 (see wide_blocks.h).
// For every byte of a block at once: what it makes of the input byte before
// it (a mark after a vowel, or a D after a D), and what a tone makes of a
// letter that a shape mark just made; then the merged letters go where their
// base letters are, the merged marks are dropped, and the block is
// compressed.  A letter before the block is the byte written last, which a
// merge at the block's start rewrites.  Blocks with what this does not
// follow (the stop byte, VISCII letters typed whole, a D after a D that
// merged) are left to the code after it.



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

constexpr compose_tables make_compose_tables() {
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

constexpr compose_tables compose_table = make_compose_tables();

// The tables above hold every merge there is: a mark after an ASCII letter,
// a tone after a letter from 0x80 on that a shape mark makes, and a D after
// D or d, which is the same whichever D follows.  A letter a shape mark makes
// takes nothing but a tone, and a letter a tone or a D makes takes nothing.
constexpr bool tables_hold_every_merge() {
    int rows = 0, shaped = 0, marks = 0, tones = 0;
    for (int b = 0; b < 128; ++b) {
        rows += compose_table.rows[b] != 0;
        shaped += compose_table.shaped_rows[b] != 0xFF;
        marks += compose_table.columns[b] != 0xFF;
        tones += compose_table.tone_columns[b] != 0xFF;
    }
    if (rows > 15 || shaped > 12 || marks != MARK_COUNT || tones != TONE_COUNT - 1) return false;
    for (int p = 0; p < 256; ++p)
        for (unsigned char b : merging_bytes) {
            const unsigned char merged = merged_after[p][merging_index[b]];
            if (merged == 0) continue;
            const bool stroke = is_stroke_byte(b) && (p | 0x20) == 'd' && merged == compose_table.stroked[p == 'd'];
            const bool marked = p < 128 && is_mark_byte(b) && compose_table.rows[p] != 0;
            const bool toned = p >= 128 && is_tone_byte(b) && compose_table.shaped_rows[p - 128] != 0xFF;
            if (!stroke && !marked && !toned) return false;
            if (marked && !is_tone_byte(b) && (merged < 128 || compose_table.shaped_rows[merged - 128] == 0xFF)) return false;
            if (stroke || toned || is_tone_byte(b))
                for (int next = 1; next <= MERGING_COUNT; ++next)
                    if (merged_after[merged][next] != 0) return false;
        }
    return true;
}
static_assert(tables_hold_every_merge());
static_assert(compose_table.marked[8 * compose_table.rows[int('a')] + compose_table.columns[int('^')]] == 0xE2 &&
              compose_table.toned[5 * compose_table.shaped_rows[0xE2 - 128] + compose_table.tone_columns[int('\'')]] == 0xA4,
              "a^ is â and â' is ấ");

VIQR_AVX512 inline __mmask64 valid(__m512i entries) {
    return _mm512_cmpneq_epi8_mask(entries, _mm512_set1_epi8(static_cast<char>(0xFF)));
}

// What the byte at each place makes of the byte before it: the letter, or 0.
VIQR_AVX512 inline __m512i merged_with_before(__m512i before, __m512i bytes) {
    const __m512i columns = look_up(~0ULL, compose_table.columns, bytes);
    const __m512i rows = look_up(~0ULL, compose_table.rows, before);
    const __m512i at = _mm512_add_epi8(_mm512_slli_epi16(rows, 3) & _mm512_set1_epi8(0x78), columns);
    const __m512i marked = look_up(valid(columns), compose_table.marked, at);
    const __m512i d = _mm512_set1_epi8('d'), lower = _mm512_set1_epi8(0x20);
    const __mmask64 stroke = _mm512_cmpeq_epi8_mask(_mm512_or_si512(before, lower), d) &
                             _mm512_cmpeq_epi8_mask(_mm512_or_si512(bytes, lower), d);
    const __mmask64 after_small_d = _mm512_cmpeq_epi8_mask(before, d);
    const __m512i stroked = _mm512_mask_blend_epi8(after_small_d, _mm512_set1_epi8(static_cast<char>(compose_table.stroked[0])),
                                                   _mm512_set1_epi8(static_cast<char>(compose_table.stroked[1])));
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

VIQR_AVX512 block_reach reach_of(__m512i bytes, __mmask64 stops, const run_stop &stop) {
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
VIQR_AVX512 inline block_result compose_block_reaching(const unsigned char *in, __m512i bytes,
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
    const __m512i shaped_rows = look_up(made_high, compose_table.shaped_rows, made_before);
    const __m512i tone_columns = look_up(~0ULL, compose_table.tone_columns, bytes);
    const __mmask64 tone_merges = merges_before & made_high & valid(shaped_rows) & valid(tone_columns) & may_merge;
    const __m512i at = _mm512_add_epi8(_mm512_add_epi8(_mm512_slli_epi16(shaped_rows, 2) & _mm512_set1_epi8(0x3C),
                                                       shaped_rows),
                                       tone_columns);
    const __m512i toned = _mm512_maskz_permutexvar_epi8(tone_merges, at, vector(compose_table.toned));

    // Each merged letter goes where its base letter is: one place back for
    // a first mark, two for a tone after a shape mark.
    __m512i letters = _mm512_mask_permutexvar_epi8(bytes, first_merges >> 1, vector(compose_table.next[0]), merged);
    letters = _mm512_mask_permutexvar_epi8(letters, tone_merges >> 2, vector(compose_table.next[1]), toned);
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

VIQR_AVX512 block_result compose_block(const unsigned char *in, const run_stop &stop, bool merged_before,
                                            unsigned char *o) {
    const __m512i bytes = _mm512_loadu_si512(in);
    const __mmask64 stops = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(static_cast<char>(stop.byte)));
    if (stops == 0) [[likely]]
        return compose_block_reaching<false>(in, bytes, block_reach{}, merged_before, o);
    return compose_block_reaching<true>(in, bytes, reach_of(bytes, stops, stop), merged_before, o);
}

// Blocks while the run goes on, and from the first block this leaves alone
// the 32-byte loop of the AVX2 implementation.
VIQR_AVX512 progress compose_run(const unsigned char *in, const unsigned char *end, unsigned char *o,
                                 const unsigned char *o_limit, const run_stop &stop) {
    if (end - in >= 3 * WIDE) {
        bool merged_before = o[-1] != in[-1];
        while (end - in >= WIDE && o < o_limit) {
            const block_result block = compose_block(in, stop, merged_before, o);
            if (block.out == nullptr) break;
            o = block.out;
            // A branch, not `in += block.taken`: where the next block begins
            // must not wait for this one to be worked out.
            if (block.taken != WIDE) return {in + block.taken, o};
            in += WIDE;
            merged_before = block.last_merged;
        }
    }
    return avx2::compose_run(in, end, o, o_limit, stop);
}

}  // namespace run

namespace from_utf8 {
// The common characters of Vietnamese text 64 bytes at a time, on processors
// with AVX-512: ASCII, the letters of two bytes (U+00C0 to U+01BF) and those
// of Latin Extended Additional.  For every byte at once it works out the
// letter a character would be if the byte began it, checks that the bytes
// are well-formed UTF-8 of such characters only, and keeps the letters
// where characters begin.  A block with anything else (a combining mark, a
// character that is no letter, a control code that is a letter in VISCII,
// invalid UTF-8) is left to the byte-by-byte code.


struct alignas(64) from_utf8_tables {
    unsigned char two_byte[3][128];  // U+0080..U+00FF, U+0100..U+017F, U+0180..U+01FF -> VISCII letter or 0
    unsigned char e1[128];           // E1 BA 80 .. E1 BB BF -> VISCII letter or 0
    unsigned char c0_letters[64];    // 0xFF for the control codes that are letters in VISCII
};

constexpr from_utf8_tables make_from_utf8_tables() {
    from_utf8_tables t{};
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 128; ++i) t.two_byte[k][i] = viscii_of_low[0x80 + 128 * k + i];
    for (char32_t cp = HIGH_LETTERS_FIRST; cp < HIGH_LETTERS_END; ++cp)
        t.e1[cp - 0x1E80] = viscii_of_high[cp - HIGH_LETTERS_FIRST];
    for (int b = 0; b < 0x20; ++b) t.c0_letters[b] = is_c0_letter(static_cast<unsigned char>(b)) ? 0xFF : 0;
    return t;
}

constexpr from_utf8_tables from_utf8_table = make_from_utf8_tables();

static_assert(from_utf8_table.two_byte[0][0xE2 - 0x80] == 0xE2 && from_utf8_table.two_byte[2][0x1B0 - 0x180] == 0xDF &&
                  from_utf8_table.e1[0x1EC7 - 0x1E80] == 0xAE && from_utf8_table.c0_letters[0x14] == 0xFF,
              "â, ư, ệ and the letter 0x14");

VIQR_AVX512 inline __mmask64 at_least(__m512i v, int b) {
    return _mm512_cmpge_epu8_mask(v, _mm512_set1_epi8(static_cast<char>(b)));
}

VIQR_AVX512 inline __mmask64 equal(__m512i v, int b) {
    return _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(static_cast<char>(b)));
}

struct block {
    std::size_t taken;    // input bytes taken; 0 when the block is left alone
    std::size_t written;  // letters and ASCII bytes written
};

// Takes the characters that end within the 64 bytes at `in` (two more bytes
// must be readable) and writes their VISCII bytes at `out`, which must have
// room for 64.
VIQR_AVX512 block decode_block(const unsigned char *in, unsigned char *out) {
    const __m512i first = _mm512_loadu_si512(in);
    const __m512i second = _mm512_loadu_si512(in + 1);
    const __m512i third = _mm512_loadu_si512(in + 2);

    const __mmask64 ascii = ~_mm512_movepi8_mask(first);
    const __mmask64 continuation = at_least(first, 0x80) & ~at_least(first, 0xC0);
    const __mmask64 two = at_least(first, 0xC2) & ~at_least(first, 0xE0);
    const __mmask64 three = equal(first, 0xE1);
    const __mmask64 straddling = (two & (1ULL << 63)) | (three & (3ULL << 62));
    const int taken = straddling == 0 ? 64 : std::countr_zero(static_cast<unsigned long long>(straddling));
    const __mmask64 reach = taken == 64 ? ~0ULL : (1ULL << taken) - 1;

    // Every byte of the block, the character cut at its end included, must be
    // where well-formed UTF-8 puts it: a character taken may end in the byte
    // where the cut one begins, which must then be a continuation byte.
    const __mmask64 expected = (two << 1) | (three << 1) | (three << 2);
    if (((continuation ^ expected) | ~(ascii | two | three | continuation)) != 0) return {0, 0};
    const __mmask64 controls = ascii & ~at_least(first, 0x20);
    const __m512i c0 = _mm512_maskz_permutexvar_epi8(controls, first, vector(from_utf8_table.c0_letters));
    if ((_mm512_test_epi8_mask(c0, c0) & reach) != 0) return {0, 0};

    const __m512i low_index = _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(first, _mm512_set1_epi8(1)), 6),
                                              _mm512_and_si512(second, _mm512_set1_epi8(0x3F)));
    const __mmask64 to_c3 = ~at_least(first, 0xC4), to_c5 = ~at_least(first, 0xC6), to_c7 = ~at_least(first, 0xC8);
    __m512i letters = look_up(two & to_c3, from_utf8_table.two_byte[0], low_index);
    letters = _mm512_or_si512(letters, look_up(two & to_c5 & ~to_c3, from_utf8_table.two_byte[1], low_index));
    letters = _mm512_or_si512(letters, look_up(two & to_c7 & ~to_c5, from_utf8_table.two_byte[2], low_index));
    const __mmask64 latin_extended_additional =
        three & _mm512_cmpeq_epi8_mask(_mm512_and_si512(second, _mm512_set1_epi8(static_cast<char>(0xFE))),
                                       _mm512_set1_epi8(static_cast<char>(0xBA)));
    const __m512i high_index = _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(second, _mm512_set1_epi8(1)), 6),
                                               _mm512_and_si512(third, _mm512_set1_epi8(0x3F)));
    letters = _mm512_or_si512(letters, look_up(latin_extended_additional, from_utf8_table.e1, high_index));
    if ((_mm512_testn_epi8_mask(letters, letters) & (two | three) & reach) != 0) return {0, 0};

    const __m512i values = _mm512_mask_blend_epi8(ascii, letters, first);
    const __mmask64 kept = (ascii | two | three) & reach;
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(kept, values));
    return {static_cast<std::size_t>(taken), static_cast<std::size_t>(std::popcount(static_cast<unsigned long long>(kept)))};
}

// Blocks while 128 or more bytes are left and the output has room for one.
VIQR_AVX512 progress letters_from_utf8(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                       const unsigned char *out_end) {
    while (end - in >= 2 * WIDE_SIZE && out_end - out >= WIDE_SIZE) {
        const block taken = decode_block(in, out);
        if (taken.taken == 0) break;
        in += taken.taken;
        out += taken.written;
    }
    return {in, out};
}

}  // namespace from_utf8

namespace to_utf8 {
// Byte k of the UTF-8 of each letter from 0x80 on and of each control code
// that is a letter; 0 past its end and for every other byte.
struct alignas(64) to_utf8_tables {
    unsigned char high[3][128];
    unsigned char low[3][64];
};

constexpr to_utf8_tables make_to_utf8_tables() {
    to_utf8_tables t{};
    for (int b = 0; b < 256; ++b) {
        const utf8_field &f = utf8_of_viscii[b];
        if (b >= 0x20 && b < 0x80) continue;
        if (b < 0x20 && !is_c0_letter(static_cast<unsigned char>(b))) continue;
        for (int k = 0; k < 3; ++k) {
            const unsigned char byte = k < f.length ? f.bytes[k] : 0;
            if (b >= 0x80) t.high[k][b - 0x80] = byte;
            else t.low[k][b] = byte;
        }
    }
    return t;
}

constexpr to_utf8_tables to_utf8_table = make_to_utf8_tables();

constexpr bool letters_take_two_or_three_bytes() {
    for (int b = 0; b < 256; ++b) {
        const bool letter = b >= 0x80 || is_c0_letter(static_cast<unsigned char>(b));
        if (letter != (utf8_of_viscii[b].length > 1) || utf8_of_viscii[b].length > 3) return false;
    }
    return true;
}
static_assert(letters_take_two_or_three_bytes());
static_assert(to_utf8_table.high[2][0xAE - 0x80] == 0x87 && to_utf8_table.low[1][0x14] == 0xBB && to_utf8_table.high[2][0xE2 - 0x80] == 0,
              "ệ is E1 BB 87, Ỷ is E1 BB B6, â is C3 A2");

// Byte k of the UTF-8 of each letter of `bytes`, 0 past its end and for bytes
// that are no letter.
VIQR_AVX512 inline __m512i utf8_byte(int k, __m512i bytes, __mmask64 high, __mmask64 controls) {
    const __m512i low = _mm512_maskz_permutexvar_epi8(controls, bytes, vector(to_utf8_table.low[k]));
    return _mm512_or_si512(low, look_up(high, to_utf8_table.high[k], bytes));
}

// Stops at a block with a 0 byte, which could not be told from an empty slot.
VIQR_AVX512 progress letters_to_utf8(const unsigned char *viscii, const unsigned char *end, unsigned char *o) {
    for (; end - viscii >= 2 * WIDE_SIZE; viscii += WIDE_SIZE) {
        const __m512i bytes = _mm512_loadu_si512(viscii);
        if (_mm512_testn_epi8_mask(bytes, bytes) != 0) break;
        const __mmask64 high = _mm512_movepi8_mask(bytes);
        const __mmask64 controls = _mm512_cmplt_epu8_mask(bytes, _mm512_set1_epi8(0x20));
        const __m512i first_of_low = _mm512_maskz_permutexvar_epi8(controls, bytes, vector(to_utf8_table.low[0]));
        const __mmask64 letters = high | _mm512_test_epi8_mask(first_of_low, first_of_low);
        const __m512i first = _mm512_mask_blend_epi8(letters, bytes, utf8_byte(0, bytes, high, controls));
        o = put_in_order(o, first, utf8_byte(1, bytes, high, controls), utf8_byte(2, bytes, high, controls),
                         _mm512_setzero_si512());
    }
    return {viscii, o};
}

}  // namespace to_utf8

VIQR_AVX512 progress exchange_versions(const unsigned char *in, const unsigned char *end, unsigned char *out) {
    const __m512i capital_o_tilde = _mm512_set1_epi8(static_cast<char>(tonefix::CAPITAL_O_TILDE));
    const __m512i small_a_dot_below = _mm512_set1_epi8(static_cast<char>(tonefix::SMALL_A_DOT_BELOW));
    for (; end - in >= WIDE; in += WIDE, out += WIDE) {
        const __m512i bytes = _mm512_loadu_si512(in);
        const __mmask64 o_tilde = _mm512_cmpeq_epi8_mask(bytes, capital_o_tilde);
        const __mmask64 a_dot = _mm512_cmpeq_epi8_mask(bytes, small_a_dot_below);
        const __m512i one = _mm512_mask_mov_epi8(bytes, o_tilde, small_a_dot_below);
        _mm512_storeu_si512(out, _mm512_mask_mov_epi8(one, a_dot, capital_o_tilde));
    }
    return {in, out};
}

VIQR_AVX512 const unsigned char *skip_plain_ascii(const unsigned char *p, const unsigned char *end) {
    for (; end - p >= WIDE; p += WIDE) {
        const __m512i bytes = _mm512_loadu_si512(p);
        // As signed bytes, 0x80 to 0xFF are below 0x20 too.
        const __mmask64 outside = _mm512_cmplt_epi8_mask(bytes, _mm512_set1_epi8(0x20));
        if (outside == 0) continue;
        if (const unsigned char *stop = first_not_plain(p, outside)) return stop;
    }
    return p;
}

}  // namespace

const implementation avx512_kernels = {
    "avx512",
    supported,
    WIDE,
    encoder::encode_vietnamese,
    run::compose_run,
    from_utf8::letters_from_utf8,
    to_utf8::letters_to_utf8,
    exchange_versions,
    skip_plain_ascii,
    nullptr,
};

}  // namespace viqr::detail
