#include "iconv_oracle.h"

#include <iconv.h>

#include <cerrno>

namespace {

// One call of iconv into `buffer`, appending what it wrote to `out`; false
// when the text cannot be converted (a full buffer is no failure).
bool convert_some(iconv_t cd, char **in, std::size_t *inleft, std::string &out) {
    char buffer[4096];
    char *outp = buffer;
    std::size_t outleft = sizeof buffer;
    const std::size_t done = iconv(cd, in, inleft, &outp, &outleft);
    out.append(buffer, static_cast<std::size_t>(outp - buffer));
    return done != static_cast<std::size_t>(-1) || errno == E2BIG;
}

}  // namespace

std::optional<std::string> iconv_convert(const std::string &from, const std::string &to, const std::string &bytes) {
    const iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string in = bytes, out;
    char *inp = in.data();
    std::size_t inleft = in.size();
    bool ok = true;
    while (ok && inleft > 0) ok = convert_some(cd, &inp, &inleft, out);
    // With no input, a converter that keeps a state writes what ends it.
    if (ok) ok = convert_some(cd, nullptr, nullptr, out);
    iconv_close(cd);
    if (!ok) return std::nullopt;
    return out;
}
