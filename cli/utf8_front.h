// What tonedown and toneup do for -u: the conversions from and to UTF-8 with
// their reports of invalid UTF-8, called from main with one line each.
#pragma once

#include <cstddef>

namespace viqr::cli {

// tonedown -u: reads every input as UTF-8 and writes VIQR to standard output,
// after the mode announcement.  Returns the exit status.
int run_utf8_to_viqr(const char *program, char *const *names, int name_count, unsigned char composition_char,
                     int mode);

// toneup -u: reads every input as VIQR through decoder context `context` and
// writes UTF-8 to standard output.  Returns the exit status.
int run_viqr_to_utf8(const char *program, char *const *names, int name_count, int context);

// "<program>: "<name>": invalid UTF-8 at byte offset <offset>, copied unchanged"
// followed by `hint` (for tonedown -u, e.g. "; it looks like VISCII: drop -u").
void report_invalid_utf8(const char *program, const char *name, unsigned long long offset, const char *hint = "");

}  // namespace viqr::cli
