// The bash completion: what it offers for each word of a command line, in a
// folder holding the files "-m" and "one".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process.h"

namespace {

struct completion_case {
    std::vector<std::string> words;  // the last is the word being completed
    std::string offered;             // the offers, one per line, sorted
};

void PrintTo(const completion_case &c, std::ostream *os) { *os << testing::PrintToString(c.words); }

const completion_case completion_cases[] = {
    {{"tonedown", "--h"}, "--help\n"},
    {{"tonedown", "-"}, "-\n--\n--help\n--version\n-bs\n-com\n-m\n-v\n"},
    {{"toneup", "-"}, "-\n--\n--help\n--version\n-bs\n-com\n-l\n-m\n-v\n"},
    {{"/usr/bin/toneup", "-m", "-com", "x", "--v"}, "--version\n"},
    {{"tonefix", "-"}, "-\n--help\n--version\n"},
    // File names where a file name may stand: after the first file name, after
    // "--" or "-", and everywhere after tonefix's first argument.
    {{"tonedown", "o"}, "one\n"},
    {{"tonedown", "one", "-"}, "-\n-m\n"},
    {{"toneup", "-v", "--", "-"}, "-\n-m\n"},
    {{"toneup", "-", "-"}, "-\n-m\n"},
    {{"tonefix", "one", "-"}, "-\n-m\n"},
    {{"tonefix", "one", "o"}, "one\n"},
    // toneconv takes its flags anywhere before "--", and encodings after -f
    // and -t (from the toneconv found on PATH, or none).
    {{"toneconv", "one", "-"}, "-\n--\n--detect\n--help\n--version\n-c\n-f\n-l\n-m\n-o\n-t\n"},
    {{"toneconv", "--", "-"}, "-\n-m\n"},
    {{"toneconv", "-o", "-"}, "-\n-m\n"},
    {{VIQR_PROGRAM_DIR "/toneconv", "-f", "vi"}, "viqr\nviqr-typed\nviscii\nviscii-1.0\n"},
    {{VIQR_PROGRAM_DIR "/toneconv", "-t", "tcvn"}, "tcvn3\n"},
    {{VIQR_PROGRAM_DIR "/toneconv", "-f", "tcvn"}, "tcvn3\ntcvn3-as-cp1252\n"},
    {{VIQR_PROGRAM_DIR "/toneconv", "-f", "a"}, "auto\n"},
    {{VIQR_PROGRAM_DIR "/toneconv", "-t", "viqr"}, "viqr\n"},
    // The value of -com or -bs is a character.
    {{"tonedown", "-com", ""}, ""},
    {{"toneup", "-bs", "o"}, ""},
};

class BashCompletion : public testing::TestWithParam<completion_case> {};

TEST_P(BashCompletion, OffersTheseWords) {
    if (run_shell("command -v bash").status != 0) GTEST_SKIP() << "bash is not installed";
    const completion_case &c = GetParam();
    scratch_dir dir;
    dir.write("-m", "");
    dir.write("one", "");
    std::string words;
    for (const std::string &w : c.words) words += " '" + w + "'";
    const run_result r = run_shell("cd '" + dir.path() + "' && exec bash -c '. \"$0\"; COMP_WORDS=(\"$@\"); "
                                   "COMP_CWORD=$(($# - 1)); _viqr_tools; printf \"%s\\n\" \"${COMPREPLY[@]}\" | "
                                   "LC_ALL=C sort | sed \"/^$/d\"' '" VIQR_COMPLETION "'" + words);
    EXPECT_EQ(r.out, c.offered);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Words, BashCompletion, testing::ValuesIn(completion_cases));

}  // namespace
