// Fuzzes the VISCII-to-VIQR encoder on arbitrary bytes, with the mode, the
// composition character and the chunk sizes taken from the input.  Checks:
// the output of a chunk is never longer than four bytes an input byte, holds
// no byte above 0x7F but the composition character, stays inside an output
// area of exactly the documented size, and does not depend on where the input
// is split; a mode other than Vietnamese or English writes nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "viqr.h"
#include "fuzz_check.h"
#include "viqr_model.h"

namespace {

// Encodes one chunk as tonedown does and checks what came out.
std::string encode_checked(const std::string &chunk, unsigned char composition_char, int mode,
                           viqr_encoder_history &history) {
    bool area_untouched = false;
    const std::string viqr = viqr_model::encode_chunk(chunk, mode, composition_char, history, &area_untouched);
    check(viqr.size() <= 4 * chunk.size(), "more than four output bytes an input byte");
    if (mode != MODE_VIETNAMESE && mode != MODE_ENGLISH)
        check(viqr.empty() && area_untouched, "an unknown mode wrote something");
    for (char b : viqr)
        check(static_cast<unsigned char>(b) <= 0x7F || static_cast<unsigned char>(b) == composition_char,
              "a byte above 0x7F in the output");
    return viqr;
}

int mode_from(int choice) {
    static const int modes[] = {MODE_VIETNAMESE, MODE_VIETNAMESE, MODE_VIETNAMESE, MODE_ENGLISH,
                                MODE_ENGLISH,    MODE_ENGLISH,    MODE_LITERAL,    -1};
    return modes[choice];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const int mode = mode_from(data.ConsumeIntegralInRange<int>(0, 7));
    const unsigned char composition_char = data.ConsumeIntegral<unsigned char>();
    const std::vector<std::size_t> sizes = chunk_sizes(data, 8, 1100);
    const std::string text = data.ConsumeRemainingBytesAsString();

    viqr_encoder_history whole_history;
    const std::string whole = encode_checked(text, composition_char, mode, whole_history);

    viqr_encoder_history history;
    std::string pieces;
    for (const std::string &chunk : viqr_model::pieces_by_sizes(text, sizes))
        pieces += encode_checked(chunk, composition_char, mode, history);
    check(pieces == whole, "the output depends on where the input is split");
    return 0;
}
