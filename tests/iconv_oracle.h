// The system's iconv, the tests' independent judge of which byte VISCII gives
// each letter.  One helper for every test that asks it.
#pragma once

#include <optional>
#include <string>

// `bytes` converted from the character set `from` to `to` by the C library's
// iconv, the converter behind the iconv command.  Nothing when this system
// lacks either character set or `bytes` is not valid text in `from`.
std::optional<std::string> iconv_convert(const std::string &from, const std::string &to, const std::string &bytes);
