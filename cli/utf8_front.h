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
void report_invalid_utf8(const char *program, const char *name, unsigned long long offset);

// tonedown without -u: says once on standard error that -u reads UTF-8 when
// the first chunk of an input is valid UTF-8 with characters of more than one
// byte.  begin() before each input, look() at each chunk.
class utf8_input_hint {
public:
    explicit utf8_input_hint(const char *program) : program_(program) {}
    void begin(const char *name) {
        name_ = name;
        at_start_ = true;
    }
    void look(const unsigned char *chunk, std::size_t length);

private:
    const char *program_;
    const char *name_ = nullptr;
    bool at_start_ = false;
    bool given_ = false;
};

// toneup without -u: says once on standard error that -u writes UTF-8 when
// standard output is a terminal whose locale's character set is UTF-8.
void hint_utf8_terminal(const char *program);

}  // namespace viqr::cli
