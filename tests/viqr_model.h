// What tonedown and toneup write, worked out in-process with the library's
// encoder and decoder engine the way the two programs call them, and the one
// driver of the chunked UTF-8 conversions.  The tests and the fuzz targets
// both use these, so the header needs nothing but the library: no test
// framework.
#pragma once

#include <algorithm>
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

// What a UTF-8 conversion wrote and reported, and whether every call kept
// within the room the header promises for it.
struct utf8_converted {
    std::string text;
    std::vector<viqr_utf8_report> reports;
    bool within_room = true;
};

// Bytes after each output area that a call must leave as they were.
inline constexpr std::size_t AREA_GUARD_SIZE = 32;

// Runs `call` on an output area of `room` bytes followed by the guard, and
// appends what it wrote to `c`; a call that says it wrote more than its room
// or touched the guard clears `within_room`.
template <class Call>
void call_within_room(std::size_t room, Call call, utf8_converted &c) {
    const auto area = std::make_unique<unsigned char[]>(room + AREA_GUARD_SIZE);
    std::memset(area.get(), AREA_GUARD, room + AREA_GUARD_SIZE);
    const std::size_t n = call(area.get());
    const bool guard_kept = std::all_of(area.get() + room, area.get() + room + AREA_GUARD_SIZE,
                                        [](unsigned char b) { return b == AREA_GUARD; });
    c.within_room = c.within_room && n <= room && guard_kept;
    c.text.append(area.get(), area.get() + std::min(n, room));
}

// Runs one UTF-8 conversion over `chunks` as the programs run it: each chunk,
// in a block of exactly its size, converted into an area of its own, the
// reports taken after every call, then the finish.  `inputs[i]`, when there
// and not null, names the input that begins with chunk i.  `State` is a
// viqr_from_utf8_state or a viqr_to_utf8_state already started; `convert`
// (state, in, length, out) and `finish` (state, out) are the calls under
// test, and `room` (length) the room they promise.
template <class State, class Room, class Convert, class Finish>
utf8_converted convert_utf8_chunks(State &state, const std::vector<std::string> &chunks, Room room, Convert convert,
                                   Finish finish, const std::vector<const char *> &inputs = {"in"}) {
    utf8_converted c;
    const auto take_reports = [&] {
        viqr_utf8_report report;
        while (viqr_utf8_take_report(state.scan, report)) c.reports.push_back(report);
    };
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (i < inputs.size() && inputs[i] != nullptr) viqr_utf8_begin_input(state.scan, inputs[i]);
        const std::string &chunk = chunks[i];
        const auto input = std::make_unique<unsigned char[]>(chunk.size());
        std::memcpy(input.get(), chunk.data(), chunk.size());
        const auto convert_chunk = [&](unsigned char *out) { return convert(state, input.get(), chunk.size(), out); };
        call_within_room(room(chunk.size()), convert_chunk, c);
        take_reports();
    }
    call_within_room(room(0), [&](unsigned char *out) { return finish(state, out); }, c);
    take_reports();
    return c;
}

// The same through calls that take one argument more first, `with` (the
// kernels of one implementation): `convert(with, state, in, length, out)`
// and `finish(with, state, out)`.
template <class With, class State, class Room, class Convert, class Finish>
utf8_converted convert_utf8_chunks_with(const With &with, State &state, const std::vector<std::string> &chunks,
                                        Room room, Convert convert, Finish finish,
                                        const std::vector<const char *> &inputs = {"in"}) {
    return convert_utf8_chunks(
        state, chunks, room,
        [&](State &s, const unsigned char *in, std::size_t length, unsigned char *out) {
            return convert(with, s, in, length, out);
        },
        [&](State &s, unsigned char *out) { return finish(with, s, out); }, inputs);
}

// The C++ overloads of the public calls, picked out of their C namesakes.
template <class State>
using utf8_convert_call = std::size_t (*)(State &, const unsigned char *, std::size_t, unsigned char *);
template <class State>
using utf8_finish_call = std::size_t (*)(State &, unsigned char *);

// tonedown -u without the announcement, through the public calls.
inline utf8_converted from_utf8_chunks(viqr_from_utf8_state &state, const std::vector<std::string> &chunks,
                                       const std::vector<const char *> &inputs = {"in"}) {
    using state_type = viqr_from_utf8_state;
    return convert_utf8_chunks(state, chunks, viqr_from_utf8_room, utf8_convert_call<state_type>(viqr_from_utf8),
                               utf8_finish_call<state_type>(viqr_from_utf8_finish), inputs);
}

// toneup -u through the public calls, on a state started on the caller's
// context.
inline utf8_converted to_utf8_chunks(viqr_to_utf8_state &state, const std::vector<std::string> &chunks,
                                     const std::vector<const char *> &inputs = {"in"}) {
    using state_type = viqr_to_utf8_state;
    return convert_utf8_chunks(state, chunks, viqr_to_utf8_room, utf8_convert_call<state_type>(viqr_to_utf8),
                               utf8_finish_call<state_type>(viqr_to_utf8_finish), inputs);
}

}  // namespace viqr_model
