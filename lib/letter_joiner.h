// Composes Vietnamese letters in a stream of code points: a base letter
// followed by combining marks (in canonical order, or partly composed
// already) becomes the one precomposed letter, as the UTF-8 reader of
// tonedown -u composes.  The letter that a mark may still change is held
// back from one call to the next.
#pragma once

#include <array>
#include <cstddef>

#include "unicode_letters.h"

namespace viqr::detail {

// The code point of each VISCII byte (the C0 letters included).
constexpr std::array<char32_t, 256> make_code_point_of_viscii() {
    std::array<char32_t, 256> table{};
    for (int b = 0; b < 0x80; ++b) table[b] = static_cast<char32_t>(b);
    for_each_letter([&](int cls, int tone, unsigned char code) { table[code] = unicode_rows[cls][tone]; });
    return table;
}
inline constexpr std::array<char32_t, 256> code_point_of_viscii = make_code_point_of_viscii();

// The VISCII byte of a Vietnamese letter (ASCII base letters included); 0
// for any other code point.
constexpr unsigned char viscii_letter_of(char32_t cp) {
    if (cp < LOW_LETTERS_END) return viscii_of_low[cp];
    if (cp >= HIGH_LETTERS_FIRST && cp < HIGH_LETTERS_END) return viscii_of_high[cp - HIGH_LETTERS_FIRST];
    return 0;
}

static_assert(code_point_of_viscii[0xD5] == 0x1EA1 && viscii_letter_of(0x1EA1) == 0xD5);
static_assert(viscii_letter_of(0x02) == 0 && viscii_letter_of('a') == 'a' && viscii_letter_of(0x0300) == 0);

// Whether any of `n` code points is a combining mark that may join a letter.
inline bool any_combining(const char32_t *cps, std::size_t n) {
    bool found = false;
    for (std::size_t i = 0; i < n; ++i) found |= cps[i] - FIRST_COMBINING <= LAST_COMBINING - FIRST_COMBINING;
    return found;
}

class letter_joiner {
public:
    // Composes `n` code points from `in`; returns where the result is and
    // stores its length in `count`.  `in[-1]` must be writable: text without
    // combining marks stays where it is, the letter held from the call
    // before put in front of it, and a last letter that a mark at the start
    // of the next call may change held back.  Otherwise the result goes to
    // `out`, which has room for n + 1.
    const char32_t *join_in_place(char32_t *in, std::size_t n, char32_t *out, std::size_t &count) {
        if (n == 0 || any_combining(in, n)) {
            count = join(in, n, out);
            return out;
        }
        char32_t *start = in;
        count = n;
        if (held_ != 0) {
            *--start = code_point_of_viscii[held_];
            ++count;
            held_ = 0;
        }
        const unsigned char last = viscii_letter_of(in[n - 1]);
        if (last != 0 && takes_marks[last]) {
            held_ = last;
            --count;
        }
        return start;
    }

    // Composes `n` code points from `in` into `out` (room n + 1); returns
    // how many it wrote.
    std::size_t join(const char32_t *in, std::size_t n, char32_t *out) {
        char32_t *o = out;
        for (std::size_t i = 0; i < n; ++i) {
            const char32_t cp = in[i];
            if (held_ != 0) {
                if (cp >= FIRST_COMBINING && cp <= LAST_COMBINING) {
                    const int mark = combining_mark_of(cp);
                    const unsigned char joined = mark == NO_MARK ? 0 : mark_joins[held_][mark];
                    if (joined != 0) {
                        held_ = joined;
                        continue;
                    }
                }
                *o++ = code_point_of_viscii[held_];
                held_ = 0;
            }
            const unsigned char letter = viscii_letter_of(cp);
            if (letter != 0 && takes_marks[letter])
                held_ = letter;
            else
                *o++ = cp;
        }
        return static_cast<std::size_t>(o - out);
    }

    // The letter held back (its VISCII byte), which the caller now writes;
    // 0 for none.
    unsigned char take_held() {
        const unsigned char held = held_;
        held_ = 0;
        return held;
    }
    // Holds back a letter (a VISCII byte that takes marks) instead.
    void hold(unsigned char letter) { held_ = letter; }
    bool holding() const { return held_ != 0; }

    // The end of the text: writes the held letter (room 1).
    std::size_t finish(char32_t *out) {
        if (held_ == 0) return 0;
        *out = code_point_of_viscii[held_];
        held_ = 0;
        return 1;
    }

private:
    unsigned char held_ = 0;  // VISCII byte of the letter held back; 0 for none
};

}  // namespace viqr::detail
