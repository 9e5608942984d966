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
#include <string>
#include <vector>

#include "viqr.h"
#include "fuzz_check.h"
#include "viqr_model.h"

namespace {

// What toneup writes for `viqr`, fed a chunk at a time and, beside it in
// another context, a byte at a time.
struct decoded {
    std::string by_chunks, by_bytes;
};

decoded decode(const std::string &viqr, unsigned char composition_char, int initial_mode,
               const std::vector<std::size_t> &sizes) {
    const int chunked = viqr_model::open_like_toneup(composition_char, initial_mode);
    const int bytewise = viqr_model::open_like_toneup(composition_char, initial_mode);
    check(chunked >= 0 && bytewise >= 0, "the decoder contexts of an earlier input are still open");
    decoded text;
    for (const std::string &chunk : viqr_model::pieces_by_sizes(viqr, sizes)) {
        text.by_chunks += viqr_model::feed_chunk(chunked, chunk);
        text.by_bytes += viqr_model::feed_bytes(bytewise, chunk);
    }
    text.by_chunks += viqr_model::close_context(chunked);
    text.by_bytes += viqr_model::close_context(bytewise);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const round_trip_input in = read_round_trip_input(data, 1100);

    const std::string viqr = viqr_model::tonedown_output(viqr_model::pieces_by_sizes(in.text, in.down_chunks),
                                                         in.mode, in.composition_char);
    const decoded back = decode(viqr, in.composition_char, in.initial_mode, in.up_chunks);
    check(back.by_chunks == in.text, "encoding then decoding a chunk at a time did not give back the input");
    check(back.by_bytes == in.text, "encoding then decoding a byte at a time did not give back the input");
    return 0;
}
