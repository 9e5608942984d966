// tonefix's two constants are the VISCII 1.1 codes of capital O with tilde and
// small a with dot below, as the letter assignment gives them.
#include <gtest/gtest.h>

#include "exchange.h"
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

TEST(TonefixExchange, SwapsTheTwoLettersAndNothingElse) {
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        const unsigned char expected = byte == 0xA0 ? 0xD5 : byte == 0xD5 ? 0xA0 : byte;
        EXPECT_EQ(tonefix::exchanged(byte), expected) << b;
    }
}

}  // namespace
