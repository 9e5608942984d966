#include "utf8_front.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <unistd.h>

#include "fileio.h"
#include "viqr.h"

namespace viqr::cli {

namespace {

unsigned char input_buffer[CHUNK_SIZE];
unsigned char output_buffer[std::max(viqr_from_utf8_room(CHUNK_SIZE), viqr_to_utf8_room(CHUNK_SIZE))];

bool write_output(const char *program, const unsigned char *bytes, std::size_t length) {
    if (write_all(STDOUT_FILENO, bytes, length)) return true;
    report_write_failure(program, errno);
    return false;
}

void report_all(const char *program, viqr_utf8_scan &scan) {
    viqr_utf8_report report;
    while (viqr_utf8_take_report(scan, report)) report_invalid_utf8(program, report.input, report.offset);
}

// Converts every input with `convert(chunk, length, out)`, then `finish(out)`
// (also after an input that could not be opened or read: what was held
// belongs to the text read so far), reporting invalid UTF-8 as it is found.
template <class Convert, class Finish>
int run_inputs(const char *program, char *const *names, int name_count, viqr_utf8_scan &scan, Convert convert,
               Finish finish) {
    unsigned char *const output = output_buffer;
    auto convert_chunk = [&](const unsigned char *bytes, std::size_t length) {
        const bool written = write_output(program, output, convert(bytes, length, output));
        report_all(program, scan);
        return written;
    };
    auto begin = [&](const char *name) { viqr_utf8_begin_input(scan, name); };
    const inputs_status status = convert_inputs(program, names, name_count, input_buffer, CHUNK_SIZE, convert_chunk, begin);
    if (status == inputs_status::write_failed) return 1;
    const bool flushed = write_output(program, output, finish(output));
    report_all(program, scan);
    return status == inputs_status::complete && flushed ? 0 : 1;
}

}  // namespace

int run_utf8_to_viqr(const char *program, char *const *names, int name_count, unsigned char composition_char,
                     int mode) {
    viqr_from_utf8_state state;
    viqr_from_utf8_start(state, composition_char, mode);
    return run_inputs(
        program, names, name_count, state.scan,
        [&](const unsigned char *in, std::size_t n, unsigned char *out) { return viqr_from_utf8(state, in, n, out); },
        [&](unsigned char *out) { return viqr_from_utf8_finish(state, out); });
}

int run_viqr_to_utf8(const char *program, char *const *names, int name_count, int context) {
    viqr_to_utf8_state state;
    viqr_to_utf8_start(state, context);
    return run_inputs(
        program, names, name_count, state.scan,
        [&](const unsigned char *in, std::size_t n, unsigned char *out) { return viqr_to_utf8(state, in, n, out); },
        [&](unsigned char *out) { return viqr_to_utf8_finish(state, out); });
}

void report_invalid_utf8(const char *program, const char *name, unsigned long long offset) {
    std::fprintf(stderr, "%s: \"%s\": invalid UTF-8 at byte offset %llu, copied unchanged\n", program, name, offset);
}


void utf8_input_hint::look(const unsigned char *chunk, std::size_t length) {
    if (!at_start_) return;
    at_start_ = false;
    if (given_ || !viqr_looks_like_utf8(chunk, length)) return;
    given_ = true;
    std::fprintf(stderr, "%s: \"%s\" looks like UTF-8; %s -u reads UTF-8\n", program_, name_, program_);
}

void hint_utf8_terminal(const char *program) {
    if (!isatty(STDOUT_FILENO)) return;
    // The locale is consulted for this alone; the conversion does not depend on it.
    const bool utf8 = std::setlocale(LC_CTYPE, "") != nullptr && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    std::setlocale(LC_CTYPE, "C");
    if (utf8) std::fprintf(stderr, "%s: writing VISCII to a UTF-8 terminal; %s -u writes UTF-8\n", program, program);
}

}  // namespace viqr::cli
