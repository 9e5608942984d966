// The encoder: VISCII 1.1 to VIQR 1.1, one chunk at a time, with the one
// byte of history that decides escapes carried from chunk to chunk.
#include <cstring>

#include "encoder_tables.h"
#include "viqr.h"

namespace {

using namespace viqr::detail;

inline unsigned char *put_spelling(unsigned char *out, unsigned char byte) {
    const spelling &s = viqr_spelling[byte];
    std::memcpy(out, s.text, sizeof s.text);
    return out + s.length;
}

// A reader in Vietnamese mode joins marks to the vowel before them and a D to
// the D before it; the composition character goes between such a pair.
unsigned char *encode_vietnamese(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                 unsigned char composition_char, unsigned char &previous) {
    unsigned char p = previous;
    for (; in != end; ++in) {
        const unsigned char b = *in;
        if (b == composition_char) {
            *out++ = composition_char;
            *out++ = composition_char;
        } else {
            if (vietnamese_joins[b] & vietnamese_accepts[p]) *out++ = composition_char;
            out = put_spelling(out, b);
        }
        p = b;
    }
    previous = p;
    return out;
}

// A reader in English mode composes only after the composition character, so
// every marked letter is introduced by it.  After a letter with a shape mark
// and no tone that reader is still composing; a mode switch back to English
// ends that without writing anything.
unsigned char *encode_english(const unsigned char *in, const unsigned char *end, unsigned char *out,
                              unsigned char composition_char, unsigned char &previous) {
    unsigned char p = previous;
    for (; in != end; ++in) {
        const unsigned char b = *in;
        if (b == composition_char) {
            *out++ = composition_char;
            *out++ = composition_char;
        } else {
            if (english_joins[b] & english_accepts[p]) {
                *out++ = composition_char;
                *out++ = 'M';
            }
            if (english_marked[b]) *out++ = composition_char;
            out = put_spelling(out, b);
        }
        p = b;
    }
    previous = p;
    return out;
}

}  // namespace

std::size_t viqr_viscii_to_viqr(const unsigned char *input, std::size_t length, unsigned char *output,
                                unsigned char composition_char, int mode, viqr_encoder_history *history) {
    if (input == nullptr || output == nullptr) return 0;
    viqr_encoder_history fresh;
    unsigned char &previous = (history != nullptr ? *history : fresh).previous;
    unsigned char *end;
    if (mode == MODE_VIETNAMESE)
        end = encode_vietnamese(input, input + length, output, composition_char, previous);
    else if (mode == MODE_ENGLISH)
        end = encode_english(input, input + length, output, composition_char, previous);
    else
        return 0;
    return static_cast<std::size_t>(end - output);
}
