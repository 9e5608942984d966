// What Windows-1252 puts at 0x80..0x9F (curly quotes, dashes, the euro
// sign); TCVN3's and VNI's fonts and Windows-1258 keep most of it.  Checked
// against Python's cp1252 codec in the tests.
#pragma once

#include "codec.h"

namespace viqr::detail {

// Index: byte - 0x80; UNDEFINED_INPUT for the five bytes Windows-1252 leaves
// undefined.
inline constexpr char32_t cp1252_punctuation[32] = {
    0x20AC, UNDEFINED_INPUT, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, UNDEFINED_INPUT, 0x017D, UNDEFINED_INPUT,  // 88..8F
    UNDEFINED_INPUT, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,           // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, UNDEFINED_INPUT, 0x017E, 0x0178,           // 98..9F
};

// Windows-1258 leaves undefined the four letters with caron of Windows-1252.
constexpr bool undefined_in_cp1258(int byte) { return byte == 0x8A || byte == 0x8E || byte == 0x9A || byte == 0x9E; }

}  // namespace viqr::detail
