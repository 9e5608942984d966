// toneconv as a user runs it: options anywhere before "--", the list of
// encodings, the loss report's exact messages and the exit status with and
// without -c, several inputs, -o, and the messages for what will not do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "iconv_oracle.h"
#include "oracle.h"
#include "process.h"

namespace {

const std::string USAGE =
    "Usage: toneconv [-f FROM] [-t TO] [-o OUTPUT] [-c] [-m] [input file(s)]\n"
    "       toneconv --detect [input file(s)]\n"
    "       toneconv -l\n"
    "              -f FROM: the encoding of the input, default auto (each input detected)\n"
    "              -t TO: the encoding of the output, default utf-8\n"
    "              -o OUTPUT: writes to the file OUTPUT instead of standard output\n"
    "              -c: accepts substitutes for what the output cannot hold (exit status 0)\n"
    "              -m: writes VIQR in English mode\n"
    "              -l: lists the encodings\n"
    "              --detect: names the encoding of each input\n"
    "\n"
    "Purpose: Converts Vietnamese text between encodings\n"
    "Version: viqr-tools " VIQR_PROJECT_VERSION "\n"
    "Author:  the viqr-tools maintainers <maintainers@viqr-tools.org>\n"
    "         viqr-tools, free software under the MIT licence\n";

run_result toneconv(const std::vector<std::string> &args, const std::string &input = "",
                    const std::string &directory = "") {
    return run_program(program_path("toneconv"), args, input, "toneconv", directory);
}

const std::string VIET = "Vi\xE1\xBB\x87t";          // Việt
const std::string CAPITALS = "B\xC3\x81O C\xC3\x81O";  // BÁO CÁO

std::string two_capitals_lost(const std::string &name) {
    return "toneconv: \"" + name +
           "\": 2 characters cannot be written in tcvn3 (first \"\xC3\x81\" at line 1, column 2); written as "
           "lowercase\n";
}

// The folder every row runs in: "report.txt" loses two capitals to TCVN3 on
// its second line, "clean.txt" nothing, "-c" is a file whose name looks like
// an option.
void make_fixture(const scratch_dir &dir) {
    dir.write("report.txt", "ok\nNg\xC3\xA0y 1 \xE1\xBB\x86 \xE1\xBA\xA0\n");
    dir.write("clean.txt", VIET + "\n");
    dir.write("-c", "x");
}

const cli_case cases[] = {
    // Defaults: UTF-8 in, UTF-8 out, composed.
    {{"-f", "utf-8"}, "Vie\xCC\xA3\xCC\x82t", VIET, "", 0},
    {{"-f", "TCVN3"}, "Vi\xD6t", VIET, "", 0},
    {{"-ftcvn3", "-tvni"}, "Vi\xD6t", "Vie\xE4t", "", 0},
    {{"-f", "utf-8", "-t", "viqr", "-m"}, VIET, "\\MVi\\e^.t", "", 0},
    {{"-f", "viqr-typed"}, "Vie^.t Nam", VIET + " Nam", "", 0},
    // Losses: the report, status 1; -c accepts them, the report stays.
    {{"-f", "utf-8", "-t", "tcvn3"}, CAPITALS, "B\xB8O C\xB8O", two_capitals_lost("standard input"), 1},
    {{"-f", "utf-8", "-t", "tcvn3", "-c"}, CAPITALS, "B\xB8O C\xB8O", two_capitals_lost("standard input"), 0},
    {{"-t", "tcvn3", "report.txt"}, "", "ok\nNg\xB5y 1 \xD6 \xB9\n",
     "toneconv: \"report.txt\": 2 characters cannot be written in tcvn3 (first \"\xE1\xBB\x86\" at line 2, column 8); "
     "written as lowercase\n", 1},
    {{"-f", "utf-8", "-t", "viscii"}, "\xE2\x82\xAC\xCC\x81", "??",
     "toneconv: \"standard input\": 2 characters cannot be written in viscii (first \"\xE2\x82\xAC\" at line 1, "
     "column 1); written as \"?\"\n", 1},
    {{"-f", "utf-8", "-t", "tcvn3"}, "\xC3\x81\xC2\xA9", "\xB8?",
     "toneconv: \"standard input\": 2 characters cannot be written in tcvn3 (first \"\xC3\x81\" at line 1, "
     "column 1); written as lowercase or \"?\"\n", 1},
    // VN1 has a capital where ASCII has 0x01; a character that does not print
    // is named by its code point.
    {{"-f", "utf-8", "-t", "vn1"}, "a\x01\xCC\x81", "a?\xB3",
     "toneconv: \"standard input\": 1 character cannot be written in vn1 (first U+0001 at line 1, column 2); "
     "written as \"?\"\n", 1},
    {{"-f", "vps", "-t", "ncr"}, "ab\x91", "ab&#65533;",
     "toneconv: \"standard input\": 1 byte is not defined in vps (first 0x91 at byte offset 2); written as "
     "U+FFFD\n", 1},
    {{"-f", "cp1258", "-t", "tcvn3", "-c"}, "\x8A\x8E", "??",
     "toneconv: \"standard input\": 2 bytes are not defined in cp1258 (first 0x8A at byte offset 0); written as "
     "\"?\"\n", 0},
    {{"-f", "utf-8"}, "x\xC3", "x\xEF\xBF\xBD",
     "toneconv: \"standard input\": 1 byte is not valid UTF-8 (first 0xC3 at byte offset 1); written as U+FFFD\n", 1},
    // Both kinds in one input: two lines.
    {{"-f", "utf-8", "-t", "tcvn3"}, "\xFF\xC3\x81", "?\xB8",
     "toneconv: \"standard input\": 1 byte is not valid UTF-8 (first 0xFF at byte offset 0); written as \"?\"\n"
     "toneconv: \"standard input\": 1 character cannot be written in tcvn3 (first \"\xC3\x81\" at line 1, column "
     "2); written as lowercase\n", 1},
    // Each input has its own report; options stand anywhere before "--".
    {{"report.txt", "-f", "utf-8", "-t", "tcvn3", "clean.txt", "-", "--", "-c"}, CAPITALS,
     "ok\nNg\xB5y 1 \xD6 \xB9\nVi\xD6t\nB\xB8O C\xB8Ox",
     "toneconv: \"report.txt\": 2 characters cannot be written in tcvn3 (first \"\xE1\xBB\x86\" at line 2, column 8); "
     "written as lowercase\n" + two_capitals_lost("standard input"), 1},
    // What will not do.
    {{"-f", "latin1"}, "", "", "toneconv: unknown encoding \"latin1\" (toneconv -l lists them)\n", 1},
    {{"-t", "viqr-typed"}, "", "", "toneconv: viqr-typed can only be read\n", 1},
    {{"-x"}, "", "", "toneconv: unknown option \"-x\"\n" + USAGE, 1},
    {{"-cm", "x"}, "", "", "toneconv: unknown option \"-cm\"\n" + USAGE, 1},
    {{"-t"}, "", "", "toneconv: option \"-t\" needs a value\n" + USAGE, 1},
    {{"missing.txt"}, "", "",
     "toneconv: can't open file \"missing.txt\": " + std::string(std::strerror(ENOENT)) + "\n", 1},
    {{"--help", "-x"}, "", USAGE, "", 0},
    {{"--version"}, "", "toneconv (viqr-tools) " VIQR_PROJECT_VERSION ", free software under the MIT licence\n", "", 0},
};

class ToneconvCommandLine : public testing::TestWithParam<cli_case> {};

TEST_P(ToneconvCommandLine, WritesExactlyThis) {
    scratch_dir dir;
    make_fixture(dir);
    const cli_case &c = GetParam();
    expect_outcome(toneconv(c.args, c.input, dir.path()), c);
}

INSTANTIATE_TEST_SUITE_P(Rows, ToneconvCommandLine, testing::ValuesIn(cases));

// The list: one line per encoding, its name first, every name the registry
// knows, and every one of them usable with -f (and -t unless read only).
TEST(ToneconvList, NamesEveryEncodingUsableWithFAndT) {
    const run_result list = toneconv({"-l"});
    ASSERT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "");
    std::vector<std::string> names;
    for (std::size_t at = 0; at < list.out.size();) {
        const std::size_t end = list.out.find('\n', at);
        names.push_back(list.out.substr(at, list.out.find(' ', at) - at));
        at = end + 1;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"utf-8", "utf-8-nfd", "ncr", "viqr", "viqr-typed", "viscii",
                                               "viscii-1.0", "tcvn3", "vn1", "vni", "vps", "cp1258",
                                               "utf-8-as-cp1252", "tcvn3-as-cp1252", "vni-as-cp1252"}));
    const std::vector<std::string> read_only = {"viqr-typed", "utf-8-as-cp1252", "tcvn3-as-cp1252", "vni-as-cp1252"};
    for (const std::string &name : names) {
        EXPECT_EQ(toneconv({"-f", name}, "a").status, 0) << name;
        const bool writes = std::find(read_only.begin(), read_only.end(), name) == read_only.end();
        EXPECT_EQ(toneconv({"-f", "utf-8", "-t", name}, "a").status, writes ? 0 : 1) << name;
    }
}

