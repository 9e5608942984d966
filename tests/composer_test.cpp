// The letter composer: its steps and flags, its tables against the character
// set as iconv knows it, and moving marks to other characters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "composer.h"
#include "implementations.h"
#include "iconv_oracle.h"
#include "oracle.h"

namespace {

using namespace viqr::detail;

struct step {
    unsigned char result;
    int pending;
    int combined;
    bool operator==(const step &) const = default;
};

void PrintTo(const step &s, std::ostream *os) {
    char text[32];
    std::snprintf(text, sizeof text, "%02X (%d, %d)", s.result, s.pending, s.combined);
    *os << text;
}

std::vector<step> compose_all(composer &c, const std::string &bytes) {
    std::vector<step> steps;
    for (unsigned char ch : bytes) {
        step s{};
        s.result = compose_char(c, ch, s.pending, s.combined);
        steps.push_back(s);
    }
    return steps;
}

std::vector<step> compose_fresh(const std::string &bytes) {
    composer c{};
    composer_reset(c);
    return compose_all(c, bytes);
}

struct compose_case {
    std::string input;
    std::vector<step> steps;
};

void PrintTo(const compose_case &c, std::ostream *os) { *os << testing::PrintToString(c.input); }

const compose_case compose_cases[] = {
    {"DD", {{0x44, 1, 0}, {0xD0, 0, 1}}},
    {"dd", {{0x64, 1, 0}, {0xF0, 0, 1}}},
    {"Dd", {{0x44, 1, 0}, {0xD0, 0, 1}}},  // the first letter decides the case
    {"dD", {{0x64, 1, 0}, {0xF0, 0, 1}}},
    {"DDD", {{0x44, 1, 0}, {0xD0, 0, 1}, {0x44, 1, 0}}},
    {"D'", {{0x44, 1, 0}, {'\'', 0, 0}}},
    {"DD'", {{0x44, 1, 0}, {0xD0, 0, 1}, {'\'', 0, 0}}},
    {"a'", {{0x61, 1, 0}, {0xE1, 0, 1}}},
    {"a''", {{0x61, 1, 0}, {0xE1, 0, 1}, {'\'', 0, 0}}},
    {"a^'", {{0x61, 1, 0}, {0xE2, 1, 1}, {0xA4, 0, 1}}},
    {"a'^", {{0x61, 1, 0}, {0xE1, 0, 1}, {'^', 0, 0}}},
    {"a(^", {{0x61, 1, 0}, {0xE5, 1, 1}, {'^', 0, 0}}},
    {"a(a", {{0x61, 1, 0}, {0xE5, 1, 1}, {'a', 1, 0}}},  // a letter after a shape mark starts afresh
    {"i^", {{0x69, 1, 0}, {'^', 0, 0}}},
    {"o(", {{0x6F, 1, 0}, {'(', 0, 0}}},
    {"E(", {{0x45, 1, 0}, {'(', 0, 0}}},
    {"U^", {{0x55, 1, 0}, {'^', 0, 0}}},
    {"A+", {{0x41, 1, 0}, {'+', 0, 0}}},
    {"'", {{'\'', 0, 0}}},
    {"(^+`?~.", {{'(', 0, 0}, {'^', 0, 0}, {'+', 0, 0}, {'`', 0, 0}, {'?', 0, 0}, {'~', 0, 0}, {'.', 0, 0}}},
    {"ae", {{0x61, 1, 0}, {0x65, 1, 0}}},
    {"ab", {{0x61, 1, 0}, {0x62, 0, 0}}},
    {"u+o+", {{0x75, 1, 0}, {0xDF, 1, 1}, {0x6F, 1, 0}, {0xBD, 1, 1}}},
    {"A(?", {{0x41, 1, 0}, {0xC5, 1, 1}, {0x02, 0, 1}}},
    {"Y?", {{0x59, 1, 0}, {0x14, 0, 1}}},
    {"e^.", {{0x65, 1, 0}, {0xEA, 1, 1}, {0xAE, 0, 1}}},
    {"o+'+'", {{0x6F, 1, 0}, {0xBD, 1, 1}, {0xBE, 0, 1}, {'+', 0, 0}, {'\'', 0, 0}}},  // a tone finishes it
    {"o+~", {{0x6F, 1, 0}, {0xBD, 1, 1}, {0xDE, 0, 1}}},
    {"\xC2'", {{0xC2, 1, 0}, {0x84, 0, 1}}},  // a VISCII shaped vowel takes a tone
    {"\xC2^", {{0xC2, 1, 0}, {'^', 0, 0}}},   // but no second shape mark
    {"\xD0'", {{0xD0, 0, 0}, {'\'', 0, 0}}},  // a VISCII Đ starts no letter
    {"\xF0" "d", {{0xF0, 0, 0}, {'d', 1, 0}}},
    {"\xE1'", {{0xE1, 0, 0}, {'\'', 0, 0}}},  // nor does a toned letter
    {std::string("a\0'", 3), {{0x61, 1, 0}, {0x00, 0, 0}, {'\'', 0, 0}}},
    {std::string("a^\0'", 4), {{0x61, 1, 0}, {0xE2, 1, 1}, {0x00, 0, 0}, {'\'', 0, 0}}},
};

class ComposerSteps : public testing::TestWithParam<compose_case> {};

TEST_P(ComposerSteps, GiveTheseBytesAndFlags) { EXPECT_EQ(compose_fresh(GetParam().input), GetParam().steps); }

INSTANTIATE_TEST_SUITE_P(EdgeCases, ComposerSteps, testing::ValuesIn(compose_cases));

// iconv's VISCII as the oracle: every spelling composes to the byte that
// iconv gives for the letter written in UTF-8.
struct letter_line {
    const char *spelling;  // base letter and shape mark, or a doubled D
    const char *letters;   // UTF-8: the letter with no tone, then with ' ` ? ~ .
};

const letter_line letter_lines[] = {
    {"A", "A Á À Ả Ã Ạ"},   {"A(", "Ă Ắ Ằ Ẳ Ẵ Ặ"}, {"A^", "Â Ấ Ầ Ẩ Ẫ Ậ"}, {"E", "E É È Ẻ Ẽ Ẹ"},
    {"E^", "Ê Ế Ề Ể Ễ Ệ"}, {"I", "I Í Ì Ỉ Ĩ Ị"},   {"O", "O Ó Ò Ỏ Õ Ọ"},   {"O^", "Ô Ố Ồ Ổ Ỗ Ộ"},
    {"O+", "Ơ Ớ Ờ Ở Ỡ Ợ"}, {"U", "U Ú Ù Ủ Ũ Ụ"},   {"U+", "Ư Ứ Ừ Ử Ữ Ự"}, {"Y", "Y Ý Ỳ Ỷ Ỹ Ỵ"},
    {"a", "a á à ả ã ạ"},   {"a(", "ă ắ ằ ẳ ẵ ặ"}, {"a^", "â ấ ầ ẩ ẫ ậ"}, {"e", "e é è ẻ ẽ ẹ"},
    {"e^", "ê ế ề ể ễ ệ"}, {"i", "i í ì ỉ ĩ ị"},   {"o", "o ó ò ỏ õ ọ"},   {"o^", "ô ố ồ ổ ỗ ộ"},
    {"o+", "ơ ớ ờ ở ỡ ợ"}, {"u", "u ú ù ủ ũ ụ"},   {"u+", "ư ứ ừ ử ữ ự"}, {"y", "y ý ỳ ỷ ỹ ỵ"},
    {"DD", "Đ"},            {"dd", "đ"},
};

std::vector<std::string> split_letters(const char *letters) {
    std::vector<std::string> words;
    std::string word;
    for (const char *p = letters;; ++p) {
        if (*p == ' ' || *p == '\0') {
            words.push_back(word);
            word.clear();
            if (*p == '\0') break;
        } else {
            word += *p;
        }
    }
    return words;
}

TEST(ComposerTables, EverySpellingComposesToItsVisciiByte) {
    REQUIRE_ORACLE(have_iconv_viscii(), "this system's iconv has no VISCII charset");
    const char tone_chars[] = {'\0', '\'', '`', '?', '~', '.'};
    int checked = 0;
    for (const letter_line &line : letter_lines) {
        const std::vector<std::string> letters = split_letters(line.letters);
        for (std::size_t tone = 0; tone < letters.size(); ++tone) {
            std::string spelling = line.spelling;
            if (tone != 0) spelling += tone_chars[tone];
            SCOPED_TRACE(spelling);
            const std::string expected = iconv_convert("UTF-8", "VISCII", letters[tone]).value_or("");
            ASSERT_EQ(expected.size(), 1u) << "iconv has no VISCII byte for " << letters[tone];
            const std::vector<step> steps = compose_fresh(spelling);
            EXPECT_EQ(steps.back().result, static_cast<unsigned char>(expected[0]));
            // A vowel without a tone may still take one; Đ and đ take nothing.
            const bool vowel_without_tone = tone == 0 && letters.size() > 1;
            EXPECT_EQ(steps.back().pending, vowel_without_tone ? 1 : 0);
            EXPECT_EQ(steps.back().combined, spelling.size() > 1 ? 1 : 0);
            ++checked;
        }
    }
    EXPECT_EQ(checked, 24 * 6 + 2);
}

// The letters of iconv's VISCII spelled as the lines above spell them: each
// spelling's byte ("a", "a(", "a('", "DD" ...), and the spelling of each
// letter that marks can still extend (a vowel without a tone, D and d).
struct spelled_letters {
    std::map<std::string, unsigned char> byte_spelled;
    std::map<unsigned char, std::string> open_letter;
};

spelled_letters spell_iconv_letters() {
    const char tone_chars[] = {'\0', '\'', '`', '?', '~', '.'};
    spelled_letters l;
    for (const letter_line &line : letter_lines) {
        const std::vector<std::string> letters = split_letters(line.letters);
        for (std::size_t tone = 0; tone < letters.size(); ++tone) {
            const std::string viscii = iconv_convert("UTF-8", "VISCII", letters[tone]).value_or("");
            EXPECT_EQ(viscii.size(), 1u) << "iconv has no VISCII byte for " << letters[tone];
            if (viscii.size() != 1) continue;
            const std::string spelling = line.spelling + std::string(tone != 0, tone_chars[tone]);
            l.byte_spelled[spelling] = static_cast<unsigned char>(viscii[0]);
            if (tone == 0 && letters.size() > 1) l.open_letter[static_cast<unsigned char>(viscii[0])] = line.spelling;
        }
    }
    // The second D of Đ and đ may be of either case; the first decides.
    l.byte_spelled["Dd"] = l.byte_spelled["DD"];
    l.byte_spelled["dD"] = l.byte_spelled["dd"];
    l.open_letter['D'] = "D";
    l.open_letter['d'] = "d";
    return l;
}

// Every pair of bytes from an idle composer, against the letters of iconv's
// VISCII spelled as the lines above spell them: the first byte starts a
// letter exactly when marks can still extend it (a vowel without a tone, D
// and d), and the second merges into it exactly when the two spell a letter,
// giving that letter's byte; otherwise the second is taken on its own.
TEST(ComposerTables, EveryPairOfBytesMergesExactlyWhenItSpellsALetter) {
    REQUIRE_ORACLE(have_iconv_viscii(), "this system's iconv has no VISCII charset");
    const spelled_letters spelled = spell_iconv_letters();
    ASSERT_FALSE(HasFailure());
    const std::map<std::string, unsigned char> &byte_spelled = spelled.byte_spelled;
    const std::map<unsigned char, std::string> &open_letter = spelled.open_letter;
    ASSERT_EQ(open_letter.size(), 26u);

    int merged = 0;
    for (int first = 0; first < 256; ++first) {
        const auto b0 = static_cast<unsigned char>(first);
        const bool starts = open_letter.count(b0) != 0;
        for (int second = 0; second < 256; ++second) {
            const auto b1 = static_cast<unsigned char>(second);
            const std::vector<step> steps = compose_fresh(std::string{char(b0), char(b1)});
            step expected{b1, int(open_letter.count(b1)), 0};
            if (starts) {
                const auto letter = byte_spelled.find(open_letter.at(b0) + char(b1));
                if (letter != byte_spelled.end()) {
                    expected = {letter->second, int(open_letter.count(letter->second)), 1};
                    ++merged;
                }
            }
            ASSERT_EQ(steps[0], (step{b0, int(starts), 0})) << first;
            ASSERT_EQ(steps[1], expected) << first << " then " << second;
        }
    }
    // Each toned letter from its letter without a tone, each shaped vowel from
    // its bare one, Đ and đ from D and d by a second D of either case.
    EXPECT_EQ(merged, 24 * 5 + 12 + 4);
}

// A byte with no class leaves the composer idle whatever came before it.
TEST(ComposerSteps, EveryUnclassedByteIsReturnedPlainAfterAnyLetter) {
    for (const char *prefix : {"", "a", "a^", "D", "\xC2"}) {
        for (int b = 0; b < 256; ++b) {
            if (default_classes[b] != 0) continue;
            const std::vector<step> steps = compose_fresh(std::string(prefix) + char(b));
            EXPECT_EQ(steps.back(), (step{static_cast<unsigned char>(b), 0, 0})) << prefix << " then " << b;
        }
    }
}

// A run composed with letters held back writes what stepping byte by byte
// writes up to the stop byte, stops there, and leaves the composer with the
// same letter under way.  Runs are long enough for the block copies and split
// anywhere, as chunks would split them; every implementation's kernels must
// agree.
struct run_trial {
    const char *name;
    std::string alphabet;
    friend void PrintTo(const run_trial &trial, std::ostream *os) { *os << trial.name; }
};

class ComposerRun : public testing::TestWithParam<std::tuple<run_trial, const viqr_test::implementation *>> {
protected:
    void SetUp() override {
        const viqr_test::implementation &kernels = *std::get<1>(GetParam());
        if (!kernels.supported()) GTEST_SKIP() << kernels.name << " not run: this processor lacks it";
    }
};

// A backslash at `j` is a letter break (the escape) unless V or a second
// backslash follows it, or nothing: then it ends the run.
bool breaks_at(const std::string &text, std::size_t j) {
    return j + 1 < text.size() && text[j + 1] != 'V' && text[j + 1] != '\\';
}

// What composing `text` wrote, what it holds, where it stopped, and the
// composer it leaves.
struct composed_run {
    std::string written;
    unsigned char held = 0;
    std::size_t stopped;
    composer state{};
};

// Stepping, with the letter breaks as the decoder makes them: the letter
// under way is written and the composer made idle.
composed_run compose_by_steps(const std::string &text) {
    composed_run r;
    composer_reset(r.state);
    r.stopped = text.size();
    for (std::size_t j = 0; j < text.size(); ++j) {
        const auto ch = static_cast<unsigned char>(text[j]);
        int pending, combined;
        if (ch == '\\') {
            if (!breaks_at(text, j)) {
                r.stopped = j;
                break;
            }
            if (r.held != 0) r.written += static_cast<char>(r.held);
            r.held = 0;
            compose_char(r.state, 0, pending, combined);
            continue;
        }
        const unsigned char out = compose_char(r.state, ch, pending, combined);
        if (!combined && r.held != 0) r.written += static_cast<char>(r.held);
        r.held = pending ? out : 0;
        if (!pending) r.written += static_cast<char>(out);
    }
    return r;
}

// The run in two calls, split at `split`, as chunks would split it.  It may
// stop at any backslash; there the letter break is made the way the decoder
// makes it, and the run called again after it.
composed_run compose_by_runs(const std::string &text, std::size_t split, const viqr_test::implementation &kernels,
                             const run_stop &stop) {
    composed_run r;
    composer_reset(r.state);
    r.state.kernels = &kernels;
    std::vector<unsigned char> room(text.size() + 1);
    unsigned char *out = room.data();
    const auto *in = reinterpret_cast<const unsigned char *>(text.data());
    const unsigned char *at = in, *stopped = in;
    for (;;) {
        const unsigned char *limit = at < in + split ? in + split : in + text.size();
        stopped = compose_held_run(r.state, at, limit, stop, r.held, out);
        if (stopped == limit) {
            if (limit == in + text.size()) break;
            at = limit;
            continue;
        }
        if (!breaks_at(text, static_cast<std::size_t>(stopped - in))) break;
        if (r.held != 0) *out++ = r.held;
        r.held = 0;
        int pending, combined;
        compose_char(r.state, 0, pending, combined);
        at = stopped + 1;
    }
    r.written.assign(reinterpret_cast<char *>(room.data()), static_cast<std::size_t>(out - room.data()));
    r.stopped = static_cast<std::size_t>(stopped - in);
    return r;
}

TEST_P(ComposerRun, WritesAndLeavesWhatSteppingDoes) {
    const std::string &alphabet = std::get<0>(GetParam()).alphabet;
    // The decoder's stop: a backslash, which ends the run unless it is a
    // letter break.
    run_stop stop{'\\', true, {}};
    stop.ends.fill('\\');
    stop.ends[0] = 'V';
    std::mt19937 random(20261210);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % (round % 8 == 0 ? 900 : round % 4 == 0 ? 150 : 12));
        for (int i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        const std::size_t split = text.empty() ? 0 : random() % (text.size() + 1);

        const composed_run stepped = compose_by_steps(text);
        const composed_run run = compose_by_runs(text, split, *std::get<1>(GetParam()), stop);
        SCOPED_TRACE(testing::PrintToString(text) + " split at " + std::to_string(split));
        EXPECT_EQ(run.written, stepped.written);
        EXPECT_EQ(run.stopped, stepped.stopped);
        EXPECT_EQ(run.held, stepped.held);
        // The letter under way is the same: any byte that comes next does
        // the same to both.
        for (unsigned char next : alphabet) {
            composer after_run = run.state, after_steps = stepped.state;
            step a{}, b{};
            a.result = compose_char(after_run, next, a.pending, a.combined);
            b.result = compose_char(after_steps, next, b.pending, b.combined);
            ASSERT_EQ(a, b) << "then " << int(next);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Marks, ComposerRun,
    testing::Combine(testing::Values(
        // Letters, the marks, D, raw VISCII letters (bare, shaped, toned, Đ)
        // and a stop byte now and then.
        run_trial{"default", "aAeEoOuUiIyYdDbn \xC2\xE2\xBD\xE1\xF0\xD0'`?~.(^+aeo'^.\\"},
        // Plain VIQR with escapes, which the 64-byte blocks take whole, and
        // then the same with a byte they leave to the rest once in a while.
        run_trial{"ascii", "aAeEoOuUiIyYdDbn '`?~.(^+aeou'^.(+?Vie^.t Nam\\"},
        run_trial{"rare",
                  [] {
                      std::string alphabet;
                      for (int i = 0; i < 6; ++i) alphabet += "aAeEoOuUiIyYdDbn '`?~.(^+aeou'^.(+?Vie^.t Nam";
                      return alphabet + "\xE2\\";
                  }()}),
                     testing::ValuesIn(viqr_test::every_implementation())),
    [](const testing::TestParamInfo<ComposerRun::ParamType> &info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param)->name;
    });

}  // namespace
