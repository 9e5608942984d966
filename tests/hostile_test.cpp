// The three programs under conditions a filter meets when it runs over files
// and in pipelines it did not set up: standard output closed or full, a
// directory or a FIFO as input, standard input closed, a reader that goes
// away early, and command lines of 10,000 arguments, empty arguments and an
// argument of 100,000 bytes.  Each ends with its message and status, or
// quietly where that is what filters do; none may crash or hang.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "process.h"

namespace {

std::string repeated(const std::string &text, std::size_t times) {
    std::string all;
    all.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i) all += text;
    return all;
}

// What sets one program apart in these tests: its name, a small input and
// what it writes for it, and the forms of its messages.
struct program {
    std::string name;
    std::string small_input;
    std::string small_output;
    std::string line;           // the big input is this line many times over
    std::string head_of_big;    // the first ten bytes written for the big input
    std::string announcement;   // written before the first input is read

    std::string path() const { return program_path(name); }

    bool is_tonefix() const { return name == "tonefix"; }

    // All three report system errors alike: what failed, the file or stream,
    // and the reason.
    std::string write_failure(const std::string &invoked_as, int error) const {
        return invoked_as + ": can't write \"standard output\": " + std::strerror(error) + "\n";
    }
    std::string read_failure(const std::string &invoked_as, const std::string &file, int error) const {
        return invoked_as + ": can't read \"" + (file.empty() ? "standard input" : file) + "\": " +
               std::strerror(error) + "\n";
    }
    // A named directory is refused when it is opened.
    std::string directory_failure(const std::string &invoked_as, const std::string &file) const {
        return invoked_as + ": can't open file \"" + file + "\": " + std::strerror(EISDIR) + "\n";
    }
};

void PrintTo(const program &p, std::ostream *os) { *os << p.name; }

const program programs[] = {
    {"tonedown", "Vi\xAEt Nam", "\\VVie^.t Nam", "Vi\xAEt Nam\n", "\\VVie^.t N", "\\V"},
    {"toneup", "Vie^.t Nam", "Vi\xAEt Nam", "Vie^.t Nam\n", "Vi\xAEt Nam\nV", ""},
    {"tonefix", "\xA0\xD5 Nam", "\xD5\xA0 Nam", "Vi\xAEt Nam\n", "Vi\xAEt Nam\nV", ""},
    // toneconv detects the encoding: enough words to tell decomposed UTF-8.
    {"toneconv", "Co\xCC\xA3\xCC\x82ng ho\xCC\x80" "a Xa\xCC\x83 ho\xCC\xA3\xCC\x82i Vie\xCC\xA3\xCC\x82t Nam",
     "C\xE1\xBB\x99ng h\xC3\xB2" "a X\xC3\xA3 h\xE1\xBB\x99i Vi\xE1\xBB\x87t Nam", "Vi\xE1\xBB\x87t Nam\n",
     "Vi\xE1\xBB\x87t Nam", ""},
};

// A folder with the small input, a big one (well past what a pipe holds), a
// sub-folder and a FIFO.
class Hostile : public testing::TestWithParam<program> {
protected:
    void SetUp() override {
        dir_.write("small", GetParam().small_input);
        dir_.write("big", repeated(GetParam().line, (4u << 20) / GetParam().line.size()));
        ASSERT_EQ(mkdir((dir_.path() + "/sub").c_str(), 0700), 0);
        ASSERT_EQ(mkfifo((dir_.path() + "/fifo").c_str(), 0600), 0);
        // A test runner that ignores SIGPIPE would hand that on to the program.
        std::signal(SIGPIPE, SIG_DFL);
    }

    // Runs `command` in the folder, with $P standing for the program's path.
    run_result shell(const std::string &command, const std::string &input = "") const {
        return run_shell("cd " + shell_quote(dir_.path()) + " && P=" + shell_quote(GetParam().path()) + " && { " +
                             command + "; }",
                         input);
    }

    scratch_dir dir_;
};

// With descriptor 1 closed, the first file a program opens gets that number:
// the program must still report the failed write, not write into its input.
TEST_P(Hostile, ClosedStandardOutputIsAFailedWrite) {
    const program &p = GetParam();
    for (const char *command : {"\"$P\" small >&-", "\"$P\" < small >&-", "\"$P\" small <&- >&-"}) {
        SCOPED_TRACE(command);
        const run_result r = shell(command);
        EXPECT_EQ(r.err, p.write_failure(p.path(), EBADF));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(dir_.read("small"), p.small_input);
    }
}

