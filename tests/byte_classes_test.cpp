// The byte class table against the C library's <cctype> in the C locale and
// against the VIQR spelling of each byte: every one of the 256 bytes.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstring>

#include "byte_classes.h"
#include "encoder_tables.h"

using namespace viqr::detail;

TEST(ByteClasses, AsciiClassesAgreeWithCctypeInTheCLocale) {
    std::setlocale(LC_ALL, "C");
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        SCOPED_TRACE(b);
        EXPECT_EQ(is_space(byte), std::isspace(b) != 0);
        EXPECT_EQ(is_digit(byte), std::isdigit(b) != 0);
        EXPECT_EQ(is_ascii_upper(byte), std::isupper(b) != 0);
        EXPECT_EQ(is_ascii_lower(byte), std::islower(b) != 0);
        EXPECT_EQ(is_control(byte), std::iscntrl(b) != 0);
        EXPECT_EQ(is_viqr_mark(byte), b != 0 && b < 0x80 && std::strchr("(^+'`?~.", b) != nullptr);
    }
}

// A byte's VIQR spelling tells what letter it is: a letter of the rows is
// spelled with an A D E I O U Y first; a shape mark second means a shaped
// letter; a tone mark last means a toned one.
TEST(ByteClasses, LetterClassesAgreeWithTheSpelling) {
    int letters = 0;
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        const spelling &s = viqr_spelling[b];
        SCOPED_TRACE(b);
        const bool bare_row_letter = s.length == 1 && s.text[0] != '\0' && std::strchr("ADEIOUYadeiouy", s.text[0]);
        const bool row_letter = b >= 0x80 || s.length > 1 || bare_row_letter;
        EXPECT_EQ(is_row_letter(byte), row_letter);
        if (!row_letter) continue;
        ++letters;
        const char first = s.text[0], last = s.text[s.length - 1];
        EXPECT_EQ(byte_is(byte, BYTE_VOWEL), first != 'D' && first != 'd');
        EXPECT_EQ(byte_is(byte, BYTE_HAS_SHAPE), s.length > 1 && std::strchr("(^+", s.text[1]) != nullptr);
        EXPECT_EQ(byte_is(byte, BYTE_HAS_TONE), s.length > 1 && std::strchr("'`?~.", last) != nullptr);
    }
    EXPECT_EQ(letters, 148);
}
