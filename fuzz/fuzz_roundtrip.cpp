// Fuzzes the round trip VISCII -> VIQR -> VISCII in memory, the way tonedown
// and toneup do it: the encoder writes the mode announcement and the text in
// Vietnamese or English mode with a composition character that is not a
// letter, a mark or a mode letter; a decoder context with hold on, opened in
// any mode, reads it back a chunk at a time with viqr_feed_chunk, as toneup
// does, and another one a byte at a time with viqr_feed; both are flushed at
// the end.  For arbitrary bytes both results must be the input exactly,
// however the text is split.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "viqr.h"
#include "fuzz_check.h"

namespace {

constexpr auto composition_chars = ordinary_composition_chars();

std::vector<std::size_t> chunk_sizes(FuzzedDataProvider &data) {
    std::vector<std::size_t> sizes;
    for (int i = data.ConsumeIntegralInRange<int>(0, 8); i > 0; --i)
        sizes.push_back(data.ConsumeIntegralInRange<std::size_t>(0, 1100));
    return sizes;
}

// Calls `take(piece)` for consecutive pieces of `text` of the given sizes,
// then for the rest.
template <class Take>
void in_pieces(const std::string &text, const std::vector<std::size_t> &sizes, Take take) {
    std::size_t start = 0;
    for (std::size_t size : sizes) {
        const std::string piece = text.substr(start, size);
        take(piece);
        start += piece.size();
    }
    take(text.substr(start));
}

// What tonedown writes for `text`.
std::string encode(const std::string &text, unsigned char composition_char, int mode,
                   const std::vector<std::size_t> &sizes) {
    std::string viqr{static_cast<char>(composition_char), mode == MODE_ENGLISH ? 'M' : 'V'};
    viqr_encoder_history history;
    in_pieces(text, sizes, [&](const std::string &chunk) {
        std::vector<unsigned char> out(viqr_encoder_output_size(chunk.size()));
        const std::size_t n = viscii_to_viqr(reinterpret_cast<const unsigned char *>(chunk.data()), chunk.size(),
                                             out.data(), composition_char, mode, history);
        viqr.append(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    });
    return viqr;
}

// Opens a context as toneup does.
int open_context(unsigned char composition_char, int initial_mode) {
    const int context = viqr_open(initial_mode, composition_char, DEFAULT_OVERSTRIKE_CHAR);
    check(context >= 0, "the decoder contexts of an earlier input are still open");
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    return context;
}

// Flushes and closes `context`, appending what it still held to `text`.
void close_context(int context, std::string &text) {
    auto area = std::make_unique<unsigned char[]>(2);
    int count = 0;
    viqr_close(context, area.get(), count);
    text.append(area.get(), area.get() + count);
}

// What toneup writes for `viqr`, fed a chunk at a time and a byte at a time.
struct decoded {
    std::string by_chunks, by_bytes;
};

decoded decode(const std::string &viqr, unsigned char composition_char, int initial_mode,
               const std::vector<std::size_t> &sizes) {
    const int chunked = open_context(composition_char, initial_mode);
    const int bytewise = open_context(composition_char, initial_mode);
    decoded text;
    auto area = std::make_unique<unsigned char[]>(2);
    in_pieces(viqr, sizes, [&](const std::string &chunk) {
        std::vector<unsigned char> out(2 * chunk.size() + 1);
        const std::size_t n = viqr_feed_chunk(chunked, reinterpret_cast<const unsigned char *>(chunk.data()),
                                              chunk.size(), out.data());
        text.by_chunks.append(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
        for (char b : chunk) {
            int count = 0;
            viqr_feed(bytewise, static_cast<unsigned char>(b), area.get(), count);
            text.by_bytes.append(area.get(), area.get() + count);
        }
    });
    close_context(chunked, text.by_chunks);
    close_context(bytewise, text.by_bytes);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const int mode = data.ConsumeBool() ? MODE_ENGLISH : MODE_VIETNAMESE;
    const unsigned char composition_char = data.PickValueInArray(composition_chars);
    const int initial_mode = data.ConsumeIntegralInRange<int>(MODE_VIETNAMESE, MODE_LITERAL);
    const std::vector<std::size_t> encoder_chunks = chunk_sizes(data);
    const std::vector<std::size_t> decoder_chunks = chunk_sizes(data);
    const std::string text = data.ConsumeRemainingBytesAsString();

    const std::string viqr = encode(text, composition_char, mode, encoder_chunks);
    const decoded back = decode(viqr, composition_char, initial_mode, decoder_chunks);
    check(back.by_chunks == text, "encoding then decoding a chunk at a time did not give back the input");
    check(back.by_bytes == text, "encoding then decoding a byte at a time did not give back the input");
    return 0;
}
