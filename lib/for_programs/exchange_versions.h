// What tonefix needs of the library: the exchange of the two letters that
// VISCII 1.0 and 1.1 place at each other's codes, run by the implementation
// in force (see --implementation and VIQR_IMPLEMENTATION).
#pragma once

#include <cstddef>

namespace viqr::detail {

// Exchanges the two letters in the `n` bytes at `bytes`, in place.
void exchange_versions_in_place(unsigned char *bytes, std::size_t n);

}  // namespace viqr::detail
