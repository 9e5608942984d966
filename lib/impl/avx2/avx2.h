// The kernels of the AVX2 implementation that the AVX-512 one uses too.
#pragma once

#include "implementation.h"

namespace viqr::detail::avx2 {

// The composer's run 32 bytes at a time (see implementation::compose_run).
progress compose_run(const unsigned char *in, const unsigned char *end, unsigned char *out,
                     const unsigned char *out_limit, const run_stop &stop);

}  // namespace viqr::detail::avx2
