// The kernels of the AVX2 implementation (see implementation::* for what
// each does); the AVX-512 implementation uses some of them too.
#pragma once

#include "implementation.h"

namespace viqr::detail::avx2 {

namespace encode {
progress encode_vietnamese(const unsigned char *in, const unsigned char *end, unsigned char *out,
                           unsigned char composition_char);
}  // namespace encode

// The composer's run 32 bytes at a time.
progress compose_run(const unsigned char *in, const unsigned char *end, unsigned char *out,
                     const unsigned char *out_limit, const run_stop &stop);

namespace to_utf8 {
progress letters_to_utf8(const unsigned char *in, const unsigned char *end, unsigned char *out);
}  // namespace to_utf8

namespace from_utf8 {
progress letters_from_utf8(const unsigned char *in, const unsigned char *end, unsigned char *out,
                           const unsigned char *out_end);
}  // namespace from_utf8

namespace from_utf8_to_viqr {
progress utf8_to_viqr(const unsigned char *in, const unsigned char *end, unsigned char *out,
                      const unsigned char *out_end, unsigned char composition_char, unsigned char previous);
}  // namespace from_utf8_to_viqr

}  // namespace viqr::detail::avx2
