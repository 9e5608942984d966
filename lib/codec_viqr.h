// VIQR through the project's own engines: reading is toneup -u (a decoder
// context, strict or with the typed reader) followed by the UTF-8 decoder;
// writing is tonedown -u (the encoder over UTF-8), mode announcement first.
#pragma once

#include "codec.h"
#include "codec_unicode.h"

namespace viqr::detail {

class viqr_decoder final : public decoder {
public:
    // Opens a decoder context; check `opened()`.
    explicit viqr_decoder(bool typed);
    ~viqr_decoder() override;
    viqr_decoder(const viqr_decoder &) = delete;
    viqr_decoder &operator=(const viqr_decoder &) = delete;

    bool opened() const { return context_ >= 0; }
    std::size_t decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) override;
    std::size_t finish(char32_t *out, input_tracker &input) override;
    bool decomposes() const override { return true; }
    void begin_input() override;

private:
    std::size_t read_utf8(std::size_t length, char32_t *out, input_tracker &input);
    void take_undefined(input_tracker &input);

    int context_;
    viqr_to_utf8_state state_{};
    utf8_decoder utf8_;
    input_tracker utf8_input_;  // counts what the UTF-8 decoder finds undefined
    unsigned long long reported_offset_ = 0;
    unsigned char utf8_text_[VIQR_TO_UTF8_OUTPUT_SIZE(PIECE)];
};

class viqr_encoder final : public encoder {
public:
    explicit viqr_encoder(int mode);
    unsigned char *encode(const char32_t *in, std::size_t n, unsigned char *out, loss_sink &) override;
    unsigned char *finish(unsigned char *out) override;
    bool holds_replacement() const override { return true; }

private:
    unsigned char *announce(unsigned char *o);

    int mode_;
    bool announced_ = false;
    viqr_from_utf8_state state_{};
    unsigned char utf8_text_[4 * DECODE_ROOM];
    unsigned char viqr_text_[VIQR_FROM_UTF8_OUTPUT_SIZE(4 * DECODE_ROOM)];
};

}  // namespace viqr::detail
