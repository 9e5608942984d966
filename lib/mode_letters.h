// The mode letters: the bytes that, right after the composition character,
// switch VIQR text to another mode.  The decoder engine, the typed reader and
// the choice of the UTF-8 layer's stand-in all ask here.
#pragma once

#include <array>
#include <cstddef>

#include "viqr.h"

namespace viqr::detail {

inline constexpr int NO_MODE = -1;

// The mode that `b` selects after the composition character; NO_MODE for a
// byte that is no mode letter.
constexpr int mode_of_letter(unsigned char b) {
    switch (b) {
    case 'V':
    case 'v':
        return MODE_VIETNAMESE;
    case 'M':
    case 'm':
        return MODE_ENGLISH;
    case 'L':
    case 'l':
        return MODE_LITERAL;
    default:
        return NO_MODE;
    }
}

// The same as a table, for the decoder's per-byte path.
inline constexpr auto mode_letter = [] {
    std::array<signed char, 256> modes{};
    for (int b = 0; b < 256; ++b) modes[b] = static_cast<signed char>(mode_of_letter(static_cast<unsigned char>(b)));
    return modes;
}();

// The mode letters themselves, for code that looks for them in a block.
inline constexpr auto mode_letter_bytes = [] {
    std::array<unsigned char, 6> bytes{};
    std::size_t n = 0;
    for (int b = 0; b < 256; ++b)
        if (mode_letter[b] != NO_MODE) bytes[n++] = static_cast<unsigned char>(b);
    return bytes;
}();
static_assert(mode_letter_bytes[0] == 'L' && mode_letter_bytes[5] == 'v', "L M V l m v, in byte order");

}  // namespace viqr::detail
