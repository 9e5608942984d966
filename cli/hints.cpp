#include "hints.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <unistd.h>

#include "viqr.h"

namespace viqr::cli {

void utf8_input_hint::look(const unsigned char *chunk, std::size_t length) {
    if (!at_start_) return;
    at_start_ = false;
    if (given_ || !viqr_looks_like_utf8(chunk, length)) return;
    given_ = true;
    std::fprintf(stderr, "%s: \"%s\" looks like UTF-8; %s -u %s\n", program_, name_, program_, what_u_does_);
}

void hint_utf8_terminal(const char *program) {
    if (!isatty(STDOUT_FILENO)) return;
    // The locale is consulted for this alone; the conversion does not depend on it.
    const bool utf8 = std::setlocale(LC_CTYPE, "") != nullptr && std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    std::setlocale(LC_CTYPE, "C");
    if (utf8) std::fprintf(stderr, "%s: writing VISCII to a UTF-8 terminal; %s -u writes UTF-8\n", program, program);
}

}  // namespace viqr::cli
