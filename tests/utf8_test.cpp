// The two UTF-8 conversions in-process: byte-exact tables of cases in both
// directions, every split of each case into chunks, the reports of invalid
// UTF-8, the stand-in in every state of a decoder context, and the round
// trip of arbitrary bytes and of NFC and NFD text through both.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "composer.h"
#include "oracle.h"
#include "process.h"
#include "utf8_front.h"
#include "viqr.h"
#include "viqr_model.h"
#include "viqr_to_utf8.h"
#include "implementations.h"

namespace {

using namespace viqr::detail;
using namespace viqr::cli;

using viqr_model::hex;

// Splits `text` at the given offsets (ascending, within the text).
std::vector<std::string> pieces(const std::string &text, const std::vector<std::size_t> &cuts) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t cut : cuts) {
        parts.push_back(text.substr(start, cut - start));
        start = cut;
    }
    parts.push_back(text.substr(start));
    return parts;
}

using converted = viqr_model::utf8_converted;

// tonedown -u without the announcement, through the given kernels: each
// piece is a chunk; each entry of `inputs` names the input that begins with
// that piece (null: no new input).
converted from_utf8_through(const implementation &kernels, const std::vector<std::string> &chunks, int mode,
                            unsigned char k, const std::vector<const char *> &inputs = {"in"}) {
    viqr_from_utf8_state state;
    viqr_from_utf8_start(state, k, mode);
    return viqr_model::convert_utf8_chunks_with(kernels, state, chunks, viqr_from_utf8_room, from_utf8_with,
                                                from_utf8_finish_with, inputs);
}

// toneup -u: a context opened in `mode`, hold on, as toneup opens it.
converted to_utf8_through(const implementation &kernels, const std::vector<std::string> &chunks, int mode,
                          unsigned char k, const std::vector<const char *> &inputs = {"in"}) {
    const int context = viqr_open(mode, k, DEFAULT_OVERSTRIKE_CHAR);
    use_implementation(context, kernels);
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    viqr_to_utf8_state state;
    viqr_to_utf8_start(state, context);
    converted c = viqr_model::convert_utf8_chunks_with(kernels, state, chunks, viqr_to_utf8_room, to_utf8_with,
                                                       to_utf8_finish_with, inputs);
    int count = 0;
    viqr_close(context, nullptr, count);
    return c;
}

// The same with the implementation the process uses.
converted from_utf8(const std::vector<std::string> &chunks, int mode = MODE_VIETNAMESE, unsigned char k = '\\',
                    const std::vector<const char *> &inputs = {"in"}) {
    return from_utf8_through(active_implementation(), chunks, mode, k, inputs);
}

converted to_utf8(const std::vector<std::string> &chunks, int mode = MODE_VIETNAMESE, unsigned char k = '\\',
                  const std::vector<const char *> &inputs = {"in"}) {
    return to_utf8_through(active_implementation(), chunks, mode, k, inputs);
}

struct utf8_case {
    int mode;
    std::string input;
    std::string output;
    long long invalid_at;  // offset of the first invalid byte; -1 for none
};

void PrintTo(const utf8_case &c, std::ostream *os) {
    *os << (c.mode == MODE_ENGLISH ? "English " : c.mode == MODE_LITERAL ? "Literal " : "Vietnamese ")
        << testing::PrintToString(c.input);
}

constexpr int V = MODE_VIETNAMESE, E = MODE_ENGLISH, L = MODE_LITERAL;

// Checks a case whole, then cut at every place into two chunks, and a byte
// at a time: the output and the report must not change.
template <class Convert>
void check_every_split(const utf8_case &c, Convert convert) {
    auto check = [&](const std::vector<std::string> &chunks, const std::string &how) {
        const converted r = convert(chunks, c.mode);
        EXPECT_EQ(hex(r.text), hex(c.output)) << how;
        EXPECT_TRUE(r.within_room) << how;
        if (c.invalid_at < 0) {
            EXPECT_TRUE(r.reports.empty()) << how;
        } else {
            EXPECT_EQ(r.reports.size(), 1u) << how;
            if (!r.reports.empty()) {
                EXPECT_EQ(r.reports[0].offset, static_cast<unsigned long long>(c.invalid_at)) << how;
            }
        }
    };
    check({c.input}, "whole");
    for (std::size_t cut = 0; cut <= c.input.size(); ++cut) check(pieces(c.input, {cut}), "cut at " + std::to_string(cut));
    std::vector<std::size_t> every;
    for (std::size_t i = 1; i < c.input.size(); ++i) every.push_back(i);
    check(pieces(c.input, every), "a byte at a time");
}

