// The converters of viqr.h: the registry's C face, and a converter that runs
// each piece of its input through decoder, letter joiner and encoder.
#include <algorithm>
#include <cerrno>
#include <new>

#include "codec.h"
#include "letter_joiner.h"
#include "viqr.h"

using namespace viqr::detail;

namespace {

bool valid_encoding(int encoding) { return encoding >= 0 && encoding < encoding_table_size(); }

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `name` is the `length` characters at `word`, whatever its case.
bool names_word(const char *name, const char *word, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (name[i] == '\0' || ascii_lower(name[i]) != word[i]) return false;
    return name[length] == '\0';
}

bool names_entry(const char *name, const encoding_entry &entry) {
    if (names_word(name, entry.name, std::char_traits<char>::length(entry.name))) return true;
    for (const char *alias = entry.aliases; *alias != '\0';) {
        const char *end = alias;
        while (*end != '\0' && *end != ' ') ++end;
        if (names_word(name, alias, static_cast<std::size_t>(end - alias))) return true;
        alias = *end == ' ' ? end + 1 : end;
    }
    return false;
}

}  // namespace

struct viqr_converter final : loss_sink {
    std::unique_ptr<decoder> decode;
    std::unique_ptr<encoder> encode;
    bool joins = false;
    letter_joiner joiner;
    input_tracker input;
    viqr_loss_report losses{};
    // Where the current input stands, in characters: kept up to date until
    // the first loss, whose place it gives.
    unsigned long long line = 1, column = 1;
    const char32_t *piece = nullptr;  // the code points being encoded
    char32_t decoded[DECODE_ROOM];
    char32_t joined[DECODE_ROOM + 1];

    void unwritable(std::size_t index, char32_t cp, int how) override {
        if (losses.unwritable++ == 0) {
            advance(piece, index);
            losses.unwritable_first = cp;
            losses.unwritable_line = line;
            losses.unwritable_column = column;
        }
        losses.substitutes |= how;
    }

    void advance(const char32_t *cps, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (cps[i] == U'\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
    }

    unsigned char *encode_piece(const char32_t *cps, std::size_t n, unsigned char *o) {
        if (joins) {
            n = joiner.join(cps, n, joined);
            cps = joined;
        }
        piece = cps;
        const bool tracking = losses.unwritable == 0;
        o = encode->encode(cps, n, o, *this);
        if (tracking && losses.unwritable == 0) advance(cps, n);
        return o;
    }

    void note_undefined() {
        losses.undefined = input.undefined;
        losses.undefined_offset = input.first_offset;
        losses.undefined_byte = input.first_byte;
        losses.undefined_substitute = input.undefined == 0 ? 0 : encode->holds_replacement() ? 0xFFFD : '?';
    }
};

int viqr_encoding_count(void) { return encoding_table_size(); }

const char *viqr_encoding_name(int encoding) {
    return valid_encoding(encoding) ? encoding_table()[encoding].name : nullptr;
}

const char *viqr_encoding_aliases(int encoding) {
    return valid_encoding(encoding) ? encoding_table()[encoding].aliases : nullptr;
}

const char *viqr_encoding_description(int encoding) {
    return valid_encoding(encoding) ? encoding_table()[encoding].description : nullptr;
}

int viqr_encoding_can_read(int encoding) {
    return valid_encoding(encoding) && encoding_table()[encoding].make_decoder != nullptr;
}

int viqr_encoding_can_write(int encoding) {
    return valid_encoding(encoding) && encoding_table()[encoding].make_encoder != nullptr;
}

int viqr_encoding_lookup(const char *name) {
    if (name == nullptr) return -1;
    for (int i = 0; i < encoding_table_size(); ++i)
        if (names_entry(name, encoding_table()[i])) return i;
    return -1;
}

viqr_converter *viqr_converter_open(int from, int to, int flags) {
    if (!viqr_encoding_can_read(from) || !viqr_encoding_can_write(to)) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        std::unique_ptr<viqr_converter> converter(new viqr_converter);
        converter->encode = encoding_table()[to].make_encoder(flags);
        converter->decode = encoding_table()[from].make_decoder(flags);
        if (!converter->decode || !converter->encode) {
            errno = EMFILE;
            return nullptr;
        }
        converter->joins = converter->decode->decomposes();
        viqr_convert_begin_input(converter.get());
        return converter.release();
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return nullptr;
    }
}

size_t viqr_convert(viqr_converter *converter, const unsigned char *in, size_t length, unsigned char *out) {
    if (converter == nullptr || in == nullptr || out == nullptr) return 0;
    unsigned char *o = out;
    for (std::size_t at = 0; at < length; at += PIECE) {
        const std::size_t n = std::min(PIECE, length - at);
        const std::size_t cps = converter->decode->decode(in + at, n, converter->decoded, converter->input);
        converter->input.offset += n;
        o = converter->encode_piece(converter->decoded, cps, o);
    }
    converter->note_undefined();
    return static_cast<std::size_t>(o - out);
}

size_t viqr_convert_finish(viqr_converter *converter, unsigned char *out) {
    if (converter == nullptr || out == nullptr) return 0;
    const std::size_t cps = converter->decode->finish(converter->decoded, converter->input);
    unsigned char *o = converter->encode_piece(converter->decoded, cps, out);
    if (converter->joins) {
        char32_t held[1];
        const std::size_t n = converter->joiner.finish(held);
        converter->piece = held;
        const bool tracking = converter->losses.unwritable == 0;
        o = converter->encode->encode(held, n, o, *converter);
        if (tracking && converter->losses.unwritable == 0) converter->advance(held, n);
    }
    o = converter->encode->finish(o);
    converter->note_undefined();
    return static_cast<std::size_t>(o - out);
}

void viqr_convert_begin_input(viqr_converter *converter) {
    if (converter == nullptr) return;
    converter->input = input_tracker{};
    converter->decode->begin_input();
    converter->losses = viqr_loss_report{};
    converter->line = converter->column = 1;
}

int viqr_convert_losses(const viqr_converter *converter, viqr_loss_report *report) {
    if (converter == nullptr) return 0;
    if (report != nullptr) *report = converter->losses;
    return converter->losses.unwritable != 0 || converter->losses.undefined != 0;
}

void viqr_converter_close(viqr_converter *converter) { delete converter; }
