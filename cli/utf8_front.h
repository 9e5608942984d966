// What tonedown and toneup do for -u: the loops over the inputs with their
// reports of invalid UTF-8, called from main with one line each; and
// tonedown's mode announcement, which both of its loops write.
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

}  // namespace viqr::cli
