// The composer's run (VIQR to VISCII) of the AVX2 implementation.
#include "avx2.h"
#include "blocks.h"

namespace viqr::detail::avx2 {

// The composer's run a block at a time, each merging byte on its own, for
// the blocks the run below leaves alone.
namespace one_by_one {
#include "impl/generic/compose_blocks.h"
}  // namespace one_by_one

namespace run {

// ---------------------------------------------------------------------------
// What every byte of a block merges into, for all of them at once.
//
// In ASCII text a byte merges into the byte before it (a first merge: a mark
// after a letter, a D after a D) or, as a tone, into the letter that a shape
// mark just made of the byte two before it.  Neither waits on what the bytes
// before did, but for a D after a D that merged (see
// only_ds_merge_into_a_merged_byte).  So each is one look-up by what the two
// bytes are, in tables of 16 or 64 entries (pshufb): a byte's kind is found by
// a hash of its two halves, and the letter by a number that the kinds of the
// two bytes add up to.

constexpr bool is_tone_byte(int b) { return merging_index[b] != 0 && is_tone_class(default_classes[b]); }
constexpr bool is_shape_byte(int b) { return merging_index[b] != 0 && is_shape_class(default_classes[b]); }
constexpr bool is_stroke_byte(int b) { return merging_index[b] != 0 && !is_tone_byte(b) && !is_shape_byte(b); }
constexpr int tone_of(int b) { return (mark_bits[default_classes[b]] & TONE_MASK) - 1; }  // 0 to 4
constexpr int shape_of(int b) { return default_classes[b] - FIRST_SHAPE_CLASS; }          // 0 to 2
constexpr unsigned char merged(int before, int b) { return merged_after[before][merging_index[b]]; }

constexpr bool takes_tones(int b) {
    for (int t = TONE_ACUTE; t < TONE_COUNT; ++t)
        if (merged(b, tone_mark_char[t]) == 0) return false;
    return true;
}
constexpr bool takes_a_first_merge(int b) {
    for (unsigned char m : merging_bytes)
        if (merged(b, m) != 0) return true;
    return false;
}

// The ASCII bytes that a first merge goes into (the letters) and the bytes
// that merge (the marks and D).
constexpr std::size_t count_of(bool (*member)(int)) {
    std::size_t n = 0;
    for (int b = 0; b < 0x80; ++b) n += member(b);
    return n;
}
template <std::size_t N>
constexpr std::array<unsigned char, N> bytes_where(bool (*member)(int)) {
    std::array<unsigned char, N> bytes{};
    std::size_t n = 0;
    for (int b = 0; b < 0x80; ++b)
        if (member(b)) bytes[n++] = static_cast<unsigned char>(b);
    return bytes;
}
constexpr auto merge_letters = bytes_where<count_of(takes_a_first_merge)>(takes_a_first_merge);
static_assert(merging_bytes.back() < 0x80, "every merging byte is ASCII");

// A hash of a byte below 0x80 into four bits, the low half of the byte
// xor a value for its high half, that gives each member of a set a place of
// its own.  From 0x80 on the value for the high half sets the top bit, so
// that pshufb finds nothing.
struct nibble_hash {
    std::array<unsigned char, 16> high{};
    bool found = false;

