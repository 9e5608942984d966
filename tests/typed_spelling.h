// VISCII text spelled as people type VIQR: every letter as its base letter,
// shape mark and tone mark, nothing escaped.  The typed reader's tests and
// its fuzz target compare spellings: the reader may regroup letters and
// marks, never change them.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "viscii_letters.h"

inline std::string typed_spelling(std::string_view viscii) {
    using namespace viqr::detail;
    static const auto spelled = [] {
        std::array<std::string, 256> s;
        for (int b = 0; b < 256; ++b) s[b] = std::string(1, char(b));
        for_each_letter([&](int cls, int tone, unsigned char code) {
            s[code] = letter_rows[cls].spelling;
            if (tone != TONE_NONE) s[code] += tone_mark_char[tone];
        });
        return s;
    }();
    std::string out;
    for (unsigned char b : viscii) out += spelled[b];
    return out;
}
