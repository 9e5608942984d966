// The AVX2 implementation: its kernels, one file per stage (encode.cpp,
// compose.cpp, utf8.cpp, sharing blocks.h), and here the two small ones
// and the list that hands them to the conversions.
#include "avx2.h"
#include "blocks.h"
#include "exchange.h"
#include "impl/implementations.h"

namespace viqr::detail::avx2 {
namespace {

bool supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

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

VIQR_KERNEL const unsigned char *skip_plain_ascii(const unsigned char *p, const unsigned char *end) {
    for (; end - p >= BLOCK; p += BLOCK) {
        const __m256i bytes = load_block(p);
        const std::uint64_t outside = mask_of(_mm256_or_si256(high_bytes(bytes), members_of(bytes, c0_letter_set)));
        if (outside != 0) return p + std::countr_zero(outside);
    }
    return p;
}

}  // namespace

}  // namespace viqr::detail::avx2

namespace viqr::detail {

const implementation avx2_kernels = {
    "avx2",
    avx2::supported,
    avx2::BLOCK,
    avx2::encode::encode_vietnamese,
    avx2::compose_run,
    avx2::from_utf8::letters_from_utf8,
    avx2::to_utf8::letters_to_utf8,
    avx2::exchange_versions,
    avx2::skip_plain_ascii,
    avx2::from_utf8_to_viqr::utf8_to_viqr,
};

}  // namespace viqr::detail