    constexpr int of(int b) const { return (b & 15) ^ high[b >> 4]; }
};

template <std::size_t N>
constexpr bool places_apart(const nibble_hash &h, const std::array<unsigned char, N> &members, int upto_high) {
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t k = 0; k < i; ++k)
            if ((members[i] >> 4) <= upto_high && (members[k] >> 4) <= upto_high &&
                h.of(members[i]) == h.of(members[k]))
                return false;
    return true;
}

// Tries the values of the high halves in turn, backing up on a clash.
template <std::size_t N>
constexpr bool search_hash(nibble_hash &h, const std::array<unsigned char, N> &members, int high) {
    if (high == 8) return true;
    for (int v = 0; v < 16; ++v) {
        h.high[high] = static_cast<unsigned char>(v);
        if (places_apart(h, members, high) && search_hash(h, members, high + 1)) return true;
    }
    return false;
}

template <std::size_t N>
constexpr nibble_hash make_hash(const std::array<unsigned char, N> &members) {
    nibble_hash h;
    h.found = search_hash(h, members, 0);
    for (int high = 8; high < 16; ++high) h.high[high] = 0x80;
    return h;
}

constexpr nibble_hash letter_hash = make_hash(merge_letters);
constexpr nibble_hash merging_hash = make_hash(merging_bytes);
static_assert(letter_hash.found && merging_hash.found, "the letters and the merging bytes hash apart");

using table16 = std::array<unsigned char, 16>;

// A value for each member of a set, at its place in the hash.
template <std::size_t N, class Value>
constexpr table16 by_hash(const nibble_hash &h, const std::array<unsigned char, N> &members, Value value) {
    table16 t{};
    for (unsigned char m : members) t[h.of(m)] = static_cast<unsigned char>(value(m));
    return t;
}

// Each member at its place, and 0xFF at the places of none, which no byte
// that hashes there is (0xFF hashes past them).
template <std::size_t N>
constexpr table16 key_of(const nibble_hash &h, const std::array<unsigned char, N> &members) {
    table16 t{};
    t.fill(0xFF);
    for (unsigned char m : members) t[h.of(m)] = m;
    return t;
}

// The letters that take the tones, numbered from 0, and the letters the
// shape marks make, numbered from 0 so that a letter's number plus the
// shape's is the shaped letter's (assigned below); the two Ds come after
// them.
constexpr int tone_letter_number(int b) {
    int n = 0;
    for (int x = 0; x < b; ++x) n += takes_tones(x);
    return n;
}
constexpr int TONE_LETTERS = tone_letter_number(0x80);

struct shape_numbers {
    std::array<int, 0x80> letter{};  // a letter's number; its shaped letters are at letter + shape
    int shaped = 0;                  // how many shaped letters
    bool fits = true;
};

constexpr shape_numbers number_shapes() {
    shape_numbers n;
    std::array<bool, 16> used{};
    for (unsigned char b : merge_letters) {
        bool any = false;
        for (unsigned char m : merging_bytes) any = any || (is_shape_byte(m) && merged(b, m) != 0);
        if (!any) continue;
        int at = 0;
        for (;; ++at) {
            bool free = true;
            for (unsigned char m : merging_bytes)
                if (is_shape_byte(m) && merged(b, m) != 0) free = free && at + shape_of(m) < 16 && !used[at + shape_of(m)];
            if (free || at >= 16) break;
        }
        n.letter[b] = at;
        for (unsigned char m : merging_bytes)
            if (is_shape_byte(m) && merged(b, m) != 0) {
                if (at + shape_of(m) >= 16) n.fits = false;
                else used[at + shape_of(m)] = true;
            }
    }
    for (int s = 0; s < 16; ++s) n.shaped = used[s] ? s + 1 : n.shaped;
    return n;
}
constexpr shape_numbers shape_number = number_shapes();

// A second D has the column STROKE_COLUMN; D and d are numbered so that
// their Đ and đ come after the shaped letters.
constexpr int STROKE_COLUMN = SHAPE_MARK_COUNT;
constexpr int stroke_letter_number(int b) { return shape_number.shaped - STROKE_COLUMN + ((b & 0x20) != 0); }
constexpr int SHAPED_AND_STROKED = shape_number.shaped + 2;
static_assert(shape_number.fits && SHAPED_AND_STROKED <= 16 && TONE_LETTERS * (TONE_COUNT - 1) <= 64 &&
                  shape_number.shaped * (TONE_COUNT - 1) <= 64,
              "the shaped letters and Đ, đ in one table of 16; each letter of a tone table under every tone in 64");

// What the letter tables give the look-ups.
constexpr auto letter_key = key_of(letter_hash, merge_letters);
constexpr auto letter_accepts = by_hash(letter_hash, merge_letters, [](int b) { return accept_mask[default_classes[b]]; });
constexpr auto letter_tone_row = by_hash(letter_hash, merge_letters, [](int b) {
    return takes_tones(b) ? (TONE_COUNT - 1) * tone_letter_number(b) : 0;
});
constexpr auto letter_shape_row = by_hash(letter_hash, merge_letters, [](int b) {
    return is_stroke_byte(b) ? stroke_letter_number(b) : shape_number.letter[b];
});
constexpr auto mark_key = key_of(merging_hash, merging_bytes);
constexpr auto mark_bits_of = by_hash(merging_hash, merging_bytes, [](int b) { return mark_bits[default_classes[b]]; });
constexpr auto mark_tone = by_hash(merging_hash, merging_bytes, [](int b) { return is_tone_byte(b) ? tone_of(b) : 0; });
constexpr auto mark_column = by_hash(merging_hash, merging_bytes, [](int b) {
    return is_shape_byte(b) ? shape_of(b) : is_stroke_byte(b) ? STROKE_COLUMN : 0;
});

// The letters a mark makes: a tone on a letter, and a shape or a second D.
constexpr std::array<unsigned char, 64> toned_letters = [] {
    std::array<unsigned char, 64> t{};
    for (unsigned char b : merge_letters)
        for (unsigned char m : merging_bytes)
            if (takes_tones(b) && is_tone_byte(m))
                t[(TONE_COUNT - 1) * tone_letter_number(b) + tone_of(m)] = merged(b, m);
    return t;
}();
constexpr table16 shaped_letters = [] {
    table16 t{};
    for (unsigned char b : merge_letters)
        for (unsigned char m : merging_bytes) {
            if (is_shape_byte(m) && merged(b, m) != 0) t[shape_number.letter[b] + shape_of(m)] = merged(b, m);
            if (is_stroke_byte(b) && is_stroke_byte(m)) t[stroke_letter_number(b) + STROKE_COLUMN] = merged(b, m);
        }
    return t;
}();
// A tone on a shaped letter, by the shaped letter's number.
constexpr std::array<unsigned char, 64> toned_shaped_letters = [] {
    std::array<unsigned char, 64> t{};
    for (unsigned char b : merge_letters)
        for (unsigned char s : merging_bytes)
            if (is_shape_byte(s) && merged(b, s) != 0)
                for (unsigned char m : merging_bytes)
                    if (is_tone_byte(m))
                        t[(TONE_COUNT - 1) * (shape_number.letter[b] + shape_of(s)) + tone_of(m)] = merged(merged(b, s), m);
    return t;
}();
constexpr table16 times_tones = [] {
    table16 t{};
    for (int s = 0; s < 16; ++s) t[s] = static_cast<unsigned char>(s < shape_number.shaped ? (TONE_COUNT - 1) * s : 0);
    return t;
}();

// A byte is found at its place in a hash exactly when it is a member.
template <std::size_t N>
constexpr bool keys_tell_members(const nibble_hash &h, const table16 &key, const std::array<unsigned char, N> &members) {
    for (int b = 0; b < 256; ++b) {
        bool member = false;
        for (unsigned char m : members) member = member || m == b;
        if (member != (h.of(b) < 16 && key[h.of(b)] == b)) return false;
    }
    return true;
}
static_assert(keys_tell_members(letter_hash, letter_key, merge_letters) &&
              keys_tell_members(merging_hash, mark_key, merging_bytes));

// The tables above hold every merge: each merging byte after each letter,
// and each after that, is found in them as the look-ups below find it, and
// nothing merges into any other ASCII byte.
constexpr unsigned char first_merge(int before, int b) {
    const int lp = letter_hash.of(before), mp = merging_hash.of(b);
    if ((letter_accepts[lp] & mark_bits_of[mp]) == 0) return 0;
    return is_tone_byte(b) ? toned_letters[letter_tone_row[lp] + mark_tone[mp]]
                           : shaped_letters[letter_shape_row[lp] + mark_column[mp]];
}
constexpr bool tables_hold_every_merge() {
    for (int before = 0; before < 0x80; ++before)
        for (unsigned char b : merging_bytes)
            if (!takes_a_first_merge(before) && merged(before, b) != 0) return false;
    for (unsigned char before : merge_letters)
        for (unsigned char b : merging_bytes) {
            if (first_merge(before, b) != merged(before, b)) return false;
            const unsigned char made = merged(before, b);
            if (made == 0) continue;
            for (unsigned char m : merging_bytes) {
                const bool shape_then_tone = is_shape_byte(b) && is_tone_byte(m);
                const int lp = letter_hash.of(before), mp = merging_hash.of(b), tp = merging_hash.of(m);
                const unsigned char found =
                    shape_then_tone
                        ? toned_shaped_letters[times_tones[letter_shape_row[lp] + mark_column[mp]] + mark_tone[tp]]
                        : 0;
                if (merged(made, m) != found) return false;
            }
        }
    return true;
}
static_assert(tables_hold_every_merge());

// A D that merged is followed by a D that does not, which a first merge
// cannot tell: a block with two merging Ds running goes byte by byte.
constexpr bool only_ds_merge_into_a_merged_byte() {
    for (int x = 0; x < 0x80; ++x)
        for (unsigned char m1 : merging_bytes)
            for (unsigned char m2 : merging_bytes)
                if (merged(x, m1) != 0 && merged(m1, m2) != 0 && !(is_stroke_byte(m1) && is_stroke_byte(m2)))
                    return false;
    return true;
}
static_assert(only_ds_merge_into_a_merged_byte());

// Entries 16 * q to 16 * q + 15 of a table, in each half of a vector.
VIQR_KERNEL inline __m256i quarter_of(const std::array<unsigned char, 64> &t, int q) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t.data() + 16 * q)));
}