// UTF-8 in, VIQR out (no announcement), composition character backslash.
const utf8_case from_cases[] = {
    // Precomposed (NFC).
    {V, "Ti\u1EBFng Vi\u1EC7t", "Tie^'ng Vie^.t", -1},
    {V, "\u0110\u1ED3ng \u0111\u1EA5t", "DDo^`ng dda^'t", -1},
    {E, "Ti\u1EBFng Vi\u1EC7t", "Ti\\e^'ng Vi\\e^.t", -1},
    // Decomposed (NFD), and the marks in the other order where Unicode
    // allows it (a horn or a dot below may change places with a mark of
    // another class).
    {V, "Vie\u0323\u0302t", "Vie^.t", -1},
    {V, "Vie\u0302\u0323t", "Vie^.t", -1},
    {V, "a\u0323\u0306 a\u0306\u0323", "a(. a(.", -1},
    {V, "o\u031B\u0323 o\u0323\u031B", "o+. o+.", -1},
    {V, "u\u031B\u0300 u\u0300\u031B", "u+` u+`", -1},
    {V, "Y\u0303 y\u0309", "Y~ y?", -1},
    {V, "A\u0302\u0301U\u031B\u0303", "A^'U+~", -1},
    {V, "a\u0341 a\u0340", "a' a`", -1},  // the canonical equivalents of acute and grave
    // Partly composed.
    {V, "\u00E2\u0301 \u1EA1\u0302 \u01A1\u0323 \u1ECD\u031B \u00F3\u031B", "a^' a^. o+. o+. o+'", -1},
    // Marks that complete no letter stay as they are; the longest run that
    // makes a letter is spelled.
    {V, "e\u0308", "e\u0308", -1},
    {V, "n\u0301 \u0111\u0323", "n\u0301 dd\u0323", -1},
    {V, "a\u0301\u0301", "a'\u0301", -1},              // a second tone
    {V, "a\u0301\u0302 \u00E1\u0302", "a'\u0302 a'\u0302", -1},  // a circumflex after an acute is not \u1EA5
    {V, "a\u0301\u0306", "a'\u0306", -1},
    {V, "i\u0302 u\u0306 e\u031B", "i\u0302 u\u0306 e\u031B", -1},
    {V, "\u1EA5\u0301 \u0301a", "a^'\u0301 \u0301a", -1},
    {V, "e\u0308\u0301", "e\u0308\u0301", -1},
    // Escapes exactly as for VISCII input.
    {V, "a' \u00E2' \u00E1' d\u0111 dd \\", "a\\' a^\\' a'' d\\dd d\\d \\\\", -1},
    {E, "\u00E2a \u00E2' \u0111", "\\a^\\Ma \\a^\\M' \\dd", -1},
    // After a character that is not ASCII nothing is escaped.
    {V, "a\u0308' \u201C' d\u00A0d", "a\u0308' \u201C' d\u00A0d", -1},
    {E, "\u00E2\u0308a", "\\a^\u0308a", -1},
    // Characters beyond VISCII, copied unchanged.
    {V, "\u201Cq\u201D \u2014 \u20AC \u65E5\u672C \U0001F600 \u00A0\uFEFF \u00E4\u00F1\u0101\u010D\u0161",
     "\u201Cq\u201D \u2014 \u20AC \u65E5\u672C \U0001F600 \u00A0\uFEFF \u00E4\u00F1\u0101\u010D\u0161", -1},
    // The six control codes that are letters in VISCII are controls here.
    {V, std::string("\x02\x05\x06\x14\x19\x1E a\x14'"), std::string("\x02\x05\x06\x14\x19\x1E a\x14'"), -1},
    {V, std::string("\0\x01\x7F", 3), std::string("\0\x01\x7F", 3), -1},
    // Invalid UTF-8: copied unchanged, the first one reported.
    {V, "ab\x80" "c", "ab\x80" "c", 2},                       // a stray continuation byte
    {V, "a\xC0\xAF \xC1\xBF", "a\xC0\xAF \xC1\xBF", 1},       // overlong forms
    {V, "\xE0\x80\xAF", "\xE0\x80\xAF", 0},                   // overlong, three bytes
    {V, "x\xED\xA0\x80", "x\xED\xA0\x80", 1},                 // a surrogate
    {V, "\xF4\x90\x80\x80", "\xF4\x90\x80\x80", 0},           // beyond U+10FFFF
    {V, "x\xF0\x8F\xBF\xBF", "x\xF0\x8F\xBF\xBF", 1},         // overlong, four bytes
    {V, "x\xF0\x80\x80\x80", "x\xF0\x80\x80\x80", 1},
    {V, "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\xFF", 8},  // the bounds
    {V, "\xF5\xFE\xFF", "\xF5\xFE\xFF", 0},
    {V, "e\xE1\xBA" "a'", "e\xE1\xBA" "a\\'", 1},             // cut short by ASCII
    {V, "e\xCC", "e\xCC", 1},                                 // cut short by the end
    {V, "a\xCC\x81\xCC", "a'\xCC", 3},
    {V, "\xE1\xBB\xE1\xBB\x87", "\xE1\xBB" "e^.", 0},         // cut short by a lead byte
    {V, "a\xE2\x80\x9C\x80'", "a\xE2\x80\x9C\x80'", 4},
};

