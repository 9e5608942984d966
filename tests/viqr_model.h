// What tonedown and toneup write, worked out in-process with the library's
// encoder and decoder engine the way the two programs call them.  The tests
// and the fuzz targets both compare against these, so the header needs
// nothing but the library: no test framework.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "viqr.h"

namespace viqr_model {

// Bytes as two hexadecimal digits each, for messages about bytes that do
// not print.
inline std::string hex(std::string_view bytes) {
    std::string text;
    char digits[4];
    for (unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", b);
        text += digits;
    }
    return text;
}

// Fills an output area before a call, so that what the call did not write
// can be told from what it did.
inline constexpr unsigned char AREA_GUARD = 0xA5;

// `text` in consecutive pieces of `size` bytes, the last one shorter; none
// for empty text.
inline std::vector<std::string> pieces_of(std::string_view text, std::size_t size) {
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < text.size(); at += size) pieces.emplace_back(text.substr(at, size));
    return pieces;
}

// `text` in consecutive pieces of the given sizes, then one piece with the
// rest; a size that reaches past the end gives a shorter or an empty piece.
inline std::vector<std::string> pieces_by_sizes(std::string_view text, const std::vector<std::size_t> &sizes) {
    std::vector<std::string> pieces;
    std::size_t at = 0;
    for (std::size_t size : sizes) {
        pieces.emplace_back(text.substr(at, size));
        at += pieces.back().size();
    }
    pieces.emplace_back(text.substr(at));
    return pieces;
}

// The two bytes tonedown writes before any text.
inline std::string mode_announcement(int mode, unsigned char composition_char) {
    return {static_cast<char>(composition_char), mode == MODE_ENGLISH ? 'M' : 'V'};
}

// One chunk through the encoder, the previous byte carried in `history`.
// Input and output each sit in a block of exactly their size, so that the
// sanitizers catch a read or a write past either.  When `area_untouched` is
// given it tells whether every byte of the output area still holds the guard.
inline std::string encode_chunk(std::string_view chunk, int mode, unsigned char composition_char,
                                viqr_encoder_history &history, bool *area_untouched = nullptr) {
    const auto input = std::make_unique<unsigned char[]>(chunk.size());  // new[0] is not null either
    std::memcpy(input.get(), chunk.data(), chunk.size());
    const std::size_t room = viqr_encoder_output_size(chunk.size());
    const auto output = std::make_unique<unsigned char[]>(room);
    std::memset(output.get(), AREA_GUARD, room);
    const std::size_t n = viscii_to_viqr(input.get(), chunk.size(), output.get(), composition_char, mode, history);
    if (area_untouched != nullptr) {
        *area_untouched = true;
        for (std::size_t i = 0; i < room; ++i) *area_untouched = *area_untouched && output[i] == AREA_GUARD;
    }
    return std::string(output.get(), output.get() + n);
}

// The text tonedown writes for input read in `pieces`, without the
// announcement: each piece converted in turn, the history carried across.
inline std::string encode_pieces(const std::vector<std::string> &pieces, int mode, unsigned char composition_char) {
    viqr_encoder_history history;
    std::string viqr;
    for (const std::string &piece : pieces) viqr += encode_chunk(piece, mode, composition_char, history);
    return viqr;
}

// What tonedown writes for input read in `pieces`: the announcement, then the text.
inline std::string tonedown_output(const std::vector<std::string> &pieces, int mode, unsigned char composition_char) {
    return mode_announcement(mode, composition_char) + encode_pieces(pieces, mode, composition_char);
}

// A decoder context opened as toneup opens it, with hold on; -1 when none is free.
inline int open_like_toneup(unsigned char composition_char, int mode = MODE_VIETNAMESE) {
    const int context = viqr_open(mode, composition_char, DEFAULT_OVERSTRIKE_CHAR);
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    return context;
}

// Feeds `bytes` one viqr_feed at a time into an area of exactly two bytes and
// returns what the calls wrote.
inline std::string feed_bytes(int context, std::string_view bytes) {
    const auto area = std::make_unique<unsigned char[]>(2);
    std::string out;
    for (char b : bytes) {
        int count = 0;
        viqr_feed(context, static_cast<unsigned char>(b), area.get(), count);
        out.append(area.get(), area.get() + count);
    }
    return out;
}

// Feeds `bytes` with one viqr_feed_chunk, input and output each in a block
// of exactly its size, and returns what it wrote.
inline std::string feed_chunk(int context, std::string_view bytes) {
    const auto input = std::make_unique<unsigned char[]>(bytes.size());
    std::memcpy(input.get(), bytes.data(), bytes.size());
    const auto output = std::make_unique<unsigned char[]>(2 * bytes.size());
    const std::size_t n = viqr_feed_chunk(context, input.get(), bytes.size(), output.get());
    return std::string(output.get(), output.get() + n);
}

// Flushes and closes `context`; returns what it still held.
inline std::string close_context(int context) {
    const auto area = std::make_unique<unsigned char[]>(2);
    int count = 0;
    viqr_close(context, area.get(), count);
    return std::string(area.get(), area.get() + count);
}

// What toneup writes for `viqr`: one context with hold on, every byte fed,
// flushed at the end.
inline std::string toneup_output(std::string_view viqr, unsigned char composition_char) {
    const int context = open_like_toneup(composition_char);
    const std::string text = feed_bytes(context, viqr);
    return text + close_context(context);
}

// What toneup writes for VIQR read in `pieces`: one context with hold on, each
// piece through viqr_feed_chunk as toneup feeds its reads, flushed at the end.
inline std::string toneup_output_in_pieces(const std::vector<std::string> &pieces, unsigned char composition_char) {
    const int context = open_like_toneup(composition_char);
    std::string text;
    for (const std::string &piece : pieces) text += feed_chunk(context, piece);
    return text + close_context(context);
}

}  // namespace viqr_model