// The entries of a table of 64 at indexes below 64.
VIQR_KERNEL inline __m256i look_up64(const std::array<unsigned char, 64> &t, __m256i index) {
    // blendv reads the top bit of each byte: bit 4 of the index shifted
    // there, then bit 5 (what a 16-bit shift brings in from the byte below
    // stays under the top bit).
    const __m256i bit4 = _mm256_slli_epi16(index, 3), bit5 = _mm256_slli_epi16(index, 2);
    const __m256i low = _mm256_blendv_epi8(_mm256_shuffle_epi8(quarter_of(t, 0), index),
                                           _mm256_shuffle_epi8(quarter_of(t, 1), index), bit4);
    const __m256i high = _mm256_blendv_epi8(_mm256_shuffle_epi8(quarter_of(t, 2), index),
                                            _mm256_shuffle_epi8(quarter_of(t, 3), index), bit4);
    return _mm256_blendv_epi8(low, high, bit5);
}

// A byte's place in a hash, and whether the byte is the member there.
struct hashed {
    __m256i place, member;
};

VIQR_KERNEL inline hashed hash_of(__m256i bytes, const nibble_hash &h, const table16 &key) {
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), splat(0x0F));
    const __m256i place = _mm256_xor_si256(_mm256_shuffle_epi8(table_of(h.high), high), _mm256_and_si256(bytes, splat(0x0F)));
    return {place, _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table_of(key), place), bytes)};
}

