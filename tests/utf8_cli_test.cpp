// tonedown -u and toneup -u as a user runs them: the flag, messages about
// invalid UTF-8, files that split a character or a letter, the round trip
// through both programs, and the hints each program gives without -u.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "oracle.h"
#include "process.h"

namespace {

run_result run(const std::string &name, const std::vector<std::string> &args, const std::string &input = "",
               const std::string &directory = "") {
    return run_program(program_path(name), args, input, name, directory);
}

std::string quoted(const std::string &word) { return "'" + word + "'"; }

// "Hôm nay trời đẹp quá, chúng tôi đi chơi ở công viên và ăn kem." in TCVN3.
const char tcvn3_text[] = "H\xAB" "m nay tr\xEA" "i \xAE" "\xD1" "p qu\xB8" ", ch\xF3" "ng t\xAB" "i \xAE" "i ch\xAC" "i \xEB"
                          " c\xAB" "ng vi\xAA" "n v\xB5" " \xA8" "n kem.\n";
const char latin1_french[] = "caf\xE9 cr\xE8me br\xFBl\xE9" "e et une tarte aux pommes pour le d\xEEner de ce soir\n";

const cli_case tonedown_cases[] = {
    {{"-u"}, "Ti\u1EBFng Vi\u1EC7t\n", "\\VTie^'ng Vie^.t\n", "", 0},
    {{"-U", "-m"}, "Ti\u1EBFng Vi\u1EC7t\n", "\\MTi\\e^'ng Vi\\e^.t\n", "", 0},
    {{"-u", "-com", "#"}, "Vie\u0323\u0302t #a'", "#VVie^.t ##a#'", "", 0},
    {{"-u"}, "\u201CA\u0306n qu\u1EA3\u201D \u2014 5\u20AC", "\\V\u201CA(n qua?\u201D \u2014 5\u20AC", "", 0},
    // Invalid UTF-8 after nothing but ASCII is most likely VISCII; after a
    // character of UTF-8 it is not.
    {{"-u"}, "a\xFF" "b\xC0\xAF", "\\Va\xFF" "b\xC0\xAF",
     "tonedown: \"standard input\": invalid UTF-8 at byte offset 1, copied unchanged; it looks like VISCII: drop -u\n",
     0},
    {{"-u"}, "Vi\xAEt Nam", "\\VVi\xAEt Nam",
     "tonedown: \"standard input\": invalid UTF-8 at byte offset 2, copied unchanged; it looks like VISCII: drop -u\n",
     0},
    // Longer text that detection can tell: another Vietnamese encoding is
    // named with the program that reads it; text that no Vietnamese reading
    // fits (French in Latin-1) gets no hint.
    {{"-u"}, tcvn3_text, std::string("\\V") + tcvn3_text,
     "tonedown: \"standard input\": invalid UTF-8 at byte offset 1, copied unchanged; it looks like tcvn3: toneconv -f "
     "tcvn3 reads it\n",
     0},
    {{"-u"}, latin1_french, std::string("\\V") + latin1_french,
     "tonedown: \"standard input\": invalid UTF-8 at byte offset 3, copied unchanged\n", 0},
    {{"-u"}, "\u1EC7\xFF", "\\Ve^.\xFF",
     "tonedown: \"standard input\": invalid UTF-8 at byte offset 3, copied unchanged\n", 0},
    {{"-u"}, "\xE1\xBA", "\\V\xE1\xBA",
     "tonedown: \"standard input\": invalid UTF-8 at byte offset 0, copied unchanged\n", 0},
    // Without -u the input is VISCII, byte for byte as before.
    {{}, "Vi\xAEt", "\\VVie^.t", "", 0},
};

// Each row runs the program its table is for.
class Utf8Cli : public testing::TestWithParam<cli_case> {};

TEST_P(Utf8Cli, WritesExactlyTheseBytes) {
    const cli_case &c = GetParam();
    expect_outcome(run(c.program, c.args, c.input), c);
}

INSTANTIATE_TEST_SUITE_P(Tonedown, Utf8Cli, testing::ValuesIn(rows_of("tonedown", tonedown_cases)));

const cli_case toneup_cases[] = {
    {{"-u"}, "Vie^.t Nam\n", "Vi\u1EC7t Nam\n", "", 0},
    // With the typed reader, a character beyond ASCII ends the word it keeps
    // back, which comes out before that character, decided as at a word's end.
    {{"-u", "-t"}, "No^.i. a@yahoo.com \u201CVie^.t\u201D dda^u?\n",
     "N\u1ED9i. a@yahoo.com \u201CVi\u1EC7t\u201D \u0111\u00E2u?\n", "", 0},
    {{"-u", "-t"}, "ab \u201Cc", "ab \u201Cc", "", 0},
    {{"-u", "-m"}, "\\VVie^.t \\M\\dd\\a^'t a'", "Vi\u1EC7t \u0111\u1EA5t a'", "", 0},
    {{"-u"}, "\u201CA(n qua?\u201D \x14", "\u201C\u0102n qu\u1EA3\u201D \x14", "", 0},
    {{"-u", "-com", "#"}, "#Ma^ #a^#\u00E4", "a^ \u00E2\u00E4", "", 0},
    {{"-u"}, "a'\x80" "a^", "\u00E1\x80\u00E2",
     "toneup: \"standard input\": invalid UTF-8 at byte offset 2, copied unchanged\n", 0},
    // Without -u the output is VISCII.
    {{}, "Vie^.t", "Vi\xAEt", "", 0},
};

INSTANTIATE_TEST_SUITE_P(Toneup, Utf8Cli, testing::ValuesIn(rows_of("toneup", toneup_cases)));

// The inputs are one text: a character, a decomposed letter or a letter's
// VIQR spelling may run from one file into the next.  Each file reports its
// own first invalid byte; a sequence cut at the end of one file and not
// finished in the next is reported against the file where it began.
TEST(Utf8Files, AreOneTextAndReportEachFileOnce) {
    scratch_dir dir;
    dir.write("one", "Vi\xE1\xBB");
    dir.write("two", "\x87t Na\xCC\xA3");
    dir.write("three", "\xCC\x82\xFF x\xFF\xE1");
    dir.write("four", "\x80\x80\xFE");
    const run_result down = run("tonedown", {"-u", "one", "two", "three", "four"}, "", dir.path());
    EXPECT_EQ(down.out, "\\VVie^.t Na^.\xFF x\xFF\xE1\x80\x80\xFE");
    EXPECT_EQ(down.err,
              "tonedown: \"three\": invalid UTF-8 at byte offset 2, copied unchanged\n"
              "tonedown: \"four\": invalid UTF-8 at byte offset 2, copied unchanged\n");
    EXPECT_EQ(down.status, 0);

    dir.write("five", "Vie^");
    dir.write("six", ".t\xE1\xBA");
    dir.write("seven", "x");
    const run_result up = run("toneup", {"-u", "five", "six", "seven"}, "", dir.path());
    EXPECT_EQ(up.out, "Vi\u1EC7t\xE1\xBAx");
    EXPECT_EQ(up.err, "toneup: \"six\": invalid UTF-8 at byte offset 2, copied unchanged\n");
    EXPECT_EQ(up.status, 0);
}

// A letter still held when a later file cannot be opened belongs to the text
// read so far.
TEST(Utf8Files, AMissingFileStopsTheRunAfterWhatCameBefore) {
    scratch_dir dir;
    dir.write("one", "Vie\xCC\xA3");
    const run_result down = run("tonedown", {"-u", "one", "two"}, "", dir.path());
    EXPECT_EQ(down.out, "\\VVie.");
    EXPECT_EQ(down.err, "tonedown: can't open file \"two\": " + std::string(std::strerror(ENOENT)) + "\n");
    EXPECT_EQ(down.status, 1);
    dir.write("three", "Vie^");
    const run_result up = run("toneup", {"-u", "three", "two"}, "", dir.path());
    EXPECT_EQ(up.out, "Vi\u00EA");
    EXPECT_EQ(up.err, "toneup: can't open file \"two\": " + std::string(std::strerror(ENOENT)) + "\n");
    EXPECT_EQ(up.status, 1);
}

// The bundled sample as UTF-8 through both programs, in NFC and in NFD, and
// through tonedown -u in chunks of 1 to 7 bytes from a pipe: the same text.
TEST(Utf8Pipeline, TheSampleComesBackThroughBothPrograms) {
    REQUIRE_ORACLE(have_iconv_viscii() && run_shell("printf 'a' | iconv -f VISCII -t UTF-8").status == 0,
                   "this system's iconv has no VISCII charset to make UTF-8 of the sample");
    const std::string down = quoted(program_path("tonedown")), up = quoted(program_path("toneup"));
    const run_result utf8 = run_shell("iconv -f VISCII -t UTF-8 " + quoted(VIQR_SAMPLE));
    ASSERT_EQ(utf8.status, 0);
    for (const char *options : {"", " -m", " -com '#'", " -m -com '@'"}) {
        SCOPED_TRACE(options);
        const pipeline_result back = run_pipeline({down + " -u" + options, up + " -u" + options}, utf8.out);
        EXPECT_EQ(back.out, utf8.out);
        expect_clean_stages(back);
        // Like the VISCII sample through tonedown without -u.
        const run_result viqr = run_shell(down + options + " " + quoted(VIQR_SAMPLE));
        EXPECT_EQ(run_shell(down + " -u" + options, utf8.out).out, viqr.out);
    }
    REQUIRE_ORACLE(have_python_unicodedata(), "python3 with unicodedata is not installed: no NFD of the sample");
    const run_result nfd = run_shell(
        "python3 -c 'import sys, unicodedata; sys.stdout.write(unicodedata.normalize(\"NFD\", sys.stdin.read()))'",
        utf8.out);
    ASSERT_NE(nfd.out, utf8.out);
    const pipeline_result from_nfd = run_pipeline({down + " -u", up + " -u"}, nfd.out);
    EXPECT_EQ(from_nfd.out, utf8.out);
    expect_clean_stages(from_nfd);
    // Read a few bytes at a time from a pipe.
    const pipeline_result trickle = run_pipeline(
        {"python3 -c 'import os, sys\nd = sys.stdin.buffer.read()\ni = 0\nwhile i < len(d):\n n = 1 + i % 7\n "
         "os.write(1, d[i:i + n])\n i += n'",
         down + " -u", up + " -u"},
        nfd.out);
    EXPECT_EQ(trickle.out, utf8.out);
    expect_clean_stages(trickle);
}

// Without -u: tonedown says once that -u reads UTF-8 when an input starts
// with UTF-8; the output stays the VIQR of the bytes as VISCII.
TEST(Utf8Hints, TonedownNamesTheFirstInputThatLooksLikeUtf8) {
    scratch_dir dir;
    dir.write("viscii", "Vi\xAEt");
    dir.write("utf8", "Vi\u1EC7t");
    dir.write("more", "\u00E0");
    dir.write("cut", "a\xE1\xBB");
    const run_result r = run("tonedown", {"viscii", "cut", "utf8", "more"}, "", dir.path());
    EXPECT_EQ(r.err, "tonedown: \"utf8\" looks like UTF-8; tonedown -u reads UTF-8\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(run("tonedown", {"viscii", "cut"}, "", dir.path()).err, "");
    EXPECT_EQ(run("tonedown", {"-u", "utf8"}, "", dir.path()).err, "");
}

// toneup says it too, once per run, whatever the output is: it would write
// VISCII bytes among the UTF-8.
TEST(Utf8Hints, ToneupNamesTheFirstInputThatLooksLikeUtf8) {
    scratch_dir dir;
    dir.write("viqr", "Vie^.t");
    dir.write("utf8", "Vi\u1EC7t");
    dir.write("more", "\u00E0");
    const run_result r = run("toneup", {"viqr", "utf8", "more"}, "", dir.path());
    EXPECT_EQ(r.out, "Vi\xAEtVi\u1EC7t\u00E0");
    EXPECT_EQ(r.err, "toneup: \"utf8\" looks like UTF-8; toneup -u reads and writes UTF-8\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(run("toneup", {"viqr"}, "", dir.path()).err, "");
    EXPECT_EQ(run("toneup", {"-u", "utf8"}, "", dir.path()).err, "");
}

// Only the first chunk of an input is looked at: UTF-8 that starts after the
// first read (a whole chunk of ASCII here) gets no hint.
TEST(Utf8Hints, UnicodeAfterTheFirstReadGetsNoHint) {
    scratch_dir dir;
    const std::string ascii(128 * 1024, 'a');
    dir.write("late", ascii + "\u1EC7");
    dir.write("early", ascii.substr(3) + "\u1EC7");  // ends the first read
    for (const std::string program : {"tonedown", "toneup"}) {
        SCOPED_TRACE(program);
        EXPECT_EQ(run(program, {"late"}, "", dir.path()).err, "");
        EXPECT_NE(run(program, {"early"}, "", dir.path()).err, "");  // the same character three bytes sooner
    }
}

// toneup says once that -u writes UTF-8 when it writes to a terminal whose
// locale uses UTF-8; script(1) gives it one.
TEST(Utf8Hints, ToneupNamesUtf8OnAUtf8Terminal) {
    REQUIRE_ORACLE(run_shell("command -v script && locale -a | grep -qix 'C.utf-\\?8'").status == 0,
                   "script(1) or the C.UTF-8 locale is missing: no terminal to try");
    const std::string up = quoted(program_path("toneup"));
    auto on_terminal = [&](const std::string &locale, const std::string &options) {
        return run_shell("LC_ALL=" + locale + " script -qec " + quoted(up + options + " < /dev/null") + " /dev/null")
            .out;
    };
    const std::string hint = "writing VISCII to a UTF-8 terminal; " + program_path("toneup") + " -u writes UTF-8";
    EXPECT_NE(on_terminal("C.UTF-8", "").find(hint), std::string::npos);
    EXPECT_EQ(on_terminal("C", "").find("terminal"), std::string::npos);
    EXPECT_EQ(on_terminal("C.UTF-8", " -u").find("terminal"), std::string::npos);
}

}  // namespace
