// What kind of text an encoding of the library's registry is, for the
// programs' hints.
#pragma once

#include <cstring>

#include "viqr.h"

namespace viqr::cli {

// Whether text in `encoding` is UTF-8, ASCII included: the Unicode forms, NCR
// and VIQR, which keep characters beyond ASCII as UTF-8.  The others are
// tables of bytes, or repairs of text that went through one.
inline bool reads_unicode(int encoding) {
    const char *name = viqr_encoding_name(encoding);
    return std::strncmp(name, "utf-8", 5) == 0 || std::strcmp(name, "ncr") == 0 || std::strncmp(name, "viqr", 4) == 0;
}

}  // namespace viqr::cli