class FromUtf8 : public testing::TestWithParam<utf8_case> {};

TEST_P(FromUtf8, WritesExactlyTheseBytesHoweverSplit) { check_every_split(GetParam(), [](auto &chunks, int mode) { return from_utf8(chunks, mode); }); }

INSTANTIATE_TEST_SUITE_P(Cases, FromUtf8, testing::ValuesIn(from_cases));

// VIQR in, UTF-8 out; the mode is the context's initial one.
const utf8_case to_cases[] = {
    {V, "Vie^.t Nam", "Vi\u1EC7t Nam", -1},
    {V, "DDo^`ng dda^'t, dd d", "\u0110\u1ED3ng \u0111\u1EA5t, \u0111 d", -1},
    {V, "Y? y~ A(. a(", "\u1EF6 \u1EF9 \u1EB6 \u0103", -1},
    {V, "a\\' \\\\ a", "a' \\ a", -1},
    {E, "a' \\a' \\e^. \\Vo+'", "a' \u00E1 \u1EC7 \u1EDB", -1},
    {L, "a' \\a' \\Va'", "a' \\a' \u00E1", -1},
    // A character beyond ASCII ends the letter being composed and stands
    // at its place, in every state of the context.
    {V, "a\u201C' a^\u201C' a\u0301", "a\u201C' \u00E2\u201C' a\u0301", -1},
    {V, "\\\u201C' \\", "\u201C' \\", -1},                   // after the composition character
    {E, "\\a^\u201C'", "\u00E2\u201C'", -1},                 // a held letter in English mode
    {L, "\\\u201C \\", "\\\u201C \\", -1},                    // Literal mode keeps the composition character
    {V, "\\M\u00E4\\Va'", "\u00E4\u00E1", -1},
    // Already UTF-8: copied unchanged.
    {V, "Ti\u1EBFng Vi\u1EC7t", "Ti\u1EBFng Vi\u1EC7t", -1},
    // The six control codes are controls, not letters, and end a letter.
    {V, std::string("\x02\x05\x06\x14\x19\x1E a\x14'"), std::string("\x02\x05\x06\x14\x19\x1E a\x14'"), -1},
    // Invalid UTF-8: copied unchanged, the first one reported.
    {V, "a'\xFF" "a'", "\u00E1\xFF\u00E1", 2},
    {V, "a^\xE1\xBA", "\u00E2\xE1\xBA", 2},
    {V, "\xC0\xAF\xED\xA0\x80", "\xC0\xAF\xED\xA0\x80", 0},
    {V, "o+\xE2\x80" "'", "\u01A1\xE2\x80'", 2},
};

