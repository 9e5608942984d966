#include "wide_blocks.h"

namespace viqr::detail {

bool wide_blocks_allowed = true;

namespace {

bool processor_has_wide_blocks() {
#if defined(VIQR_WIDE_BLOCKS)
    // The checks include the operating system's saving of the AVX-512 state.
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("popcnt");
#else
    return false;
#endif
}

}  // namespace

bool wide_blocks_available() {
    static const bool has = processor_has_wide_blocks();
    return has && wide_blocks_allowed;
}

}  // namespace viqr::detail
