// The Unicode letter table against two independent oracles: Python's
// unicodedata (each letter is NFC; its NFD is the base letter and the marks
// of its VIQR spelling in canonical order; a combining mark after a letter
// composes to exactly the letter that mark_joins gives) and the system's
// iconv (each VISCII byte is the character the table gives it).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "oracle.h"
#include "process.h"
#include "unicode_letters.h"
#include "viqr_to_utf8.h"
#include "implementations.h"

namespace {

using namespace viqr::detail;

std::string hex_list(const std::vector<char32_t> &cps) {
    std::string text;
    char digits[12];
    for (char32_t cp : cps) {
        std::snprintf(digits, sizeof digits, "%s%04X", text.empty() ? "" : " ", static_cast<unsigned>(cp));
        text += digits;
    }
    return text;
}

// The mark characters of a spelling's second position and of a tone, as
// code points of combining marks.
int shape_index(char c) {
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s)
        if (shape_mark_char[s] == c) return s;
    return NO_MARK;
}

// The NFD this project expects: the base letter, then the shape mark and the
// tone mark of the spelling, ordered by canonical combining class (a stable
// sort: the dot below, class 220, goes before a breve or circumflex, 230).
std::vector<char32_t> expected_nfd(int cls, int tone) {
    const letter_row &row = letter_rows[cls];
    if (row_is_d(row)) return {unicode_rows[cls][TONE_NONE]};
    std::vector<char32_t> nfd{static_cast<unsigned char>(row.spelling[0])};
    std::vector<int> marks;
    if (shape_index(row.spelling[1]) != NO_MARK) marks.push_back(shape_index(row.spelling[1]));
    if (tone != TONE_NONE) marks.push_back(FIRST_TONE_MARK + tone - 1);
    if (marks.size() == 2 && combining_classes[marks[1]] < combining_classes[marks[0]]) std::swap(marks[0], marks[1]);
    for (int m : marks) nfd.push_back(combining_marks[m]);
    return nfd;
}

char32_t code_point_of(unsigned char viscii) {
    char32_t found = 0;
    for_each_letter([&](int cls, int tone, unsigned char code) {
        if (code == viscii) found = unicode_rows[cls][tone];
    });
    return found;
}

// The ten code points that join letters: the eight marks, U+0340 and U+0341.
std::vector<char32_t> joining_code_points() {
    std::vector<char32_t> cps(std::begin(combining_marks), std::end(combining_marks));
    cps.push_back(0x0340);
    cps.push_back(0x0341);
    return cps;
}

// For each input line of hexadecimal code points (a letter) Python prints
// NFC of the letter; NFD; the combining classes of the NFD; then for each
// joining code point the NFC of the letter followed by it.
const char *PYTHON_ORACLE = R"(python3 -c '
import sys, unicodedata
marks = [0x306, 0x302, 0x31B, 0x301, 0x300, 0x309, 0x303, 0x323, 0x340, 0x341]
h = lambda s: " ".join("%04X" % ord(c) for c in s)
for line in sys.stdin:
    letter = chr(int(line, 16))
    nfd = unicodedata.normalize("NFD", letter)
    fields = [h(unicodedata.normalize("NFC", letter)), h(nfd), " ".join(str(unicodedata.combining(c)) for c in nfd[1:])]
    fields += [h(unicodedata.normalize("NFC", letter + chr(m))) for m in marks]
    print(";".join(fields))
')";

std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

struct letter {
    int cls, tone;
    unsigned char code;
};

// The combining classes of the marks after the base of `nfd`, as Python
// prints them: space-separated.
std::string combining_classes_of(const std::vector<char32_t> &nfd) {
    std::string classes;
    for (std::size_t m = 1; m < nfd.size(); ++m) {
        if (!classes.empty()) classes += ' ';
        classes += std::to_string(combining_classes[combining_mark_of(nfd[m])]);
    }
    return classes;
}

// Where mark_joins gives a letter, Unicode composes the letter and the mark
// into that letter; where it gives none, into no Vietnamese letter (they stay
// two characters, or become one such as u with breve).  `composed` holds what
// Python composed, one field a joining mark.
void expect_joins_as_unicode(const letter &l, const std::vector<std::string> &composed,
                             const std::set<std::string> &vietnamese_letters) {
    const std::vector<char32_t> joining = joining_code_points();
    for (std::size_t m = 0; m < joining.size(); ++m) {
        const unsigned char joined = mark_joins[l.code][combining_mark_of(joining[m])];
        const std::string &nfc = composed[m];
        if (joined != 0)
            EXPECT_EQ(nfc, hex_list({code_point_of(joined)})) << "followed by " << hex_list({joining[m]});
        else
            EXPECT_EQ(vietnamese_letters.count(nfc), 0u) << "followed by " << hex_list({joining[m]});
    }
}

