#include "oracle.h"

#include <cstdlib>

#include "iconv_oracle.h"
#include "process.h"

bool running_under_ci() { return std::getenv("CI") != nullptr; }

bool have_python_unicodedata() {
    static const bool available = run_shell("python3 -c 'import unicodedata'").status == 0;
    return available;
}

bool have_iconv_viscii() {
    static const bool available = iconv_convert("VISCII", "UTF-8", "\xE1") == std::string("\xC3\xA1");
    return available;
}
