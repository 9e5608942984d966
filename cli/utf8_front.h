// What tonedown and toneup do for -u, and the hints they give without it:
// the loops over the inputs with their reports of invalid UTF-8, called from
// main with one line each.
#pragma once

#include <cstddef>

namespace viqr::cli {

// tonedown -u: reads every input as UTF-8 and writes VIQR to standard output,
// after the mode announcement that the caller has written.  Returns the exit
// status.
int run_utf8_to_viqr(const char *program, char *const *names, int name_count, unsigned char composition_char,
                     int mode);

// toneup -u: reads every input as VIQR through decoder context `context` and
// writes UTF-8 to standard output.  Returns the exit status.
int run_viqr_to_utf8(const char *program, char *const *names, int name_count, int context);

// "<program>: "<name>": invalid UTF-8 at byte offset <offset>, copied unchanged"
// followed, when `looks_like_viscii`, by "; it looks like VISCII: drop -u".
void report_invalid_utf8(const char *program, const char *name, unsigned long long offset,
                         bool looks_like_viscii = false);

// tonedown's first two bytes, the composition character and "V" or "M",
// which switch a VIQR reader into the mode used.  They are written before the
// first input that is read, so that a run that reads nothing (an input that
// cannot be opened, or that is the output) leaves no announcement of nothing.
class mode_announcement {
public:
    mode_announcement(const char *program, unsigned char composition_char, int mode);
    // Writes the announcement the first time; false after a failed write,
    // which it reports.
    bool write_once();

private:
    const char *program_;
    unsigned char bytes_[2];
    bool written_ = false;
};

// The converters without -u: say once on standard error that -u reads UTF-8
// (tonedown) or reads and writes it (toneup) when the first chunk of an input
// is valid UTF-8 with characters of more than one byte.  begin() before each
// input, look() at each chunk.
class utf8_input_hint {
public:
    // `what_u_does` ends the hint: "<program> -u <what_u_does>".
    utf8_input_hint(const char *program, const char *what_u_does) : program_(program), what_u_does_(what_u_does) {}
    void begin(const char *name) {
        name_ = name;
        at_start_ = true;
    }
    void look(const unsigned char *chunk, std::size_t length);

private:
    const char *program_;
    const char *what_u_does_;
    const char *name_ = nullptr;
    bool at_start_ = false;
    bool given_ = false;
};

// toneup without -u: says once on standard error that -u writes UTF-8 when
// standard output is a terminal whose locale's character set is UTF-8.
void hint_utf8_terminal(const char *program);

}  // namespace viqr::cli
