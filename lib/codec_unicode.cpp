// The Unicode codecs (codec_unicode.h).
#include "codec_unicode.h"

#include <cstring>

namespace viqr::detail {

namespace {

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

char32_t *utf8_decoder::drop_sequence(char32_t *o, input_tracker &input) {
    for (int k = 0; k < have_; ++k) {
        input.note_undefined(sequence_offset_ + static_cast<unsigned>(k), sequence_[k]);
        *o++ = UNDEFINED_INPUT;
    }
    have_ = 0;
    return o;
}

std::size_t utf8_decoder::decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) {
    char32_t *o = out;
    std::size_t i = 0;
    while (i < n) {
        if (have_ == 0) {
            const unsigned char b = in[i];
            if (b < 0x80) {
                *o++ = b;
                ++i;
                continue;
            }
            // The two- and three-byte sequences of Vietnamese text, whole in
            // this call and with no second byte to check beyond the usual.
            if (b >= 0xC2 && b <= 0xDF && i + 1 < n && is_continuation(in[i + 1])) {
                *o++ = (char32_t(b & 0x1F) << 6) | (in[i + 1] & 0x3F);
                i += 2;
                continue;
            }
            if (b >= 0xE1 && b <= 0xEC && i + 2 < n && is_continuation(in[i + 1]) && is_continuation(in[i + 2])) {
                *o++ = (char32_t(b & 0x0F) << 12) | (char32_t(in[i + 1] & 0x3F) << 6) | (in[i + 2] & 0x3F);
                i += 3;
                continue;
            }
            need_ = sequence_length[b];
            if (need_ == 0) {
                input.note_undefined(input.offset + i, b);
                *o++ = UNDEFINED_INPUT;
                ++i;
                continue;
            }
            sequence_[0] = b;
            have_ = 1;
            sequence_offset_ = input.offset + i;
            ++i;
        }
        while (have_ < need_ && i < n && continues(sequence_[0], have_, in[i])) sequence_[have_++] = in[i++];
        if (have_ == need_) {
            *o++ = decode_sequence(sequence_, need_);
            have_ = 0;
        } else if (i < n) {
            o = drop_sequence(o, input);  // the byte at i is read again on its own
        }
    }
    return static_cast<std::size_t>(o - out);
}

std::size_t utf8_decoder::finish(char32_t *out, input_tracker &input) {
    return static_cast<std::size_t>(drop_sequence(out, input) - out);
}

namespace {

int digit_value(char32_t c, bool hex) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (!hex) return -1;
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

bool is_character(char32_t value) { return value != 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF); }

}  // namespace

char32_t *ncr_decoder::give_up(char32_t *o) {
    for (int k = 0; k < pending_count_; ++k) *o++ = pending_[k];
    pending_count_ = 0;
    return o;
}

char32_t *ncr_decoder::read_references(const char32_t *cps, std::size_t n, char32_t *o) {
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t c = cps[i];
        if (pending_count_ == 0) {
            if (c == '&') {
                pending_[pending_count_++] = c;
                digits_ = 0;
                value_ = 0;
                hex_ = false;
            } else {
                *o++ = c;
            }
            continue;
        }
        if (pending_count_ == 1) {
            if (c == '#') {
                pending_[pending_count_++] = c;
                continue;
            }
        } else if (pending_count_ == 2 && (c == 'x' || c == 'X')) {
            pending_[pending_count_++] = c;
            hex_ = true;
            continue;
        } else if (c == ';' && digits_ > 0 && is_character(value_)) {
            *o++ = value_;
            pending_count_ = 0;
            continue;
        } else if (const int d = digit_value(c, hex_); d >= 0 && digits_ < MAX_DIGITS) {
            pending_[pending_count_++] = c;
            ++digits_;
            value_ = value_ * (hex_ ? 16 : 10) + static_cast<char32_t>(d);
            continue;
        }
        // Not a reference after all: what was read stands for itself, and
        // this character is read again.
        o = give_up(o);
        --i;
    }
    return o;
}

std::size_t ncr_decoder::decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) {
    const std::size_t count = utf8_.decode(in, n, text_, input);
    return static_cast<std::size_t>(read_references(text_, count, out) - out);
}

std::size_t ncr_decoder::finish(char32_t *out, input_tracker &input) {
    const std::size_t count = utf8_.finish(text_, input);
    char32_t *o = read_references(text_, count, out);
    return static_cast<std::size_t>(give_up(o) - out);
}

unsigned char *write_utf8_code_point(char32_t cp, unsigned char *o) {
    if (cp == UNDEFINED_INPUT) cp = 0xFFFD;
    if (cp < 0x80) {
        *o++ = static_cast<unsigned char>(cp);
    } else if (cp < 0x800) {
        *o++ = static_cast<unsigned char>(0xC0 | (cp >> 6));
        *o++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = static_cast<unsigned char>(0xE0 | (cp >> 12));
        *o++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else {
        *o++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
        *o++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
    return o;
}

unsigned char *utf8_encoder::encode(const char32_t *in, std::size_t n, unsigned char *o, loss_sink &) {
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t cp = in[i];
        if (cp < 0x80)
            *o++ = static_cast<unsigned char>(cp);
        else
            o = write_utf8_code_point(cp, o);
    }
    return o;
}

unsigned char *nfd_encoder::encode(const char32_t *in, std::size_t n, unsigned char *o, loss_sink &) {
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char letter = viscii_letter_of(in[i]);
        if (letter == 0) {
            o = write_utf8_code_point(in[i], o);
            continue;
        }
        const nfd_tables::nfd_field &f = nfd_of_viscii[letter];
        std::memcpy(o, f.bytes, f.length);
        o += f.length;
    }
    return o;
}

unsigned char *ncr_encoder::encode(const char32_t *in, std::size_t n, unsigned char *o, loss_sink &) {
    for (std::size_t i = 0; i < n; ++i) {
        char32_t cp = in[i];
        if (cp < 0x80 && cp != '&') {
            *o++ = static_cast<unsigned char>(cp);
            continue;
        }
        if (cp == UNDEFINED_INPUT) cp = 0xFFFD;
        unsigned char digits[8];
        int count = 0;
        do {
            digits[count++] = static_cast<unsigned char>('0' + cp % 10);
            cp /= 10;
        } while (cp != 0);
        *o++ = '&';
        *o++ = '#';
        while (count > 0) *o++ = digits[--count];
        *o++ = ';';
    }
    return o;
}

}  // namespace viqr::detail
