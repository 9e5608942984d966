// The option pre-parser: what is left of the vector, the two characters, and
// the message for a missing value.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "seeded_random.h"
#include "viqr.h"

namespace {

struct options_case {
    std::vector<std::string> args;       // after the invocation name
    std::vector<std::string> remaining;  // after the invocation name
    int composition_char;
    int overstrike_char;
    std::string message;
};

constexpr int BACKSLASH = '\\', BACKSPACE = 0x08;
const std::string MISSING_COM = "usage: -com [char|\\octal]\n";
const std::string MISSING_BS = "usage: -bs [char|\\octal]\n";

const options_case cases[] = {
    {{}, {}, BACKSLASH, BACKSPACE, ""},
    {{"-v", "file"}, {"-v", "file"}, BACKSLASH, BACKSPACE, ""},
    {{"-com"}, {}, BACKSLASH, BACKSPACE, MISSING_COM},
    {{"-bs"}, {}, BACKSLASH, BACKSPACE, MISSING_BS},
    {{"a", "b", "-bs"}, {"a", "b"}, BACKSLASH, BACKSPACE, MISSING_BS},
    {{"-com", "-v"}, {}, '-', BACKSPACE, ""},
    {{"-bs", "-com"}, {}, BACKSLASH, '-', ""},
    {{"-bs", "-com", "x"}, {"x"}, BACKSLASH, '-', ""},
    {{"a", "-com", "#", "b"}, {"a", "b"}, '#', BACKSPACE, ""},
    {{"-com", "#", "-com", "%"}, {}, '%', BACKSPACE, ""},
    {{"-m", "-com", "#", "-bs", "*", "f"}, {"-m", "f"}, '#', '*', ""},
    {{"-com", "\\101"}, {}, 'A', BACKSPACE, ""},
    {{"-bs", "\\33"}, {}, BACKSLASH, 27, ""},
    {{"-com", "\\400"}, {}, 0, BACKSPACE, ""},
    {{"-com", "\\777"}, {}, 255, BACKSPACE, ""},
    {{"-com", "\\12345670123"}, {}, 'S', BACKSPACE, ""},  // low eight bits of a long number
    {{"-com", "\\101xyz"}, {}, 'A', BACKSPACE, ""},
    // White space before the digits: every character isspace() takes.
    {{"-com", "\\ 43"}, {}, '#', BACKSPACE, ""},
    {{"-com", "\\\t\n\v\f\r 43"}, {}, '#', BACKSPACE, ""},
    {{"-bs", "\\\t43"}, {}, BACKSLASH, '#', ""},
    {{"-bs", "\\\r43"}, {}, BACKSLASH, '#', ""},
    // A sign, as an unsigned conversion takes it.
    {{"-com", "\\-1"}, {}, 255, BACKSPACE, ""},
    {{"-com", "\\+43"}, {}, '#', BACKSPACE, ""},
    {{"-bs", "\\ +43"}, {}, BACKSLASH, '#', ""},
    {{"-com", "\\+-1"}, {}, BACKSLASH, BACKSPACE, ""},
    {{"-com", "\\+ 1"}, {}, BACKSLASH, BACKSPACE, ""},
    {{"-com", "\\"}, {}, BACKSLASH, BACKSPACE, ""},
    {{"-com", "\\9"}, {}, BACKSLASH, BACKSPACE, ""},
    {{"-com", "\\8"}, {}, BACKSLASH, BACKSPACE, ""},
    {{"-bs", "\\q"}, {}, BACKSLASH, BACKSPACE, ""},
    {{"-com", "abc"}, {}, 'a', BACKSPACE, ""},
    {{"-com", ""}, {}, 0, BACKSPACE, ""},
    {{"-comx", "-COM", "--com", "-b", "-b s"}, {"-comx", "-COM", "--com", "-b", "-b s"}, BACKSLASH, BACKSPACE, ""},
    {{"f", "-com"}, {"f"}, BACKSLASH, BACKSPACE, MISSING_COM},
};

// Shows a failing case as its arguments rather than raw memory.
void PrintTo(const options_case &c, std::ostream *os) { *os << "args " << testing::PrintToString(c.args); }

class OptionsTest : public testing::TestWithParam<options_case> {};

TEST_P(OptionsTest, TakesOutTheOptionsAndTheirValues) {
    const options_case &c = GetParam();
    std::vector<std::string> storage{"prog"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<char *> argv;
    for (std::string &s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(storage.size());

    // The characters sit between guards: a value must change one byte only.
    struct {
        unsigned char before = 0xAA, composition = BACKSLASH, between = 0xBB, overstrike = BACKSPACE, after = 0xCC;
    } chars;
    testing::internal::CaptureStderr();
    viqr_parse_options(argc, argv.data(), chars.composition, chars.overstrike);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);

    ASSERT_EQ(argc, static_cast<int>(c.remaining.size()) + 1);
    EXPECT_STREQ(argv[0], "prog");
    for (std::size_t i = 0; i < c.remaining.size(); ++i) EXPECT_STREQ(argv[i + 1], c.remaining[i].c_str());
    EXPECT_EQ(argv[argc], nullptr);
    EXPECT_EQ(chars.composition, c.composition_char);
    EXPECT_EQ(chars.overstrike, c.overstrike_char);
    EXPECT_EQ(chars.before, 0xAA);
    EXPECT_EQ(chars.between, 0xBB);
    EXPECT_EQ(chars.after, 0xCC);
}

INSTANTIATE_TEST_SUITE_P(Vectors, OptionsTest, testing::ValuesIn(cases));

// The C library's sscanf with the pattern "\%o" judges every value: random
// mixes of blanks, signs, octal and other digits, letters and backslashes,
// never long enough to overflow the conversion.
TEST(OptionsTest, OctalValuesAreReadAsSscanfReadsThem) {
    const std::string alphabet = " \t\n\v\f\r+-+-0123456701234567890x\\";
    std::mt19937 random = seeded_random(4343);
    for (int round = 0; round < 20000; ++round) {
        std::string value = "\\";
        for (unsigned n = below(random, 9); n > 0; --n) value += alphabet[below(random, unsigned(alphabet.size()))];
        unsigned char expected = '@';
        unsigned parsed = 0;
        if (std::sscanf(value.c_str(), "\\%o", &parsed) == 1) expected = static_cast<unsigned char>(parsed);

        std::string name = "prog", option = "-com";
        char *argv[] = {name.data(), option.data(), value.data(), nullptr};
        int argc = 3;
        unsigned char composition = '@', overstrike = BACKSPACE;
        viqr_parse_options(argc, argv, composition, overstrike);
        ASSERT_EQ(composition, expected) << testing::PrintToString(value);
        ASSERT_EQ(argc, 1);
    }
}

TEST(OptionsTest, ACountOfOneLeavesEverythingAlone) {
    char name[] = "prog";
    char *argv[] = {name, nullptr};
    int argc = 1;
    unsigned char com = 'x', bs = 'y';
    viqr_parse_options(argc, argv, com, bs);
    EXPECT_EQ(argc, 1);
    EXPECT_EQ(argv[0], name);
    EXPECT_EQ(com, 'x');
    EXPECT_EQ(bs, 'y');
}

}  // namespace
