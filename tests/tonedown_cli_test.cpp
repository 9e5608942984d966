// tonedown as a user runs it: flags, options, --help and --version, "-" and
// "--", messages, exit status, files, chunk boundaries and failing opens,
// reads and writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "converter_cli.h"
#include "process.h"

namespace {

const std::string USAGE =
    "Usage: tonedown [-com <c>] [-m|-v] [-u] [8-bit input file(s)]\n"
    "              -com: <c> specifies the composition character, default is \"\\\"\n"
    "              -m: specifies English mode output\n"
    "              -v: specifies Vietnamese mode output (default)\n"
    "              -u: reads UTF-8 instead of VISCII\n"
    "              --help: writes this text, --version: the version\n"
    "\n"
    "Purpose: Converts from 8-bit VISCII to 7-bit VIQR\n"
    "Version: VISCII & VIQR 1.1\n"
    "Author:  the viqr-tools maintainers <maintainers@viqr-tools.org>\n"
    "         viqr-tools, free software under the MIT licence\n";

const std::string VERSION = "tonedown (viqr-tools) " VIQR_PROJECT_VERSION ", free software under the MIT licence\n";

run_result tonedown(const std::vector<std::string> &args, const std::string &input = "",
                    const std::string &directory = "") {
    return run_program(program_path("tonedown"), args, input, "tonedown", directory);
}

std::string unknown(const std::string &flag) { return "tonedown: unknown option \"" + flag + "\"\n" + USAGE; }

std::string cannot_open(const std::string &name, int error, const std::string &why = "") {
    return "tonedown: can't open file \"" + name + "\": " + std::strerror(error) + why + "\n";
}

const cli_case cases[] = {
    {{}, "", "\\V", "", 0},
    {{}, "Vi\xAEt", "\\VVie^.t", "", 0},
    {{"-m"}, "Vi\xAEt", "\\MVi\\e^.t", "", 0},
    {{"-com", "#", "-m"}, "#\\", "#M##\\", "", 0},
    {{"-m", "-com", "#"}, "", "#M", "", 0},
    {{"-v", "-m"}, "", "\\M", "", 0},
    {{"-m", "-v"}, "", "\\V", "", 0},
    {{"-Mixed"}, "", "\\M", "", 0},
    {{"-verbose"}, "", "\\V", "", 0},
    {{"-com", "\\43"}, "#", "#V##", "", 0},
    {{"-bs", "x"}, "a'", "\\Va\\'", "", 0},
    {{"-bs", "\\0", "-m"}, "a'", "\\Ma'", "", 0},
    {{"-com"}, "a'", "\\Va\\'", "usage: -com [char|\\octal]\n", 0},
    {{"-m", "-bs"}, "", "\\M", "usage: -bs [char|\\octal]\n", 0},
    {{"-com", "-m"}, "", "-V", "", 0},
    {{"-l"}, "a", "", "tonedown: conversion to LITERAL not suported.\n" + USAGE, 1},
    {{"-Literal"}, "a", "", "tonedown: conversion to LITERAL not suported.\n" + USAGE, 1},
    {{"-m", "-l", "-v"}, "a", "", "tonedown: conversion to LITERAL not suported.\n" + USAGE, 1},
    {{"-x"}, "a", "", unknown("-x"), 1},
    {{"-comx"}, "a", "", unknown("-comx"), 1},
    {{std::string("-\xE1")}, "a", "", unknown("-\xE1"), 1},
    // --help and --version answer on standard output wherever they stand among
    // the flags; what comes after them is not looked at.
    {{"--help"}, "a", USAGE, "", 0},
    {{"-m", "--help", "-x"}, "a", USAGE, "", 0},
    {{"--version"}, "a", VERSION, "", 0},
    {{"-com", "#", "--version", "nosuch"}, "a", VERSION, "", 0},
    // A flag refused before them is still refused; near misses are unknown.
    {{"-x", "--help"}, "a", "", unknown("-x"), 1},
    {{"-l", "--version"}, "a", "", "tonedown: conversion to LITERAL not suported.\n" + USAGE, 1},
    {{"-h"}, "a", "", unknown("-h"), 1},
    {{"-help"}, "a", "", unknown("-help"), 1},
    {{"--helpx"}, "a", "", unknown("--helpx"), 1},
    {{"--Version"}, "a", "", unknown("--Version"), 1},
    {{"-version"}, "\xE1", "\\Va'", "", 0},  // only two bytes of a flag count: -v
    {{"-com", "--help"}, "\xE1", "-Va'", "", 0},  // the value of -com, not a request for help
    // "-" is standard input wherever a file name may stand.
    {{"-"}, "Vi\xAEt", "\\VVie^.t", "", 0},
    {{"-m", "-"}, "\xE1", "\\M\\a'", "", 0},
    {{"one", "-", "one"}, "\xE1", "\\Vaa'a", "", 0},
    {{"-", "-m"}, "b", "\\Vba'", "", 0},  // after the first file name "-m" is a file
    {{"one", "-m"}, "", "\\Vaa'", "", 0},  // still Vietnamese: English would write \a'
    // "--" ends the flags: every argument after it is a file name.
    {{"--"}, "\xE1", "\\Va'", "", 0},
    {{"--", "-m"}, "x", "\\Va'", "", 0},  // the file named -m, in Vietnamese mode
    {{"-m", "--", "-m", "-"}, "\xE1", "\\M\\a'\\a'", "", 0},
    {{"--", "--help"}, "x", "", cannot_open("--help", ENOENT), 1},
    {{"--", "--"}, "x", "", cannot_open("--", ENOENT), 1},  // only the first ends the flags
    {{"-com", "--", "-m"}, "\xE1", "-M-a'", "", 0},                // the value of -com
    // A flag put after a file name is a file; when there is no such file the
    // report says why.
    {{"one", "-u"}, "", "\\Va", cannot_open("-u", ENOENT, " (options must come before file names)"), 1},
    {{"-", "--version"}, "b", "\\Vb", cannot_open("--version", ENOENT, " (options must come before file names)"), 1},
    {{"one", "-x"}, "", "\\Va", cannot_open("-x", ENOENT), 1},  // no flag of tonedown
    // 0x00 bytes are converted like any other byte.
    {{}, std::string("\0\xE1\0", 3), std::string("\\V\0a'\0", 6), "", 0},
};

INSTANTIATE_TEST_SUITE_P(Tonedown, ConverterCli, testing::ValuesIn(rows_of("tonedown", cases)));

const cli_case open_failures[] = {
    {{"nosuch"}, "", "", cannot_open("nosuch", ENOENT), 1},  // no announcement of nothing
    {{"one", "locked", "one"}, "", "\\Va", cannot_open("locked", EACCES), 1},
    {{"-", "sub"}, "\xE1", "\\Va'", cannot_open("sub", EISDIR), 1},
    {{"."}, "", "", cannot_open(".", EISDIR), 1},
    {{"--", "-m", "one/x"}, "", "\\Va'", cannot_open("one/x", ENOTDIR), 1},
    {{"-", "nosuch", "one"}, "\xE1", "\\Va'", cannot_open("nosuch", ENOENT), 1},  // the rest is not read
    {{"one", "."}, "", "\\Va", cannot_open(".", EISDIR), 1},
};

INSTANTIATE_TEST_SUITE_P(Tonedown, ConverterOpenFailures, testing::ValuesIn(rows_of("tonedown", open_failures)));

TEST(TonedownFiles, ReadsTheNamedFilesInOrder) {
    scratch_dir dir;
    dir.write("one", "Vi\xAEt ");
    dir.write("two", "Nam");
    const run_result r = tonedown({"-m", "one", "two", "one"}, "not read", dir.path());
    EXPECT_EQ(r.out, "\\MVi\\e^.t NamVi\\e^.t ");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(TonedownFailures, AFailedWriteOfTheHelpOrVersionIsReported) {
    for (const std::string flag : {"--help", "--version"}) {
        const run_result r = run_shell("exec '" + program_path("tonedown") + "' " + flag + " > /dev/full");
        EXPECT_EQ(r.err, program_path("tonedown") + ": can't write \"standard output\": " + std::strerror(ENOSPC) + "\n");
        EXPECT_EQ(r.status, 1);
    }
}

// The previous byte carries across reads and files, so a pair that straddles a
// boundary is escaped as if the input were one piece.
TEST(TonedownFiles, PairsAcrossChunkAndFileBoundariesAreEscaped) {
    const std::string filler(1022, 'x');
    struct { std::string pair, expected; } pairs[] = {
        {"a'", "a\\'"}, {"Dd", "D\\d"}, {"i^", "i\\^"}, {"d\xF0", "d\\dd"}, {"\xE1'", "a''"},
    };
    scratch_dir dir;
    for (const auto &p : pairs) {
        // Byte 1023 ends the first read; byte 1024 starts the second.
        const run_result across_chunk = tonedown({}, filler + p.pair);
        EXPECT_EQ(across_chunk.out, "\\V" + filler + p.expected);

        dir.write("first", p.pair.substr(0, 1));
        dir.write("second", p.pair.substr(1));
        const run_result across_files = tonedown({"first", "second"}, "", dir.path());
        EXPECT_EQ(across_files.out, "\\V" + p.expected);
    }
}

TEST(TonedownFailures, WithoutAnInvocationNameMessagesAreHeadedTonedown) {
    scratch_dir dir;
    for (const std::vector<std::string> &argv : {std::vector<std::string>{}, std::vector<std::string>{""}}) {
        SCOPED_TRACE(argv.empty() ? "no argument vector" : "empty name");
        const run_result r = run_process(program_path("tonedown"), argv, {.input_path = dir.path()});
        EXPECT_EQ(r.err, std::string("tonedown: can't read \"standard input\": ") + std::strerror(EISDIR) + "\n");
        EXPECT_EQ(r.status, 1);
    }
}

TEST(TonedownFailures, AFullOutputIsReported) {
    const run_result r = run_shell("exec " + shell_quote(program_path("tonedown")) + " > /dev/full", "Vi\xAEt Nam");
    EXPECT_EQ(r.err, program_path("tonedown") + ": can't write \"standard output\": " + std::strerror(ENOSPC) + "\n");
    EXPECT_EQ(r.status, 1);
}

TEST(TonedownFailures, AFailedWriteOfTheTextIsReported) {
    // A file size limit lets the announcement through and refuses the text
    // once its first bytes fill the file.
    scratch_dir dir;
    const std::string big(100000, '\xE1');
    const run_result r =
        run_under_file_size_limit("exec " + shell_quote(program_path("tonedown")), dir.path() + "/out", big);
    EXPECT_EQ(r.err, program_path("tonedown") + ": can't write \"standard output\": " + std::strerror(EFBIG) + "\n");
    EXPECT_EQ(r.status, 1);
    std::string whole = "\\V";
    for (std::size_t i = 0; i < big.size(); ++i) whole += "a'";
    EXPECT_EQ(dir.read("out"), whole.substr(0, file_size_limit()));
}

}  // namespace
