#include "exchange.h"

#include "exchange_versions.h"
#include "implementation.h"

namespace viqr::detail {

void exchange_versions(const implementation &kernels, unsigned char *bytes, std::size_t n) {
    unsigned char *const end = bytes + n;
    if (kernels.exchange_versions != nullptr) bytes = kernels.exchange_versions(bytes, end, bytes).out;
    for (; bytes != end; ++bytes) *bytes = tonefix::exchanged(*bytes);
}

void exchange_versions_in_place(unsigned char *bytes, std::size_t n) { exchange_versions(active_implementation(), bytes, n); }

}  // namespace viqr::detail