class ToUtf8 : public testing::TestWithParam<utf8_case> {};

TEST_P(ToUtf8, WritesExactlyTheseBytesHoweverSplit) { check_every_split(GetParam(), [](auto &chunks, int mode) { return to_utf8(chunks, mode); }); }

INSTANTIATE_TEST_SUITE_P(Cases, ToUtf8, testing::ValuesIn(to_cases));

// Inputs are one text: a character or a letter may run from one into the
// next, and an invalid sequence is reported against the input where it began.
TEST(Utf8Inputs, ASequenceAcrossInputsIsOneCharacter) {
    EXPECT_EQ(from_utf8({"Vi\xE1\xBB", "\x87t"}, V, '\\', {"one", "two"}).text, "Vie^.t");
    EXPECT_EQ(from_utf8({"Vie\xCC\xA3", "\xCC\x82t"}, V, '\\', {"one", "two"}).text, "Vie^.t");
    EXPECT_EQ(from_utf8({"Vie", "", "\xCC\xA3\xCC", "\x82t"}, V, '\\', {"one", "two", "three", "four"}).text,
              "Vie^.t");
    EXPECT_EQ(to_utf8({"Vie^", ".t"}, V, '\\', {"one", "two"}).text, "Vi\u1EC7t");
}

TEST(Utf8Inputs, EachInputReportsItsFirstInvalidByte) {
    for (auto convert : {from_utf8, to_utf8}) {
        const converted c = convert({"x\xFF\xFF", "ab\x80\x80", "ok", "\xFE"}, V, '\\', {"one", "two", "three", "four"});
        ASSERT_EQ(c.reports.size(), 3u);
        EXPECT_STREQ(c.reports[0].input, "one");
        EXPECT_EQ(c.reports[0].offset, 1u);
        EXPECT_STREQ(c.reports[1].input, "two");
        EXPECT_EQ(c.reports[1].offset, 2u);
        EXPECT_STREQ(c.reports[2].input, "four");
        EXPECT_EQ(c.reports[2].offset, 0u);
        // A sequence cut at the end of "one" and not finished in "two".
        const converted cut = convert({"abc\xE1\xBA", "x\x80"}, V, '\\', {"one", "two"});
        ASSERT_EQ(cut.reports.size(), 2u);
        EXPECT_STREQ(cut.reports[0].input, "one");
        EXPECT_EQ(cut.reports[0].offset, 3u);
        EXPECT_STREQ(cut.reports[1].input, "two");
        EXPECT_EQ(cut.reports[1].offset, 1u);
        // ... where "one" had already had its report.
        const converted again = convert({"\xFF\xE1", "x"}, V, '\\', {"one", "two"});
        ASSERT_EQ(again.reports.size(), 1u);
        EXPECT_EQ(again.reports[0].offset, 0u);
    }
}

// The stand-in that toneup -u feeds in place of a character beyond ASCII is
// written exactly once, as the last byte of the step, whatever state the
// context is in: after every prefix below, in every mode, with two
// composition characters.
TEST(StandIn, IsWrittenOnceAsTheLastByteInEveryState) {
    const char *prefixes[] = {"", "a", "a^", "a^'", "d", "dd", "\\", "\\a", "\\a^", "\\L", "\\M", "\\M\\",
                              "\\M\\a", "\\M\\a^", "\\L\\", "\\L\\x", "b", "'", "\\V", "o+", "\\M\\d"};
    for (unsigned char k : {'\\', '#'})
        for (int mode : {V, E, L})
            for (const char *prefix : prefixes) {
                std::string viqr = prefix;
                for (char &c : viqr)
                    if (c == '\\') c = static_cast<char>(k);
                const int context = viqr_open(mode, k, DEFAULT_OVERSTRIKE_CHAR);
                viqr_set(context, 1, VIQR_PARAM_HOLD);
                unsigned char out[2];
                int count = 0;
                for (char c : viqr) viqr_feed(context, static_cast<unsigned char>(c), out, count);
                const unsigned char stand_in = viqr::detail::choose_stand_in(k);
                viqr_feed(context, stand_in, out, count);
                ASSERT_GE(count, 1) << prefix;
                EXPECT_EQ(out[count - 1], stand_in) << prefix << " mode " << mode;
                if (count == 2) {
                    EXPECT_NE(out[0], stand_in) << prefix;
                }
                viqr_close(context, nullptr, count);
            }
}

