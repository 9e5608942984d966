#include "utf8_front.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "encoding_kinds.h"
#include "fileio.h"
#include "input_loop.h"
#include "viqr.h"

namespace viqr::cli {

namespace {

bool all_ascii(const unsigned char *bytes, std::size_t length) {
    return std::all_of(bytes, bytes + length, [](unsigned char b) { return b < 0x80; });
}

// Takes the reports of invalid UTF-8 and shows them.  Text whose first byte
// beyond ASCII is already invalid is most likely in an 8-bit encoding given
// to tonedown -u: when `hint_legacy` is set, detection reads the chunk, and
// the report says what to do if it is VISCII (drop -u) or another
// Vietnamese encoding (toneconv reads it).  Text too short to tell is taken
// for VISCII, what tonedown reads without -u; text that no Vietnamese
// reading fits (Latin-1 French, say) gets no hint.
class invalid_utf8_reports {
public:
    invalid_utf8_reports(const char *program, viqr_utf8_scan &scan, bool hint_legacy)
        : program_(program), scan_(scan), hint_legacy_(hint_legacy) {}
    void begin(const char *name) {
        name_ = name;
        chunk_start_ = 0;
        ascii_so_far_ = true;
    }
    // After converting `chunk`, the next `length` bytes of the input.
    void after_chunk(const unsigned char *chunk, std::size_t length) {
        viqr_utf8_report report;
        while (viqr_utf8_take_report(scan_, report))
            report_invalid_utf8(program_, report.input, report.offset, legacy_hint(report, chunk, length));
        // Only the hint needs to know whether all so far was ASCII; VIQR for
        // toneup -u is all ASCII, and scanning it again would cost a pass.
        if (hint_legacy_ && ascii_so_far_) ascii_so_far_ = all_ascii(chunk, length);
        chunk_start_ += length;
    }

private:
    const char *legacy_hint(const viqr_utf8_report &report, const unsigned char *chunk, std::size_t length) {
        if (!hint_legacy_ || !ascii_so_far_ || report.input != name_) return "";
        if (report.offset < chunk_start_ || report.offset - chunk_start_ >= length) return "";
        if (!all_ascii(chunk, static_cast<std::size_t>(report.offset - chunk_start_))) return "";
        viqr_detection verdict;
        viqr_detect(chunk, length, &verdict, 1);
        if (verdict.encoding == VIQR_DETECT_TOO_LITTLE) return VISCII_HINT;
        if (verdict.encoding < 0) return "";
        const char *name = viqr_encoding_name(verdict.encoding);
        if (std::strncmp(name, "viscii", 6) == 0) return VISCII_HINT;
        if (reads_unicode(verdict.encoding)) return "";
        std::snprintf(hint_, sizeof hint_, "; it looks like %s: toneconv -f %s reads it", name, name);
        return hint_;
    }

    static constexpr const char *VISCII_HINT = "; it looks like VISCII: drop -u";

    const char *program_;
    viqr_utf8_scan &scan_;
    bool hint_legacy_;
    char hint_[96] = "";
    const char *name_ = nullptr;
    unsigned long long chunk_start_ = 0;
    bool ascii_so_far_ = true;
};

// A conversion from or to UTF-8, every input one text: `State` with its
// conversion and finish functions.
template <class State, std::size_t (*convert_chunk)(State *, const unsigned char *, std::size_t, unsigned char *),
          std::size_t (*finish_text)(State *, unsigned char *)>
class utf8_conversion final : public converter {
public:
    utf8_conversion(const char *program, bool hint_legacy) : reports_(program, state.scan, hint_legacy) {}
    void begin(const char *name) override {
        viqr_utf8_begin_input(state.scan, name);
        reports_.begin(name);
    }
    std::size_t convert(const unsigned char *chunk, std::size_t length, unsigned char *out) override {
        return convert_chunk(&state, chunk, length, out);
    }
    std::size_t finish(unsigned char *out) override { return finish_text(&state, out); }
    void after(const unsigned char *chunk, std::size_t length) override { reports_.after_chunk(chunk, length); }

    State state{};

private:
    invalid_utf8_reports reports_;
};

}  // namespace

int run_utf8_to_viqr(const char *program, char *const *names, int name_count, unsigned char composition_char,
                     int mode) {
    utf8_conversion<viqr_from_utf8_state, viqr_from_utf8, viqr_from_utf8_finish> conversion(program, true);
    viqr_from_utf8_start(conversion.state, composition_char, mode);
    mode_announcement announcement(program, composition_char, mode);
    return convert_inputs(program, names, name_count, conversion, &announcement);
}

int run_viqr_to_utf8(const char *program, char *const *names, int name_count, int context) {
    utf8_conversion<viqr_to_utf8_state, viqr_to_utf8, viqr_to_utf8_finish> conversion(program, false);
    viqr_to_utf8_start(conversion.state, context);
    return convert_inputs(program, names, name_count, conversion);
}

void report_invalid_utf8(const char *program, const char *name, unsigned long long offset, const char *hint) {
    std::fprintf(stderr, "%s: \"%s\": invalid UTF-8 at byte offset %llu, copied unchanged%s\n", program, name, offset,
                 hint);
}

}  // namespace viqr::cli
