// The AVX2 implementation: blocks of 32 bytes, for the processors with AVX2
// (most x86-64 processors since 2013).  Byte look-ups in 16-entry tables
// (pshufb) classify a block at once; the code is compiled for those
// processors function by function (VIQR_KERNEL) and run only where the
// processor has them.
#include <immintrin.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "avx2.h"
#include "composer_run.h"
#include "encoder_tables.h"
#include "exchange.h"
#include "impl/implementations.h"
#include "unicode_letters.h"

#define VIQR_KERNEL __attribute__((target("avx2,bmi,bmi2,popcnt,lzcnt")))

namespace viqr::detail {
namespace {

bool supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

constexpr std::ptrdiff_t BLOCK = 32;

VIQR_KERNEL inline __m256i load_block(const unsigned char *block) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block));
}

VIQR_KERNEL inline void store_block(unsigned char *to, __m256i bytes) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(to), bytes);
}

VIQR_KERNEL inline std::uint64_t mask_of(__m256i hits) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(hits));
}

VIQR_KERNEL inline __m256i splat(unsigned char value) { return _mm256_set1_epi8(static_cast<char>(value)); }

// A set of bytes as two 16-entry tables, one by the high half of a byte and
// one by the low half: each high half that has members gets a bit of its
// own, which the low-half table sets for the low halves of its members.  A
// byte belongs when the two entries share a bit; a byte from 0x80 on looks
// up 0 in the high table, as pshufb gives 0 for an index with its top bit set.
struct nibble_set {
    std::array<unsigned char, 16> high{};
    std::array<unsigned char, 16> low{};
    bool fits = true;  // at most eight high halves, all below 8

    template <std::size_t N>
    constexpr explicit nibble_set(const std::array<unsigned char, N> &members) {
        unsigned char next_bit = 1;
        for (unsigned char b : members) {
            if (b >= 0x80) fits = false;
            if (high[b >> 4] == 0) {
                if (next_bit == 0) fits = false;
                high[b >> 4] = next_bit;
                next_bit = static_cast<unsigned char>(next_bit << 1);
            }
            low[b & 15] |= high[b >> 4];
        }
    }

    constexpr bool has(int b) const { return b < 0x80 && (high[b >> 4] & low[b & 15]) != 0; }
};

template <std::size_t N>
constexpr bool holds_exactly(const nibble_set &set, const std::array<unsigned char, N> &members) {
    if (!set.fits) return false;
    for (int b = 0; b < 256; ++b) {
        bool member = false;
        for (unsigned char m : members) member = member || m == b;
        if (set.has(b) != member) return false;
    }
    return true;
}

VIQR_KERNEL inline __m256i table_of(const std::array<unsigned char, 16> &entries) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(entries.data())));
}

// The bytes of `bytes` in the set, as 0xFF.
VIQR_KERNEL inline __m256i members_of(__m256i bytes, const nibble_set &set) {
    const __m256i high_half = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), splat(0x0F));
    // pshufb looks at the low four bits and the top bit of each index: a
    // byte from 0x80 on keeps its top bit here and looks up 0.
    const __m256i high_index = _mm256_or_si256(high_half, _mm256_and_si256(bytes, splat(0x80)));
    const __m256i high = _mm256_shuffle_epi8(table_of(set.high), high_index);
    const __m256i low = _mm256_shuffle_epi8(table_of(set.low), _mm256_and_si256(bytes, splat(0x0F)));
    return _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_and_si256(high, low), _mm256_setzero_si256()),
                            _mm256_set1_epi8(-1));
}

constexpr nibble_set merging_set(merging_bytes);
static_assert(holds_exactly(merging_set, merging_bytes));

VIQR_KERNEL inline std::uint64_t bytes_equal(const unsigned char *block, unsigned char value) {
    return mask_of(_mm256_cmpeq_epi8(load_block(block), splat(value)));
}

VIQR_KERNEL inline std::uint64_t merging_bytes_of(const unsigned char *block) {
    return mask_of(members_of(load_block(block), merging_set));
}

VIQR_KERNEL inline void copy_block(unsigned char *to, const unsigned char *from) { store_block(to, load_block(from)); }


// A table of 16N entries for look-ups by pshufb, which takes 16 at a time:
// chunk c holds entries 16c to 16c + 15 XORed with those of chunk c - 1.  An
// index less than 16N is looked up in every chunk with 16c taken from it;
// from the chunk past its own on that is negative and pshufb gives 0, so the
// XOR of the look-ups is the entry of its own chunk.
template <int N>
struct alignas(32) chunked_table {
    unsigned char chunk[N][16];
};

