// Fuzzes the VISCII-to-VIQR encoder on arbitrary bytes, with the mode, the
// composition character and the chunk sizes taken from the input.  Checks:
// the output of a chunk is never longer than four bytes an input byte, holds
// no byte above 0x7F but the composition character, stays inside an output
// area of exactly the documented size, and does not depend on where the input
// is split; a mode other than Vietnamese or English writes nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "viqr.h"
#include "fuzz_check.h"

namespace {

constexpr unsigned char UNTOUCHED = 0xA5;

// Encodes one chunk, input and output each in a block of exactly its size so
// that a read or write past either is caught.
std::string encode_chunk(const std::string &chunk, unsigned char composition_char, int mode,
                         viqr_encoder_history &history) {
    auto input = std::make_unique<unsigned char[]>(chunk.size() + 1);  // never empty, so never null
    std::memcpy(input.get(), chunk.data(), chunk.size());
    const std::size_t room = viqr_encoder_output_size(chunk.size());
    auto output = std::make_unique<unsigned char[]>(room);
    std::memset(output.get(), UNTOUCHED, room);

    const std::size_t n = viscii_to_viqr(input.get(), chunk.size(), output.get(), composition_char, mode, history);
    check(n <= 4 * chunk.size(), "more than four output bytes an input byte");
    if (mode != MODE_VIETNAMESE && mode != MODE_ENGLISH) {
        check(n == 0, "an unknown mode wrote something");
        for (std::size_t i = 0; i < room; ++i) check(output[i] == UNTOUCHED, "an unknown mode wrote something");
    }
    for (std::size_t i = 0; i < n; ++i)
        check(output[i] <= 0x7F || output[i] == composition_char, "a byte above 0x7F in the output");
    return std::string(output.get(), output.get() + n);
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
    std::vector<std::size_t> chunk_sizes;
    for (int i = data.ConsumeIntegralInRange<int>(0, 8); i > 0; --i)
        chunk_sizes.push_back(data.ConsumeIntegralInRange<std::size_t>(0, 1100));
    const std::string text = data.ConsumeRemainingBytesAsString();

    viqr_encoder_history whole_history;
    const std::string whole = encode_chunk(text, composition_char, mode, whole_history);

    viqr_encoder_history history;
    std::string pieces;
    std::size_t start = 0;
    for (std::size_t length : chunk_sizes) {
        const std::string chunk = text.substr(start, length);
        pieces += encode_chunk(chunk, composition_char, mode, history);
        start += chunk.size();
    }
    pieces += encode_chunk(text.substr(start), composition_char, mode, history);
    check(pieces == whole, "the output depends on where the input is split");
    return 0;
}
