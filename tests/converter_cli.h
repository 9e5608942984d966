// The table-driven runs of tonedown and toneup: each row of cli_case names its
// program, and one parameterised suite runs every row of both in a folder
// laid out the same way for each, differing only in what the files hold.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "process.h"

// What the fixture's files hold for each program: "-m" (a file whose name is
// a flag) and "locked" (a file the program may not read), each something the
// program converts visibly.
struct converter_fixture {
    const char *program;
    const char *dash_m;
    const char *locked;
};

inline constexpr converter_fixture converter_fixtures[] = {
    {"tonedown", "\xE1", "\xE1"},
    {"toneup", "u+", "'"},
};

inline const converter_fixture &fixture_of(const std::string &program) {
    for (const converter_fixture &f : converter_fixtures)
        if (program == f.program) return f;
    ADD_FAILURE() << "no fixture for " << program;
    return converter_fixtures[0];
}

// The folder every row runs in: "-m", "one" holding "a", and a folder "sub".
inline void make_converter_fixture(const scratch_dir &dir, const std::string &program) {
    dir.write("-m", fixture_of(program).dash_m);
    dir.write("one", "a");
    std::filesystem::create_directory(dir.path() + "/sub");
}

class ConverterCli : public testing::TestWithParam<cli_case> {};

TEST_P(ConverterCli, WritesExactlyTheseBytes) {
    const cli_case &c = GetParam();
    scratch_dir dir;
    make_converter_fixture(dir, c.program);
    expect_outcome(run_program(program_path(c.program), c.args, c.input, c.program, dir.path()), c);
}

// Every reason a file cannot be opened, the one that root would not meet
// included: the program runs without the power to override permissions.
class ConverterOpenFailures : public testing::TestWithParam<cli_case> {};

TEST_P(ConverterOpenFailures, AreReportedWithTheirReason) {
    if (const std::string why = permission_denial_unavailable(); !why.empty()) GTEST_SKIP() << why;
    const cli_case &c = GetParam();
    scratch_dir dir;
    make_converter_fixture(dir, c.program);
    dir.write_unreadable("locked", fixture_of(c.program).locked);
    expect_outcome(run_bound_by_permissions(program_path(c.program), c.args, c.input, c.program, dir.path()), c);
}