// One line of the oracle for `l`: its NFC, its NFD, the combining classes of
// its marks, and what each joining mark after it composes to.
void expect_letter_as_unicode(const letter &l, const std::string &line,
                              const std::set<std::string> &vietnamese_letters) {
    const char32_t cp = unicode_rows[l.cls][l.tone];
    const std::vector<std::string> fields = split(line, ';');
    ASSERT_EQ(fields.size(), 3 + joining_code_points().size()) << line;
    SCOPED_TRACE("letter " + hex_list({cp}) + " (VISCII " + std::to_string(l.code) + ")");
    EXPECT_EQ(fields[0], hex_list({cp})) << "not in NFC";
    const std::vector<char32_t> nfd = expected_nfd(l.cls, l.tone);
    EXPECT_EQ(fields[1], hex_list(nfd));
    EXPECT_EQ(fields[2], combining_classes_of(nfd)) << "combining classes";
    expect_joins_as_unicode(l, {fields.begin() + 3, fields.end()}, vietnamese_letters);
}

TEST(UnicodeLetters, EveryLetterAgreesWithPythonUnicodedata) {
    REQUIRE_ORACLE(have_python_unicodedata(),
                   "python3 with unicodedata is not installed: the letters are not checked against it");
    std::vector<letter> letters;
    std::string input;
    for_each_letter([&](int cls, int tone, unsigned char code) {
        letters.push_back({cls, tone, code});
        input += hex_list({unicode_rows[cls][tone]}) + "\n";
    });
    ASSERT_EQ(letters.size(), 134u + 14u);  // the 134 beyond ASCII and A D E I O U Y in both cases
    const run_result r = run_shell(PYTHON_ORACLE, input);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = split(r.out, '\n');
    ASSERT_EQ(lines.size(), letters.size());

    std::set<std::string> vietnamese_letters;
    for (const letter &l : letters) vietnamese_letters.insert(hex_list({unicode_rows[l.cls][l.tone]}));
    for (std::size_t i = 0; i < letters.size(); ++i) expect_letter_as_unicode(letters[i], lines[i], vietnamese_letters);
}

// iconv's VISCII, all 256 bytes at once: each is the character utf8_of_viscii
// gives it (ASCII itself, the six control codes and 0x80..0xFF letters).
TEST(UnicodeLetters, EveryVisciiByteIsTheCharacterIconvGives) {
    REQUIRE_ORACLE(have_iconv_viscii() && run_shell("printf 'a' | iconv -f VISCII -t UTF-8").status == 0,
                   "this system's iconv has no VISCII charset: the bytes are not checked against it");
    std::string ours;
    for (const utf8_field &f : utf8_of_viscii) ours.append(reinterpret_cast<const char *>(f.bytes), f.length);
    const run_result r = run_shell("iconv -f VISCII -t UTF-8", all_bytes());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ours);
}

// toneup -u writes what the decoder composes through write_utf8, whose
// kernels take a block at a time.  Over long random VISCII texts, with and
// without 0 bytes, it must write each byte's field of utf8_of_viscii (the
// table the two tests above check) through every implementation.
class WriteUtf8 : public viqr_test::OnEveryImplementation {};
VIQR_ON_EVERY_IMPLEMENTATION(WriteUtf8);

TEST_P(WriteUtf8, WritesTheFieldOfEveryByte) {
    std::mt19937 random(20261210);
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<unsigned char> text(random() % 2000);
        const int lowest = trial % 2 == 0 ? 0 : 1;
        for (unsigned char &b : text) b = static_cast<unsigned char>(lowest + random() % (256 - lowest));
        std::string expected;
        for (unsigned char b : text)
            expected.append(reinterpret_cast<const char *>(utf8_of_viscii[b].bytes), utf8_of_viscii[b].length);
        std::vector<unsigned char> out(3 * text.size() + 3);
        const unsigned char *end = write_utf8(kernels(), text.data(), text.size(), out.data());
        ASSERT_EQ(std::string(reinterpret_cast<const char *>(out.data()), end - out.data()), expected)
            << "trial " << trial;
    }
}

}  // namespace