TEST(StandIn, IsNeitherTheCompositionCharacterNorALetterNorAMark) {
    const int context = viqr_open(V, '\\', DEFAULT_OVERSTRIKE_CHAR);  // builds the class table
    for (int k = 1; k < 0x80; ++k) {
        const unsigned char s = viqr::detail::choose_stand_in(static_cast<unsigned char>(k));
        EXPECT_NE(s, k);
        EXPECT_EQ(class_table[s], 0) << "stand-in " << int(s);
        EXPECT_EQ(std::string("VvMmLl").find(static_cast<char>(s)), std::string::npos);
    }
    int count = 0;
    viqr_close(context, nullptr, count);
}

// The round trip: tonedown -u, then toneup -u (with tonedown's announcement).
struct setting {
    int mode;
    unsigned char k;
};

// A name that ends in a lone backslash would swallow the names after it when
// ctest registers the tests: the character is quoted.
void PrintTo(const setting &s, std::ostream *os) {
    // The composition character quoted: a name ending in a backslash would run
    // into the next one in ctest's list.
    *os << (s.mode == E ? "English" : "Vietnamese") << " with composition character "
        << testing::PrintToString(std::string(1, static_cast<char>(s.k)));
}

std::vector<std::size_t> random_cuts(std::mt19937 &random, std::size_t size, int count) {
    std::uniform_int_distribution<std::size_t> where(0, size);
    std::vector<std::size_t> cuts;
    for (int i = 0; i < count; ++i) cuts.push_back(where(random));
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

class Utf8RoundTrip : public testing::TestWithParam<setting> {
protected:
    std::string down(const std::string &text, std::mt19937 &random) {
        return std::string{char(GetParam().k), GetParam().mode == E ? 'M' : 'V'} +
               from_utf8(pieces(text, random_cuts(random, text.size(), 3)), GetParam().mode, GetParam().k).text;
    }
    std::string round_trip(const std::string &text, std::mt19937 &random) {
        const std::string viqr = down(text, random);
        return to_utf8(pieces(viqr, random_cuts(random, viqr.size(), 3)), MODE_VIETNAMESE, GetParam().k).text;
    }
};

// The ten code points that can join a letter, U+0300..U+0341.
bool has_joining_mark(const std::string &text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const unsigned char a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(text[i + 1]);
        if ((a == 0xCC && b >= 0x80 && b <= 0xBF) || (a == 0xCD && (b == 0x80 || b == 0x81))) return true;
    }
    return false;
}

// Bytes of every kind: VIQR's letters, marks and composition characters,
// Vietnamese letters, other characters, the six control codes, invalid UTF-8,
// any byte at all, and combining marks in every other text.
std::string random_bytes(std::mt19937 &random, std::size_t length, bool with_marks = true) {
    static const std::vector<std::string> marks = {"\u0301", "\u0302", "\u0323", "\u031B", "\u0306", "\u0340", "\u0308"};
    static const std::vector<std::string> pieces_of_text = {
        "a", "A", "e", "o", "u", "y", "d", "D", "i", "'", "`", "?", "~", ".", "(", "^", "+", "\\", "#", "V", "m", "l",
        " ", "\n", "\u00E2", "\u00E1", "\u1EA5", "\u01A1", "\u01B0", "\u0111", "\u0110", "\u1EC7", "\u00C2",
        "\u201C", "\u20AC", "\U0001F600",
        "\u00A0", "\uFEFF", "\x02", "\x14", "\x1E", "\xE1\xBA", "\xCC", "\x80", "\xFF", "\xC0\xAF", "\xED\xA0\x80"};
    std::uniform_int_distribution<std::size_t> pick(0, pieces_of_text.size() - 1);
    std::uniform_int_distribution<std::size_t> pick_mark(0, marks.size() - 1);
    std::uniform_int_distribution<int> any_byte(0, 255), coin(0, 7);
    std::string text;
    while (text.size() < length) {
        const int c = coin(random);
        if (c == 0)
            text += char(any_byte(random));
        else if (c == 1 && with_marks)
            text += marks[pick_mark(random)];
        else
            text += pieces_of_text[pick(random)];
    }
    return text;
}

