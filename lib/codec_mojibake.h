// Text that went through the wrong code page once: bytes of one encoding
// shown as Windows-1252 and saved again as UTF-8 (UTF-8 itself: "Tiáº¿ng";
// TCVN3: "Céng hßa"; VNI: "Coäng hoøa").  Reading it undoes that step
// exactly, giving back the bytes as they were, and reads them in the inner
// encoding.
#pragma once

#include <array>
#include <memory>

#include "codec.h"
#include "codec_cp1252.h"
#include "codec_unicode.h"

namespace viqr::detail {

// The byte Windows-1252 shows as each code point, as 0x100 | byte; 0 where
// it shows none.  Windows shows its five undefined bytes as U+0081, U+008D,
// U+008F, U+0090 and U+009D; a reading as Latin-1 shows all of 0x80..0x9F
// as U+0080..U+009F, so those code points give their bytes back too.
struct cp1252_reverse {
    std::array<std::uint16_t, 0x100> latin1{};  // code points below U+0100
    std::array<char32_t, 32> punctuation{};    // the code point of 0x80 + i, 0 where it is the C1 one
};

constexpr cp1252_reverse make_cp1252_reverse() {
    cp1252_reverse r;
    for (int b = 0; b < 0x100; ++b) r.latin1[b] = static_cast<std::uint16_t>(0x100 | b);
    for (int i = 0; i < 32; ++i) r.punctuation[i] = cp1252_punctuation[i] == UNDEFINED_INPUT ? 0 : cp1252_punctuation[i];
    return r;
}
inline constexpr cp1252_reverse cp1252_bytes = make_cp1252_reverse();

// The byte Windows-1252 shows as `cp`, or -1.
constexpr int cp1252_byte_of(char32_t cp) {
    if (cp < 0x100) return cp1252_bytes.latin1[cp] & 0xFF;
    for (int i = 0; i < 32; ++i)
        if (cp1252_bytes.punctuation[i] == cp) return 0x80 + i;
    return -1;
}

static_assert(cp1252_byte_of(0x20AC) == 0x80 && cp1252_byte_of(0x0081) == 0x81 && cp1252_byte_of(0x0178) == 0x9F);
static_assert(cp1252_byte_of(0x00E1) == 0xE1 && cp1252_byte_of(0x1EC7) == -1 && cp1252_byte_of(0x2019) == 0x92);

// Reads UTF-8, turns each character back into the byte Windows-1252 showed
// it for, and hands those bytes to the inner decoder.  A character that no
// byte shows as (ệ in text that was never mojibake) is undefined input, as
// is invalid UTF-8; the inner decoder's undefined bytes are reported at the
// place of the character that gave them.
class mojibake_decoder final : public decoder {
public:
    explicit mojibake_decoder(std::unique_ptr<decoder> inner) : inner_(std::move(inner)) {}

    std::size_t decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) override {
        const std::size_t count = outer_.decode(in, n, shown_, input);
        return undo(count, out, input);
    }

    std::size_t finish(char32_t *out, input_tracker &input) override {
        const std::size_t count = outer_.finish(shown_, input);
        char32_t *o = out + undo(count, out, input);
        input_tracker inner_input;
        o += inner_->finish(o, inner_input);
        pass_on_undefined(inner_input, input);
        offset_ = 0;
        return static_cast<std::size_t>(o - out);
    }

    bool decomposes() const override { return true; }
    void begin_input() override { offset_ = 0; }

private:
    // Turns `count` shown code points back into bytes and reads them; runs of
    // bytes go to the inner decoder whole, broken only where a character has
    // no byte.
    std::size_t undo(std::size_t count, char32_t *out, input_tracker &input) {
        char32_t *o = out;
        std::size_t run = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const char32_t cp = shown_[i];
            const int byte = cp == UNDEFINED_INPUT ? -1 : cp1252_byte_of(cp);
            const unsigned long long at = offset_;
            offset_ += cp == UNDEFINED_INPUT ? 1 : utf8_of(cp).length + (cp >= 0x10000);
            if (byte >= 0) {
                bytes_[run] = static_cast<unsigned char>(byte);
                offsets_[run++] = at;
                continue;
            }
            o = read_inner(run, o, input);
            run = 0;
            if (cp != UNDEFINED_INPUT) input.note_undefined(at, first_utf8_byte(cp));
            *o++ = UNDEFINED_INPUT;
        }
        return static_cast<std::size_t>(read_inner(run, o, input) - out);
    }

    char32_t *read_inner(std::size_t run, char32_t *o, input_tracker &input) {
        if (run == 0) return o;
        input_tracker inner_input;
        o += inner_->decode(bytes_, run, o, inner_input);
        pass_on_undefined(inner_input, input);
        return o;
    }

    void pass_on_undefined(const input_tracker &inner_input, input_tracker &input) const {
        if (inner_input.undefined == 0) return;
        input.note_undefined(offsets_[inner_input.first_offset], inner_input.first_byte);
        input.undefined += inner_input.undefined - 1;
    }

    static unsigned char first_utf8_byte(char32_t cp) {
        if (cp >= 0x10000) return static_cast<unsigned char>(0xF0 | (cp >> 18));
        return utf8_of(cp).bytes[0];
    }

    utf8_decoder outer_;
    std::unique_ptr<decoder> inner_;
    unsigned long long offset_ = 0;  // of the next shown character, from the start of the input
    char32_t shown_[DECODE_ROOM];
    unsigned char bytes_[DECODE_ROOM];
    unsigned long long offsets_[DECODE_ROOM];
};

}  // namespace viqr::detail
