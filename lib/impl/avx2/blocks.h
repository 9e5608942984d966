// What the kernels of the AVX2 implementation share: blocks of 32 bytes,
// for the processors with AVX2 (most x86-64 processors since 2013).  Byte
// look-ups in 16-entry tables (pshufb) classify a block at once; the code is
// compiled for those processors function by function (VIQR_KERNEL) and run
// only where the processor has them.
#pragma once

#include <immintrin.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "composer_run.h"
#include "implementation.h"
#include "unicode_letters.h"

#define VIQR_KERNEL __attribute__((target("avx2,bmi,bmi2,popcnt,lzcnt")))

namespace viqr::detail::avx2 {

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

}  // namespace viqr::detail::avx2