template <int N>
constexpr chunked_table<N> chunked(const unsigned char (&entries)[16 * N]) {
    chunked_table<N> t{};
    for (int c = 0; c < N; ++c)
        for (int i = 0; i < 16; ++i)
            t.chunk[c][i] = static_cast<unsigned char>(entries[16 * c + i] ^ (c > 0 ? entries[16 * (c - 1) + i] : 0));
    return t;
}

// The entry for each byte of `index`, which must be below 16N; garbage for
// other bytes, which the caller masks.
template <int N>
VIQR_KERNEL inline __m256i look_up(const chunked_table<N> &t, __m256i index) {
    __m256i entries = _mm256_setzero_si256();
    for (int c = 0; c < N; ++c) {
        const __m256i chunk =
            _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(t.chunk[c])));
        entries = _mm256_xor_si256(entries, _mm256_shuffle_epi8(chunk, index));
        index = _mm256_sub_epi8(index, splat(16));
    }
    return entries;
}

// The index shifted for each of eight chunks, for look-ups in several
// chunked tables by the same index.
struct shifted_index {
    __m256i by_chunk[8];
};

VIQR_KERNEL inline shifted_index shift_for_chunks(__m256i index) {
    shifted_index s;
    for (int c = 0; c < 8; ++c) {
        s.by_chunk[c] = index;
        index = _mm256_sub_epi8(index, splat(16));
    }
    return s;
}

VIQR_KERNEL inline __m256i look_up(const chunked_table<8> &t, const shifted_index &index) {
    __m256i entries = _mm256_setzero_si256();
    for (int c = 0; c < 8; ++c) {
        const __m256i chunk =
            _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(t.chunk[c])));
        entries = _mm256_xor_si256(entries, _mm256_shuffle_epi8(chunk, index.by_chunk[c]));
    }
    return entries;
}

// For putting bytes in order without the 0 bytes between them, eight at a
// time: for each mask of the non-zero bytes of eight, where those bytes are.
struct alignas(32) packing {
    unsigned char at[256][8];
    unsigned char count[256];
};

constexpr packing make_packing() {
    packing t{};
    for (int mask = 0; mask < 256; ++mask) {
        int n = 0;
        for (int i = 0; i < 8; ++i)
            if (mask >> i & 1) t.at[mask][n++] = static_cast<unsigned char>(i);
        for (int i = n; i < 8; ++i) t.at[mask][i] = 0x80;
        t.count[mask] = static_cast<unsigned char>(n);
    }
    return t;
}

constexpr packing pack = make_packing();
static_assert(pack.count[0xFF] == 8 && pack.at[0x12][0] == 1 && pack.at[0x12][1] == 4 && pack.at[0x12][2] == 0x80);

// Writes the bytes of `slots` that `kept` marks, in order; the stores run up
// to 16 bytes on, which the caller's later output must cover.
VIQR_KERNEL inline unsigned char *put_kept(unsigned char *out, __m128i slots, unsigned kept) {
    const unsigned low = kept & 0xFF, high = kept >> 8 & 0xFF;
    std::uint64_t places[2];
    std::memcpy(&places[0], pack.at[low], 8);
    std::memcpy(&places[1], pack.at[high], 8);
    const __m128i order = _mm_add_epi8(_mm_set_epi64x(static_cast<long long>(places[1]), static_cast<long long>(places[0])),
                                       _mm_set_epi64x(0x0808080808080808LL, 0));
    const __m128i packed = _mm_shuffle_epi8(slots, order);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), packed);
    out += pack.count[low];
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_unpackhi_epi64(packed, packed));
    return out + pack.count[high];
}

VIQR_KERNEL inline unsigned char *put_filled(unsigned char *out, __m128i slots) {
    const auto filled = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(slots, _mm_setzero_si128()))) ^ 0xFFFFu;
    return put_kept(out, slots, filled);
}

// Each of 32 bytes becomes up to four: a, b, c and d hold them, 0 for none.
// Writes them in order, byte after byte, and returns the end.  The unpacks
// work within each 16-byte half, so the first half's four-byte groups go
// first.
VIQR_KERNEL inline unsigned char *put_in_order(unsigned char *out, __m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i ab_low = _mm256_unpacklo_epi8(a, b), ab_high = _mm256_unpackhi_epi8(a, b);
    const __m256i cd_low = _mm256_unpacklo_epi8(c, d), cd_high = _mm256_unpackhi_epi8(c, d);
    const __m256i quads[4] = {_mm256_unpacklo_epi16(ab_low, cd_low), _mm256_unpackhi_epi16(ab_low, cd_low),
                              _mm256_unpacklo_epi16(ab_high, cd_high), _mm256_unpackhi_epi16(ab_high, cd_high)};
    for (const __m256i &q : quads) out = put_filled(out, _mm256_castsi256_si128(q));
    for (const __m256i &q : quads) out = put_filled(out, _mm256_extracti128_si256(q, 1));
    return out;
}

