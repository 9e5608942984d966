// The warning tonedown and toneup give about a composition character that
// makes VIQR text ambiguous: which characters draw it, its exact words, that
// the conversion still runs as asked, and that it never changes an error.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "oracle.h"
#include "process.h"

namespace {

const char *const PROGRAMS[] = {"tonedown", "toneup"};

const std::string LETTER = "a letter, so its escapes cannot be told from the letters of the text";
const std::string VISCII_LETTER = "a VISCII letter, so its escapes cannot be told from the letters of the text";
const std::string DIGIT = "a digit, so its escapes cannot be told from the digits of the text";
const std::string MARK = "a VIQR mark, so its escapes cannot be told from the marks of letters";
const std::string WHITE_SPACE = "white space, so its escapes cannot be told from the spacing of the text";
const std::string CONTROL = "a control character, so its escapes are invisible and easily lost";

std::string warning(const std::string &program, const std::string &shown, const std::string &what) {
    if (what.empty()) return "";
    return program + ": warning: composition character \"" + shown + "\" is " + what + "\n";
}

// The value given to -com, the byte it sets, how the warning shows it, and
// what the warning calls it (empty: no warning).
struct warning_case {
    std::string value;
    unsigned char byte;
    std::string shown;
    std::string what;
};

void PrintTo(const warning_case &c, std::ostream *os) { *os << "-com " << testing::PrintToString(c.value); }

const warning_case warning_cases[] = {
    // Letters, the mode letters among them, given as themselves or in octal.
    {"a", 'a', "a", LETTER},
    {"Z", 'Z', "Z", LETTER},
    {"V", 'V', "V", LETTER},
    {"m", 'm', "m", LETTER},
    {"\\114", 'L', "L", LETTER},
    // VISCII letters: the upper half, and the six in control positions.
    {"\\341", 0xE1, "\\341", VISCII_LETTER},
    {"\\200", 0x80, "\\200", VISCII_LETTER},
    {"\\377", 0xFF, "\\377", VISCII_LETTER},
    {"\\2", 0x02, "\\002", VISCII_LETTER},
    {"\\5", 0x05, "\\005", VISCII_LETTER},
    {"\\6", 0x06, "\\006", VISCII_LETTER},
    {"\\24", 0x14, "\\024", VISCII_LETTER},
    {"\\31", 0x19, "\\031", VISCII_LETTER},
    {"\\36", 0x1E, "\\036", VISCII_LETTER},
    {"0", '0', "0", DIGIT},
    {"9", '9', "9", DIGIT},
    // Every mark.
    {"(", '(', "(", MARK},
    {"^", '^', "^", MARK},
    {"+", '+', "+", MARK},
    {"'", '\'', "'", MARK},
    {"`", '`', "`", MARK},
    {"?", '?', "?", MARK},
    {"~", '~', "~", MARK},
    {".", '.', ".", MARK},
    // Every kind of white space.
    {" ", ' ', "\\040", WHITE_SPACE},
    {"\t", '\t', "\\011", WHITE_SPACE},
    {"\\12", '\n', "\\012", WHITE_SPACE},
    {"\\13", '\v', "\\013", WHITE_SPACE},
    {"\\14", '\f', "\\014", WHITE_SPACE},
    {"\\15", '\r', "\\015", WHITE_SPACE},
    // Control characters: an empty value gives 0x00.
    {"", 0x00, "\\000", CONTROL},
    {"\\1", 0x01, "\\001", CONTROL},
    {"\\10", 0x08, "\\010", CONTROL},  // backspace, the overstrike character
    {"\\37", 0x1F, "\\037", CONTROL},
    {"\\177", 0x7F, "\\177", CONTROL},
    // No warning: the backslash, escape, and other punctuation.
    {"\\134", '\\', "", ""},
    {"\\33", 0x1B, "", ""},
    {"#", '#', "", ""},
    {"-", '-', "", ""},
    {"/", '/', "", ""},
    {"@", '@', "", ""},
    {")", ')', "", ""},
    {"|", '|', "", ""},
    {"\"", '"', "", ""},
};

class CompositionWarning : public testing::TestWithParam<warning_case> {};

TEST_P(CompositionWarning, IsGivenOnceByBothConverters) {
    const warning_case &c = GetParam();
    for (const std::string program : PROGRAMS) {
        SCOPED_TRACE(program);
        const run_result r = run_program(program_path(program), {"-com", c.value}, "", program);
        EXPECT_EQ(r.out, program == "tonedown" ? std::string(1, char(c.byte)) + "V" : "");
        EXPECT_EQ(r.err, warning(program, c.shown, c.what));
        EXPECT_EQ(r.status, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Characters, CompositionWarning, testing::ValuesIn(warning_cases));

// The conversion runs as asked after the warning; a usage error, --help and
// --version come first and draw none; the pre-parser's own message comes
// before it.
const cli_case tonedown_cases[] = {
    {{"-com", "7"}, "Vi\xAEt 2017", "7VVie^.t 20177", warning("tonedown", "7", DIGIT), 0},
    {{"-m", "-com", "a"}, "\xE1 a", "aMaa' aa", warning("tonedown", "a", LETTER), 0},
    {{"-com", "a", "-bs"}, "", "aV", "usage: -bs [char|\\octal]\n" + warning("tonedown", "a", LETTER), 0},
    {{"-com", ".", "-x"}, "", "", "tonedown: unknown option \"-x\"\n", 1},
    {{"-com", ".", "--version"}, "", "tonedown (viqr-tools) " VIQR_PROJECT_VERSION
                                     ", free software under the MIT licence\n", "", 0},
};
const cli_case toneup_cases[] = {
    {{"-com", "7"}, "20177 7Ma'", "2017 a'", warning("toneup", "7", DIGIT), 0},
    {{"-com", "a"}, "Nam ha'", "N h'", warning("toneup", "a", LETTER), 0},  // "am" is a switch to English
    {{"-com", "a", "-bs"}, "", "", "usage: -bs [char|\\octal]\n" + warning("toneup", "a", LETTER), 0},
    {{"-com", ".", "-x"}, "", "", "toneup: unknown option \"-x\"\n", 1},
    {{"-com", ".", "--version"}, "", "toneup (viqr-tools) " VIQR_PROJECT_VERSION
                                     ", free software under the MIT licence\n", "", 0},
};

// Only the first line of a usage error is compared: the usage text follows.
void expect_outcome_up_to_usage(run_result r, const cli_case &c) {
    if (c.status == 1) r.err = r.err.substr(0, r.err.find('\n') + 1);
    expect_outcome(r, c);
}

TEST(CompositionWarningRun, ConvertsAsAskedAndLeavesErrorsAlone) {
    for (const cli_case &c : tonedown_cases) {
        SCOPED_TRACE(testing::PrintToString(c));
        expect_outcome_up_to_usage(run_program(program_path("tonedown"), c.args, c.input, "tonedown"), c);
    }
    for (const cli_case &c : toneup_cases) {
        SCOPED_TRACE(testing::PrintToString(c));
        expect_outcome_up_to_usage(run_program(program_path("toneup"), c.args, c.input, "toneup"), c);
    }
}

// The class of each byte's VISCII character, worked out independently: the
// system's iconv decodes each byte as VISCII and Python's unicodedata says
// whether the character is a letter, a digit, white space or a control
// character.  One line a byte, a key of the map in the test below.
run_result classes_by_the_oracles() {
    const char *classify = R"(python3 -c '
import sys, unicodedata
data = sys.stdin.buffer.read()
for i in range(256):
    ch = chr(int.from_bytes(data[4 * i:4 * i + 4], "little"))
    category = unicodedata.category(ch)
    if category.startswith("L"):
        print("letter" if ord(ch) < 128 else "viscii_letter")
    elif category == "Nd":
        print("digit")
    elif ch in "(^+\x27`?~.":
        print("mark")
    elif ch in " \t\n\v\f\r":
        print("white_space")
    elif category == "Cc" and ch != "\x1b":
        print("control")
    else:
        print("none")
')";
    return run_shell(std::string("iconv -f VISCII -t UTF-32LE | ") + classify, all_bytes());
}

// `b` as -com takes it in octal, and as the warning shows it.
std::string octal_of(int b) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "\\%o", b);
    return octal;
}

std::string shown_of(int b) {
    char shown[8];
    if (b > ' ' && b < 0x7F)
        std::snprintf(shown, sizeof shown, "%c", b);
    else
        std::snprintf(shown, sizeof shown, "\\%03o", b);
    return shown;
}

// The warning, or nothing, each program gives for `b`, with and without -u.
// In UTF-8 a VISCII letter beyond ASCII is part of a character, and one of
// the six controls is a control: -u cannot read it back.
void expect_warnings_for_byte(int b, const std::string &cls, const std::string &what) {
    const std::string octal = octal_of(b), shown = shown_of(b);
    for (const std::string program : PROGRAMS) {
        const run_result r = run_program(program_path(program), {"-com", octal}, "", program);
        EXPECT_EQ(r.err, warning(program, shown, what)) << "byte " << b;
        EXPECT_EQ(r.status, 0) << "byte " << b;
        const run_result u = run_program(program_path(program), {"-com", octal, "-u"}, "RYQ", program);
        if (cls == "viscii_letter") {
            EXPECT_EQ(u.err, program + ": composition character \"" + shown +
                                 "\" cannot be used with -u: it is a VISCII letter, not ASCII text in UTF-8\n")
                << "byte " << b;
            EXPECT_EQ(u.out, "") << "byte " << b;
            EXPECT_EQ(u.status, 1) << "byte " << b;
        } else {
            EXPECT_EQ(u.err, warning(program, shown, what)) << "byte " << b;
            EXPECT_EQ(u.status, 0) << "byte " << b;
        }
    }
}

// Every byte as the composition character, against the oracles' classes.
TEST(CompositionWarningRun, EveryByteIsClassedAsUnicodeClassesItsVisciiCharacter) {
    REQUIRE_ORACLE(have_iconv_viscii(), "this system's iconv has no VISCII charset");
    REQUIRE_ORACLE(have_python_unicodedata(), "python3 with unicodedata is needed to class the characters");
    const run_result oracle = classes_by_the_oracles();
    ASSERT_EQ(oracle.status, 0) << oracle.err;
    const std::map<std::string, std::string> what = {
        {"letter", LETTER}, {"viscii_letter", VISCII_LETTER}, {"digit", DIGIT}, {"mark", MARK},
        {"white_space", WHITE_SPACE}, {"control", CONTROL}, {"none", ""},
    };
    std::istringstream classes(oracle.out);
    std::map<std::string, int> seen;
    for (int b = 0; b < 256; ++b) {
        std::string cls;
        ASSERT_TRUE(std::getline(classes, cls)) << "the oracle gave no class for byte " << b;
        ++seen[cls];
        expect_warnings_for_byte(b, cls, what.at(cls));
    }
    // The oracle itself: every class met, and the VISCII letters all found.
    EXPECT_EQ(seen.size(), what.size());
    EXPECT_EQ(seen["viscii_letter"], 134);
}

}  // namespace
