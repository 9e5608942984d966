// Every fixed buffer size of the library and the programs, with the reason
// for it.  None of them changes what is written, only how the work is cut:
// every conversion carries its state across the cut.
#pragma once

#include <cstddef>

namespace viqr::detail {

// Bytes of a chunk the typed reader rewrites at a time into strict VIQR before
// the engine reads it.  The rewritten piece lives on the stack of the feeding
// call (typed_output_room of it, a little over twice the piece), so the piece
// stays small; 1 KiB already makes the per-piece cost negligible.
inline constexpr std::size_t TYPED_PIECE_SIZE = 1024;

// VISCII letters gathered from UTF-8 before the composer reads them as one
// run.  A page: the run and what is composed from it stay in the first-level
// cache, and a run is long enough for the block kernels to pay off.
inline constexpr std::size_t UTF8_RUN_SIZE = 4096;

// The stage the composer writes a run into before it hands the bytes on (the
// last byte is kept back, as the next byte may still merge into it).  A page,
// for the same cache reason as UTF8_RUN_SIZE.
inline constexpr std::size_t COMPOSER_STAGE_SIZE = 4096;

// Bytes of VIQR read at a time on the way to UTF-8; their VISCII form is a
// stack buffer of VIQR_TYPED_OUTPUT_SIZE of it (about 8 KiB), which bounds it.
inline constexpr std::size_t VIQR_TO_UTF8_PIECE_SIZE = 4096;

}  // namespace viqr::detail

namespace viqr::cli {

// Bytes every program reads at a time: as large as cat's, so that a filter in
// a pipeline makes few system calls; pipes and terminals still hand over what
// they have at once.
inline constexpr std::size_t CHUNK_SIZE = 128 * 1024;

}  // namespace viqr::cli
