// The VIQR codecs (codec_viqr.h).
#include "codec_viqr.h"

#include <cstring>

namespace viqr::detail {

viqr_decoder::viqr_decoder(bool typed)
    : context_(viqr_open(VIQR_MODE_VIETNAMESE, VIQR_DEFAULT_COMPOSITION_CHAR, VIQR_DEFAULT_OVERSTRIKE_CHAR)) {
    if (context_ < 0) return;
    viqr_set(context_, 1, VIQR_PARAM_HOLD);
    if (typed) viqr_set(context_, 1, VIQR_PARAM_TYPED);
    viqr_to_utf8_start(&state_, context_);
}

viqr_decoder::~viqr_decoder() {
    if (context_ >= 0) viqr_close(context_, nullptr, nullptr);
}

void viqr_decoder::begin_input() { viqr_utf8_begin_input(&state_.scan, ""); }

// Undefined bytes are found by the UTF-8 decoder in the engine's output,
// where the offsets are not the input's; the engine's own scan, which copies
// them, gives the first one's offset in the input.
std::size_t viqr_decoder::read_utf8(std::size_t length, char32_t *out, input_tracker &input) {
    const std::size_t n = utf8_.decode(utf8_text_, length, out, utf8_input_);
    utf8_input_.offset += length;
    viqr_utf8_report report;
    while (viqr_utf8_take_report(&state_.scan, &report) != 0) reported_offset_ = report.offset;
    take_undefined(input);
    return n;
}

void viqr_decoder::take_undefined(input_tracker &input) {
    if (utf8_input_.undefined == 0) return;
    if (input.undefined == 0) {
        input.first_offset = reported_offset_;
        input.first_byte = utf8_input_.first_byte;
    }
    input.undefined += utf8_input_.undefined;
    utf8_input_.undefined = 0;
}

std::size_t viqr_decoder::decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) {
    return read_utf8(viqr_to_utf8(&state_, in, n, utf8_text_), out, input);
}

std::size_t viqr_decoder::finish(char32_t *out, input_tracker &input) {
    std::size_t n = read_utf8(viqr_to_utf8_finish(&state_, utf8_text_), out, input);
    n += utf8_.finish(out + n, utf8_input_);
    take_undefined(input);
    // The next text starts in Vietnamese mode, as a new context would.
    viqr_set(context_, VIQR_MODE_VIETNAMESE, VIQR_PARAM_STATE);
    return n;
}

viqr_encoder::viqr_encoder(int mode) : mode_(mode) {
    viqr_from_utf8_start(&state_, VIQR_DEFAULT_COMPOSITION_CHAR, mode);
}

unsigned char *viqr_encoder::announce(unsigned char *o) {
    if (announced_) return o;
    announced_ = true;
    *o++ = VIQR_DEFAULT_COMPOSITION_CHAR;
    *o++ = mode_ == VIQR_MODE_ENGLISH ? 'M' : 'V';
    return o;
}

unsigned char *viqr_encoder::encode(const char32_t *in, std::size_t n, unsigned char *o, loss_sink &) {
    o = announce(o);
    unsigned char *u = utf8_text_;
    for (std::size_t i = 0; i < n; ++i) u = write_utf8_code_point(in[i], u);
    const std::size_t written = viqr_from_utf8(&state_, utf8_text_, static_cast<std::size_t>(u - utf8_text_), viqr_text_);
    std::memcpy(o, viqr_text_, written);
    return o + written;
}

unsigned char *viqr_encoder::finish(unsigned char *o) {
    o = announce(o);
    const std::size_t written = viqr_from_utf8_finish(&state_, viqr_text_);
    std::memcpy(o, viqr_text_, written);
    announced_ = false;
    viqr_from_utf8_start(&state_, VIQR_DEFAULT_COMPOSITION_CHAR, mode_);
    return o + written;
}

}  // namespace viqr::detail
