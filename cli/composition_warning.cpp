#include "composition_warning.h"

#include <array>
#include <cstdio>
#include <iterator>

#include "byte_classes.h"
#include "viscii_letters.h"

namespace viqr::cli {

namespace {

using viqr::detail::for_each_letter;
using viqr::detail::is_ascii_letter;
using viqr::detail::is_control;
using viqr::detail::is_digit;
using viqr::detail::is_space;
using viqr::detail::is_viqr_mark;

// Why a byte is a poor composition character, in the order of `explanation`.
enum class composition_hazard { none, letter, viscii_letter, digit, mark, white_space, control };

constexpr int ESCAPE = 0x1B;

// Later rules override earlier ones: a VISCII letter in a control position is
// a letter first.
constexpr std::array<composition_hazard, 256> hazard_table() {
    std::array<composition_hazard, 256> table{};
    for (int b = 0; b < 256; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        if (is_control(byte) && b != ESCAPE) table[b] = composition_hazard::control;
        if (is_space(byte)) table[b] = composition_hazard::white_space;
        if (is_digit(byte)) table[b] = composition_hazard::digit;
        if (is_viqr_mark(byte)) table[b] = composition_hazard::mark;
    }
    for_each_letter([&](int, int, unsigned char code) { table[code] = composition_hazard::viscii_letter; });
    for (int b = 0; b < 256; ++b)
        if (is_ascii_letter(static_cast<unsigned char>(b))) table[b] = composition_hazard::letter;
    return table;
}

constexpr std::array<composition_hazard, 256> hazards = hazard_table();

constexpr int count(composition_hazard h) {
    int n = 0;
    for (composition_hazard x : hazards) n += x == h;
    return n;
}

static_assert(count(composition_hazard::letter) == 52);
static_assert(count(composition_hazard::viscii_letter) == 134, "every letter VISCII adds to ASCII");
static_assert(count(composition_hazard::digit) == 10);
static_assert(count(composition_hazard::mark) == 8, "three shape marks and five tone marks");
static_assert(count(composition_hazard::white_space) == 6);
static_assert(count(composition_hazard::control) == 21, "33 controls less escape, 5 spaces, 6 letters");
static_assert(hazards['\\'] == composition_hazard::none && hazards[ESCAPE] == composition_hazard::none);

// What each hazard is, and why it makes VIQR ambiguous.
constexpr const char *explanation[] = {
    "",
    "a letter, so its escapes cannot be told from the letters of the text",
    "a VISCII letter, so its escapes cannot be told from the letters of the text",
    "a digit, so its escapes cannot be told from the digits of the text",
    "a VIQR mark, so its escapes cannot be told from the marks of letters",
    "white space, so its escapes cannot be told from the spacing of the text",
    "a control character, so its escapes are invisible and easily lost",
};
static_assert(std::size(explanation) == static_cast<std::size_t>(composition_hazard::control) + 1);

// The character as -com takes it: itself when printable ASCII, otherwise a
// backslash and three octal digits.
struct shown_char {
    char text[5];
    explicit shown_char(unsigned char c) {
        if (c > ' ' && c < 0x7F)
            std::snprintf(text, sizeof text, "%c", c);
        else
            std::snprintf(text, sizeof text, "\\%03o", c);
    }
};

}  // namespace

bool composition_char_suits_utf8(const char *program, unsigned char composition_char) {
    if (hazards[composition_char] != composition_hazard::viscii_letter) return true;
    std::fprintf(stderr,
                 "%s: composition character \"%s\" cannot be used with -u: it is a VISCII letter, not ASCII text "
                 "in UTF-8\n",
                 program, shown_char(composition_char).text);
    return false;
}

void warn_about_composition_char(const char *program, unsigned char composition_char) {
    const composition_hazard hazard = hazards[composition_char];
    if (hazard == composition_hazard::none) return;
    const shown_char shown(composition_char);
    std::fprintf(stderr, "%s: warning: composition character \"%s\" is %s\n", program, shown.text,
                 explanation[static_cast<int>(hazard)]);
}

}  // namespace viqr::cli
