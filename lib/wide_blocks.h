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

namespace viqr::detail {

// True when the wide blocks may be used: the processor has them (asked once)
// and wide_blocks_allowed is set.
bool wide_blocks_available();

// Set by default.  The tests clear it to check the other code on the same
// processor, and to compare the two.
extern bool wide_blocks_allowed;

}  // namespace viqr::detail
