// The decoder and encoder of every single-byte charset, over its tables:
// what each byte stands for, and how each code point is spelled.
#pragma once

#include "codec_single_byte.h"
#include "codec_viscii.h"
#include "fast_lanes.h"

namespace viqr::detail {

template <const single_byte_charset &Charset>
class single_byte_decoder final : public decoder {
public:
    std::size_t decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) override {
        for (std::size_t i = 0; i < n; ++i) {
            const char32_t cp = Charset.decode[in[i]];
            if (cp == UNDEFINED_INPUT) input.note_undefined(input.offset + i, in[i]);
            out[i] = cp;
        }
        return n;
    }
    std::size_t finish(char32_t *, input_tracker &) override { return 0; }
    bool decomposes() const override { return has_marks; }
    const byte_fields *fields() const override { return &table; }

private:
    static constexpr bool has_marks = decomposes_somewhere(Charset);
    static constexpr byte_fields table = make_byte_fields(Charset);
};

// The byte of each VISCII byte's character is the one the charset reads
// back as that character, and a character without a byte is one the charset
// cannot write in one byte.
constexpr bool viscii_byte_spellings_agree(const single_byte_charset &charset, const reverse_charset &reverse,
                                           const viscii_byte_spellings &table) {
    for (int v = 0; v < 256; ++v) {
        const char32_t cp = code_point_of_viscii[v];
        const spelling_field f = table.field(v);
        if (f.length == 1 ? charset.decode[f.bytes[0]] != cp : reverse.byte_of(cp) >= 0) return false;
        if (f.length == 2 && !charset.combining_tones) return false;
    }
    return true;
}

template <const single_byte_charset &Charset>
class single_byte_encoder final : public encoder {
public:
    unsigned char *encode(const char32_t *in, std::size_t n, unsigned char *o, loss_sink &losses) override {
        return write_spelled(spelled, in, n, o, losses, [](char32_t cp) { return reverse.byte_of(cp); });
    }
    const spelling_pages *spellings() const override { return &spelled; }
    const flat_spellings *flat() const override { return &flat_spelled; }
    const viscii_byte_spellings *viscii_spelled() const override { return &from_viscii; }

private:
    static constexpr reverse_charset reverse = make_reverse(Charset);
    static_assert(reverse_agrees(Charset, reverse));
    static constexpr spelling_pages spelled = make_spellings(Charset);
    static constexpr flat_spellings flat_spelled = make_flat_spellings(spelled);
    static constexpr viscii_byte_spellings from_viscii = make_viscii_byte_spellings(spelled);
    static_assert(viscii_byte_spellings_agree(Charset, reverse, from_viscii));
};

// VISCII spells each of its bytes as itself.
static_assert(make_viscii_byte_spellings(make_spellings(viscii_charset)).as_is);

}  // namespace viqr::detail
