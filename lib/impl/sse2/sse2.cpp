// The SSE2 implementation: blocks of 16 bytes, which every x86-64 processor
// has.  It finds the bytes of a block that need a rule with a few
// comparisons and copies the others a block at a time.
#include <emmintrin.h>

#include <bit>
#include <cstdint>

#include "composer_run.h"
#include "exchange.h"
#include "impl/implementations.h"
#include "utf8.h"

namespace viqr::detail {
namespace {

bool supported() { return true; }

#define VIQR_KERNEL inline

constexpr std::ptrdiff_t BLOCK = 16;

inline __m128i load_block(const unsigned char *block) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(block));
}

inline std::uint64_t mask_of(__m128i hits) { return static_cast<unsigned>(_mm_movemask_epi8(hits)); }

inline __m128i equal_to(__m128i bytes, unsigned char value) {
    return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value)));
}

inline std::uint64_t bytes_equal(const unsigned char *block, unsigned char value) {
    return mask_of(equal_to(load_block(block), value));
}

inline std::uint64_t merging_bytes_of(const unsigned char *block) {
    const __m128i bytes = load_block(block);
    __m128i hits = _mm_setzero_si128();
    for (unsigned char value : merging_bytes) hits = _mm_or_si128(hits, equal_to(bytes, value));
    return mask_of(hits);
}

// The fast paths copy whole blocks and let the next write cover what lies
// past the bytes that count.
inline void copy_block(unsigned char *to, const unsigned char *from) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(to), load_block(from));
}

#include "impl/generic/compose_blocks.h"

#undef VIQR_KERNEL

progress exchange_versions(const unsigned char *in, const unsigned char *end, unsigned char *out) {
    const __m128i capital_o_tilde = _mm_set1_epi8(static_cast<char>(tonefix::CAPITAL_O_TILDE));
    const __m128i small_a_dot_below = _mm_set1_epi8(static_cast<char>(tonefix::SMALL_A_DOT_BELOW));
    const __m128i both = _mm_xor_si128(capital_o_tilde, small_a_dot_below);
    for (; end - in >= BLOCK; in += BLOCK, out += BLOCK) {
        const __m128i bytes = load_block(in);
        // x ^ (A ^ B) turns A into B and B into A.
        const __m128i either = _mm_or_si128(_mm_cmpeq_epi8(bytes, capital_o_tilde),
                                            _mm_cmpeq_epi8(bytes, small_a_dot_below));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_xor_si128(bytes, _mm_and_si128(either, both)));
    }
    return {in, out};
}

const unsigned char *skip_plain_ascii(const unsigned char *p, const unsigned char *end) {
    for (; end - p >= BLOCK; p += BLOCK) {
        // As signed bytes, 0x80 to 0xFF are below 0x20 too.
        const std::uint64_t outside = mask_of(_mm_cmplt_epi8(load_block(p), _mm_set1_epi8(0x20)));
        if (outside == 0) continue;
        if (const unsigned char *stop = first_not_plain(p, outside)) return stop;
    }
    return p;
}

}  // namespace

// The encoder and the two UTF-8 directions have no 16-byte kernels: their
// references run.
const implementation sse2_kernels = {
    "sse2", supported, BLOCK, nullptr, compose_run, nullptr, nullptr, exchange_versions,
    skip_plain_ascii, nullptr,
};

}  // namespace viqr::detail
