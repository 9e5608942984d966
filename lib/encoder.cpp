// The encoder: VISCII 1.1 to VIQR 1.1, one chunk at a time, with the one
// byte of history that decides escapes carried from chunk to chunk.
#include <cstring>

#include "encoder_tables.h"
#include "viqr.h"
#include "wide_blocks.h"

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

#if defined(VIQR_WIDE_BLOCKS)

// Vietnamese mode 64 bytes at a time.  Every byte becomes four slots, the
// composition character when it needs one and the three characters of its
// spelling, with 0 for a slot it does not fill; the slots are put in order
// and compressed.  A 0 byte could not be told from an empty slot, and the
// composition character is rare in VISCII text, so a block with either goes
// to spell_vietnamese instead.
namespace wide {

using namespace ::viqr::detail::wide;

constexpr std::ptrdiff_t WIDE = WIDE_SIZE;

struct alignas(64) tables {
    unsigned char spelled[3][128];  // the characters of the spelling of 0x80 + i; 0 past its end
    unsigned char low_spelled[3][64];  // the same of the six control codes that are letters; 0 for other bytes
    unsigned char joins[256];       // vietnamese_joins
    unsigned char accepts[256];     // vietnamese_accepts
};

constexpr tables make_tables() {
    tables t{};
    for (int i = 0; i < 128; ++i)
        for (int k = 0; k < 3; ++k) {
            const packed_spelling &s = vietnamese_spelling[0x80 + i];
            t.spelled[k][i] = k < s.length ? static_cast<unsigned char>(s.text[k]) : 0;
        }
    for (int b = 0; b < 256; ++b) {
        t.joins[b] = vietnamese_joins[b];
        t.accepts[b] = vietnamese_accepts[b];
    }
    for (int b = 0; b < 0x20; ++b) {
        const packed_spelling &s = vietnamese_spelling[b];
        if (s.length == 1) continue;
        for (int k = 0; k < 3; ++k) t.low_spelled[k][b] = k < s.length ? static_cast<unsigned char>(s.text[k]) : 0;
    }
    return t;
}

constexpr tables table = make_tables();

// Every byte from 0x80 on and six below 0x20 are marked letters, spelled in
// two or three; every other byte stands for itself.
constexpr bool letters_are_spelled_in_two_or_three() {
    int letters = 0;
    for (int b = 0; b < 0x100; ++b) {
        const packed_spelling &s = vietnamese_spelling[b];
        if (s.length == 1 && static_cast<unsigned char>(s.text[0]) == b) continue;
        if (s.length < 2 || s.length > 3 || (b >= 0x20 && b < 0x80)) return false;
        ++letters;
    }
    return letters == 128 + 6;
}
static_assert(letters_are_spelled_in_two_or_three());
static_assert(table.low_spelled[1][0x14] == '?' && table.low_spelled[0][int('\n')] == 0 &&
              table.spelled[2][0xA4 - 0x80] == '\'' && table.spelled[2][0xE2 - 0x80] == 0,
              "0x14 is Y?, ấ is a^' and â is a^");

// Character k of the spelling of each letter of `bytes` (0 past its end and
// for bytes that are no letter); `high` and `controls` tell where the letters
// from 0x80 on and below 0x20 may be.
VIQR_WIDE_TARGET inline __m512i spelled(int k, __m512i bytes, __mmask64 high, __mmask64 controls) {
    const __m512i low = _mm512_maskz_permutexvar_epi8(controls, bytes, vector(table.low_spelled[k]));
    const __m512i high_letters =
        _mm512_maskz_permutex2var_epi8(high, vector(table.spelled[k]), bytes, vector(table.spelled[k] + 64));
    return _mm512_or_si512(low, high_letters);
}

// Spells the bytes from `in` while 128 or more are left; every block has an
// input byte before it.  Each store may run 64 bytes past what is written,
// into room that the output of the 64 bytes still to come fills.
VIQR_WIDE_TARGET unsigned char *spell_vietnamese(const unsigned char *&in, const unsigned char *end,
                                                 const unsigned char *start, unsigned char *out,
                                                 unsigned char composition_char, unsigned char previous) {
    const __m512i composition = _mm512_set1_epi8(static_cast<char>(composition_char));
    while (end - in >= 2 * WIDE) {
        const __m512i bytes = _mm512_loadu_si512(in);
        const __mmask64 left_alone =
            _mm512_testn_epi8_mask(bytes, bytes) | _mm512_cmpeq_epi8_mask(bytes, composition);
        if (left_alone != 0) {
            out = ::spell_vietnamese(in, in + WIDE, start, out, composition_char, previous);
            in += WIDE;
            continue;
        }
        const __mmask64 high = _mm512_movepi8_mask(bytes);
        const __mmask64 controls = _mm512_cmplt_epu8_mask(bytes, _mm512_set1_epi8(0x20));
        const __m512i low_first = _mm512_maskz_permutexvar_epi8(controls, bytes, vector(table.low_spelled[0]));
        const __mmask64 low_letters = _mm512_test_epi8_mask(low_first, low_first);
        const __m512i first = _mm512_mask_blend_epi8(high | low_letters, bytes, spelled(0, bytes, high, controls));
        const __m512i second = spelled(1, bytes, high, controls);
        const __m512i third = spelled(2, bytes, high, controls);
        const __m512i before = _mm512_loadu_si512(in - 1);
        const __mmask64 escaped =
            _mm512_test_epi8_mask(look_up(table.joins, bytes), look_up(table.accepts, before));
        const __m512i escape = _mm512_maskz_mov_epi8(escaped, composition);

        out = put_in_order(out, escape, first, second, third);
        in += WIDE;
    }
    return out;
}

}  // namespace wide

#endif

unsigned char *encode_vietnamese(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                 unsigned char composition_char, unsigned char &previous) {
    if (in == end) return out;
    const unsigned char *const start = in;
#if defined(VIQR_WIDE_BLOCKS)
    if (composition_char != 0 && end - in > 2 * wide::WIDE && wide_blocks_available()) {
        out = spell_vietnamese(in, in + 1, start, out, composition_char, previous);
        ++in;
        out = wide::spell_vietnamese(in, end, start, out, composition_char, previous);
    }
#endif
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
