// The one difference between VISCII 1.0 and 1.1: capital O with tilde and
// small a with dot below sit at each other's code points.  Exchanging the two
// bytes turns 1.0 text into 1.1 text and 1.1 text back into 1.0.
#pragma once

namespace tonefix {

// The two letters at their VISCII 1.1 codes.
inline constexpr unsigned char CAPITAL_O_TILDE = 0xA0;
inline constexpr unsigned char SMALL_A_DOT_BELOW = 0xD5;

// The reference, byte by byte; the implementations' kernels exchange the
// two a block at a time.
constexpr unsigned char exchanged(unsigned char b) {
    return b == CAPITAL_O_TILDE ? SMALL_A_DOT_BELOW : b == SMALL_A_DOT_BELOW ? CAPITAL_O_TILDE : b;
}

namespace exchange_check {

constexpr bool is_its_own_inverse() {
    for (int b = 0; b < 256; ++b)
        if (exchanged(exchanged(static_cast<unsigned char>(b))) != b) return false;
    return true;
}

constexpr int bytes_changed() {
    int changed = 0;
    for (int b = 0; b < 256; ++b) changed += exchanged(static_cast<unsigned char>(b)) != b;
    return changed;
}

static_assert(is_its_own_inverse(), "running tonefix twice must give back the input");
static_assert(bytes_changed() == 2, "only the two exchanged letters change");

}  // namespace exchange_check

}  // namespace tonefix
