// tonefix: repairs VISCII 1.0 text into VISCII 1.1 (see exchange.h).
//
// One input (a named file or standard input), one output (a named file or
// standard output), one buffer converted in place.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "exchange.h"
#include "fileio.h"
#include "frontend.h"

namespace {

using namespace viqr::cli;

unsigned char buffer[CHUNK_SIZE];

constexpr const char *usage_lines[] = {
    "Usage: tonefix [input file] [output file]\n",
    "       If file names not specified, stdio is used.\n",
    "\n",
    "Purpose: converts files from VISCII 1.0 to VISCII 1.1\n",
    "Version: VISCII 1.1\n",
};
constexpr usage_text usage_of_tonefix{usage_lines, std::size(usage_lines)};

[[noreturn]] void fail(const char *name) {
    std::perror(name);
    std::exit(1);
}

void exchange_in_place(unsigned char *bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) bytes[i] = tonefix::exchanged(bytes[i]);
}

// Opening the output truncates it, so an output that is the input itself (under
// any name: a hard link, a symbolic link) would lose the text before it is read.
bool is_same_file(int input_fd, const char *output_path) {
    struct stat in, out;
    if (fstat(input_fd, &in) != 0 || stat(output_path, &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

int open_input(const char *path) {
    if (path[0] == '-') usage(usage_of_tonefix);
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        std::perror(path);
        usage(usage_of_tonefix);
    }
    return fd;
}

int open_output(const char *program, int input_fd, const char *input_path, const char *path) {
    if (is_same_file(input_fd, path)) {
        std::fprintf(stderr, "%s: \"%s\" and \"%s\" are the same file\n", program, input_path, path);
        std::exit(1);
    }
    // A text file: read and write for whoever the creation mask allows, never executable.
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        std::perror(path);
        usage(usage_of_tonefix);
    }
    return fd;
}

}  // namespace

int main(int argc, char *argv[]) {
    const char *program = program_name(argc, argv, "tonefix");
    const char *input_path = argc > 1 ? argv[1] : nullptr;
    const char *output_path = argc > 2 ? argv[2] : nullptr;  // later arguments are ignored

    const int input_fd = input_path ? open_input(input_path) : STDIN_FILENO;
    const int output_fd = output_path ? open_output(program, input_fd, input_path, output_path) : STDOUT_FILENO;
    const char *input_name = input_path ? input_path : program;
    const char *output_name = output_path ? output_path : program;

    for (;;) {
        const ssize_t n = read_retrying(input_fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) fail(input_name);
        exchange_in_place(buffer, static_cast<std::size_t>(n));
        if (!write_all(output_fd, buffer, static_cast<std::size_t>(n))) fail(output_name);
    }
    // Some file systems report a failed write only when the file is closed.
    if (output_path && close(output_fd) != 0) fail(output_name);
    return 0;
}
