// The converters of viqr.h: the registry's C face, and a converter that runs
// each piece of its input through decoder, letter joiner and encoder.
#include <algorithm>
#include <cerrno>
#include <new>
#include <string>

#include "codec.h"
#include "fast_lanes.h"
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

// The bytes the general path takes where the fast lane stops, before the
// lane may go on: a few, or twice as many as the time before when the lane
// read fewer than that many since (text the lane keeps stopping in, such as
// decomposed letters, goes through the general path in long runs).
constexpr std::size_t GENERAL_SPAN = 64;

struct viqr_converter final : loss_sink {
    std::unique_ptr<decoder> decode;
    std::unique_ptr<encoder> encode;
    bool joins = false;
    // The fast lanes (fast_lanes.h) this pair of encodings takes, if any.
    const byte_fields *byte_lane = nullptr;          // a single-byte charset to UTF-8
    bool byte_lane_blocks = false;                   // its printable ASCII copied by blocks
    std::size_t general_span = GENERAL_SPAN;         // where the lane stops
    utf8_lane utf8_tables{};                         // UTF-8 to a single-byte charset, when it has spellings
    letter_joiner joiner;
    input_tracker input;
    viqr_loss_report losses{};
    // Where the current input stands, in characters: kept up to date until
    // the first loss, whose place it gives.
    unsigned long long line = 1, column = 1;
    const char32_t *piece = nullptr;  // the code points being encoded
    // Decoded text starts at decoded + 1, so that the letter joiner can put
    // the letter it held in front of it.
    char32_t decoded[DECODE_ROOM + 1];
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

    // Moves the place past `n` characters.
    void advance(const char32_t *cps, std::size_t n) {
        std::size_t newlines = 0;
        for (std::size_t i = 0; i < n; ++i) newlines += cps[i] == U'\n';
        if (newlines == 0) {
            column += n;
            return;
        }
        line += newlines;
        std::size_t last = n - 1;
        while (cps[last] != U'\n') --last;
        column = n - last;
    }

    unsigned char *encode_piece(char32_t *cps, std::size_t n, unsigned char *o) {
        const char32_t *text = joins ? joiner.join_in_place(cps, n, joined, n) : cps;
        piece = text;
        const bool tracking = losses.unwritable == 0;
        o = encode->encode(text, n, o, *this);
        if (tracking && losses.unwritable == 0) advance(text, n);
        return o;
    }

    void note_undefined() {
        losses.undefined = input.undefined;
        losses.undefined_offset = input.first_offset;
        losses.undefined_byte = input.first_byte;
        losses.undefined_substitute = input.undefined == 0 ? 0 : encode->holds_replacement() ? 0xFFFD : '?';
    }

    // The general path for `n` (at most PIECE) bytes.
    unsigned char *convert_piece(const unsigned char *in, std::size_t n, unsigned char *o) {
        char32_t *text = decoded + 1;
        const std::size_t cps = decode->decode(in, n, text, input);
        input.offset += n;
        return encode_piece(text, cps, o);
    }

    unsigned char *convert_bytes_to_utf8(const unsigned char *in, std::size_t n, unsigned char *o) {
        o = joins ? single_byte_to_utf8<true>(*byte_lane, byte_lane_blocks, in, n, o, joiner, input)
                  : single_byte_to_utf8<false>(*byte_lane, byte_lane_blocks, in, n, o, joiner, input);
        input.offset += n;
        return o;
    }

    // Moves the place past what the fast lane read.
    void advance(const plain_run &run) {
        input.offset += run.bytes;
        if (losses.unwritable != 0) return;
        if (run.newlines == 0) {
            column += run.chars;
        } else {
            line += run.newlines;
            column = run.since_newline + 1;
        }
    }

    // The plain text takes the fast lane.  What stops it (a combining mark, a
    // character the charset lacks, invalid UTF-8, the end of the input) goes
    // through the general path with a little of the text after it, and then
    // a byte at a time while the general path holds something (a cut
    // sequence, a letter that a mark may change); then the lane goes on.
    unsigned char *convert_utf8_to_bytes(const unsigned char *in, std::size_t n, unsigned char *o) {
        std::size_t at = 0;
        while (at < n) {
            if (decode->idle() && !joiner.holding()) {
                const plain_run run = utf8_to_single_byte(utf8_tables, in + at, n - at, o);
                advance(run);
                at += run.bytes;
                if (at == n) break;
                general_span = run.bytes >= GENERAL_SPAN ? GENERAL_SPAN : std::min(2 * general_span, PIECE);
                const std::size_t span = std::min(general_span, n - at);
                o = convert_piece(in + at, span, o);
                at += span;
            } else {
                o = convert_piece(in + at, 1, o);
                ++at;
            }
        }
        return o;
    }

    unsigned char *convert(const unsigned char *in, std::size_t n, unsigned char *o) {
        if (byte_lane != nullptr) return convert_bytes_to_utf8(in, n, o);
        if (utf8_tables.spellings != nullptr) return convert_utf8_to_bytes(in, n, o);
        return convert_piece(in, n, o);
    }
};

void viqr::detail::use_implementation(viqr_converter *converter, const implementation &kernels) {
    converter->utf8_tables.kernels = &kernels;
}

void viqr::detail::take_general_path(viqr_converter *converter) {
    converter->byte_lane = nullptr;
    converter->utf8_tables.spellings = nullptr;
}

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
        if (converter->encode->writes_plain_utf8() && converter->decode->fields() != nullptr) {
            converter->byte_lane = converter->decode->fields();
            converter->byte_lane_blocks = printable_ascii_as_is(*converter->byte_lane);
        }
        if (converter->decode->reads_plain_utf8() && converter->encode->spellings() != nullptr) {
            converter->utf8_tables = {converter->encode->spellings(), converter->encode->flat(),
                                      converter->encode->viscii_spelled(), &active_implementation()};
        }
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
    for (std::size_t at = 0; at < length; at += PIECE) o = converter->convert(in + at, std::min(PIECE, length - at), o);
    converter->note_undefined();
    return static_cast<std::size_t>(o - out);
}

size_t viqr_convert_finish(viqr_converter *converter, unsigned char *out) {
    if (converter == nullptr || out == nullptr) return 0;
    char32_t *decoded = converter->decoded + 1;
    const std::size_t cps = converter->decode->finish(decoded, converter->input);
    unsigned char *o = converter->encode_piece(decoded, cps, out);
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