VIQR_KERNEL inline __m256i look_up(const table16 &t, __m256i place) { return _mm256_shuffle_epi8(table_of(t), place); }

// Moves the bytes of `v` one place up, byte 31 of `before` coming in.
VIQR_KERNEL inline __m256i up_one(__m256i v, __m256i before) {
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(before, v, 0x21), 15);
}

// Where the kept bytes of 8 come from, for pshufb (0x80 past the last).
constexpr auto keep_shuffles = [] {
    std::array<std::array<unsigned char, 8>, 256> t{};
    for (int m = 0; m < 256; ++m) {
        int n = 0;
        for (int i = 0; i < 8; ++i)
            if ((m >> i) & 1) t[m][n++] = static_cast<unsigned char>(i);
        for (; n < 8; ++n) t[m][n] = 0x80;
    }
    return t;
}();

// Writes the bytes of `v` whose bits are set in `kept`, in order; returns
// the end.  Writes up to 32 bytes.
VIQR_KERNEL inline unsigned char *put_kept(unsigned char *o, __m256i v, std::uint32_t kept) {
    const __m128i halves[2] = {_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)};
    for (int h = 0; h < 2; ++h) {
        const unsigned low = (kept >> (16 * h)) & 0xFF, high = (kept >> (16 * h + 8)) & 0xFF;
        std::uint64_t first, second;
        std::memcpy(&first, keep_shuffles[low].data(), 8);
        std::memcpy(&second, keep_shuffles[high].data(), 8);
        // The second eight come from bytes 8 to 15; 0x80 stays past the top.
        const __m128i shuffle = _mm_set_epi64x(static_cast<long long>(second | 0x0808080808080808u), static_cast<long long>(first));
        const __m128i kept_bytes = _mm_shuffle_epi8(halves[h], shuffle);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(o), kept_bytes);
        o += std::popcount(low);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(o), _mm_unpackhi_epi64(kept_bytes, kept_bytes));
        o += std::popcount(high);
    }
    return o;
}

