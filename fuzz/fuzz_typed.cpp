// Fuzzes the typed reader (toneup -t) in memory: any bytes, read by a decoder
// context with the reader on, in any mode, as VISCII or with -u as UTF-8,
// with the backslash or another composition character.  The reading must
// not depend on the chunks the text comes in, nor on the reader's cache; and
// in Vietnamese mode it only regroups letters and marks, as the manual page
// promises: spelled out again as typed VIQR, the reading is the text as
// typed, the composition characters aside (those that escape something are
// taken as escapes, the others kept as text) and a \V that opens the text.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "typed_reader.h"
#include "typed_spelling.h"
#include "viqr.h"
#include "viqr_model.h"

namespace {

constexpr auto composition_chars = ordinary_composition_chars();

struct reading {
    int mode;
    unsigned char composition_char;
    bool utf8;
};

std::string read_typed(const std::vector<std::string> &chunks, const reading &how, bool cache) {
    viqr::detail::typed_use_cache(cache);
    const int context = viqr_open(how.mode, how.composition_char, DEFAULT_OVERSTRIKE_CHAR);
    check(context >= 0, "a decoder context was left open");
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    viqr_set(context, 1, VIQR_PARAM_TYPED);
    std::string text;
    if (how.utf8) {
        viqr_to_utf8_state state;
        viqr_to_utf8_start(state, context);
        const viqr_model::utf8_converted c = viqr_model::to_utf8_chunks(state, chunks);
        check(c.within_room, "toneup -u -t wrote past its room");
        text = c.text;
        int count = 0;
        viqr_close(context, nullptr, count);
    } else {
        for (const std::string &chunk : chunks) {
            std::vector<unsigned char> out(viqr_typed_room(chunk.size()));
            const std::size_t n = viqr_feed_chunk(context, reinterpret_cast<const unsigned char *>(chunk.data()),
                                                  chunk.size(), out.data());
            check(n <= out.size(), "toneup -t wrote past its room");
            text.append(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
        }
        std::vector<unsigned char> out(viqr_typed_room(0));
        int count = 0;
        viqr_close(context, out.data(), count);
        text.append(out.begin(), out.begin() + count);
    }
    viqr::detail::typed_use_cache(true);
    return text;
}

// The spelling to compare: without the composition character, and the d of
// a letter đ in either case (the composer makes Dd and dD đ of the case of
// the first).
std::string comparable(std::string text, unsigned char composition_char) {
    std::erase(text, static_cast<char>(composition_char));
    std::replace(text.begin(), text.end(), 'D', 'd');
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    reading how{};
    how.utf8 = data.ConsumeBool();
    how.mode = data.ConsumeIntegralInRange<int>(MODE_VIETNAMESE, MODE_LITERAL);
    how.composition_char = data.ConsumeBool() ? '\\' : data.PickValueInArray(composition_chars);
    const std::vector<std::size_t> sizes = chunk_sizes(data, 8, 300);
    const std::string text = data.ConsumeRemainingBytesAsString();

    const std::string whole = read_typed({text}, how, true);
    check(read_typed(viqr_model::pieces_by_sizes(text, sizes), how, true) == whole,
          "the typed reader gave other bytes for the text in chunks");
    check(read_typed({text}, how, false) == whole, "the typed reader's cache changed the reading");
    if (how.utf8 || how.mode != MODE_VIETNAMESE) return 0;
    // A composition character that is white space cannot be told from the
    // spacing of the text (toneup warns): the reader takes it as spacing.
    const unsigned char k = how.composition_char;
    if (k == ' ' || (k >= '\t' && k <= '\r')) return 0;
    const bool announced = text.size() >= 2 && static_cast<unsigned char>(text[0]) == k && text[1] == 'V';
    const std::string typed = announced ? text.substr(2) : text;
    check(comparable(typed_spelling(whole), k) == comparable(typed_spelling(typed), k),
          "the typed reader changed letters or marks, not only their grouping");
    return 0;
}
