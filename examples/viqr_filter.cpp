// viqr_filter (C++): converts standard input to standard output through the
// viqr library's C++ interface.
//   viqr_filter_cpp down   VISCII to VIQR in Vietnamese mode, as tonedown does
//   viqr_filter_cpp up     VIQR to VISCII, as toneup does
// Build: c++ -std=c++17 viqr_filter.cpp $(pkg-config --cflags --libs viqr)
#include <cstdio>
#include <cstring>
#include <vector>

#include <viqr.h>

namespace {

constexpr std::size_t CHUNK = 4096;

bool write_out(const unsigned char *bytes, std::size_t length) {
    return std::fwrite(bytes, 1, length, stdout) == length;
}

bool down() {
    std::vector<unsigned char> in(CHUNK), out(viqr_encoder_output_size(CHUNK));
    viqr_encoder_history history;  // starts at 0
    // A reader learns the mode from the first two bytes.
    const unsigned char announce[] = {DEFAULT_COMPOSITION_CHAR, 'V'};
    if (!write_out(announce, sizeof announce)) return false;
    while (std::size_t n = std::fread(in.data(), 1, CHUNK, stdin)) {
        const std::size_t m =
            viscii_to_viqr(in.data(), n, out.data(), DEFAULT_COMPOSITION_CHAR, MODE_VIETNAMESE, history);
        if (!write_out(out.data(), m)) return false;
    }
    return !std::ferror(stdin);
}

bool up() {
    std::vector<unsigned char> in(CHUNK), out(2 * CHUNK);
    const int handle = viqr_open(MODE_VIETNAMESE, DEFAULT_COMPOSITION_CHAR, DEFAULT_OVERSTRIKE_CHAR);
    if (handle < 0) return false;
    // Hold letters back until their marks have arrived: no overstrikes.
    viqr_set(handle, 1, VIQR_PARAM_HOLD);
    while (std::size_t n = std::fread(in.data(), 1, CHUNK, stdin))
        if (!write_out(out.data(), viqr_feed_chunk(handle, in.data(), n, out.data()))) return false;
    int count = 0;
    viqr_close(handle, out.data(), count);
    return write_out(out.data(), static_cast<std::size_t>(count)) && !std::ferror(stdin);
}

}  // namespace

int main(int argc, char **argv) {
    bool ok;
    if (argc == 2 && std::strcmp(argv[1], "down") == 0)
        ok = down();
    else if (argc == 2 && std::strcmp(argv[1], "up") == 0)
        ok = up();
    else {
        std::fputs("usage: viqr_filter_cpp down|up < input > output\n", stderr);
        return 2;
    }
    return std::fflush(stdout) == 0 && ok ? 0 : 1;
}
