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
            // No branch: which bytes join is text-dependent and would mislead
            // the branch predictor; a byte that does not join has no bit set.
            const int escaped = (vietnamese_joins[b] & vietnamese_accepts[in[j - 1]]) != 0;
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

VIQR_KERNEL inline std::uint32_t mask_from(__m256i hits) { return static_cast<std::uint32_t>(_mm256_movemask_epi8(hits)); }

VIQR_KERNEL inline __m256i at_least(__m256i v, unsigned char b) {
    return _mm256_cmpeq_epi8(_mm256_max_epu8(v, splat(b)), v);
}

// The VISCII letter of a character of two bytes, or 0.
inline unsigned char letter_of_two(const unsigned char *p) {
    const char32_t cp = (char32_t{p[0] & 0x1Fu} << 6) | (p[1] & 0x3Fu);
    return cp < LOW_LETTERS_END ? viscii_of_low[cp] : 0;
}

// The VISCII letter of a character of three bytes beginning E1, or 0.
inline unsigned char letter_of_three(const unsigned char *p) {
    const char32_t cp = 0x1000u | (char32_t{p[1] & 0x3Fu} << 6) | (p[2] & 0x3Fu);
    return cp >= HIGH_LETTERS_FIRST && cp < HIGH_LETTERS_END ? viscii_of_high[cp - HIGH_LETTERS_FIRST] : 0;
}

// Takes the characters that end within the 32 bytes at `in` (two more bytes
// must be readable) and writes their VISCII bytes at `out`, which must have
// room for 64.  Takes nothing from a block with anything but ASCII that is
// no letter in VISCII and letters of two bytes or of three beginning E1, all
// well-formed.  The block is copied whole; each letter is then written at
// its place and the rest of the block copied again after it.
VIQR_KERNEL progress decode_block(const unsigned char *in, unsigned char *out) {
    const __m256i first = load_block(in);
    const std::uint32_t ascii = ~mask_from(first);
    const std::uint32_t lead_or_more = mask_from(at_least(first, 0xC0));
    const std::uint32_t continuation = ~ascii & ~lead_or_more;
    const std::uint32_t two = lead_or_more & ~mask_from(at_least(first, 0xE0)) & ~mask_from(below(first, 0xC2));
    const std::uint32_t three = mask_from(_mm256_cmpeq_epi8(first, splat(0xE1)));
    const std::uint32_t straddling = (two & (1u << 31)) | (three & (3u << 30));
    const int taken = straddling == 0 ? 32 : std::countr_zero(straddling);
    const std::uint32_t reach = taken == 32 ? ~0u : (1u << taken) - 1;

    // Every byte of the block, the character cut at its end included, must be
    // where well-formed UTF-8 puts it: a character taken may end in the byte
    // where the cut one begins, which must then be a continuation byte.
    const std::uint32_t expected = (two << 1) | (three << 1) | (three << 2);
    if (((continuation ^ expected) | ~(ascii | two | three | continuation)) != 0) return {in, out};
    if ((mask_from(members_of(first, c0_letter_set)) & reach) != 0) return {in, out};

    store_block(out, first);
    std::ptrdiff_t removed = 0;
    for (std::uint32_t leads = (two | three) & reach; leads != 0; leads &= leads - 1) {
        const int j = std::countr_zero(leads);
        const bool of_three = (three >> j & 1) != 0;
        const unsigned char letter = of_three ? letter_of_three(in + j) : letter_of_two(in + j);
        if (letter == 0) return {in, out};
        unsigned char *const at = out + j - removed;
        *at = letter;
        const int length = of_three ? 3 : 2;
        copy_block(at + 1, in + j + length);
        removed += length - 1;
    }
    return {in + taken, out + taken - removed};
}

// Blocks while 96 or more bytes are left and the output has room for two.
VIQR_KERNEL progress letters_from_utf8(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                       const unsigned char *out_end) {
    while (end - in >= 3 * BLOCK && out_end - out >= 2 * BLOCK) {
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
