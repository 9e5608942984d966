// tonefix from the command line: the exchange of 0xA0 and 0xD5, where the text
// comes from and goes to ("-" for a standard stream), --help and --version,
// the usage text, and every failure it reports.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "iconv_oracle.h"
#include "oracle.h"
#include "process.h"
#include "seeded_random.h"

namespace {

namespace fs = std::filesystem;

const std::string TONEFIX = program_path("tonefix");

const std::string USAGE =
    "Usage: tonefix [input file] [output file]\n"
    "       If file names not specified, stdio is used.\n"
    "       --help: writes this text, --version: the version\n"
    "\n"
    "Purpose: converts files from VISCII 1.0 to VISCII 1.1\n"
    "Version: VISCII 1.1\n"
    "Author:  the viqr-tools maintainers <maintainers@viqr-tools.org>\n"
    "         viqr-tools, free software under the MIT licence\n";

// The exchange written out here on its own, not taken from the program.
std::string exchanged(std::string text) {
    for (char &c : text) {
        if (c == '\xA0')
            c = '\xD5';
        else if (c == '\xD5')
            c = '\xA0';
    }
    return text;
}

// Mostly the two letters, single and in runs, mixed with every other byte, so
// that each 1024-byte chunk boundary falls between them in several ways.
std::string mixed_text(std::size_t size) {
    std::string text(size, '\0');
    std::mt19937 random = seeded_random(12345);
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned pick = below(random, 8);
        text[i] = pick < 3 ? '\xA0' : pick < 6 ? '\xD5' : static_cast<char>(below(random, 256));
    }
    text.replace(1020, 8, 8, '\xA0');   // a run across the first boundary
    text.replace(2044, 8, 8, '\xD5');   // and one across the second
    text[3071] = '\xD5';
    text[3072] = '\xA0';
    return text;
}

