#include "exchange.h"

#include "implementation.h"

namespace viqr::detail {

void exchange_versions(const implementation &kernels, unsigned char *bytes, std::size_t n) {
    unsigned char *const end = bytes + n;
    if (kernels.exchange_versions != nullptr) bytes = kernels.exchange_versions(bytes, end, bytes).out;
    for (; bytes != end; ++bytes) *bytes = tonefix::exchanged(*bytes);
}

}  // namespace viqr::detail
