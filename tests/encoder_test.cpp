// The VISCII-to-VIQR encoder: byte-exact cases in both modes, the history it
// keeps between chunks, and its spelling of every letter against iconv.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "viqr.h"
#include "encoder_tables.h"
#include "iconv_oracle.h"
#include "oracle.h"
#include "process.h"
#include "viqr_model.h"
#include "implementations.h"

namespace {

using namespace viqr::detail;

// What tonedown writes for `input` read in one piece, without the announcement.
std::string encode(const std::string &input, int mode, unsigned char composition_char = '\\') {
    return viqr_model::encode_pieces({input}, mode, composition_char);
}

struct encoder_case {
    int mode;
    std::string input;
    std::string output;
    unsigned char composition_char = '\\';
};

constexpr int V = MODE_VIETNAMESE, E = MODE_ENGLISH;

const encoder_case cases[] = {
    // The worked examples.
    {V, "Vi\xAEt", "Vie^.t"},
    {V, "dd", "d\\d"},
    {V, "Dd", "D\\d"},
    {V, "ddd", "d\\d\\d"},
    {V, "DdDdD", "D\\d\\D\\d\\D"},
    {V, "A(", "A\\("},
    {V, "\xC2(", "A^("},
    {V, "\xC1(", "A'\\("},
    {V, "a'", "a\\'"},
    {V, "\xE1'", "a''"},
    {V, "\xE2'", "a^\\'"},
    {V, "b'", "b'"},
    {V, "'a", "'a"},
    {V, "\\", "\\\\"},
    {E, "\xE1", "\\a'"},
    {E, "\x81", "\\A('"},
    {E, "\xD0\xF0", "\\DD\\dd"},
    {E, "a'", "a'"},
    {E, "\\", "\\\\"},
    // Letters in the C0 range, and a control that is not a letter.
    {V, "\x14\x07", "Y?\x07"},
    {E, "\xD6\x07", "\\y?\x07"},
    // Each vowel takes each kind of mark once: a mark it already has is not escaped.
    {V, "\xA4^'", "a^'^'"},
    {V, "\xE2(", "a^("},
    {V, "i^e(", "i\\^e\\("},
    // Another composition character is doubled; the backslash is then plain.
    {V, "#\\", "##\\", '#'},
    {E, "#\\\xE1", "##\\#a'", '#'},
    // NUL bytes are carried through like any other control.
    {V, std::string("a\0'", 3), std::string("a\0'", 3)},
    {E, std::string("\0\xE1\0", 3), std::string("\0\\a'\0", 5)},
    // A d with stroke after D or d is escaped too, or a reader would make Đ of the pair.
    {V, "D\xF0", "D\\dd"},
    {V, "d\xD0", "d\\DD"},
    {V, "\xF0\xF0", "dddd"},
    {V, "\xD0" "d", "DDd"},
    // English mode: after a letter with a shape mark and no tone the reader is
    // still composing; a switch back to English ends that.
    {E, "\xE2'", "\\a^\\M'"},
    {E, "\xE2" "a'", "\\a^\\Ma'"},
    {E, "\xC2" "D", "\\A^\\MD"},
    {E, "\xDF" "y", "\\u+\\My"},
    {E, "\xE2n", "\\a^n"},
    {E, "\xE2(", "\\a^("},
    {E, "\xE1'", "\\a''"},
    {E, "\xE2\\", "\\a^\\\\"},
    {E, "\xE2'", "#a^#M'", '#'},
};

// Shows a failing case as its mode and input bytes rather than raw memory,
// and its composition character when it is not the backslash.
void PrintTo(const encoder_case &c, std::ostream *os) {
    *os << "mode " << c.mode << ", input " << testing::PrintToString(c.input);
    if (c.composition_char != '\\')
        *os << ", composition character " << testing::PrintToString(std::string(1, char(c.composition_char)));
}

class EncoderTest : public testing::TestWithParam<encoder_case> {};

TEST_P(EncoderTest, WritesTheVIQRSpelling) {
    const encoder_case &c = GetParam();
    EXPECT_EQ(encode(c.input, c.mode, c.composition_char), c.output);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncoderTest, testing::ValuesIn(cases));

TEST(EncoderTest, EmptyInputAndUnknownModesWriteNothing) {
    EXPECT_EQ(encode("", V), "");
    EXPECT_EQ(encode("abc", MODE_LITERAL), "");
    EXPECT_EQ(encode("abc", -1), "");
}

// The six VISCII letters in the C0 range are letters, not ASCII controls.
TEST(EncoderTest, EveryOtherAsciiByteButTheCompositionCharacterIsCopiedInEnglishMode) {
    const std::string c0_letters("\x02\x05\x06\x14\x19\x1E");
    std::string ascii;
    for (int b = 0; b < 0x80; ++b)
        if (b != '\\' && c0_letters.find(static_cast<char>(b)) == std::string::npos) ascii += static_cast<char>(b);
    EXPECT_EQ(encode(ascii, E), ascii);
}

// Splitting the input anywhere must not change the output: the previous byte
// is carried in the history.
TEST(EncoderTest, OutputDoesNotDependOnWhereTheInputIsSplit) {
    const std::string input = "Dd\xF0" "a'\xE2'\xE2" "a\\o+\xE2.\xD0" "dA(";
    for (int mode : {V, E}) {
        const std::string whole = encode(input, mode);
        for (std::size_t cut = 0; cut <= input.size(); ++cut) {
            EXPECT_EQ(viqr_model::encode_pieces({input.substr(0, cut), input.substr(cut)}, mode, '\\'), whole)
                << "mode " << mode << ", cut at " << cut;
        }
    }
}

// The worst case, every byte growing to four, fits the room the header
// promises (the sanitizer builds check the bounds).
TEST(EncoderTest, TheLongestSpellingsFitTheOutputArea) {
    EXPECT_EQ(encode(std::string(1023, '\x81'), E).size(), 4 * 1023u);
    EXPECT_EQ(encode(std::string(1023, '\\'), V).size(), 2 * 1023u);
}

// The kernels take Vietnamese mode a block at a time.  Over long texts of
// every kind, in chunks of random sizes and with several composition
// characters, each implementation must write what the per-byte reference
// writes and stay inside the room the header promises.
class EncoderKernels : public viqr_test::OnEveryImplementation {};
VIQR_ON_EVERY_IMPLEMENTATION(EncoderKernels);

TEST_P(EncoderKernels, WriteWhatThePerByteReferenceWrites) {
    const std::string every_byte = [] {
        std::string all;
        for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
        return all;
    }();
    const std::string alphabets[] = {
        every_byte,
        // What needs escapes: marks after vowels with and without marks, D after D.
        "aeiouyAEIOUYdD'`?~.(^+ \xE2\xC2\xF0\xD0\xA4\xE1\xD5\xA0",
        // Text: mostly letters, now and then a byte the wide code leaves alone.
        "Vie^.t Nam hoa'  \xE2\xEA\xF4\xE0\xE1\xE3\xE8\xE9\xD0\xF0.\n" + std::string("\0\x02\\#", 4),
    };
    std::mt19937 random(20261210);
    for (int composition_char : {int('\\'), int('#'), int('a'), 0xE1, 0})
        for (const std::string &alphabet : alphabets)
            for (int trial = 0; trial < 60; ++trial) {
                std::string text(random() % 3000, ' ');
                for (char &c : text) c = alphabet[random() % alphabet.size()];
                std::vector<std::string> chunks;
                for (std::size_t at = 0; at < text.size();) {
                    const std::size_t n = std::min<std::size_t>(text.size() - at, random() % 700);
                    chunks.push_back(text.substr(at, n));
                    at += n;
                }
                std::string wide, narrow;
                for (bool fast : {true, false}) {
                    std::string &out = fast ? wide : narrow;
                    viqr_encoder_history history{};
                    for (const std::string &chunk : chunks) {
                        const std::size_t room = viqr_encoder_output_size(chunk.size());
                        std::vector<unsigned char> area(room + 64, viqr_model::AREA_GUARD);
                        const std::size_t n = viscii_to_viqr_with(
                            fast ? kernels() : reference(), reinterpret_cast<const unsigned char *>(chunk.data()),
                            chunk.size(), area.data(), static_cast<unsigned char>(composition_char), V, &history);
                        for (std::size_t i = room; i < area.size(); ++i)
                            ASSERT_EQ(area[i], viqr_model::AREA_GUARD) << "wrote past the room at " << i;
                        out.append(reinterpret_cast<const char *>(area.data()), n);
                    }
                }
                ASSERT_EQ(wide, narrow) << "composition character " << int(composition_char) << ", text "
                                        << testing::PrintToString(text);
            }
}

// Found by fuzz_encoder: in English mode a one-byte chunk after a letter with
// a shape mark (a switch back to English, then the byte) wrote past the room
// the header promised.  Every byte after every byte, as a chunk of its own,
// must stay inside viqr_encoder_output_size(1).
TEST(EncoderTest, AOneByteChunkAfterAnyByteStaysInsideItsRoom) {
    constexpr unsigned char GUARD = 0xA5;
    const std::size_t room = viqr_encoder_output_size(1);
    for (int mode : {V, E})
        for (int p = 0; p < 256; ++p)
            for (int b = 0; b < 256; ++b) {
                std::vector<unsigned char> out(room + 8, GUARD);
                viqr_encoder_history history{static_cast<unsigned char>(p)};
                const unsigned char in = static_cast<unsigned char>(b);
                viscii_to_viqr(&in, 1, out.data(), '\\', mode, history);
                for (std::size_t i = room; i < out.size(); ++i)
                    if (out[i] != GUARD) {
                        ADD_FAILURE() << "mode " << mode << ", byte " << b << " after " << p << " wrote at " << i;
                        return;
                    }
            }
}

// The independent oracle: the system's iconv knows VISCII, and Unicode's
// canonical decomposition splits each letter into its base and marks.
TEST(EncoderTest, EveryLetterIsSpelledAsIconvDecomposesIt) {
    REQUIRE_ORACLE(have_iconv_viscii(), "this system's iconv has no VISCII charset");
    REQUIRE_ORACLE(have_python_unicodedata(), "python3 with unicodedata is needed to decompose the letters");

    // For each byte: the base letter and the VIQR characters of its marks,
    // shape mark first, in one line.
    const char *decompose = R"(python3 -c '
import sys, unicodedata
marks = {0x306: "(", 0x302: "^", 0x31B: "+", 0x301: "\x27", 0x300: "`", 0x309: "?", 0x303: "~", 0x323: "."}
text = sys.stdin.buffer.read().decode("utf-8")
for ch in text:
    if ch in "\u0110\u0111":
        print("DD" if ch == "\u0110" else "dd"); continue
    d = unicodedata.normalize("NFD", ch)
    shape = [marks[ord(c)] for c in d[1:] if marks.get(ord(c)) in ("(", "^", "+")]
    tone = [marks[ord(c)] for c in d[1:] if marks.get(ord(c)) not in (None, "(", "^", "+")]
    other = [c for c in d[1:] if ord(c) not in marks]
    print(d[0] + "".join(shape) + "".join(tone) + ("!" if other or len(shape) > 1 or len(tone) > 1 else ""))
')";
    std::string letters;
    for (int b = 0x80; b < 0x100; ++b) letters += static_cast<char>(b);
    letters += "\x02\x05\x06\x14\x19\x1E";
    const run_result r = run_shell(decompose, iconv_convert("VISCII", "UTF-8", letters).value_or(""));
    ASSERT_EQ(r.status, 0) << r.err;

    std::vector<std::string> expected;
    for (std::size_t start = 0, end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1)
        expected.push_back(r.out.substr(start, end - start));
    ASSERT_EQ(expected.size(), 134u);
    for (std::size_t i = 0; i < letters.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(letters[i]);
        EXPECT_EQ(encode(std::string(1, static_cast<char>(b)), V), expected[i]) << "byte " << int(b);
    }
}

// The tables the encoder consults agree with the spellings they come from.
TEST(EncoderTest, LowerCaseLettersSpellTheirCapitalsInLowerCase) {
    for (int b = 0; b < 256; ++b) {
        const unsigned char l = viscii_lower[b];
        if (l == b) continue;
        std::string upper(viqr_spelling[b].text), lower(viqr_spelling[l].text);
        for (char &c : upper)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        EXPECT_EQ(upper, lower) << "byte " << b;
    }
}

}  // namespace
