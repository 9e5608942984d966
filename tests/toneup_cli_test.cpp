// toneup as a user runs it: flags, options, --help and --version, "-" and
// "--", messages, exit status, files, state carried from one input to the
// next, and failing opens, reads and writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <string>
#include <vector>

#include "buffer_sizes.h"
#include "converter_cli.h"
#include "process.h"

namespace {

const std::string USAGE =
    "Usage: toneup [-com <c>] [-v|-m|-l] [-u] [-t] [7-bit input file(s)]\n"
    "              -com: <c> specifies the composition character, default is \"\\\"\n"
    "              -v: sets the initial state to Vietnamese\n"
    "              -m: sets the initial state to English\n"
    "              -l: sets the initial state to Literal\n"
    "              -u: writes UTF-8 instead of VISCII\n"
    "              -t: reads VIQR as people type it, without escapes\n"
    "              --help: writes this text, --version: the version\n"
    "\n"
    "Purpose: Converts from 7-bit VIQR to 8-bit VISCII\n"
    "Version: VISCII & VIQR 1.1\n"
    "Author:  the viqr-tools maintainers <maintainers@viqr-tools.org>\n"
    "         viqr-tools, free software under the MIT licence\n";

run_result toneup(const std::vector<std::string> &args, const std::string &input = "",
                  const std::string &directory = "") {
    return run_program(program_path("toneup"), args, input, "toneup", directory);
}

const std::string VERSION = "toneup (viqr-tools) " VIQR_PROJECT_VERSION ", free software under the MIT licence\n";

std::string unknown(const std::string &flag) { return "toneup: unknown option \"" + flag + "\"\n" + USAGE; }

std::string cannot_open(const std::string &name, int error, const std::string &why = "") {
    return "toneup: can't open file \"" + name + "\": " + std::strerror(error) + why + "\n";
}

const cli_case cases[] = {
    {{}, "", "", "", 0},
    {{}, "a'", "\xE1", "", 0},
    {{}, "a", "a", "", 0},  // held to the end, written by the flush
    {{}, "Vie^.t Nam\n", "Vi\xAEt Nam\n", "", 0},
    {{}, "\\Vdda^'t \\Mdda^'t", "\xF0\xA4t dda^'t", "", 0},  // tonedown's announcement is consumed
    {{}, std::string("a\0'\0", 4), std::string("a\0'\0", 4), "", 0},
    {{}, "a\\", "a\\", "", 0},
    {{"-v"}, "a'", "\xE1", "", 0},
    {{"-m"}, "a'", "a'", "", 0},
    {{"-m"}, "\\a' \\u+o+`", "\xE1 \xDF\xB6", "", 0},
    {{"-l"}, "\\a' \\\\", "\\a' \\\\", "", 0},
    {{"-l"}, "x\\", "x\\", "", 0},  // the last composition character once
    {{"-L"}, "\\va'", "\xE1", "", 0},
    {{"-v", "-m", "-l"}, "\\x", "\\x", "", 0},
    {{"-l", "-v"}, "a'", "\xE1", "", 0},
    {{"-Literal"}, "a'", "a'", "", 0},
    {{"-Mixed"}, "a'", "a'", "", 0},
    {{"-verbose"}, "a'", "\xE1", "", 0},
    {{"-com", "#"}, "#a\\'##", "a\\'#", "", 0},
    {{"-com", "\\43", "-m"}, "#a'\\a'", "\xE1\\a'", "", 0},
    {{"-m", "-com", "#"}, "#e^'", "\xAA", "", 0},
    {{"-com"}, "a'", "\xE1", "usage: -com [char|\\octal]\n", 0},
    {{"-m", "-bs"}, "a'", "a'", "usage: -bs [char|\\octal]\n", 0},
    {{"-com", "-m"}, "-Ma'", "a'", "", 0},  // -m is the value of -com, "-M" switches to English
    // The overstrike character never shows with hold on.
    {{"-bs", "x"}, "a^'", "\xA4", "", 0},
    {{"-bs", "\\0", "-m"}, "\\a^' a^'", "\xA4 a^'", "", 0},
    {{"-bs", "#", "-l"}, "\\Va^'", "\xA4", "", 0},
    {{"-x"}, "a'", "", unknown("-x"), 1},
    {{"-comx"}, "a'", "", unknown("-comx"), 1},
    {{"-COM", "#"}, "a'", "", unknown("-COM"), 1},
    // --help and --version answer on standard output wherever they stand among
    // the flags; what comes after them is not looked at.
    {{"--help"}, "a'", USAGE, "", 0},
    {{"-v", "--help", "-x"}, "a'", USAGE, "", 0},
    {{"--version"}, "a'", VERSION, "", 0},
    {{"-l", "--version", "nosuch"}, "a'", VERSION, "", 0},
    // A flag refused before them is still refused; near misses are unknown.
    {{"-x", "--version"}, "a'", "", unknown("-x"), 1},
    {{"-h"}, "a'", "", unknown("-h"), 1},
    {{"--helpx"}, "a'", "", unknown("--helpx"), 1},
    {{"-version"}, "a'", "\xE1", "", 0},  // only two bytes of a flag count: -v
    {{"-V"}, "a'", "\xE1", "", 0},        // Vietnamese, not the version
    // "-" is standard input wherever a file name may stand.
    {{"-"}, "a'", "\xE1", "", 0},
    {{"-m", "-"}, "a'", "a'", "", 0},
    {{"one", "-", "one"}, "'", "\xE1" "a", "", 0},  // state carries through standard input too
    {{"-", "-m"}, "u", "u\xDF", "", 0},             // after the first file name "-m" is a file
    {{"-m", "-", "-v"}, "a'", "a'", cannot_open("-v", ENOENT, " (options must come before file names)"), 1},
    // "--" ends the flags: every argument after it is a file name.
    {{"--"}, "a'", "\xE1", "", 0},
    {{"--", "-m"}, "x", "\xDF", "", 0},  // the file named -m
    {{"-m", "--", "-m", "-"}, "\\a'", "u+\xE1", "", 0},
    {{"--", "--version"}, "x", "", cannot_open("--version", ENOENT), 1},
    {{"--", "--"}, "x", "", cannot_open("--", ENOENT), 1},  // only the first ends the flags
};

INSTANTIATE_TEST_SUITE_P(Toneup, ConverterCli, testing::ValuesIn(rows_of("toneup", cases)));

// What was read before is converted and written, the held letter included.
const cli_case open_failures[] = {
    {{"nosuch"}, "", "", cannot_open("nosuch", ENOENT), 1},
    {{"one", "locked", "one"}, "", "a", cannot_open("locked", EACCES), 1},
    {{"-", "sub"}, "o+", "\xBD", cannot_open("sub", EISDIR), 1},
    {{"."}, "", "", cannot_open(".", EISDIR), 1},
    {{"--", "-m", "one/x"}, "", "\xDF", cannot_open("one/x", ENOTDIR), 1},
    {{"-", "nosuch", "one"}, "Vie^.t Na", "Vi\xAEt Na", cannot_open("nosuch", ENOENT), 1},  // the rest is not read
    {{"-", "nosuch"}, "x\\", "x\\", cannot_open("nosuch", ENOENT), 1},  // a pending escape is written as itself
    {{"-", ".", "one"}, "o+", "\xBD", cannot_open(".", EISDIR), 1},
};

INSTANTIATE_TEST_SUITE_P(Toneup, ConverterOpenFailures, testing::ValuesIn(rows_of("toneup", open_failures)));

TEST(ToneupFiles, StateCarriesFromOneFileToTheNext) {
    scratch_dir dir;
    dir.write("letter", "Vie^.t Na");
    dir.write("tone", "`m ");            // the held a takes the grave accent of the next file
    dir.write("switch", "Vie^.t \\M");   // a mode switch stays in force
    dir.write("english", "Vie^.t \\");   // and so does a pending escape
    dir.write("escaped", "a'");
    const run_result r = toneup({"letter", "tone", "switch", "english", "escaped"}, "not read", dir.path());
    EXPECT_EQ(r.out, "Vi\xAEt N\xE0m Vi\xAEt Vie^.t \xE1");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(ToneupFiles, ALetterComposesAcrossAChunkBoundary) {
    // Read from a file, every read but the last is a whole chunk: e ends the
    // first read, the first d ends the second.
    const std::string first(viqr::cli::CHUNK_SIZE - 1, 'x'), second(viqr::cli::CHUNK_SIZE - 3, 'y');
    scratch_dir dir;
    dir.write("chunks", first + "e^." + second + "dd");
    const run_result r = toneup({"chunks"}, "", dir.path());
    EXPECT_EQ(r.out, first + "\xAE" + second + "\xF0");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(ToneupFailures, AFailedReadOfStandardInputIsReported) {
    const std::string program = program_path("toneup");
    for (const std::string args : {"", " -", " -- -"}) {
        const run_result r = run_shell("exec " + shell_quote(program) + args + " < /");
        EXPECT_EQ(r.out, "") << args;
        EXPECT_EQ(r.err, program + ": can't read \"standard input\": " + std::strerror(EISDIR) + "\n") << args;
        EXPECT_EQ(r.status, 1) << args;
    }
}

TEST(ToneupFailures, AFullOutputIsReportedOnce) {
    const std::string program = program_path("toneup");
    const std::string expected = program + ": can't write \"standard output\": " + std::strerror(ENOSPC) + "\n";
    for (const std::string options : {"", " -u"}) {
        // The first fails in the text and again would in the flush of the held
        // letter; the second fails only in the flush.
        for (const std::string input : {"Vie^.t Na", "a"}) {
            const run_result r = run_shell("exec " + shell_quote(program) + options + " > /dev/full", input);
            EXPECT_EQ(r.err, expected) << options << " " << input;
            EXPECT_EQ(r.status, 1) << options << " " << input;
        }
    }
}

TEST(ToneupFailures, WithoutAnArgumentVectorItNamesItselfToneup) {
    // No arguments at all, not even its own name.
    const run_result converted = run_process(program_path("toneup"), {}, {.input = "a'"});
    EXPECT_EQ(converted.out, "\xE1");
    EXPECT_EQ(converted.status, 0);

    const run_result full = run_process(program_path("toneup"), {}, {.input = "a'", .output_path = "/dev/full"});
    EXPECT_EQ(full.err, std::string("toneup: can't write \"standard output\": ") + std::strerror(ENOSPC) + "\n");
    EXPECT_EQ(full.status, 1);
}

}  // namespace
