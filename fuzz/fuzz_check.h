// What the fuzz targets share: a failed check that libFuzzer reports as a
// finding, the composition characters that have no other meaning in VIQR,
// and what the round-trip targets take from their input.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "viqr.h"
#include "viscii_letters.h"

// Ends the run with the reason on standard error; libFuzzer saves the input.
[[noreturn]] inline void fail(const char *what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

inline void check(bool ok, const char *what) {
    if (!ok) fail(what);
}

namespace fuzz_check_detail {

using namespace viqr::detail;

constexpr bool is_viscii_letter(unsigned char b) {
    bool found = false;
    for_each_letter([&](int, int, unsigned char code) { found = found || code == b; });
    return found;
}

constexpr bool is_mark_char(unsigned char b) {
    for (int t = 1; t < TONE_COUNT; ++t)
        if (b == static_cast<unsigned char>(tone_mark_char[t])) return true;
    return is_shape_char(static_cast<char>(b));
}

}  // namespace fuzz_check_detail

// A composition character that the decoder reads only as the composition
// character: 7-bit, no letter of either alphabet (so no mode letter either)
// and no mark.  With such a character a flush or a change of mode settles
// the context, and tonedown's output reads back exactly.
constexpr bool is_ordinary_composition_char(unsigned char b) {
    const bool ascii_letter = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    return b < 0x80 && !ascii_letter && !fuzz_check_detail::is_viscii_letter(b) &&
           !fuzz_check_detail::is_mark_char(b);
}

constexpr int count_ordinary_composition_chars() {
    int n = 0;
    for (int b = 0; b < 256; ++b) n += is_ordinary_composition_char(static_cast<unsigned char>(b));
    return n;
}

// 128 seven-bit bytes less 52 ASCII letters, 6 VISCII letters among the
// controls and 8 marks.
static_assert(count_ordinary_composition_chars() == 128 - 52 - 6 - 8);

constexpr std::array<unsigned char, count_ordinary_composition_chars()> ordinary_composition_chars() {
    std::array<unsigned char, count_ordinary_composition_chars()> chars{};
    std::size_t n = 0;
    for (int b = 0; b < 256; ++b)
        if (is_ordinary_composition_char(static_cast<unsigned char>(b))) chars[n++] = static_cast<unsigned char>(b);
    return chars;
}

// Up to `most` chunk sizes of 0 to `largest` bytes each, taken from the input.
inline std::vector<std::size_t> chunk_sizes(FuzzedDataProvider &data, int most, std::size_t largest) {
    std::vector<std::size_t> sizes;
    for (int i = data.ConsumeIntegralInRange<int>(0, most); i > 0; --i)
        sizes.push_back(data.ConsumeIntegralInRange<std::size_t>(0, largest));
    return sizes;
}

// What fuzz_roundtrip and fuzz_utf8 take from their input, in this order
// (fuzz/make_seeds.py writes their seeds so): the mode tonedown writes in, a
// composition character, the decoder's initial mode, the chunk sizes of the
// way down and of the way up (at most 8 each, of up to `largest_chunk`
// bytes), and the text.
struct round_trip_input {
    int mode;
    unsigned char composition_char;
    int initial_mode;
    std::vector<std::size_t> down_chunks, up_chunks;
    std::string text;
};

inline round_trip_input read_round_trip_input(FuzzedDataProvider &data, std::size_t largest_chunk) {
    static constexpr auto composition_chars = ordinary_composition_chars();
    round_trip_input in;
    in.mode = data.ConsumeBool() ? MODE_ENGLISH : MODE_VIETNAMESE;
    in.composition_char = data.PickValueInArray(composition_chars);
    in.initial_mode = data.ConsumeIntegralInRange<int>(MODE_VIETNAMESE, MODE_LITERAL);
    in.down_chunks = chunk_sizes(data, 8, largest_chunk);
    in.up_chunks = chunk_sizes(data, 8, largest_chunk);
    in.text = data.ConsumeRemainingBytesAsString();
    return in;
}
