// tonefix's two constants are the VISCII 1.1 codes of capital O with tilde and
// small a with dot below, as the letter assignment gives them.
#include <gtest/gtest.h>

#include "exchange.h"
#include "iconv_oracle.h"
#include "viscii_letters.h"

namespace {

using namespace viqr::detail;

constexpr int class_of(const char *spelling) {
    for (int cls = 1; cls < LETTER_CLASS_COUNT; ++cls)
        if (letter_rows[cls].spelling[0] == spelling[0] && letter_rows[cls].spelling[1] == spelling[1]) return cls;
    return 0;
}

static_assert(tonefix::CAPITAL_O_TILDE == letter_rows[class_of("O")].code[TONE_TILDE]);
static_assert(tonefix::SMALL_A_DOT_BELOW == letter_rows[class_of("a")].code[TONE_DOT]);

// The system's iconv says where VISCII 1.1 puts the two letters; the exchange
// must swap exactly those two bytes and leave the other 254 alone.
TEST(TonefixExchange, SwapsTheTwoLettersIconvPlacesAndNothingElse) {
    const auto o_tilde = iconv_convert("UTF-8", "VISCII", "\u00D5");       // Õ
    const auto a_dot_below = iconv_convert("UTF-8", "VISCII", "\u1EA1");  // ạ
    if (!o_tilde || !a_dot_below) GTEST_SKIP() << "this system's iconv has no VISCII";
    ASSERT_EQ(o_tilde->size(), 1u);
    ASSERT_EQ(a_dot_below->size(), 1u);
    const auto first = static_cast<unsigned char>((*o_tilde)[0]);
    const auto second = static_cast<unsigned char>((*a_dot_below)[0]);
    EXPECT_EQ(tonefix::exchanged(first), second);
    EXPECT_EQ(tonefix::exchanged(second), first);
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        if (byte != first && byte != second) {
            EXPECT_EQ(tonefix::exchanged(byte), byte) << b;
        }
    }
}

}  // namespace
