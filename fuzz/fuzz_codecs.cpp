// Fuzzes the converters between encodings: any bytes from any encoding the
// registry reads to any it writes, once whole and once in chunks of the sizes
// the fuzzer chooses (with the inputs begun anew where it says), through
// output areas of exactly the documented room.  Both runs must write the same
// bytes and count the same losses; what a converter writes in UTF-8 must be
// valid UTF-8; going through decomposed UTF-8 on the way must change
// nothing (so the fast lanes agree with the general path, which is all that
// decomposed text takes); and writing the UTF-8 reading of the text to the
// source encoding and reading it back must change nothing more.  Detection
// (the auto converter) takes the same bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "viqr.h"

namespace {

struct outcome {
    std::string out;
    unsigned long long unwritable = 0, undefined = 0;
};

// Converts `chunks` (each a separate call, of exactly the room it needs).
outcome run(int from, int to, int flags, const std::vector<std::string> &chunks) {
    outcome o;
    viqr_converter *c = viqr_converter_open(from, to, flags);
    check(c != nullptr, "a converter could not be opened");
    auto take = [&](std::size_t n, const std::vector<unsigned char> &out) {
        check(n <= out.size(), "more output than the room");
        o.out.append(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    };
    for (const std::string &chunk : chunks) {
        std::vector<unsigned char> out(viqr_convert_room(chunk.size()));
        take(viqr_convert(c, reinterpret_cast<const unsigned char *>(chunk.data()), chunk.size(), out.data()), out);
    }
    std::vector<unsigned char> out(viqr_convert_room(0));
    take(viqr_convert_finish(c, out.data()), out);
    viqr_loss_report report;
    viqr_convert_losses(*c, report);
    o.unwritable = report.unwritable;
    o.undefined = report.undefined;
    viqr_converter_close(c);
    return o;
}

bool valid_utf8(const std::string &s) {
    const outcome checked = run(viqr_encoding_lookup("utf-8"), viqr_encoding_lookup("utf-8"), 0, {s});
    return checked.undefined == 0;
}

std::vector<int> encodings(int (*can)(int)) {
    std::vector<int> found;
    for (int e = 0; e < viqr_encoding_count(); ++e)
        if (can(e)) found.push_back(e);
    return found;
}

// `text` in chunks of the fuzzer's sizes, up to its end; the rest in one.
std::vector<std::string> chunks_of(const std::string &text, const std::vector<std::size_t> &sizes) {
    std::vector<std::string> chunks;
    std::size_t at = 0;
    for (std::size_t n : sizes) {
        if (at >= text.size()) break;
        chunks.push_back(text.substr(at, n));
        at += chunks.back().size();
    }
    if (at < text.size()) chunks.push_back(text.substr(at));
    return chunks;
}

const int utf8 = viqr_encoding_lookup("utf-8");

// The same bytes and losses in chunks as whole, and valid UTF-8 when the
// target is UTF-8.
void check_chunks_change_nothing(int from, int to, int flags, const std::vector<std::string> &chunks,
                                 const outcome &whole) {
    const outcome pieces = run(from, to, flags, chunks);
    check(pieces.out == whole.out, "chunks change the output");
    check(pieces.unwritable == whole.unwritable && pieces.undefined == whole.undefined,
          "chunks change the loss report");
    const std::string target = viqr_encoding_name(to);
    if (target == "utf-8" || target == "utf-8-nfd") check(valid_utf8(whole.out), "invalid UTF-8 written");
}

void check_decomposed_converts_alike(int from, int to, int flags, const std::string &text, const outcome &whole) {
    static const int nfd = viqr_encoding_lookup("utf-8-nfd");
    const outcome decomposed = run(from, nfd, 0, {text});
    check(run(utf8, to, flags, {decomposed.out}).out == whole.out, "decomposed text converts differently");
}

// Detection takes any bytes, and the converter it opens (auto) converts the
// same whole and in chunks.
void check_detection(const std::string &text, const std::vector<std::string> &chunks, int to, int flags) {
    viqr_detection verdict{};
    viqr_converter *detected = viqr_converter_open_auto(reinterpret_cast<const unsigned char *>(text.data()),
                                                        text.size(), to, flags, &verdict);
    check(detected != nullptr || verdict.encoding == VIQR_DETECT_UNKNOWN ||
              verdict.encoding == VIQR_DETECT_TOO_LITTLE,
          "auto opened nothing for a text it named");
    if (detected == nullptr) return;
    viqr_converter_close(detected);
    const int read_as = verdict.encoding == VIQR_DETECT_ASCII ? utf8 : verdict.encoding;
    check(run(read_as, to, flags, chunks).out == run(read_as, to, flags, {text}).out,
          "chunks change what auto converts");
}

// Read as UTF-8, written back to the source and read again: the second
// reading is the first, wherever the source could hold the text.
void check_reading_back(int from, int flags, const std::string &text) {
    if (!viqr_encoding_can_write(from)) return;
    const outcome first = run(from, utf8, 0, {text});
    const outcome back = run(utf8, from, flags, {first.out});
    if (back.unwritable != 0) return;
    const outcome again = run(from, utf8, 0, {back.out});
    check(again.out == first.out, "writing what was read and reading it again changes it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::vector<int> readable = encodings(viqr_encoding_can_read);
    static const std::vector<int> writable = encodings(viqr_encoding_can_write);
    FuzzedDataProvider provider(data, size);
    const int from = readable[provider.ConsumeIntegralInRange<std::size_t>(0, readable.size() - 1)];
    const int to = writable[provider.ConsumeIntegralInRange<std::size_t>(0, writable.size() - 1)];
    const int flags = provider.ConsumeBool() ? VIQR_CONVERT_ENGLISH_MODE : 0;
    const std::vector<std::size_t> sizes = chunk_sizes(provider, 8, 5000);
    const std::string text = provider.ConsumeRemainingBytesAsString();

    const outcome whole = run(from, to, flags, {text});
    const std::vector<std::string> chunks = chunks_of(text, sizes);
    check_chunks_change_nothing(from, to, flags, chunks, whole);
    check_decomposed_converts_alike(from, to, flags, text, whole);
    check_detection(text, chunks, to, flags);
    check_reading_back(from, flags, text);
    return 0;
}