// The kernels take both directions a block at a time where the text is
// plain Vietnamese.  Long texts that are mostly such, with now and then a
// byte of every other kind, in random chunks, must give through each
// implementation what the byte-by-byte reference gives: the same VIQR, the
// same reports, the same UTF-8.
class Utf8Kernels : public viqr_test::OnEveryImplementation {};
VIQR_ON_EVERY_IMPLEMENTATION(Utf8Kernels);

TEST_P(Utf8Kernels, GiveWhatTheByteByByteReferenceGives) {
    static const std::vector<std::string> plain = {
        "a", "e", "o", "u", "y", "i", "d", "D", "n", "g", "h", "t", " ", " ", "\n", ".", "V",
        "\u00E2", "\u00E1", "\u00C0", "\u0103", "\u0111", "\u0110", "\u01A1", "\u01B0", "\u01AF", "\u0169", "\u0128",
        "\u1EA5", "\u1EC7", "\u1EF9", "\u1EA0", "\u1EE3"};
    // Cut and stray sequences at every place near the end of a block, where
    // a character may run into the next one: found by fuzz_utf8, E1 BB at
    // bytes 61 and 62 of a block was read with the lead C4 at byte 63 as its
    // third byte.
    static const std::vector<std::string> cut_short = {"\xE1\xBB\xC4\x91", "\xE1\xBA", "\xC3", "\xE1", "\x80",
                                                       "\xC4\x91", "\xE1\xBB\x87", "\xCC\x81"};
    std::mt19937 random(20261210);
    for (int round = 0; round < 150 + 8 * 70; ++round) {
        std::string text;
        if (round >= 150) {
            const int place = (round - 150) / 8 % 70;
            text = std::string(static_cast<std::size_t>(place), 'a') + cut_short[(round - 150) % 8];
        }
        const std::size_t length = 200 + random() % 4000;
        while (text.size() < length)
            text += random() % 150 == 0 ? random_bytes(random, 1, round % 2 == 0) : plain[random() % plain.size()];
        const auto cuts = random_cuts(random, text.size(), 1 + static_cast<int>(random() % 4));
        for (unsigned char k : {'\\', '#', 'o'}) {  // 'o': a composition character that is a letter
            converted wide[2], viqr[2];
            for (int fast = 0; fast < 2; ++fast) {
                const implementation &with = fast == 1 ? kernels() : reference();
                wide[fast] = from_utf8_through(with, pieces(text, cuts), V, k);
                const std::string &down_text = wide[fast].text;
                viqr[fast] = to_utf8_through(with, pieces(down_text, random_cuts(random, down_text.size(), 2)), V, k);
            }
            ASSERT_EQ(hex(wide[1].text), hex(wide[0].text)) << "input " << hex(text);
            ASSERT_EQ(wide[1].reports.size(), wide[0].reports.size()) << "input " << hex(text);
            for (std::size_t i = 0; i < wide[0].reports.size(); ++i)
                ASSERT_EQ(wide[1].reports[i].offset, wide[0].reports[i].offset) << "input " << hex(text);
            ASSERT_EQ(hex(viqr[1].text), hex(viqr[0].text)) << "VIQR " << hex(wide[0].text);
        }
    }
}