TEST(ToneconvOutput, WritesTheFileNamed) {
    scratch_dir dir;
    make_fixture(dir);
    const run_result r = toneconv({"-f", "utf-8", "-t", "vni", "-o", "out.txt", "clean.txt"}, "", dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.read("out.txt"), "Vie\xE4t\n");
}

// An output that is also an input would be emptied before it is read.
TEST(ToneconvOutput, RefusesToWriteOverAnInput) {
    scratch_dir dir;
    make_fixture(dir);
    const run_result r = toneconv({"-o", "clean.txt", "clean.txt"}, "", dir.path());
    EXPECT_EQ(r.err, "toneconv: \"clean.txt\" is both an input and the output\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("clean.txt"), VIET + "\n");
}

// A letter cut by the end of one file is finished by the next, as one text.
TEST(ToneconvInputs, ALetterGoesOnInTheNextFile) {
    scratch_dir dir;
    dir.write("a", "Vie");
    dir.write("b", "\xE4t");
    const run_result r = toneconv({"-f", "vni", "a", "b"}, "", dir.path());
    EXPECT_EQ(r.out, VIET);
    EXPECT_EQ(r.status, 0);
}

// "Cộng hòa xã hội chủ nghĩa Việt Nam" in TCVN3, in VNI and in UTF-8.
const std::string TCVN3_SENTENCE = "C\xE9ng h\xDF" "a x\xB7 h\xE9i ch\xF1 ngh\xDC" "a Vi\xD6t Nam\n";
const std::string VNI_SENTENCE = "Co\xE4ng ho\xF8" "a xa\xF5 ho\xE4i chu\xFB ngh\xF3" "a Vie\xE4t Nam\n";
const std::string UTF8_SENTENCE = "C\xE1\xBB\x99ng h\xC3\xB2" "a x\xC3\xA3 h\xE1\xBB\x99i ch\xE1\xBB\xA7 ngh\xC4\xA9"
                                  "a Vi\xE1\xBB\x87t Nam\n";

// A source encoding that plainly does not fit the start of an input draws
// one hint for that input, naming what detection takes it for; the output
// and the exit status are what the conversion asked for gives.
TEST(ToneconvHint, NamesWhatAnInputLooksLikeWhenTheEncodingNamedPlainlyDoesNotFit) {
    scratch_dir dir;
    dir.write("old.txt", TCVN3_SENTENCE);
    dir.write("new.txt", UTF8_SENTENCE);
    const run_result r = toneconv({"-f", "utf-8", "old.txt", "new.txt"}, "", dir.path());
    std::string replaced;
    for (unsigned char b : TCVN3_SENTENCE) replaced += b < 0x80 ? std::string(1, static_cast<char>(b)) : "\xEF\xBF\xBD";
    EXPECT_EQ(r.out, replaced + UTF8_SENTENCE);
    EXPECT_EQ(r.err, "toneconv: \"old.txt\" looks like tcvn3, not utf-8; try -f tcvn3 or -f auto\n"
                     "toneconv: \"old.txt\": 7 bytes are not valid UTF-8 (first 0xE9 at byte offset 1); written as "
                     "U+FFFD\n");
    EXPECT_EQ(r.status, 1);

    const run_result vni = toneconv({"-f", "viqr"}, VNI_SENTENCE);
    EXPECT_EQ(vni.err.substr(0, vni.err.find('\n') + 1),
              "toneconv: \"standard input\" looks like vni, not viqr; try -f vni or -f auto\n");

    REQUIRE_ORACLE(have_iconv_viscii(), "iconv lacks VISCII");
    const run_result viscii = toneconv({"-f", "viscii"}, UTF8_SENTENCE);
    EXPECT_EQ(viscii.out, iconv_convert("VISCII", "UTF-8", UTF8_SENTENCE).value_or("(iconv failed)"));
    EXPECT_EQ(viscii.err, "toneconv: \"standard input\" looks like utf-8, not viscii; try -f utf-8 or -f auto\n");
    EXPECT_EQ(viscii.status, 0);
}

// No hint where the start fits the encoding named, or where only detection
// could tell (VNI and TCVN3 are both tables of bytes).  Too little to tell
// gives none either: the row "x\xC3" of the table above.
TEST(ToneconvHint, StaysQuietWhereTheStartDoesNotPlainlyContradict) {
    const cli_case quiet[] = {
        {{"-f", "tcvn3"}, TCVN3_SENTENCE, UTF8_SENTENCE, "", 0},
        {{"-f", "utf-8"}, UTF8_SENTENCE, UTF8_SENTENCE, "", 0},
        {{"-f", "viqr"}, "Co^.ng ho`a\n", "C\xE1\xBB\x99ng h\xC3\xB2" "a\n", "", 0},
    };
    for (const cli_case &c : quiet) expect_outcome(toneconv(c.args, c.input), c);
    EXPECT_EQ(toneconv({"-f", "tcvn3"}, VNI_SENTENCE).err, "");
}

}  // namespace