std::set<std::string> files_in(const std::string &dir) {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

// The messages, headed by the program's name as run.
std::string message(const std::string &program, const std::string &what, const std::string &name, int error) {
    return program + ": " + what + " \"" + name + "\": " + std::strerror(error) + "\n";
}
std::string cannot_open(const std::string &name, int error, const std::string &program = "tonefix") {
    return message(program, "can't open file", name, error);
}
std::string cannot_read(const std::string &name, int error, const std::string &program = "tonefix") {
    return message(program, "can't read", name, error);
}
std::string cannot_write(const std::string &name, int error, const std::string &program = "tonefix") {
    return message(program, "can't write", name, error);
}

TEST(TonefixExchange, SwapsTheTwoLettersAndCopiesEveryOtherByte) {
    std::string expected = all_bytes();
    expected[0xA0] = '\xD5';
    expected[0xD5] = '\xA0';

    const run_result r = run_program(TONEFIX, {}, all_bytes());
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(TonefixExchange, ConvertsAcrossChunkBoundaries) {
    const std::string text = mixed_text(5 * 1024 + 3);
    ASSERT_NE(exchanged(text), text);
    scratch_dir dir;
    const std::string in = dir.write("in", text);

    const run_result from_file = run_program(TONEFIX, {in});
    EXPECT_EQ(from_file.out, exchanged(text));
    EXPECT_EQ(from_file.status, 0);

    // A pipe hands the program pieces of whatever size the writer made.
    const pipeline_result from_pipe = run_pipeline({"cat " + shell_quote(in), shell_quote(TONEFIX)});
    EXPECT_EQ(from_pipe.out, exchanged(text));
    expect_clean_stages(from_pipe);
}

TEST(TonefixExchange, RunningTwiceGivesBackTheInput) {
    const std::string text = mixed_text(4 * 1024) + all_bytes();
    scratch_dir dir;
    const std::string in = dir.write("in", text), once = dir.path() + "/once", twice = dir.path() + "/twice";

    EXPECT_EQ(run_program(TONEFIX, {in, once}).status, 0);
    EXPECT_EQ(run_program(TONEFIX, {once, twice}).status, 0);
    EXPECT_EQ(dir.read("once"), exchanged(text));
    EXPECT_EQ(dir.read("twice"), text);
}

// Text in VISCII 1.0, read back through the system's VISCII (revision 1.1)
// converter: capital O with tilde was 0xD5 and small a with dot below 0xA0.
TEST(TonefixExchange, TurnsVisciiRevision10IntoWhatIconvReadsAs11) {
    REQUIRE_ORACLE(have_iconv_viscii(), "iconv lacks VISCII");
    const run_result r = run_program(TONEFIX, {}, "\xD5ng \xA0");
    EXPECT_EQ(iconv_convert("VISCII", "UTF-8", r.out), "\xC3\x95ng \xE1\xBA\xA1");   // "Õng ạ"
    EXPECT_EQ(r.status, 0);
}

struct streams_case {
    std::vector<std::string> args;   // run in a folder holding the file "in"
    bool reads_file;                 // else standard input
    std::string output_file;         // empty: standard output
};

const streams_case streams_cases[] = {
    {{}, false, ""},
    {{"in"}, true, ""},
    {{"in", "out"}, true, "out"},
    {{"in", "-out"}, true, "-out"},         // a leading dash is no option here
    {{"in", "-"}, true, ""},                // "-" is standard output
    {{"-"}, false, ""},                     // and standard input
    {{"-", "out"}, false, "out"},
    {{"-", "-"}, false, ""},
    {{"-", "--help"}, false, "--help"},     // only the first argument is asked for help
    {{"in", "out", "extra"}, true, "out"},  // the third argument is ignored
    {{"in", "out", "-h", "x"}, true, "out"},
};

TEST(TonefixStreams, ReadsAndWritesEveryCombinationTheCommandLineAllows) {
    const std::string from_stdin = "standard input: \xA0\xD5\n", from_file = "the file: \xD5\xA0\xA0\n";
    for (const streams_case &c : streams_cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        scratch_dir dir;
        dir.write("in", from_file);
        const run_result r = run_program(TONEFIX, c.args, from_stdin, "", dir.path());
        const std::string expected = exchanged(c.reads_file ? from_file : from_stdin);

        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        if (c.output_file.empty()) {
            EXPECT_EQ(r.out, expected);
            EXPECT_EQ(files_in(dir.path()), std::set<std::string>{"in"});
        } else {
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(dir.read(c.output_file), expected);
            EXPECT_EQ(files_in(dir.path()), (std::set<std::string>{"in", c.output_file}));
        }
        EXPECT_EQ(dir.read("in"), from_file);
    }
}

TEST(TonefixStreams, EmptyInputCreatesOrTruncatesTheOutput) {
    scratch_dir dir;
    dir.write("empty", "");
    dir.write("old", "old text \xA0");
    for (const std::string output : {"new", "old"}) {
        SCOPED_TRACE(output);
        const run_result r = run_program(TONEFIX, {"empty", output}, "", "", dir.path());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(fs::exists(dir.path() + "/" + output));
        EXPECT_EQ(dir.read(output), "");
    }
    const run_result r = run_program(TONEFIX, {}, "");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
}

// A first argument that begins with a dash is never a file name: other than
// "-", "--help" and "--version" it is a usage error.
const std::vector<std::string> usage_cases[] = {
    {"-h"}, {"--"}, {"--", "in"}, {"-com", "x"}, {"-h", "out", "more"}, {"-in", "out"}, {"--helpx"}, {"-version"},
};

TEST(TonefixUsage, DashFirstArgumentWritesUsageAndCreatesNoOutput) {
    for (const std::vector<std::string> &args : usage_cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        scratch_dir dir;
        dir.write("-in", "text \xA0");
        const run_result r = run_program(TONEFIX, args, "standard input \xA0", "", dir.path());
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, USAGE);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(files_in(dir.path()), std::set<std::string>{"-in"});
    }
}

const std::string VERSION = "tonefix (viqr-tools) " VIQR_PROJECT_VERSION ", free software under the MIT licence\n";

const cli_case answer_cases[] = {
    {{"--help"}, "\xA0", USAGE, "", 0},
    {{"--help", "out"}, "\xA0", USAGE, "", 0},
    {{"--version"}, "\xA0", VERSION, "", 0},
    {{"--version", "-h", "out"}, "\xA0", VERSION, "", 0},
};

TEST(TonefixUsage, HelpAndVersionAnswerOnStandardOutputAndCreateNoOutput) {
    for (const cli_case &c : answer_cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        scratch_dir dir;
        expect_outcome(run_program(TONEFIX, c.args, c.input, "tonefix", dir.path()), c);
        EXPECT_TRUE(fs::is_empty(dir.path()));
    }
}

struct open_failure_case {
    std::vector<std::string> args;   // run in a folder holding "in" and the folder "sub"
    std::string report;
};

const open_failure_case open_failure_cases[] = {
    {{"missing"}, cannot_open("missing", ENOENT)},
    {{"missing", "out"}, cannot_open("missing", ENOENT)},
    {{"", "out"}, cannot_open("", ENOENT)},
    {{"in", "nowhere/out"}, cannot_open("nowhere/out", ENOENT)},
    {{"in", "sub"}, cannot_open("sub", EISDIR)},
    {{"in", ""}, cannot_open("", ENOENT)},
};

TEST(TonefixOpen, FileThatCannotBeOpenedIsReported) {
    for (const open_failure_case &c : open_failure_cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        scratch_dir dir;
        dir.write("in", "text \xA0");
        fs::create_directory(dir.path() + "/sub");
        const run_result r = run_program(TONEFIX, c.args, "standard input", "tonefix", dir.path());
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.report);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(files_in(dir.path()), (std::set<std::string>{"in", "sub"}));
        EXPECT_TRUE(fs::is_empty(dir.path() + "/sub"));
    }
}

