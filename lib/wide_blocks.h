// Blocks of 64 bytes, for processors with AVX-512 and its byte permutes and
// byte compression (AVX512BW, VBMI, VBMI2).  With them a converter can look up
// and place every byte of a block at once instead of visiting the bytes that
// need a rule one by one.  The code for them is compiled for that processor
// function by function (VIQR_WIDE_TARGET) and taken only when the processor
// running it has it, so the library still runs on any x86-64 and builds
// anywhere: without GCC or Clang on x86-64, or with VIQR_NO_SIMD defined,
// there are no wide blocks and the other code does all the work.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(VIQR_NO_SIMD)
#define VIQR_WIDE_BLOCKS 1
#define VIQR_WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,popcnt")))
#include <immintrin.h>
#endif

#include <array>
#include <bit>
#include <cstddef>

namespace viqr::detail {

inline constexpr std::ptrdiff_t WIDE_SIZE = 64;

// True when the wide blocks may be used: the processor has them (asked once)
// and wide_blocks_allowed is set.
bool wide_blocks_available();

// Set by default.  The tests clear it to check the other code on the same
// processor, and to compare the two.
extern bool wide_blocks_allowed;

#if defined(VIQR_WIDE_BLOCKS)

namespace wide {

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

VIQR_WIDE_TARGET inline __m512i vector(const unsigned char *p) { return _mm512_load_si512(p); }

// The entry of a 128-entry table for each byte of `index` (its low seven
// bits) where `where` is set, 0 elsewhere.
VIQR_WIDE_TARGET inline __m512i look_up(__mmask64 where, const unsigned char (&entries)[128], __m512i index) {
    return _mm512_maskz_permutex2var_epi8(where, vector(entries), index, vector(entries + 64));
}

// The entry of a 256-entry table for each byte of `index`.
VIQR_WIDE_TARGET inline __m512i look_up(const unsigned char (&entries)[256], __m512i index) {
    const __m512i low = _mm512_permutex2var_epi8(vector(entries), index, vector(entries + 64));
    const __m512i high = _mm512_permutex2var_epi8(vector(entries + 128), index, vector(entries + 192));
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

// Writes the non-zero bytes of `slots` in order; the store runs up to 64
// bytes on, which the caller's later output must cover.
VIQR_WIDE_TARGET inline unsigned char *put_filled(unsigned char *out, __m512i slots) {
    const __mmask64 filled = _mm512_test_epi8_mask(slots, slots);
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(filled, slots));
    return out + std::popcount(static_cast<unsigned long long>(filled));
}

// Each of 64 bytes becomes up to four: a, b, c and d hold them, 0 for none.
// Writes them in order, byte after byte, and returns the end.
VIQR_WIDE_TARGET inline unsigned char *put_in_order(unsigned char *out, __m512i a, __m512i b, __m512i c, __m512i d) {
    for (int half = 0; half < 2; ++half) {
        const __m512i pairs = vector(interleave.pairs[half]);
        const __m512i front = _mm512_permutex2var_epi8(a, pairs, b);
        const __m512i back = _mm512_permutex2var_epi8(c, pairs, d);
        out = put_filled(out, _mm512_permutex2var_epi8(front, vector(interleave.quads[0]), back));
        out = put_filled(out, _mm512_permutex2var_epi8(front, vector(interleave.quads[1]), back));
    }
    return out;
}

}  // namespace wide

#endif

}  // namespace viqr::detail