// Plain ASCII, line ends and tabs included, is passed over a block at a time;
// the first byte that is not plain (beyond ASCII, or a control code that is a
// letter in VISCII) stops it wherever it lies, after any number of line ends.
TEST_P(Utf8Kernels, PlainAsciiEndsAtTheFirstByteThatIsNot) {
    const std::string stops[] = {"\x80", "\xC3", "\xFF", "\x02", "\x05", "\x06", "\x14", "\x19", "\x1E"};
    std::mt19937 random(5);
    for (std::size_t place = 0; place < 200; ++place)
        for (const std::string &stop : stops) {
            std::string text;
            while (text.size() < place) text += random() % 4 == 0 ? "\n\t\r\x1F\x7F"[random() % 5] : char('a' + random() % 26);
            text += stop + std::string(random() % 80, 'x');
            const auto *begin = reinterpret_cast<const unsigned char *>(text.data());
            EXPECT_EQ(viqr::detail::end_of_plain_ascii(kernels(), begin, begin + text.size()) - begin,
                      static_cast<std::ptrdiff_t>(place))
                << "stop " << hex(stop) << " after " << hex(text.substr(0, place));
        }
}

// Vietnamese prose as it comes: letters, the ASCII marks that need an escape
// after a vowel (y. a' dd), punctuation and symbols beyond ASCII copied as
// they stand (quotes, an ellipsis, letters of other languages, characters
// led by E0 and ED), and now and then a combining mark, which may still join
// the letter before it wherever a block ends.  Every implementation must give
// what the reference gives, in any chunks, whatever the composition character.
TEST_P(Utf8Kernels, ProseWithSymbolsAndMarksGivesWhatTheReferenceGives) {
    static const std::vector<std::string> prose = {
        "a", "e", "o", "u", "y", "i", "d", "D", "n", "g", "h", " ", " ", " ", "\n", ".", "'", "`", "?", "~", "(",
        "^", "+", "\u00E2", "\u00E1", "\u0103", "\u0111", "\u0110", "\u01B0", "\u01A1", "\u1EA5", "\u1EC7",
        "\u1EF3", "\u1EF9", "\u201C", "\u201D", "\u2026", "\u00A9", "\u00AB", "\u00E4", "\u1E9E", "\u1E00",
        "\u1EFA", "\u0800", "\uD7FF", "\u20AC", "\uFEFF", "\u3000", "\u00A0"};
    static const std::vector<std::string> rare = {"\u0301", "\u0300", "\u0323", "\u0341", "\u0308",
                                                  "\U0001F600", "\x14", "\\", "#", "\xC3", "\xE1\xBB"};
    std::mt19937 random(20261211);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const std::size_t length = 300 + random() % 3000;
        while (text.size() < length)
            text += random() % 100 == 0 ? rare[random() % rare.size()] : prose[random() % prose.size()];
        const auto cuts = random_cuts(random, text.size(), 1 + static_cast<int>(random() % 4));
        for (unsigned char k : {'\\', '#', 'o', '\xE0'}) {  // 'o' is a letter, 0xE0 no ASCII
            const converted fast = from_utf8_through(kernels(), pieces(text, cuts), V, k);
            const converted plain = from_utf8_through(reference(), pieces(text, cuts), V, k);
            ASSERT_EQ(hex(fast.text), hex(plain.text)) << "input " << hex(text) << " composition " << int(k);
            ASSERT_EQ(fast.reports.size(), plain.reports.size()) << "input " << hex(text);
        }
    }
}

// Without a mark that could join a letter, any bytes at all come back as they
// were; with one, a second round trip changes nothing more.
TEST_P(Utf8RoundTrip, ArbitraryBytesComeBack) {
    std::mt19937 random(7u + unsigned(GetParam().mode) * 31u + GetParam().k);
    int unchanged = 0;
    for (int round = 0; round < 400; ++round) {
        const std::string text = random_bytes(random, 200, round % 2 == 0);
        const std::string back = round_trip(text, random);
        if (!has_joining_mark(text)) {
            ++unchanged;
            ASSERT_EQ(hex(back), hex(text));
        } else {
            ASSERT_EQ(hex(round_trip(back, random)), hex(back)) << "input " << hex(text);
        }
    }
    EXPECT_GT(unchanged, 150);
}

