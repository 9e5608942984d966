// The encoder: VISCII 1.1 to VIQR 1.1, one chunk at a time, with the one
// byte of history that decides escapes carried from chunk to chunk.
#include <cstring>

#include "encoder_tables.h"
#include "viqr.h"
#include "implementation.h"

namespace {

using namespace viqr::detail;

inline unsigned char *put_spelling(unsigned char *out, const packed_spelling &s) {
    std::memcpy(out, s.text, 4);
    return out + s.length;
}

// The byte before `in`: the one read last in this chunk, or the history.
inline unsigned char previous_of(const unsigned char *in, const unsigned char *start, unsigned char history) {
    return in == start ? history : in[-1];
}

// Calls `encode_span(from, to)` for each stretch of the input between
// composition characters and writes each composition character doubled.
// Finding them first keeps that test out of the per-byte loop.
template <class EncodeSpan>
unsigned char *encode_between_escapes(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                      unsigned char composition_char, EncodeSpan encode_span) {
    while (in != end) {
        const void *found = std::memchr(in, composition_char, static_cast<std::size_t>(end - in));
        const unsigned char *stop = found ? static_cast<const unsigned char *>(found) : end;
        out = encode_span(in, stop, out);
        in = stop;
        if (in != end) {
            *out++ = composition_char;
            *out++ = composition_char;
            ++in;
        }
    }
    return out;
}

// A reader in Vietnamese mode joins marks to the vowel before them and a D to
// the D before it; the composition character goes between such a pair.  Most
// bytes join nothing: they are spelled without a look at the byte before.
// `start` is where the chunk began, before which `previous` is the byte.
unsigned char *spell_vietnamese(const unsigned char *from, const unsigned char *to, const unsigned char *start,
                                unsigned char *out, unsigned char composition_char, unsigned char previous) {
    auto encode_span = [&](const unsigned char *span, const unsigned char *span_end, unsigned char *o) {
        for (; span != span_end; ++span) {
            const unsigned char b = *span;
            const packed_spelling &s = vietnamese_spelling[b];
            if (s.needs_care && (vietnamese_joins[b] & vietnamese_accepts[previous_of(span, start, previous)]))
                *o++ = composition_char;
            o = put_spelling(o, s);
        }
        return o;
    };
    return encode_between_escapes(from, to, out, composition_char, encode_span);
}

// The kernel takes what it can, blocks at a time; where it stops short of
// the end, this spells a block and asks it again.
unsigned char *encode_vietnamese(const implementation &kernels, const unsigned char *in, const unsigned char *end,
                                 unsigned char *out, unsigned char composition_char, unsigned char &previous) {
    if (in == end) return out;
    const unsigned char *const start = in;
    if (kernels.encode_vietnamese != nullptr && composition_char != 0 && end - in > 2 * kernels.block) {
        // Every block has an input byte before it.
        out = spell_vietnamese(in, in + 1, start, out, composition_char, previous);
        ++in;
        for (;;) {
            const progress taken = kernels.encode_vietnamese(in, end, out, composition_char);
            in = taken.in;
            out = taken.out;
            if (end - in < 2 * kernels.block) break;
            out = spell_vietnamese(in, in + kernels.block, start, out, composition_char, previous);
            in += kernels.block;
        }
    }
    out = spell_vietnamese(in, end, start, out, composition_char, previous);
    previous = end[-1];
    return out;
}

// A reader in English mode composes only after the composition character, so
// every marked letter is introduced by it.  After a letter with a shape mark
// and no tone that reader is still composing; a mode switch back to English
// ends that without writing anything.
unsigned char *encode_english(const unsigned char *in, const unsigned char *end, unsigned char *out,
                              unsigned char composition_char, unsigned char &previous) {
    const unsigned char *const start = in;
    auto encode_span = [&](const unsigned char *from, const unsigned char *to, unsigned char *o) {
        for (; from != to; ++from) {
            const unsigned char b = *from;
            const packed_spelling &s = english_spelling[b];
            if (s.needs_care) {
                if (english_joins[b] & english_accepts[previous_of(from, start, previous)]) {
                    *o++ = composition_char;
                    *o++ = 'M';
                }
                if (english_marked[b]) *o++ = composition_char;
            }
            o = put_spelling(o, s);
        }
        return o;
    };
    out = encode_between_escapes(in, end, out, composition_char, encode_span);
    if (end != start) previous = end[-1];
    return out;
}

}  // namespace

namespace viqr::detail {

std::size_t viscii_to_viqr_with(const implementation &kernels, const unsigned char *input, std::size_t length,
                                unsigned char *output, unsigned char composition_char, int mode,
                                viqr_encoder_history *history) {
    if (input == nullptr || output == nullptr) return 0;
    viqr_encoder_history fresh;
    unsigned char &previous = (history != nullptr ? *history : fresh).previous;
    unsigned char *end;
    if (mode == MODE_VIETNAMESE)
        end = encode_vietnamese(kernels, input, input + length, output, composition_char, previous);
    else if (mode == MODE_ENGLISH)
        end = encode_english(input, input + length, output, composition_char, previous);
    else
        return 0;
    return static_cast<std::size_t>(end - output);
}

}  // namespace viqr::detail

std::size_t viqr_viscii_to_viqr(const unsigned char *input, std::size_t length, unsigned char *output,
                                unsigned char composition_char, int mode, viqr_encoder_history *history) {
    return viqr::detail::viscii_to_viqr_with(viqr::detail::active_implementation(), input, length, output,
                                             composition_char, mode, history);
}
