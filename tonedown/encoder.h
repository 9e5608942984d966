// VISCII 1.1 to VIQR 1.1, one chunk at a time.
#pragma once

#include <cstddef>

// Room the output of `length` input bytes needs.  A byte grows to at most four
// bytes: the composition character and a three-character spelling, or in
// English mode a switch back to English (two bytes) and a one-character
// spelling.  Every spelling is copied as a whole 4-byte field, so the last one
// may reach three bytes past its end; after a switch that is two bytes past
// four a byte.
constexpr std::size_t encoder_output_size(std::size_t length) { return 4 * length + 2; }

// What the encoder remembers from one chunk to the next: the previous input
// byte, which decides whether the next one must be escaped.  Start at 0.
struct encoder_history {
    unsigned char previous = 0;
};

// Converts `length` bytes of VISCII at `input` (0x00 bytes included) to VIQR in
// `mode` (MODE_VIETNAMESE or MODE_ENGLISH), escaping with `composition_char`.
// `output` must hold encoder_output_size(length) bytes.  Returns the number of
// bytes written; 0 for any other mode.
std::size_t viscii_to_viqr(const unsigned char *input, std::size_t length, unsigned char *output,
                           unsigned char composition_char, int mode, encoder_history &history);