// Bit j of `mask` as byte j of a vector: 0xFF or 0.
VIQR_KERNEL inline __m256i spread_mask(std::uint32_t mask) {
    const __m256i spread = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(mask)),
                                               _mm256_setr_epi64x(0, 0x0101010101010101LL, 0x0202020202020202LL,
                                                                  0x0303030303030303LL));
    const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ULL));
    return _mm256_cmpeq_epi8(_mm256_and_si256(spread, bit), bit);
}

VIQR_KERNEL inline __m256i high_bytes(__m256i bytes) { return _mm256_cmpgt_epi8(_mm256_setzero_si256(), bytes); }

VIQR_KERNEL inline __m256i below(__m256i bytes, unsigned char limit) {
    // Unsigned: the minimum of the two is the byte only when the byte is at most limit - 1.
    return _mm256_cmpeq_epi8(_mm256_min_epu8(bytes, splat(static_cast<unsigned char>(limit - 1))), bytes);
}

// The six control codes that are letters in VISCII, which the kernels leave
// to the references.
constexpr auto c0_letters = [] {
    std::array<unsigned char, 6> bytes{};
    int n = 0;
    for (int b = 0; b < 0x20; ++b)
        if (is_c0_letter(static_cast<unsigned char>(b)) && n < 6) bytes[n++] = static_cast<unsigned char>(b);
    return bytes;
}();
constexpr nibble_set c0_letter_set(c0_letters);
static_assert(holds_exactly(c0_letter_set, c0_letters), "the six control codes that are letters in VISCII");

// The encoder and VISCII to UTF-8 write most bytes (ASCII) as they are and
// a few (the letters, and what may take an escape) as up to four bytes: a
// block is copied whole, and then each of those few is written where it
// lands, with the rest of the block copied again after it.  Each write may
// run a block past what counts, which the output of the block still to come
// covers.

namespace encode {

// The bytes that may join the byte before them in Vietnamese mode: the ASCII
// ones by a set, and the two from 0x80 on (Đ and đ), which are letters anyway.
constexpr auto joining_ascii = [] {
    std::array<unsigned char, 10> bytes{};
    int n = 0;
    for (int b = 0; b < 0x80; ++b)
        if (vietnamese_joins[b] != 0 && n < 10) bytes[n++] = static_cast<unsigned char>(b);
    return bytes;
}();
constexpr nibble_set joining_set(joining_ascii);
static_assert(holds_exactly(joining_set, joining_ascii));

// Below 0x80 the bytes that need care are those that join, and the bytes
// spelled otherwise than as themselves are the control codes that are
// letters, which the kernel leaves to the reference.
constexpr bool ascii_needs_only_these() {
    for (int b = 0; b < 0x80; ++b) {
        const packed_spelling &s = vietnamese_spelling[b];
        const bool itself = s.length == 1 && static_cast<unsigned char>(s.text[0]) == b;
        if (itself == is_c0_letter(static_cast<unsigned char>(b))) return false;
        if ((s.needs_care != 0) != joining_set.has(b)) return false;
    }
    return true;
}
static_assert(ascii_needs_only_these());

// Spells the bytes from `in` while 64 or more are left, and stops at a block
// with the composition character or a control code that is a letter (both
// rare in VISCII text); every block has an input byte before it.
VIQR_KERNEL progress encode_vietnamese(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                       unsigned char composition_char) {
    const __m256i composition = splat(composition_char);
    while (end - in >= 2 * BLOCK) {
        const __m256i bytes = load_block(in);
        const __m256i left_alone = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, composition), members_of(bytes, c0_letter_set));
        if (!_mm256_testz_si256(left_alone, left_alone)) break;
        const __m256i special = _mm256_or_si256(high_bytes(bytes), members_of(bytes, joining_set));
        store_block(out, bytes);
        std::ptrdiff_t added = 0;
        for (std::uint32_t mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(special)); mask != 0;
             mask &= mask - 1) {
            const int j = std::countr_zero(mask);
            const unsigned char b = in[j];
            const packed_spelling &spelling = vietnamese_spelling[b];
            unsigned char *at = out + j + added;  // where b was copied
            const bool escaped = spelling.needs_care && (vietnamese_joins[b] & vietnamese_accepts[in[j - 1]]) != 0;
            *at = composition_char;
            at += escaped;
            std::memcpy(at, spelling.text, 4);
            at += spelling.length;
            copy_block(at, in + j + 1);
            added += escaped + spelling.length - 1;
        }
        out += BLOCK + added;
        in += BLOCK;
    }
    return {in, out};
}

}  // namespace encode

