#include "wide_blocks.h"

#include <atomic>

namespace viqr::detail {

bool wide_blocks_allowed = true;

namespace {

bool processor_has_wide_blocks() {
#if defined(VIQR_WIDE_BLOCKS)
    // The checks include the operating system's saving of the AVX-512 state.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("popcnt");
#else
    return false;
#endif
}

// -1 until the processor has been asked.  Not a function-local static: its
// guard would bring the C++ run-time library into programs that have no
// other use for it.
std::atomic<signed char> processor_answer{-1};

}  // namespace

bool wide_blocks_available() {
    signed char answer = processor_answer.load(std::memory_order_relaxed);
    if (answer < 0) {
        answer = processor_has_wide_blocks() ? 1 : 0;
        processor_answer.store(answer, std::memory_order_relaxed);
    }
    return answer == 1 && wide_blocks_allowed;
}

}  // namespace viqr::detail
