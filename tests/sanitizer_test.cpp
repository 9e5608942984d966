// The build is instrumented as it was configured: with -DSANITIZE=... the
// sanitizers named there must catch a fault in this test's own code, and
// AddressSanitizer's run-time must run inside each program; without it
// nothing is instrumented.  A sanitizer
// build that a cached compiler or a lost flag left plain fails here instead
// of passing every other test unchecked.
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"

#ifndef __has_feature
#define __has_feature(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool ADDRESS_SANITIZER_COMPILED_IN = true;
#else
constexpr bool ADDRESS_SANITIZER_COMPILED_IN = false;
#endif

namespace {

std::vector<std::string> configured_sanitizers() {
    std::vector<std::string> names;
    std::istringstream list(VIQR_SANITIZE);
    for (std::string name; std::getline(list, name, ',');)
        if (!name.empty()) names.push_back(name);
    return names;
}

bool configured(const std::string &sanitizer) {
    for (const std::string &name : configured_sanitizers())
        if (name == sanitizer) return true;
    return false;
}

// Reads the int just past the end of a heap block of `size`.
int read_past_the_end(std::size_t size) {
    volatile int *block = new int[size]{};
    volatile std::size_t past_the_end = size;  // not a constant the compiler could warn about
    const int beyond = block[past_the_end];
    delete[] block;
    return beyond;
}

// Overflows a signed int.
int overflow(int value) {
    volatile int big = value;
    return big + 1;
}

const char *const programs[] = {"tonedown", "toneup", "tonefix"};

// The sanitizer's run-time in `program`: asked for help through its options
// variable, it lists its flags on standard error before the program runs.
std::string help_of(const std::string &options_variable, const std::string &program) {
    return run_shell(options_variable + "=help=1 " + shell_quote(program_path(program)) + " < /dev/null").err;
}

TEST(SanitizerBuild, AddressSanitizerCatchesAReadPastAHeapBlock) {
    if (!configured("address")) {
        EXPECT_FALSE(ADDRESS_SANITIZER_COMPILED_IN) << "instrumented although the build did not ask for it";
        return;
    }
    EXPECT_TRUE(ADDRESS_SANITIZER_COMPILED_IN);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(read_past_the_end(4), "AddressSanitizer: heap-buffer-overflow");
    for (const char *program : programs)
        EXPECT_NE(help_of("ASAN_OPTIONS", program).find("Available flags for AddressSanitizer"), std::string::npos)
            << program << " runs without AddressSanitizer";
}

// The programs share the compile options of this test; that their code holds
// the checks is not looked at from outside (a build with AddressSanitizer too
// hosts these checks in its run-time, which the test above finds).
TEST(SanitizerBuild, UndefinedBehaviorSanitizerCatchesASignedOverflow) {
    if (!configured("undefined")) return;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(overflow(std::numeric_limits<int>::max()), "runtime error: signed integer overflow");
}

TEST(SanitizerBuild, EverySanitizerConfiguredHasACheckHere) {
    for (const std::string &name : configured_sanitizers())
        if (name != "address" && name != "undefined")
            ADD_FAILURE() << "-DSANITIZE names " << name << ", which no test here shows to be active";
}

}  // namespace