// The same text as many random chunks gives the same VIQR and back.
TEST_P(Utf8RoundTrip, EverySplitGivesTheSameOutput) {
    std::mt19937 random(11u + unsigned(GetParam().mode) + GetParam().k);
    for (int round = 0; round < 100; ++round) {
        const std::string text = random_bytes(random, 300);
        const std::string whole = from_utf8({text}, GetParam().mode, GetParam().k).text;
        ASSERT_EQ(from_utf8(pieces(text, random_cuts(random, text.size(), 20)), GetParam().mode, GetParam().k).text,
                  whole);
        const std::string viqr = down(text, random);
        ASSERT_EQ(to_utf8(pieces(viqr, random_cuts(random, viqr.size(), 20)), V, GetParam().k).text,
                  to_utf8({viqr}, V, GetParam().k).text);
    }
}

// Python's unicodedata as the oracle: random Vietnamese text with characters
// beyond VISCII, in NFC and in NFD.  NFC comes back byte for byte, NFD comes
// back as NFC, and both give the same VIQR.
TEST_P(Utf8RoundTrip, NfcComesBackAsItWasAndNfdAsNfc) {
    REQUIRE_ORACLE(have_python_unicodedata(),
                   "python3 with unicodedata is not installed: no NFC and NFD to compare with");
    const char *normalize = R"(python3 -c '
import random, sys, unicodedata
random.seed(int(sys.argv[1]))
letters = [chr(c) for c in range(0x1EA0, 0x1EFA)] + list("\u00C0\u00C1\u00C2\u00C3\u00C8\u00C9\u00CA\u00CC\u00CD"
    "\u00D2\u00D3\u00D4\u00D5\u00D9\u00DA\u00DD\u00E0\u00E1\u00E2\u00E3\u00E8\u00E9\u00EA\u00EC\u00ED"
    "\u00F2\u00F3\u00F4\u00F5\u00F9\u00FA\u00FD\u0102\u0103\u0110\u0111\u0128\u0129\u0168\u0169"
    "\u01A0\u01A1\u01AF\u01B0aeiouyAEIOUYdDnghtV")
others = list(" .,?!()\x27`~^+\\#\n\u201C\u201D\u2014\u20AC\u00A0\uFEFF\u65E5") + ["\U0001F600"]
for line in range(int(sys.argv[2])):
    text = "".join(random.choice(letters if random.random() < 0.7 else others) for _ in range(60))
    for form in ("NFC", "NFD"):
        sys.stdout.buffer.write(unicodedata.normalize(form, text).encode() + b"\0")
')";
    const run_result r =
        run_shell(std::string(normalize) + " " + std::to_string(GetParam().mode * 1000 + GetParam().k) + " 300");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> texts;
    for (std::size_t start = 0, end; (end = r.out.find('\0', start)) != std::string::npos; start = end + 1)
        texts.push_back(r.out.substr(start, end - start));
    ASSERT_EQ(texts.size(), 600u);
    std::mt19937 random(3u);
    int decomposed = 0;
    for (std::size_t i = 0; i < texts.size(); i += 2) {
        const std::string &nfc = texts[i], &nfd = texts[i + 1];
        decomposed += nfd != nfc;
        ASSERT_EQ(round_trip(nfc, random), nfc);
        ASSERT_EQ(round_trip(nfd, random), nfc) << "NFD " << hex(nfd);
        ASSERT_EQ(from_utf8({nfd}, GetParam().mode, GetParam().k).text,
                  from_utf8({nfc}, GetParam().mode, GetParam().k).text);
    }
    EXPECT_GT(decomposed, 250);
}

INSTANTIATE_TEST_SUITE_P(Settings, Utf8RoundTrip,
                         testing::Values(setting{V, '\\'}, setting{E, '\\'}, setting{V, '#'}, setting{E, '#'},
                                         setting{V, '@'}, setting{E, '|'}));

}  // namespace
