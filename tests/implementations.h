// The implementations of the conversions' fast paths as GoogleTest
// parameters: a test over them runs once for every implementation this build
// has, and one the processor cannot run is reported as skipped, not passed.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "implementation.h"

namespace viqr::detail {

// Test names and messages name an implementation, not its address.
inline void PrintTo(const implementation *kernels, std::ostream *os) { *os << kernels->name; }

}  // namespace viqr::detail

namespace viqr_test {

using viqr::detail::implementation;

inline std::vector<const implementation *> every_implementation() {
    const auto all = viqr::detail::implementations();
    return {all.begin(), all.end()};
}

inline std::string implementation_name(const testing::TestParamInfo<const implementation *> &info) {
    return info.param->name;
}

// A fixture whose parameter is an implementation, skipped where the
// processor lacks it.
class OnEveryImplementation : public testing::TestWithParam<const implementation *> {
protected:
    void SetUp() override {
        if (!GetParam()->supported()) GTEST_SKIP() << GetParam()->name << " not run: this processor lacks it";
    }
    const implementation &kernels() const { return *GetParam(); }
    static const implementation &reference() { return viqr::detail::scalar_implementation(); }
};

}  // namespace viqr_test

// Runs the tests of `fixture` (derived from OnEveryImplementation) once per
// implementation, named by it.
#define VIQR_ON_EVERY_IMPLEMENTATION(fixture)                                                                   \
    INSTANTIATE_TEST_SUITE_P(Implementations, fixture, testing::ValuesIn(viqr_test::every_implementation()), \
                             viqr_test::implementation_name)
