// The tables of the composer's run (compose_held_run), which its kernels in
// every implementation share: what each merging byte makes of the byte
// written before it.  They are derived from the composer's own per-class
// constants (composer.h).
#pragma once

#include <array>

#include "composer.h"

namespace viqr::detail {

// What a byte of class k does to a letter of class `open` under way, worked
// out from the per-class constants: the letter it merges into (0 when it does
// not merge) and the class of the letter still under way afterwards (0 when a
// tone or a second D finished it).  One look-up instead of the accept test,
// the shift and the letter table, for the run below.
struct merge_step {
    unsigned char letter;
    unsigned char next_class;
};

inline constexpr auto merge_steps = [] {
    std::array<std::array<merge_step, CLASS_COUNT>, LETTER_CLASS_COUNT> table{};
    for (int open = 1; open < LETTER_CLASS_COUNT; ++open)
        for (int k = 0; k < CLASS_COUNT; ++k) {
            if ((accept_mask[open] & mark_bits[k]) == 0) continue;
            const int merged = open + class_shift[k];
            const bool shaped = is_shape_class(static_cast<unsigned char>(k));
            table[open][k] = {viscii_letter[merged][mark_bits[k] & TONE_MASK],
                              static_cast<unsigned char>(shaped ? merged : 0)};
        }
    return table;
}();

constexpr bool merged_letters_are_never_zero() {
    for (int open = 1; open < LETTER_CLASS_COUNT; ++open)
        for (int k = 0; k < CLASS_COUNT; ++k)
            if ((accept_mask[open] & mark_bits[k]) != 0 && merge_steps[open][k].letter == 0) return false;
    return true;
}
static_assert(merged_letters_are_never_zero(), "a letter of 0 in merge_steps means \"does not merge\"");


// The bytes that can merge into the byte before them: the eight marks and
// the D that doubles a D, numbered from 1.  Every other byte is written as it
// comes (a letter starts a new one), which is what lets a run copy the text
// between two of them unchanged.
inline constexpr auto merging_index = [] {
    std::array<unsigned char, 256> index{};
    unsigned char next = 1;
    for (int b = 0; b < 256; ++b)
        if (mark_bits[default_classes[b]] != 0) index[b] = next++;
    return index;
}();

inline constexpr int MERGING_COUNT = [] {
    int n = 0;
    for (unsigned char i : merging_index) n += i != 0;
    return n;
}();
static_assert(MERGING_COUNT == MARK_COUNT + 2, "the eight marks, D and d");

inline constexpr auto merging_bytes = [] {
    std::array<unsigned char, MERGING_COUNT> bytes{};
    for (int b = 0; b < 256; ++b)
        if (merging_index[b] != 0) bytes[merging_index[b] - 1] = static_cast<unsigned char>(b);
    return bytes;
}();

// What a merging byte makes of the byte written before it: the letter it
// merges into, or 0.  Under the default classes the byte written last tells
// the letter under way: a bare or shaped letter is open with its own class
// (a shaped letter takes the same tones whether it was typed whole or built
// from a mark), while a toned letter, Đ, đ and every other byte are not open
// and have no letter class.  So merge_steps, read by the class of that byte,
// is the whole rule.
inline constexpr auto merged_after = [] {
    std::array<std::array<unsigned char, 16>, 256> table{};
    for (int before = 0; before < 256; ++before) {
        const unsigned char open = default_classes[before];
        if (!is_letter_class(open)) continue;
        for (int b = 0; b < 256; ++b)
            if (merging_index[b] != 0)
                table[before][merging_index[b]] = merge_steps[open][default_classes[b]].letter;
    }
    return table;
}();
static_assert(MERGING_COUNT < 16);
static_assert(merged_after['a'][merging_index['^']] == 0xE2 && merged_after[0xE2][merging_index['\'']] == 0xA4 &&
                  merged_after[0xA4][merging_index['.']] == 0 && merged_after['d'][merging_index['d']] == 0xF0 &&
                  merged_after[0xF0][merging_index['d']] == 0 && merged_after['b'][merging_index['\'']] == 0,
              "a^ is â, â' is ấ which takes nothing more, dd is đ which takes no D, b takes no tone");

// Settles the composer's fields by stepping the bytes of the letter under way

}  // namespace viqr::detail