namespace to_utf8 {

constexpr bool letters_take_two_or_three_bytes() {
    for (int b = 0; b < 256; ++b) {
        const bool letter = b >= 0x80 || is_c0_letter(static_cast<unsigned char>(b));
        if (letter != (utf8_of_viscii[b].length > 1) || utf8_of_viscii[b].length > 3) return false;
        if (!letter && utf8_of_viscii[b].bytes[0] != b) return false;
    }
    return true;
}
static_assert(letters_take_two_or_three_bytes());

// Stops at a block with a control code that is a letter (rare).
VIQR_KERNEL progress letters_to_utf8(const unsigned char *viscii, const unsigned char *end, unsigned char *o) {
    for (; end - viscii >= 2 * BLOCK; viscii += BLOCK) {
        const __m256i bytes = load_block(viscii);
        const __m256i left_alone = members_of(bytes, c0_letter_set);
        if (!_mm256_testz_si256(left_alone, left_alone)) break;
        store_block(o, bytes);
        std::ptrdiff_t added = 0;
        for (std::uint32_t mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes)); mask != 0;
             mask &= mask - 1) {
            const int j = std::countr_zero(mask);
            const utf8_field &f = utf8_of_viscii[viscii[j]];
            unsigned char *at = o + j + added;  // where the byte was copied
            std::memcpy(at, f.bytes, 4);
            copy_block(at + f.length, viscii + j + 1);
            added += f.length - 1;
        }
        o += BLOCK + added;
    }
    return {viscii, o};
}

}  // namespace to_utf8

namespace from_utf8 {

// The VISCII letters of U+0080..U+00FF, U+0100..U+017F, U+0180..U+01FF and of
// E1 BA 80 .. E1 BB BF, as chunked tables; 0 for what is no letter.
struct alignas(32) letter_tables {
    chunked_table<8> two_byte[3];
    chunked_table<8> e1;
};

constexpr letter_tables make_letter_tables() {
    unsigned char two_byte[3][128] = {}, e1[128] = {};
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 128; ++i) two_byte[k][i] = viscii_of_low[0x80 + 128 * k + i];
    for (char32_t cp = HIGH_LETTERS_FIRST; cp < HIGH_LETTERS_END; ++cp)
        e1[cp - 0x1E80] = viscii_of_high[cp - HIGH_LETTERS_FIRST];
    letter_tables t{};
    for (int k = 0; k < 3; ++k) t.two_byte[k] = chunked<8>(two_byte[k]);
    t.e1 = chunked<8>(e1);
    return t;
}

constexpr letter_tables letters = make_letter_tables();


VIQR_KERNEL inline std::uint32_t mask_from(__m256i hits) { return static_cast<std::uint32_t>(_mm256_movemask_epi8(hits)); }

VIQR_KERNEL inline __m256i at_least(__m256i v, unsigned char b) {
    return _mm256_cmpeq_epi8(_mm256_max_epu8(v, splat(b)), v);
}

