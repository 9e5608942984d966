#include "implementation.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "impl/implementations.h"

namespace viqr::detail {

namespace {

constexpr const implementation *compiled[] = {
    &scalar_kernels,
#if defined(VIQR_HAVE_SSE2)
    &sse2_kernels,
#endif
#if defined(VIQR_HAVE_AVX2)
    &avx2_kernels,
#endif
#if defined(VIQR_HAVE_AVX512)
    &avx512_kernels,
#endif
};

const char *requested_name() {
    const char *name = std::getenv("VIQR_IMPLEMENTATION");
    return name != nullptr && name[0] != '\0' ? name : nullptr;
}

const implementation &best_supported() {
    for (std::size_t i = std::size(compiled); i-- > 1;)
        if (compiled[i]->supported()) return *compiled[i];
    return scalar_kernels;
}

const implementation &pick() {
    if (const char *name = requested_name()) {
        const implementation *wanted = implementation_named(name);
        if (wanted != nullptr && wanted->supported()) return *wanted;
    }
    return best_supported();
}

// Null until the first conversion asks.  Not a function-local static: its
// guard would bring the C++ run-time library into programs that have no
// other use for it.  Two threads that ask at once pick the same one.
std::atomic<const implementation *> active{nullptr};

}  // namespace

std::span<const implementation *const> implementations() { return compiled; }

const implementation *implementation_named(const char *name) {
    for (const implementation *i : compiled)
        if (std::strcmp(i->name, name) == 0) return i;
    return nullptr;
}

const implementation &active_implementation() {
    const implementation *chosen = active.load(std::memory_order_relaxed);
    if (chosen == nullptr) {
        chosen = &pick();
        active.store(chosen, std::memory_order_relaxed);
    }
    return *chosen;
}

const implementation &scalar_implementation() { return scalar_kernels; }

bool implementation_request_fails(char *message, std::size_t size) {
    const char *name = requested_name();
    if (name == nullptr) return false;
    const implementation *wanted = implementation_named(name);
    if (wanted != nullptr && wanted->supported()) return false;
    char known[64] = "";
    for (const implementation *i : compiled) {
        if (!i->supported()) continue;
        if (known[0] != '\0') std::strncat(known, ", ", sizeof known - std::strlen(known) - 1);
        std::strncat(known, i->name, sizeof known - std::strlen(known) - 1);
    }
    if (wanted == nullptr)
        std::snprintf(message, size, "VIQR_IMPLEMENTATION=%s names no implementation (this one runs: %s)", name, known);
    else
        std::snprintf(message, size, "VIQR_IMPLEMENTATION=%s: this processor cannot run it (it runs: %s)", name, known);
    return true;
}

}  // namespace viqr::detail
