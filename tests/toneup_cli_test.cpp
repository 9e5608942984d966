// toneup as a user runs it: flags, options, messages, exit status, files,
// state carried from one input to the next, and failing reads and writes.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "process.h"

namespace {

const std::string USAGE =
    "Usage: toneup [-com <c>] [-v|-m|-l] [7-bit input file(s)]\n"
    "              -com: <c> specifies the composition character, default is \"\\\"\n"
    "              -v: sets the initial state to Vietnamese\n"
    "              -m: sets the initial state to English\n"
    "              -l: sets the initial state to Literal\n"
    "              -t: reads VIQR as people type it, without escapes\n"
    "\n"
    "Purpose: Converts from 7-bit VIQR to 8-bit VISCII\n"
    "Version: VISCII & VIQR 1.1\n"
    "Author:  the viqr-tools maintainers <maintainers@viqr-tools.org>\n"
    "         viqr-tools, free software under the MIT licence\n";

run_result toneup(const std::vector<std::string> &args, const std::string &input = "",
                  const std::string &directory = "") {
    return run_program(program_path("toneup"), args, input, "toneup", directory);
}

std::string unknown(const std::string &flag) { return "toneup: unknown option \"" + flag + "\"\n" + USAGE; }

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
    {{"-"}, "a'", "", unknown("-"), 1},
    {{"-x"}, "a'", "", unknown("-x"), 1},
    {{"-v", "--help"}, "a'", "", unknown("--help"), 1},
    {{"-comx"}, "a'", "", unknown("-comx"), 1},
    {{"-COM", "#"}, "a'", "", unknown("-COM"), 1},
};

class ToneupCli : public testing::TestWithParam<cli_case> {};

TEST_P(ToneupCli, WritesExactlyTheseBytes) {
    const cli_case &c = GetParam();
    expect_outcome(toneup(c.args, c.input), c);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToneupCli, testing::ValuesIn(cases));

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
    // e ends the first read of 1024 bytes, the first d ends the second.
    const std::string first(1023, 'x'), second(1021, 'y');
    const run_result r = toneup({}, first + "e^." + second + "dd");
    EXPECT_EQ(r.out, first + "\xAE" + second + "\xF0");
    EXPECT_EQ(r.status, 0);
}

TEST(ToneupFiles, AFlagAfterAFileNameIsAFileName) {
    scratch_dir dir;
    dir.write("one", "a'");
    const run_result r = toneup({"-m", "one", "-v"}, "", dir.path());
    EXPECT_EQ(r.out, "a'");
    EXPECT_EQ(r.err, "toneup: can't open file \"-v\"\n");
    EXPECT_EQ(r.status, 1);
}

// Whatever was read is converted whole, the letter held at its end included.
TEST(ToneupFiles, AMissingFileStopsTheRunAfterFlushingWhatWasRead) {
    scratch_dir dir;
    dir.write("one", "Vie^.t Na");
    dir.write("three", "never read");
    const run_result r = toneup({"one", "two", "three"}, "", dir.path());
    EXPECT_EQ(r.out, "Vi\xAEt Na");
    EXPECT_EQ(r.err, "toneup: can't open file \"two\"\n");
    EXPECT_EQ(r.status, 1);
}

TEST(ToneupFiles, AMissingFileAfterAnEscapeWritesTheCompositionCharacter) {
    scratch_dir dir;
    dir.write("one", "x\\");
    const run_result r = toneup({"one", "two"}, "", dir.path());
    EXPECT_EQ(r.out, "x\\");
    EXPECT_EQ(r.status, 1);
}

TEST(ToneupFiles, ADirectoryIsReportedAsAFailedRead) {
    scratch_dir dir;
    dir.write("one", "o+");
    dir.write("two", "never read");
    const run_result r = toneup({"one", ".", "two"}, "", dir.path());
    EXPECT_EQ(r.out, "\xBD");
    EXPECT_EQ(r.err, std::string("toneup: can't read \".\": ") + std::strerror(EISDIR) + "\n");
    EXPECT_EQ(r.status, 1);
}

TEST(ToneupFailures, AFailedReadOfStandardInputIsReported) {
    const std::string program = program_path("toneup");
    const run_result r = run_shell("exec '" + program + "' < /");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, program + ": can't read \"standard input\": " + std::strerror(EISDIR) + "\n");
    EXPECT_EQ(r.status, 1);
}

TEST(ToneupFailures, AFullOutputIsReportedOnce) {
    const std::string program = program_path("toneup");
    const std::string expected = program + ": can't write \"standard output\": " + std::strerror(ENOSPC) + "\n";
    for (const std::string input : {"Vie^.t Nam", "a"}) {  // the second fails only in the flush
        const run_result r = run_shell("exec '" + program + "' > /dev/full", input);
        EXPECT_EQ(r.err, expected) << input;
        EXPECT_EQ(r.status, 1) << input;
    }
}

// Runs toneup with no arguments at all, not even its own name.
run_result run_without_argv(const std::string &input, const char *output) {
    scratch_dir io;
    const std::string in = io.write("in", input), err = io.path() + "/err";
    const std::string out = output != nullptr ? output : io.path() + "/out";
    const std::string program = program_path("toneup");
    const pid_t pid = fork();
    if (pid == 0) {
        const int fds[3] = {open(in.c_str(), O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                            open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
        for (int fd = 0; fd < 3; ++fd)
            if (fds[fd] < 0 || dup2(fds[fd], fd) < 0) _exit(125);
        char *no_args[] = {nullptr};
        execve(program.c_str(), no_args, environ);
        _exit(126);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    run_result r;
    r.out = output != nullptr ? "" : io.read("out");
    r.err = io.read("err");
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

TEST(ToneupFailures, WithoutAnArgumentVectorItNamesItselfToneup) {
    const run_result converted = run_without_argv("a'", nullptr);
    EXPECT_EQ(converted.out, "\xE1");
    EXPECT_EQ(converted.status, 0);

    const run_result full = run_without_argv("a'", "/dev/full");
    EXPECT_EQ(full.err, std::string("toneup: can't write \"standard output\": ") + std::strerror(ENOSPC) + "\n");
    EXPECT_EQ(full.status, 1);
}

}  // namespace
