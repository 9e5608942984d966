// The hints the converters give without -u, when the text looks like UTF-8:
// a word on standard error, the output and the exit status unchanged.
#pragma once

#include <cstddef>

namespace viqr::cli {

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
