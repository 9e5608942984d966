// The scalar implementation: no kernels, the reference of each stage does all
// the work.  It is what every processor runs, and what the others are
// checked against.
#include "impl/implementations.h"

namespace viqr::detail {

namespace {

bool always() { return true; }

}  // namespace

// A stage without a kernel (null) is done by its reference alone.
const implementation scalar_kernels = {"scalar", always, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace viqr::detail
