// Fuzzes UTF-8 through tonedown -u and toneup -u in memory: arbitrary bytes
// converted to VIQR (Vietnamese or English mode, a composition character with
// no other meaning in VIQR) and back to UTF-8 by a decoder context opened in
// any mode.  Each direction is run twice, once on the whole text and once in
// chunks of the sizes the fuzzer chooses, and must give the same bytes.  The
// round trip must give back the input exactly when it holds no combining
// mark that could join a letter (U+0300..U+0341), and a second round trip
// must change nothing more in any case.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "viqr.h"
#include "viqr_model.h"

namespace {

// Converted text, after checking what the driver saw on the way.
std::string checked(const viqr_model::utf8_converted &c) {
    check(c.within_room, "a UTF-8 conversion wrote past its room");
    for (const viqr_utf8_report &report : c.reports) check(report.input != nullptr, "a report names no input");
    return c.text;
}

std::string down(const std::vector<std::string> &chunks, unsigned char k, int mode) {
    viqr_from_utf8_state state;
    viqr_from_utf8_start(state, k, mode);
    return viqr_model::mode_announcement(mode, k) + checked(viqr_model::from_utf8_chunks(state, chunks, {"fuzz"}));
}

std::string up(const std::vector<std::string> &chunks, unsigned char k, int initial_mode) {
    const int context = viqr_open(initial_mode, k, DEFAULT_OVERSTRIKE_CHAR);
    check(context >= 0, "a decoder context was left open");
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    viqr_to_utf8_state state;
    viqr_to_utf8_start(state, context);
    const std::string text = checked(viqr_model::to_utf8_chunks(state, chunks, {"fuzz"}));
    int count = 0;
    viqr_close(context, nullptr, count);
    return text;
}

bool has_joining_mark(const std::string &text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const unsigned char a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(text[i + 1]);
        if ((a == 0xCC && b >= 0x80 && b <= 0xBF) || (a == 0xCD && (b == 0x80 || b == 0x81))) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const round_trip_input in = read_round_trip_input(data, 300);
    const unsigned char k = in.composition_char;

    const std::string viqr = down({in.text}, k, in.mode);
    check(down(viqr_model::pieces_by_sizes(in.text, in.down_chunks), k, in.mode) == viqr,
          "tonedown -u gave other bytes for the text in chunks");
    const std::string back = up({viqr}, k, in.initial_mode);
    check(up(viqr_model::pieces_by_sizes(viqr, in.up_chunks), k, in.initial_mode) == back,
          "toneup -u gave other bytes for the text in chunks");
    if (!has_joining_mark(in.text)) check(back == in.text, "the round trip changed a text without combining marks");
    check(up({down({back}, k, in.mode)}, k, in.initial_mode) == back, "a second round trip changed the text again");
    return 0;
}