// Where a block's run ends and where it makes letter breaks (see run_stop):
// a stop byte ends it unless the byte after it is in sight and not one of
// the ends.
struct block_reach {
    int upto = static_cast<int>(BLOCK);
    std::uint32_t breaks = 0;
};

VIQR_KERNEL inline block_reach reach_of(__m256i bytes, std::uint32_t stops, const run_stop &stop) {
    block_reach reach;
    std::uint32_t ending = stops;
    if (stop.letter_breaks) {
        __m256i ends = _mm256_setzero_si256();
        for (unsigned char e : stop.ends) ends = _mm256_or_si256(ends, _mm256_cmpeq_epi8(bytes, splat(e)));
        ending = stops & ((static_cast<std::uint32_t>(mask_of(ends)) >> 1) | (1u << (BLOCK - 1)));
    }
    if (ending != 0) reach.upto = std::countr_zero(ending);
    reach.breaks = stops & ~ending & ((ending & (0u - ending)) - 1);
    return reach;
}

// What a block makes of its bytes: the letter each merge makes, at the
// place of the byte that made it, and which bytes merged; what the block
// hands the next.
struct block_merges {
    __m256i letters;
    std::uint32_t merged;   // the bytes that merged into the letter before them
    std::uint32_t strokes;  // the Ds that merged
    __m256i shape_places;   // the shaped letter each byte makes, by number
    __m256i shapes_made;    // 0xFF where a shape mark merged
};

constexpr table16 tone_marks = by_hash(merging_hash, merging_bytes, [](int b) { return is_tone_byte(b) ? 0xFF : 0; });
constexpr table16 shape_marks = by_hash(merging_hash, merging_bytes, [](int b) { return is_shape_byte(b) ? 0xFF : 0; });

// The letters of an ASCII block: `bytes` from `in`, `before` from in - 1.
// The last two fields of the block before (byte 31) come in as `last`.
VIQR_KERNEL inline block_merges merges_of(__m256i bytes, __m256i before, const block_merges &last) {
    const __m256i zero = _mm256_setzero_si256();
    const hashed letter = hash_of(before, letter_hash, letter_key);
    const hashed mark = hash_of(bytes, merging_hash, mark_key);
    const __m256i bits = _mm256_and_si256(look_up(mark_bits_of, mark.place), mark.member);
    const __m256i accepts = _mm256_and_si256(look_up(letter_accepts, letter.place), letter.member);
    const __m256i no_first = _mm256_cmpeq_epi8(_mm256_and_si256(accepts, bits), zero);
    const __m256i tone = look_up(mark_tone, mark.place);
    const __m256i is_tone = look_up(tone_marks, mark.place);  // for the members

    // A first merge: a tone on a letter, or a shape, or a second D.
    const __m256i shape_places = _mm256_add_epi8(look_up(letter_shape_row, letter.place), look_up(mark_column, mark.place));
    const __m256i toned = look_up64(toned_letters, _mm256_add_epi8(look_up(letter_tone_row, letter.place), tone));
    const __m256i first = _mm256_blendv_epi8(look_up(shaped_letters, shape_places), toned, is_tone);

    // A tone after a shape mark that merged.
    const __m256i shapes_made = _mm256_andnot_si256(no_first, look_up(shape_marks, mark.place));
    const __m256i after_shape = _mm256_and_si256(_mm256_and_si256(up_one(shapes_made, last.shapes_made), is_tone), mark.member);
    const __m256i made_before = up_one(shape_places, last.shape_places);
    const __m256i toned_shaped = look_up64(toned_shaped_letters, _mm256_add_epi8(look_up(times_tones, made_before), tone));

    // No byte is both: a tone after a shape follows a mark, and a first merge
    // follows a letter.
    const __m256i merges = _mm256_andnot_si256(no_first, _mm256_set1_epi8(-1));
    const __m256i letters = _mm256_blendv_epi8(_mm256_blendv_epi8(bytes, first, merges), toned_shaped, after_shape);
    const auto firsts = static_cast<std::uint32_t>(mask_of(merges));
    return {letters, firsts | static_cast<std::uint32_t>(mask_of(after_shape)),
            firsts & static_cast<std::uint32_t>(mask_of(_mm256_cmpeq_epi8(bits, splat(MARK_STROKE)))), shape_places,
            shapes_made};
}