TEST(TonefixSameFile, RefusesAnOutputThatIsTheInputUnderAnyName) {
    const std::string text = "text \xA0\xD5\n";
    const std::vector<std::vector<std::string>> cases = {
        {"in", "in"}, {"in", "./in"}, {"in", "hard"}, {"in", "soft"}, {"soft", "in"}, {"hard", "soft"},
    };
    for (const std::vector<std::string> &args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        scratch_dir dir;
        dir.write("in", text);
        fs::create_hard_link(dir.path() + "/in", dir.path() + "/hard");
        fs::create_symlink("in", dir.path() + "/soft");
        const run_result r = run_program(TONEFIX, args, "", "tonefix", dir.path());
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "tonefix: \"" + args[0] + "\" and \"" + args[1] + "\" are the same file\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(dir.read("in"), text);
    }
}

TEST(TonefixSameFile, RefusesStandardInputThatIsTheOutputFile) {
    scratch_dir dir;
    dir.write("in", "text \xA0");
    const run_result r = run_shell("cd " + shell_quote(dir.path()) + " && exec " + shell_quote(TONEFIX) + " - in < in");
    EXPECT_EQ(r.err, TONEFIX + ": \"-\" and \"in\" are the same file\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("in"), "text \xA0");
}

TEST(TonefixSameFile, SameTextInAnotherFileIsNoObstacle) {
    scratch_dir dir;
    dir.write("in", "text \xA0");
    dir.write("copy", "text \xA0");
    const run_result r = run_program(TONEFIX, {"in", "copy"}, "", "", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.read("copy"), "text \xD5");
}

// Two file systems number their files independently, so two different files
// can share an inode number; only the device as well tells them apart.  Two
// fresh tmpfs mounts (in a mount namespace of the test's own, which needs no
// privilege where user namespaces are allowed) give their first files the
// same number.
TEST(TonefixSameFile, OneInodeNumberOnTwoFileSystemsIsTwoFiles) {
    if (run_shell("unshare -r -m true").status != 0)
        GTEST_SKIP() << "unshare -r -m is not allowed here: no two file systems of the test's own";
    scratch_dir dir;
    const std::string text = "text \xA0\xD5\n";
    dir.write("text", text);
    const std::string script =
        "set -e; cd " + shell_quote(dir.path()) +
        "; mkdir a b; mount -t tmpfs tmpfs a; mount -t tmpfs tmpfs b; cp text a/in; : > b/out; "
        "[ \"$(stat -c %i a/in)\" = \"$(stat -c %i b/out)\" ] || exit 77; "
        "[ \"$(stat -c %d a/in)\" != \"$(stat -c %d b/out)\" ] || exit 77; set +e; " +
        shell_quote(TONEFIX) + " a/in b/out; echo \"status $?\" >&2; cat b/out";
    const run_result r = run_shell("unshare -r -m sh -c " + shell_quote(script));
    if (r.status == 77) GTEST_SKIP() << "the two tmpfs mounts gave their first files different inode numbers";
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "status 0\n");
    EXPECT_EQ(r.out, exchanged(text));
}

