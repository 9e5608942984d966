// Looking at text 16 bytes at a time.  The converters' fast paths copy the
// bytes that stand for themselves a block at a time and visit only the bytes
// that need a rule, which these masks find: bit i stands for byte i of the
// block.  SSE2, which every x86-64 processor has, does it in a few
// instructions; elsewhere (or with VIQR_NO_SIMD defined, which the tests use
// to check the plain version) a loop gives the same masks.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__) && !defined(VIQR_NO_SIMD)
#define VIQR_BLOCKS_SSE2 1
#include <emmintrin.h>
#endif

namespace viqr::detail {

inline constexpr std::ptrdiff_t BLOCK_SIZE = 16;

#if defined(VIQR_BLOCKS_SSE2)

inline __m128i load_block(const unsigned char *block) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(block));
}

inline unsigned mask_of(__m128i hits) { return static_cast<unsigned>(_mm_movemask_epi8(hits)); }

inline __m128i equal_to(__m128i bytes, unsigned char value) {
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value)));
}

#endif

// The bytes of the block equal to `value`.
inline unsigned bytes_equal(const unsigned char *block, unsigned char value) {
#if defined(VIQR_BLOCKS_SSE2)
    return mask_of(equal_to(load_block(block), value));
#else
    unsigned mask = 0;
    for (unsigned i = 0; i < BLOCK_SIZE; ++i) mask |= unsigned(block[i] == value) << i;
    return mask;
#endif
}

// The bytes of the block that are one of `set`.
template <std::size_t N>
inline unsigned bytes_in(const unsigned char *block, const std::array<unsigned char, N> &set) {
#if defined(VIQR_BLOCKS_SSE2)
    const __m128i bytes = load_block(block);
    __m128i hits = _mm_setzero_si128();
    for (unsigned char value : set) hits = _mm_or_si128(hits, equal_to(bytes, value));
    return mask_of(hits);
#else
    unsigned mask = 0;
    for (unsigned i = 0; i < BLOCK_SIZE; ++i)
        for (unsigned char value : set) mask |= unsigned(block[i] == value) << i;
    return mask;
#endif
}

// The bytes of the block that are not printable ASCII: the controls below
// 0x20 and every byte from 0x80 on.
inline unsigned bytes_outside_printable_ascii(const unsigned char *block) {
#if defined(VIQR_BLOCKS_SSE2)
    // As signed bytes, 0x80 to 0xFF are negative and so below 0x20 too.
    return mask_of(_mm_cmplt_epi8(load_block(block), _mm_set1_epi8(0x20)));
#else
    unsigned mask = 0;
    for (unsigned i = 0; i < BLOCK_SIZE; ++i) mask |= unsigned(block[i] < 0x20 || block[i] >= 0x80) << i;
    return mask;
#endif
}

// Copies 16 bytes; the fast paths copy whole blocks and let the next write
// cover what lies past the bytes that count.
inline void copy_block(unsigned char *to, const unsigned char *from) {
#if defined(VIQR_BLOCKS_SSE2)
    _mm_storeu_si128(reinterpret_cast<__m128i *>(to), load_block(from));
#else
    std::memcpy(to, from, BLOCK_SIZE);
#endif
}

}  // namespace viqr::detail
