#include "utf8_front.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "fileio.h"
#include "viqr.h"

namespace viqr::cli {

namespace {

unsigned char input_buffer[CHUNK_SIZE];
unsigned char output_buffer[std::max(viqr_from_utf8_room(CHUNK_SIZE), viqr_to_utf8_room(CHUNK_SIZE))];

bool all_ascii(const unsigned char *bytes, std::size_t length) {
    return std::all_of(bytes, bytes + length, [](unsigned char b) { return b < 0x80; });
}

// Takes the reports of invalid UTF-8 and shows them.  Text whose first byte
// beyond ASCII is already invalid is most likely VISCII given to tonedown -u:
// that report gets a hint when `hint_viscii` is set.  Every byte is invalid
// UTF-8 or a VISCII letter, so the bytes before it are what tell.
class invalid_utf8_reports {
public:
    invalid_utf8_reports(const char *program, viqr_utf8_scan &scan, bool hint_viscii)
        : program_(program), scan_(scan), hint_viscii_(hint_viscii) {}
    void begin(const char *name) {
        name_ = name;
        chunk_start_ = 0;
        ascii_so_far_ = true;
    }
    // After converting `chunk`, the next `length` bytes of the input.
    void after_chunk(const unsigned char *chunk, std::size_t length) {
        viqr_utf8_report report;
        while (viqr_utf8_take_report(scan_, report))
            report_invalid_utf8(program_, report.input, report.offset, looks_like_viscii(report, chunk, length));
        if (ascii_so_far_) ascii_so_far_ = all_ascii(chunk, length);
        chunk_start_ += length;
    }
    void after_finish() { after_chunk(nullptr, 0); }

private:
    bool looks_like_viscii(const viqr_utf8_report &report, const unsigned char *chunk, std::size_t length) const {
        if (!hint_viscii_ || !ascii_so_far_ || report.input != name_) return false;
        if (report.offset < chunk_start_ || report.offset - chunk_start_ >= length) return false;
        return all_ascii(chunk, static_cast<std::size_t>(report.offset - chunk_start_));
    }

    const char *program_;
    viqr_utf8_scan &scan_;
    bool hint_viscii_;
    const char *name_ = nullptr;
    unsigned long long chunk_start_ = 0;
    bool ascii_so_far_ = true;
};

// Converts every input with `convert(chunk, length, out)`, then `finish(out)`
// (also after an input that could not be opened or read: what was held
// belongs to the text read so far), reporting invalid UTF-8 as it is found.
// `announcement`, when there is one, goes before the first input read.
template <class Convert, class Finish>
int run_inputs(const char *program, char *const *names, int name_count, viqr_utf8_scan &scan,
               mode_announcement *announcement, Convert convert, Finish finish) {
    unsigned char *const output = output_buffer;
    invalid_utf8_reports reports(program, scan, announcement != nullptr);
    auto convert_chunk = [&](const unsigned char *bytes, std::size_t length) {
        const bool written = write_output(program, output, convert(bytes, length, output));
        reports.after_chunk(bytes, length);
        return written;
    };
    auto begin = [&](const char *name) {
        viqr_utf8_begin_input(scan, name);
        reports.begin(name);
        return announcement == nullptr || announcement->write_once();
    };
    const inputs_status status = convert_inputs(program, names, name_count, input_buffer, CHUNK_SIZE, convert_chunk, begin);
    if (status == inputs_status::write_failed) return 1;
    const bool flushed = write_output(program, output, finish(output));
    reports.after_finish();
    return status == inputs_status::complete && flushed ? 0 : 1;
}

}  // namespace

int run_utf8_to_viqr(const char *program, char *const *names, int name_count, unsigned char composition_char,
                     int mode) {
    viqr_from_utf8_state state;
    viqr_from_utf8_start(state, composition_char, mode);
    mode_announcement announcement(program, composition_char, mode);
    return run_inputs(
        program, names, name_count, state.scan, &announcement,
        [&](const unsigned char *in, std::size_t n, unsigned char *out) { return viqr_from_utf8(state, in, n, out); },
        [&](unsigned char *out) { return viqr_from_utf8_finish(state, out); });
}

int run_viqr_to_utf8(const char *program, char *const *names, int name_count, int context) {
    viqr_to_utf8_state state;
    viqr_to_utf8_start(state, context);
    return run_inputs(
        program, names, name_count, state.scan, nullptr,
        [&](const unsigned char *in, std::size_t n, unsigned char *out) { return viqr_to_utf8(state, in, n, out); },
        [&](unsigned char *out) { return viqr_to_utf8_finish(state, out); });
}

void report_invalid_utf8(const char *program, const char *name, unsigned long long offset, bool looks_like_viscii) {
    std::fprintf(stderr, "%s: \"%s\": invalid UTF-8 at byte offset %llu, copied unchanged%s\n", program, name, offset,
                 looks_like_viscii ? "; it looks like VISCII: drop -u" : "");
}

mode_announcement::mode_announcement(const char *program, unsigned char composition_char, int mode)
    : program_(program), bytes_{composition_char, static_cast<unsigned char>(mode == MODE_ENGLISH ? 'M' : 'V')} {}

bool mode_announcement::write_once() {
    if (written_) return true;
    written_ = true;
    return write_output(program_, bytes_, sizeof bytes_);
}

}  // namespace viqr::cli