// Takes the characters that end within the 32 bytes at `in` (two more bytes
// must be readable) and writes their VISCII bytes at `out`, which must have
// room for 32.  Takes nothing from a block with anything but ASCII that is
// no letter in VISCII and letters of two bytes or of E1 BA / E1 BB, all
// well-formed.
VIQR_KERNEL progress decode_block(const unsigned char *in, unsigned char *out) {
    const __m256i first = load_block(in);
    const __m256i second = load_block(in + 1);
    const __m256i third = load_block(in + 2);

    const std::uint32_t ascii = ~mask_from(first);
    const std::uint32_t lead_or_more = mask_from(at_least(first, 0xC0));
    const std::uint32_t continuation = ~ascii & ~lead_or_more;
    const std::uint32_t two = mask_from(at_least(first, 0xC2)) & ~mask_from(at_least(first, 0xE0));
    const std::uint32_t three = mask_from(_mm256_cmpeq_epi8(first, splat(0xE1)));
    const std::uint32_t straddling = (two & (1u << 31)) | (three & (3u << 30));
    const int taken = straddling == 0 ? 32 : std::countr_zero(straddling);
    const std::uint32_t reach = taken == 32 ? ~0u : (1u << taken) - 1;

    const std::uint32_t expected = (two << 1) | (three << 1) | (three << 2);
    if (((continuation ^ expected) | ~(ascii | two | three | continuation)) != 0) return {in, out};
    if ((mask_from(members_of(first, c0_letter_set)) & reach) != 0) return {in, out};

    const __m256i low_index = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(first, splat(1)), 6),
                                              _mm256_and_si256(second, splat(0x3F)));
    const __m256i to_c3 = below(first, 0xC4), to_c5 = below(first, 0xC6), to_c7 = below(first, 0xC8);
    __m256i found = _mm256_and_si256(to_c3, look_up(letters.two_byte[0], low_index));
    found = _mm256_or_si256(found, _mm256_and_si256(_mm256_andnot_si256(to_c3, to_c5), look_up(letters.two_byte[1], low_index)));
    found = _mm256_or_si256(found, _mm256_and_si256(_mm256_andnot_si256(to_c5, to_c7), look_up(letters.two_byte[2], low_index)));
    const __m256i e1_second = _mm256_cmpeq_epi8(_mm256_and_si256(second, splat(0xFE)), splat(0xBA));
    const __m256i high_index = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(second, splat(1)), 6),
                                               _mm256_and_si256(third, splat(0x3F)));
    const std::uint32_t extended = three & mask_from(e1_second);
    const __m256i e1_found = _mm256_and_si256(e1_second, look_up(letters.e1, high_index));
    const std::uint32_t two_letters = two & ~mask_from(_mm256_cmpeq_epi8(found, _mm256_setzero_si256()));
    const std::uint32_t three_letters = extended & ~mask_from(_mm256_cmpeq_epi8(e1_found, _mm256_setzero_si256()));
    if (((two & ~two_letters) | (three & ~three_letters)) & reach) return {in, out};

    const __m256i two_values = _mm256_blendv_epi8(e1_found, found, spread_mask(two));
    const __m256i values = _mm256_blendv_epi8(two_values, first, spread_mask(ascii));
    const std::uint32_t kept = (ascii | two | three) & reach;
    unsigned char *o = put_kept(out, _mm256_castsi256_si128(values), kept & 0xFFFF);
    o = put_kept(o, _mm256_extracti128_si256(values, 1), kept >> 16);
    return {in + taken, o};
}

// Blocks while 64 or more bytes are left and the output has room for one.
VIQR_KERNEL progress letters_from_utf8(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                       const unsigned char *out_end) {
    while (end - in >= 2 * BLOCK && out_end - out >= 2 * BLOCK) {
        const progress taken = decode_block(in, out);
        if (taken.in == in) break;
        in = taken.in;
        out = taken.out;
    }
    return {in, out};
}

}  // namespace from_utf8

}  // namespace

namespace avx2 {
#include "impl/generic/compose_blocks.h"
}  // namespace avx2

namespace {

VIQR_KERNEL progress exchange_versions(const unsigned char *in, const unsigned char *end, unsigned char *out) {
    const __m256i capital_o_tilde = splat(tonefix::CAPITAL_O_TILDE);
    const __m256i small_a_dot_below = splat(tonefix::SMALL_A_DOT_BELOW);
    const __m256i both = _mm256_xor_si256(capital_o_tilde, small_a_dot_below);
    for (; end - in >= BLOCK; in += BLOCK, out += BLOCK) {
        const __m256i bytes = load_block(in);
        // x ^ (A ^ B) turns A into B and B into A.
        const __m256i either = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, capital_o_tilde),
                                               _mm256_cmpeq_epi8(bytes, small_a_dot_below));
        store_block(out, _mm256_xor_si256(bytes, _mm256_and_si256(either, both)));
    }
    return {in, out};
}

VIQR_KERNEL const unsigned char *skip_printable_ascii(const unsigned char *p, const unsigned char *end) {
    for (; end - p >= BLOCK; p += BLOCK) {
        // As signed bytes, 0x80 to 0xFF are below 0x20 too.
        const std::uint64_t outside = mask_of(_mm256_cmpgt_epi8(splat(0x20), load_block(p)));
        if (outside != 0) return p + std::countr_zero(outside);
    }
    return p;
}

}  // namespace

const implementation avx2_kernels = {
    "avx2",
    supported,
    BLOCK,
    encode::encode_vietnamese,
    avx2::compose_run,
    from_utf8::letters_from_utf8,
    to_utf8::letters_to_utf8,
    exchange_versions,
    skip_printable_ascii,
};

}  // namespace viqr::detail
