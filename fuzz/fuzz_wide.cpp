// Fuzzes the kernels of every implementation this processor runs (see
// lib/implementation.h) against the scalar reference: the same text, in the
// same chunks, through tonedown, toneup, tonedown -u and toneup -u with the
// implementation the input picks and with the reference, must give the same
// bytes.  The kernels take text whole
// only where it is plain, so the input picks pieces of plain text for the
// direction it drives, and now and then an awkward one.  Every output area
// has exactly the documented size.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "viqr.h"
#include "viqr_model.h"
#include "implementation.h"

namespace {

enum direction { TONEDOWN, TONEUP, TONEDOWN_UTF8, TONEUP_UTF8, DIRECTIONS };

// Plain text of each direction, piece by piece.
const std::vector<std::string> &pieces_of(int which) {
    static const std::vector<std::string> viscii = {
        "a", "e", "o", "u", "i", "y", "d", "D", "n", "g", "h", " ", "\n", ".", "'", "^", "(",
        "\xE2", "\xEA", "\xF4", "\xE1", "\xE0", "\xE3", "\xD5", "\xA4", "\xF0", "\xD0", "\xDF", "\x14"};
    static const std::vector<std::string> viqr = {
        "a", "e", "o", "u", "i", "y", "d", "D", "dd", "n", "g", " ", "\n", "'", "`", "?", "~", ".",
        "(", "^", "+", "e^.", "a('", "u+o+'", "Vie^.t", "\\.", "\\V"};
    static const std::vector<std::string> utf8 = {
        "a", "e", "o", "n", "g", " ", "\n", ".", "V", "\u00E2", "\u00E1", "\u00C0", "\u0103", "\u0111",
        "\u0110", "\u01A1", "\u01B0", "\u1EA5", "\u1EC7", "\u1EF9", "\u0301", "\u201C", "\x14"};
    static const std::vector<std::string> *const all[DIRECTIONS] = {&viscii, &viqr, &utf8, &viqr};
    return *all[which];
}

// Pieces that plain text lacks: sequences cut short, stray bytes, and bytes
// that some direction leaves to its other code.
const std::string awkward[16] = {"\xE1\xBB", "\xE1", "\xC3", "\xC4", "\x80", "\xBB", "\xCC\x81", "\xE2\x80\x9C",
                                 "\xF0\x9F\x98\x80", "\xFF", std::string(1, '\0'), "\x02", "\\", "#", "\xE2", "\xD0"};

std::string plain_text(const std::string &choices, int which) {
    const std::vector<std::string> &pieces = pieces_of(which);
    std::string text;
    for (unsigned char c : choices) text += c >= 240 ? awkward[c - 240] : pieces[c % pieces.size()];
    return text;
}

using viqr::detail::implementation;

std::string encode(const implementation &kernels, const std::vector<std::string> &chunks,
                   unsigned char composition_char) {
    viqr_encoder_history history{};
    std::string out;
    for (const std::string &chunk : chunks) {
        const auto input = std::make_unique<unsigned char[]>(chunk.size());
        std::copy(chunk.begin(), chunk.end(), input.get());
        const auto area = std::make_unique<unsigned char[]>(viqr_encoder_output_size(chunk.size()));
        out.append(area.get(), area.get() + viqr::detail::viscii_to_viqr_with(kernels, input.get(), chunk.size(),
                                                                              area.get(), composition_char,
                                                                              MODE_VIETNAMESE, &history));
    }
    return out;
}

std::string toneup(const implementation &kernels, const std::vector<std::string> &chunks,
                   unsigned char composition_char) {
    const int context = viqr_model::open_like_toneup(composition_char);
    viqr::detail::use_implementation(context, kernels);
    std::string out;
    for (const std::string &chunk : chunks) out += viqr_model::feed_chunk(context, chunk);
    return out + viqr_model::close_context(context);
}

std::string from_utf8(const implementation &kernels, const std::vector<std::string> &chunks,
                      unsigned char composition_char) {
    viqr_from_utf8_state state;
    viqr_from_utf8_start(state, composition_char, MODE_VIETNAMESE);
    const viqr_model::utf8_converted c = viqr_model::convert_utf8_chunks_with(
        kernels, state, chunks, viqr_from_utf8_room, viqr::detail::from_utf8_with, viqr::detail::from_utf8_finish_with);
    check(c.within_room, "tonedown -u wrote past its room");
    return c.text;
}

std::string to_utf8(const implementation &kernels, const std::vector<std::string> &chunks,
                    unsigned char composition_char) {
    const int context = viqr_model::open_like_toneup(composition_char);
    viqr::detail::use_implementation(context, kernels);
    viqr_to_utf8_state state;
    viqr_to_utf8_start(state, context);
    const viqr_model::utf8_converted c = viqr_model::convert_utf8_chunks_with(
        kernels, state, chunks, viqr_to_utf8_room, viqr::detail::to_utf8_with, viqr::detail::to_utf8_finish_with);
    check(c.within_room, "toneup -u wrote past its room");
    return c.text + viqr_model::close_context(context);
}

std::string convert(const implementation &kernels, int which, const std::vector<std::string> &chunks,
                    unsigned char composition_char) {
    switch (which) {
    case TONEDOWN:
        return encode(kernels, chunks, composition_char);
    case TONEUP:
        return toneup(kernels, chunks, composition_char);
    case TONEDOWN_UTF8:
        return from_utf8(kernels, chunks, composition_char);
    default:
        return to_utf8(kernels, chunks, composition_char);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    // The implementations this processor runs but the scalar one: each input
    // drives one of them, which it names.
    static const std::vector<const implementation *> supported = [] {
        std::vector<const implementation *> all;
        for (const implementation *i : viqr::detail::implementations())
            if (i->supported() && i != &viqr::detail::scalar_implementation()) all.push_back(i);
        if (all.empty()) all.push_back(&viqr::detail::scalar_implementation());
        return all;
    }();
    const auto pick = data.ConsumeIntegral<unsigned char>();
    const int which = data.ConsumeIntegralInRange<int>(0, DIRECTIONS - 1);
    const unsigned char composition_char = data.ConsumeBool() ? '\\' : data.ConsumeIntegral<unsigned char>();
    const std::vector<std::size_t> sizes = chunk_sizes(data, 4, 3000);
    const std::string text = plain_text(data.ConsumeRemainingBytesAsString(), which);
    const std::vector<std::string> chunks = viqr_model::pieces_by_sizes(text, sizes);

    const implementation &kernels = *supported[pick % supported.size()];
    check(convert(kernels, which, chunks, composition_char) ==
              convert(viqr::detail::scalar_implementation(), which, chunks, composition_char),
          "an implementation's kernels and the scalar reference disagree");
    return 0;
}