TEST(TonefixOutputMode, NewFileIsReadWriteLessTheCreationMask) {
    const std::pair<std::string, unsigned> cases[] = {{"022", 0644}, {"077", 0600}, {"0", 0666}};
    for (const auto &[mask, mode] : cases) {
        SCOPED_TRACE(mask);
        scratch_dir dir;
        dir.write("in", "text");
        const run_result r =
            run_shell("cd " + shell_quote(dir.path()) + " && umask " + mask + " && " + shell_quote(TONEFIX) + " in out");
        ASSERT_EQ(r.status, 0) << r.err;
        struct stat st {};
        ASSERT_EQ(stat((dir.path() + "/out").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
}

// Files that root could open but the program, run without the power to
// override permissions, may not.
TEST(TonefixOpen, PermissionDeniedIsReported) {
    if (const std::string why = permission_denial_unavailable(); !why.empty()) GTEST_SKIP() << why;
    const open_failure_case cases[] = {
        {{"locked"}, cannot_open("locked", EACCES)},
        {{"in", "locked"}, cannot_open("locked", EACCES)},
        {{"-", "locked"}, cannot_open("locked", EACCES)},
    };
    for (const open_failure_case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        scratch_dir dir;
        dir.write("in", "text \xA0");
        dir.write_unreadable("locked", "old \xA0");
        const run_result r = run_bound_by_permissions(TONEFIX, c.args, "standard input", "tonefix", dir.path());
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.report);
        EXPECT_EQ(r.status, 1);
        fs::permissions(dir.path() + "/locked", fs::perms::owner_read);
        EXPECT_EQ(dir.read("locked"), "old \xA0");
    }
}

struct shell_failure_case {
    std::string command;   // after "cd DIR && TONEFIX"; DIR holds "in" and the folder "sub"
    std::string report;
};

// Failed reads name the input, failed writes the output, as the other two
// programs do.
const shell_failure_case io_failure_cases[] = {
    {" in /dev/full", cannot_write("/dev/full", ENOSPC, TONEFIX)},
    {" in > /dev/full", cannot_write("standard output", ENOSPC, TONEFIX)},
    {" < in > /dev/full", cannot_write("standard output", ENOSPC, TONEFIX)},
    {" in >&-", cannot_write("standard output", EBADF, TONEFIX)},
    {" sub out", cannot_open("sub", EISDIR, TONEFIX)},
    {" sub", cannot_open("sub", EISDIR, TONEFIX)},
    {" < sub", cannot_read("standard input", EISDIR, TONEFIX)},
    {" - < sub", cannot_read("standard input", EISDIR, TONEFIX)},
    {" in - > /dev/full", cannot_write("standard output", ENOSPC, TONEFIX)},
};

TEST(TonefixFailures, FailedReadOrWriteIsReportedWithExitStatusOne) {
    for (const shell_failure_case &c : io_failure_cases) {
        SCOPED_TRACE(c.command);
        scratch_dir dir;
        dir.write("in", "text \xA0\xD5\n");
        fs::create_directory(dir.path() + "/sub");
        const run_result r = run_shell("cd " + shell_quote(dir.path()) + " && " + shell_quote(TONEFIX) + c.command);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.report);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(dir.read("in"), "text \xA0\xD5\n");
    }
}

// The input is known to be good before the output is created or emptied:
// an input that cannot be opened or read leaves the output as it was.
TEST(TonefixFailures, AnInputThatFailsLeavesTheOutputAsItWas) {
    const shell_failure_case cases[] = {
        {" sub keep", cannot_open("sub", EISDIR, TONEFIX)},
        {" missing keep", cannot_open("missing", ENOENT, TONEFIX)},
        {" - keep < sub", cannot_read("standard input", EISDIR, TONEFIX)},
        {" keep keep", TONEFIX + ": \"keep\" and \"keep\" are the same file\n"},
    };
    for (const shell_failure_case &c : cases) {
        SCOPED_TRACE(c.command);
        scratch_dir dir;
        fs::create_directory(dir.path() + "/sub");
        dir.write("keep", "keep \xA0\n");
        const run_result r = run_shell("cd " + shell_quote(dir.path()) + " && " + shell_quote(TONEFIX) + c.command);
        EXPECT_EQ(r.err, c.report);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(dir.read("keep"), "keep \xA0\n");
    }
    scratch_dir dir;
    fs::create_directory(dir.path() + "/sub");
    EXPECT_EQ(run_program(TONEFIX, {"sub", "new"}, "", "", dir.path()).status, 1);
    EXPECT_FALSE(fs::exists(dir.path() + "/new"));
}

// Standard output appended to the input would grow it for ever.
TEST(TonefixSameFile, RefusesAnInputThatStandardOutputAppendsTo) {
    const shell_failure_case cases[] = {
        {" old >> old", TONEFIX + ": \"old\": input file is output file\n"},
        {" old - >> old", TONEFIX + ": \"old\": input file is output file\n"},
        {" < old >> old", TONEFIX + ": \"standard input\": input file is output file\n"},
        {" - < old >> old", TONEFIX + ": \"standard input\": input file is output file\n"},
        {" old /dev/stdout >> old", TONEFIX + ": \"old\" and \"/dev/stdout\" are the same file\n"},
    };
    for (const shell_failure_case &c : cases) {
        SCOPED_TRACE(c.command);
        scratch_dir dir;
        dir.write("old", "old \xA0\n");
        const run_result r =
            run_shell("cd " + shell_quote(dir.path()) + " && exec timeout 2 " + shell_quote(TONEFIX) + c.command);
        EXPECT_EQ(r.err, c.report);
        EXPECT_EQ(r.status, 1);
        // Not printed when it fails: the file may have grown large.
        EXPECT_TRUE(dir.read("old") == "old \xA0\n") << "the input was changed";
    }
}

TEST(TonefixFailures, WithoutAnInvocationNameReportsAreHeadedTonefix) {
    scratch_dir dir;
    fs::create_directory(dir.path() + "/sub");
    for (const std::vector<std::string> &argv : {std::vector<std::string>{}, std::vector<std::string>{""}}) {
        SCOPED_TRACE(argv.empty() ? "no argument vector" : "empty name");
        const run_result r = run_process(TONEFIX, argv, {.input_path = dir.path() + "/sub"});
        EXPECT_EQ(r.err, cannot_read("standard input", EISDIR));
        EXPECT_EQ(r.status, 1);
    }
}

}  // namespace
