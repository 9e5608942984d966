// Which implementation of the fast paths runs: picked once from what the
// processor has, forced by VIQR_IMPLEMENTATION, named by --implementation,
// and refused with a message when the processor cannot run the one named.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "implementations.h"
#include "process.h"

namespace {

using viqr::detail::active_implementation;
using viqr::detail::implementation;
using viqr::detail::implementations;

// The suite runs once per implementation with VIQR_IMPLEMENTATION set (CI);
// an implementation asked for that does not run would pass every test with
// another one in its place.
TEST(Implementation, TheOneAskedForRunsAndOtherwiseTheBestThereIs) {
    const char *asked = std::getenv("VIQR_IMPLEMENTATION");
    if (asked != nullptr && asked[0] != '\0') {
        EXPECT_STREQ(active_implementation().name, asked);
        return;
    }
    const implementation *best = nullptr;
    for (const implementation *i : implementations())
        if (i->supported()) best = i;
    ASSERT_NE(best, nullptr);
    EXPECT_EQ(&active_implementation(), best);
}

TEST(Implementation, TheScalarOneComesFirstAndRunsAnywhereWithoutKernels) {
    const implementation &scalar = *implementations()[0];
    EXPECT_STREQ(scalar.name, "scalar");
    EXPECT_TRUE(scalar.supported());
    EXPECT_EQ(scalar.encode_vietnamese, nullptr);
    EXPECT_EQ(scalar.compose_run, nullptr);
    EXPECT_EQ(scalar.letters_from_utf8, nullptr);
    EXPECT_EQ(scalar.letters_to_utf8, nullptr);
    EXPECT_EQ(scalar.exchange_versions, nullptr);
    EXPECT_EQ(scalar.skip_plain_ascii, nullptr);
    EXPECT_EQ(viqr::detail::implementation_named("scalar"), &scalar);
    EXPECT_EQ(viqr::detail::implementation_named("sse3"), nullptr);
}

// Each program, told to use an implementation, names it; one the processor
// lacks, or a name of none, stops the program before it reads anything.
class ProgramsOnEveryImplementation : public testing::TestWithParam<const implementation *> {};
INSTANTIATE_TEST_SUITE_P(Implementations, ProgramsOnEveryImplementation,
                         testing::ValuesIn(viqr_test::every_implementation()), viqr_test::implementation_name);

TEST_P(ProgramsOnEveryImplementation, NameItOrRefuseIt) {
    const implementation &asked = *GetParam();
    for (const char *program : {"tonedown", "toneup", "tonefix"}) {
        const std::string command = std::string("VIQR_IMPLEMENTATION=") + asked.name + " " +
                                    shell_quote(program_path(program));
        const run_result named = run_shell(command + " --implementation");
        const run_result converted = run_shell(command, "a");
        if (asked.supported()) {
            EXPECT_EQ(named.out, std::string(asked.name) + "\n") << program;
            EXPECT_EQ(named.status, 0) << program;
            EXPECT_EQ(converted.status, 0) << program << ": " << converted.err;
        } else {
            const std::string refusal = program_path(program) + ": VIQR_IMPLEMENTATION=" + asked.name +
                                        ": this processor cannot run it";
            for (const run_result &r : {named, converted}) {
                EXPECT_EQ(r.err.substr(0, refusal.size()), refusal) << program;
                EXPECT_EQ(r.out, "") << program;
                EXPECT_EQ(r.status, 1) << program;
            }
        }
    }
}

TEST(Implementation, ProgramsRefuseANameOfNone) {
    for (const char *program : {"tonedown", "toneup", "tonefix"}) {
        const run_result r = run_shell("VIQR_IMPLEMENTATION=sse3 " + shell_quote(program_path(program)), "a");
        const std::string refusal = program_path(program) + ": VIQR_IMPLEMENTATION=sse3 names no implementation";
        EXPECT_EQ(r.err.substr(0, refusal.size()), refusal) << program;
        EXPECT_EQ(r.out, "") << program;
        EXPECT_EQ(r.status, 1) << program;
    }
}

}  // namespace
