// The implementations of this build (see implementation.h), each in a folder
// of its own.  Which ones a build has is the build's choice (VIQR_SIMD and
// the processor family): VIQR_HAVE_<NAME> is defined for each.
#pragma once

#include "implementation.h"

namespace viqr::detail {

extern const implementation scalar_kernels;
extern const implementation sse2_kernels;
extern const implementation avx2_kernels;
extern const implementation avx512_kernels;

}  // namespace viqr::detail