// The composer's run 32 bytes at a time, with no branch on which bytes
// merge: the letters a block makes are looked up for all its bytes at once
// (merges_of), each in place of the mark that made it, and the letters the
// marks merged into are left out, with the bytes that make letter breaks.
// A merge at the block's start leaves out the byte written before it.
// Blocks with a byte from 0x80 on (a VISCII letter typed whole) or two
// merging Ds running go one merging byte at a time.
VIQR_KERNEL progress compose_run(const unsigned char *in, const unsigned char *end, unsigned char *o,
                                 const unsigned char *o_limit, const run_stop &stop) {
    const __m256i zero = _mm256_setzero_si256();
    block_merges last{};
    bool settled = false;  // whether `last` is the block before's
    while (end - in >= 2 * BLOCK && o < o_limit) {
        const __m256i bytes = load_block(in), before = load_block(in - 1);
        if (!settled) {
            // What the two bytes before `in` made, as byte 31 of a block.
            const __m256i pair = _mm256_insert_epi8(zero, static_cast<char>(in[-1]), 31);
            const __m256i pair_before = _mm256_insert_epi8(zero, static_cast<char>(in[-2]), 31);
            last = merges_of(pair, pair_before, block_merges{zero, 0, 0, zero, zero});
            settled = true;
        }
        const auto stops = static_cast<std::uint32_t>(mask_of(_mm256_cmpeq_epi8(bytes, splat(stop.byte))));
        const block_reach reach = stops == 0 ? block_reach{} : reach_of(bytes, stops, stop);
        const std::uint32_t in_reach = reach.upto == BLOCK ? ~0u : (1u << reach.upto) - 1;
        const block_merges m = merges_of(bytes, before, last);
        const std::uint32_t strokes_running = m.strokes & ((m.strokes << 1) | (last.strokes >> (BLOCK - 1)));
        if (((strokes_running & in_reach) | mask_of(_mm256_or_si256(bytes, before))) != 0) [[unlikely]] {
            const progress one = one_by_one::compose_run(in, in + 2 * BLOCK, o, o_limit, stop);
            if (one.in != in + BLOCK) return one;
            in = one.in;
            o = one.out;
            settled = false;
            continue;
        }
        // A merge at or past a stop byte is not the run's.
        const std::uint32_t merged = m.merged & in_reach;
        o -= merged & 1;
        o = put_kept(o, m.letters, ~((merged >> 1) | reach.breaks) & in_reach);
        in += reach.upto;
        last = m;
        if (reach.upto != BLOCK) break;
    }
    return {in, o};
}

}  // namespace run

VIQR_KERNEL progress compose_run(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                 const unsigned char *out_limit, const run_stop &stop) {
    return run::compose_run(in, end, out, out_limit, stop);
}

}  // namespace viqr::detail::avx2