// Standard output appended to an input would feed the program its own output
// for ever; such an input is refused, under any name, and left as it was.
TEST_P(Hostile, AnInputThatIsTheOutputFileIsRefused) {
    const program &p = GetParam();
    const std::string refused = p.path() + ": \"small\": input file is output file\n";
    const std::string refused_stdin = p.path() + ": \"standard input\": input file is output file\n";
    const std::pair<const char *, std::string> cases[] = {
        {"timeout 2 \"$P\" small >> small", refused},
        {"timeout 2 \"$P\" < small >> small", refused_stdin},
        {"timeout 2 \"$P\" - < small >> small", refused_stdin},
        {"ln small link && timeout 2 \"$P\" link >> small", p.path() + ": \"link\": input file is output file\n"},
    };
    for (const auto &[command, report] : cases) {
        SCOPED_TRACE(command);
        const run_result r = shell(command);
        EXPECT_EQ(r.err, report);
        EXPECT_EQ(r.status, 1);
        // Not printed when it fails: the file may have grown large.
        EXPECT_TRUE(dir_.read("small") == p.small_input) << "the input was changed";
        std::remove((dir_.path() + "/link").c_str());
    }
}

// The converters skip that input and go on with the others.
TEST(HostileConverters, SkipTheOutputFileAndReadTheRest) {
    for (const program &p : {programs[0], programs[1]}) {
        SCOPED_TRACE(p.name);
        scratch_dir dir;
        dir.write("out", p.small_input);
        dir.write("other", p.small_input);
        const run_result r =
            run_shell("cd " + shell_quote(dir.path()) + " && timeout 2 " + shell_quote(p.path()) + " out other >> out");
        EXPECT_EQ(r.err, p.path() + ": \"out\": input file is output file\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(dir.read("out") == p.small_input + p.small_output) << "the output is not one copy";
    }
}

TEST_P(Hostile, FullStandardOutputIsAFailedWrite) {
    const program &p = GetParam();
    for (const char *command : {"\"$P\" small > /dev/full", "\"$P\" < small > /dev/full"}) {
        SCOPED_TRACE(command);
        const run_result r = shell(command);
        EXPECT_EQ(r.err, p.write_failure(p.path(), ENOSPC));
        EXPECT_EQ(r.status, 1);
    }
}

TEST_P(Hostile, ADirectoryAsInputIsRefused) {
    const program &p = GetParam();
    const run_result named = shell("\"$P\" sub");
    EXPECT_EQ(named.out, "");  // nothing read: no announcement either
    EXPECT_EQ(named.err, p.directory_failure(p.path(), "sub"));
    EXPECT_EQ(named.status, 1);

    const run_result redirected = shell("\"$P\" < sub");
    EXPECT_EQ(redirected.out, p.announcement);
    EXPECT_EQ(redirected.err, p.read_failure(p.path(), "", EISDIR));
    EXPECT_EQ(redirected.status, 1);
}

TEST_P(Hostile, AFifoIsReadLikeAFile) {
    const program &p = GetParam();
    for (const char *command : {"cat small > fifo & \"$P\" fifo", "cat small > fifo & \"$P\" < fifo"}) {
        SCOPED_TRACE(command);
        const run_result r = shell(command);
        EXPECT_EQ(r.out, p.small_output);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

TEST_P(Hostile, ClosedStandardInputIsAFailedRead) {
    const program &p = GetParam();
    const run_result r = shell("\"$P\" <&-");
    EXPECT_EQ(r.out, p.announcement);
    EXPECT_EQ(r.err, p.read_failure(p.path(), "", EBADF));
    EXPECT_EQ(r.status, 1);

    // A named file then gets descriptor 0 and is read like any other.
    const run_result named = shell("\"$P\" small <&-");
    EXPECT_EQ(named.out, p.small_output);
    EXPECT_EQ(named.err, "");
    EXPECT_EQ(named.status, 0);
}

// A file size limit cuts one write short, part of the buffer written: the
// program must go on with the rest, and the write that then fails with EFBIG
// is reported.  The file holds the first bytes of the output, as many as the
// limit lets through.  The input is one read, and its output one write.
TEST_P(Hostile, AWriteCutShortByTheFileSizeLimitIsAFailedWrite) {
    const program &p = GetParam();
    const std::string input = repeated(p.line, 200);
    const run_result whole = run_program(p.path(), {}, input);
    ASSERT_EQ(whole.status, 0);
    ASSERT_GT(whole.out.size(), file_size_limit() + p.announcement.size());
    const run_result r = run_under_file_size_limit(shell_quote(p.path()), dir_.path() + "/out", input);
    EXPECT_EQ(r.err, p.write_failure(p.path(), EFBIG));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir_.read("out"), whole.out.substr(0, file_size_limit()));
}

// Like other filters, a program whose reader has gone is ended by SIGPIPE at
// its next write, without a word.
TEST_P(Hostile, AReaderThatGoesAwayEndsTheProgramQuietly) {
    const program &p = GetParam();
    const run_result r = shell("{ \"$P\" big; echo \"status $?\" >&2; } | head -c 10");
    EXPECT_EQ(r.out, p.head_of_big);
    EXPECT_EQ(r.err, "status " + std::to_string(128 + SIGPIPE) + "\n");
}

// Where SIGPIPE is ignored the write fails with EPIPE instead, and that is a
// failed write like any other.
TEST_P(Hostile, AReaderThatGoesAwayWithSigpipeIgnoredIsAFailedWrite) {
    const program &p = GetParam();
    const run_result r = shell("trap '' PIPE; { \"$P\" big; echo \"status $?\" >&2; } | head -c 10");
    EXPECT_EQ(r.out, p.head_of_big);
    EXPECT_EQ(r.err, p.write_failure(p.path(), EPIPE) + "status 1\n");
}

INSTANTIATE_TEST_SUITE_P(Programs, Hostile, testing::ValuesIn(programs),
                         [](const testing::TestParamInfo<program> &info) { return info.param.name; });

// The usage text of a program, as it writes it after refusing an argument.
std::string usage_of(const std::string &name) {
    std::string err = run_program(program_path(name), {"-?"}, "", name).err;
    if (name != "tonefix") err.erase(0, err.find('\n') + 1);  // the unknown-option line
    return err;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> times(std::size_t n, const std::vector<std::string> &args) {
    std::vector<std::string> all;
    for (std::size_t i = 0; i < n; ++i) all.insert(all.end(), args.begin(), args.end());
    return all;
}

const std::string LONG_NAME(100000, 'x');
const std::string NUL(1, '\0');
const std::string NUL_WARNING =
    ": warning: composition character \"\\000\" is a control character, so its escapes are invisible and easily "
    "lost\n";

// Command lines for tonedown and toneup, exact bytes expected.  "USAGE" at
// the end of the expected standard error stands for the program's usage text.
const cli_case command_line_cases[] = {
    // 10,000 arguments: thousands of flags (the last wins), thousands of files,
    // an option after them all.
    {times(4998, {"-v"}) + std::vector<std::string>{"-m"} + times(4999, {"one"}) + std::vector<std::string>{"-com", "#"},
     "", "#M" + repeated("#a'", 4999), "", 0, "tonedown"},
    {times(4998, {"-m"}) + std::vector<std::string>{"-v"} + times(4999, {"one"}) + std::vector<std::string>{"-com", "#"},
     "", repeated("#\xE1", 4999), "", 0, "toneup"},
    {times(5000, {"-com", "#"}), "#\xE1", "#V##a'", "", 0, "tonedown"},
    {times(5000, {"-bs", "#"}), "a'", "\xE1", "", 0, "toneup"},
    // Empty arguments: a file name that names nothing, a NUL character.
    {{""}, "", "", "tonedown: can't open file \"\": " + std::string(std::strerror(ENOENT)) + "\n", 1, "tonedown"},
    {{""}, "", "", "toneup: can't open file \"\": " + std::string(std::strerror(ENOENT)) + "\n", 1, "toneup"},
    {{"-com", ""}, "a\\" + NUL, NUL + "Va\\" + NUL + NUL, "tonedown" + NUL_WARNING, 0, "tonedown"},
    {{"-com", ""}, "a" + NUL + "'\\\\", "a'\\\\", "toneup" + NUL_WARNING, 0, "toneup"},
    {{"-bs", "", "-v"}, "a'", "\xE1", "", 0, "toneup"},
    // An argument of 100,000 bytes: as a file name, a flag, a value, an unknown option.
    {{LONG_NAME}, "", "", "tonedown: can't open file \"" + LONG_NAME + "\": " + std::strerror(ENAMETOOLONG) + "\n", 1, "tonedown"},
    {{LONG_NAME}, "", "", "toneup: can't open file \"" + LONG_NAME + "\": " + std::strerror(ENAMETOOLONG) + "\n", 1, "toneup"},
    {{"-m" + LONG_NAME}, "\xE1", "\\M\\a'", "", 0, "tonedown"},
    {{"-l" + LONG_NAME}, "\\a'", "\\a'", "", 0, "toneup"},
    {{"-com", "#" + LONG_NAME}, "#", "#V##", "", 0, "tonedown"},
    {{"-com", "#" + LONG_NAME}, "#a'", "\xE1", "", 0, "toneup"},
    {{"-q" + LONG_NAME}, "", "", "tonedown: unknown option \"-q" + LONG_NAME + "\"\nUSAGE", 1, "tonedown"},
    {{"-q" + LONG_NAME}, "", "", "toneup: unknown option \"-q" + LONG_NAME + "\"\nUSAGE", 1, "toneup"},
};

class HostileCommandLine : public testing::TestWithParam<cli_case> {};

TEST_P(HostileCommandLine, WritesExactlyTheseBytes) {
    cli_case c = GetParam();
    scratch_dir dir;
    dir.write("one", c.program == "tonedown" ? "\xE1" : "##a'");
    const run_result r = run_program(program_path(c.program), c.args, c.input, c.program, dir.path());
    if (c.err.size() >= 5 && c.err.compare(c.err.size() - 5, 5, "USAGE") == 0)
        c.err.replace(c.err.size() - 5, 5, usage_of(c.program));
    expect_outcome(r, c);
}

INSTANTIATE_TEST_SUITE_P(Converters, HostileCommandLine, testing::ValuesIn(command_line_cases));

// Each input is closed once it has been read: under a limit of 16 open files
// the converters go through 64 of them, with and without -u, and toneconv
// with an encoding named and with each input detected.
TEST(HostileFiles, MoreFilesThanTheOpenFileLimitAreReadOneAfterAnother) {
    const std::string u_acute = "\xC3\xA1";  // á in UTF-8
    const std::string line = "C\xE1\xBB\x99ng h\xC3\xB2" "a x\xC3\xA3 h\xE1\xBB\x99i ch\xE1\xBB\xA7 ngh\xC4\xA9" "a\n";
    const cli_case cases[] = {
        {{}, "\xE1", "\\V" + repeated("a'", 64), "", 0, "tonedown"},
        {{"-u"}, u_acute, "\\V" + repeated("a'", 64), "", 0, "tonedown"},
        {{}, "a'", repeated("\xE1", 64), "", 0, "toneup"},
        {{"-u"}, "a'", repeated(u_acute, 64), "", 0, "toneup"},
        {{"-f", "vni"}, "a\xF9", repeated(u_acute, 64), "", 0, "toneconv"},
        {{}, line, repeated(line, 64), "", 0, "toneconv"},
    };
    for (const cli_case &c : cases) {
        SCOPED_TRACE(c.program + " " + testing::PrintToString(c.args));
        scratch_dir dir;
        dir.write("one", c.input);  // the input of the row is the file's content
        std::string command = "ulimit -n 16 && exec " + shell_quote(program_path(c.program));
        for (const std::string &a : c.args) command += " " + a;
        for (int i = 0; i < 64; ++i) command += " one";
        expect_outcome(run_shell("cd " + shell_quote(dir.path()) + " && " + command), c);
    }
}

// tonefix takes one input and one output name and ignores the rest.
TEST(HostileTonefixCommandLine, TenThousandArgumentsAreAnInputAnOutputAndTheIgnored) {
    scratch_dir dir;
    dir.write("in", "\xA0 x \xD5");
    const run_result r = run_program(program_path("tonefix"), std::vector<std::string>{"in", "out"} + times(9998, {""}),
                                     "", "tonefix", dir.path());
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.read("out"), "\xD5 x \xA0");
}

TEST(HostileTonefixCommandLine, EmptyAndLongNamesAreReported) {
    auto cannot_open = [](const std::string &name, int error) {
        return "tonefix: can't open file \"" + name + "\": " + std::strerror(error) + "\n";
    };
    const cli_case cases[] = {
        {{""}, "", "", cannot_open("", ENOENT), 1, "tonefix"},
        {{"in", ""}, "", "", cannot_open("", ENOENT), 1, "tonefix"},
        {{LONG_NAME}, "", "", cannot_open(LONG_NAME, ENAMETOOLONG), 1, "tonefix"},
        {{"in", LONG_NAME}, "", "", cannot_open(LONG_NAME, ENAMETOOLONG), 1, "tonefix"},
    };
    scratch_dir dir;
    dir.write("in", "\xA0");
    for (const cli_case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args).substr(0, 40));
        expect_outcome(run_program(program_path(c.program), c.args, c.input, c.program, dir.path()), c);
    }
}

// tonefix also writes to a named output; standard output closed or a FIFO as
// that output changes nothing.
TEST(HostileTonefixOutput, ANamedOutputNeedsNoStandardOutput) {
    scratch_dir dir;
    dir.write("in", "\xA0\xD5");
    const std::string tonefix = shell_quote(program_path("tonefix"));
    const run_result r = run_shell("cd " + shell_quote(dir.path()) + " && " + tonefix + " in out >&-");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.read("out"), "\xD5\xA0");
    EXPECT_EQ(dir.read("in"), "\xA0\xD5");
}

TEST(HostileTonefixOutput, AFifoAsOutputIsWrittenLikeAFile) {
    scratch_dir dir;
    dir.write("in", "\xA0\xD5");
    ASSERT_EQ(mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
    const std::string tonefix = shell_quote(program_path("tonefix"));
    const run_result r =
        run_shell("cd " + shell_quote(dir.path()) + " && { cat fifo > copy & " + tonefix + " in fifo; echo $?; wait; }");
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("copy"), "\xD5\xA0");
}

}  // namespace
