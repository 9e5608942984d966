// tonefix: repairs VISCII 1.0 text into VISCII 1.1 (see exchange.h).
//
// One input (a named file or standard input), one output (a named file or
// standard output; "-" names the standard stream in either place), one buffer
// converted in place.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "exchange.h"
#include "fileio.h"
#include "frontend.h"
#include "implementation.h"

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
constexpr usage_text usage_of_tonefix{"tonefix", usage_lines, std::size(usage_lines)};

[[noreturn]] void fail(const char *name) {
    std::perror(name);
    std::exit(1);
}

// Opening the output truncates it, so an output that is the input itself (under
// any name: a hard link, a symbolic link) would lose the text before it is read.
bool is_same_file(int input_fd, const char *output_path) {
    struct stat in, out;
    if (fstat(input_fd, &in) != 0 || stat(output_path, &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// tonefix has no flags: a first argument that begins with "-" and is neither
// "-" nor answered by answer_help_or_version is a usage error.
int open_input(const char *path) {
    if (path[0] == '-') usage(usage_of_tonefix);
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        std::perror(path);
        usage(usage_of_tonefix);
    }
    return fd;
}

// `input_argument` is the input as typed: a file name or "-".
int open_output(const char *program, int input_fd, const char *input_argument, const char *path) {
    if (is_same_file(input_fd, path)) {
        std::fprintf(stderr, "%s: \"%s\" and \"%s\" are the same file\n", program, input_argument, path);
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

// The named file, or null for standard input or output.
const char *file_named(int argc, char *argv[], int index) {
    return argc > index && !names_standard_stream(argv[index]) ? argv[index] : nullptr;
}

}  // namespace

int main(int argc, char *argv[]) {
    const char *program = program_name(argc, argv, "tonefix");
    refuse_unrunnable_implementation(program);
    if (argc > 1) answer_help_or_version(argv[1], program, usage_of_tonefix);
    const char *input_path = file_named(argc, argv, 1);
    const char *output_path = file_named(argc, argv, 2);  // later arguments are ignored

    const int input_fd = input_path ? open_input(input_path) : STDIN_FILENO;
    const int output_fd = output_path ? open_output(program, input_fd, argv[1], output_path) : STDOUT_FILENO;
    const char *input_name = input_path ? input_path : program;
    const char *output_name = output_path ? output_path : program;

    const viqr::detail::implementation &kernels = viqr::detail::active_implementation();
    for (;;) {
        const ssize_t n = read_retrying(input_fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) fail(input_name);
        viqr::detail::exchange_versions(kernels, buffer, static_cast<std::size_t>(n));
        if (!write_all(output_fd, buffer, static_cast<std::size_t>(n))) fail(output_name);
    }
    // Some file systems report a failed write only when the file is closed.
    if (output_path && close(output_fd) != 0) fail(output_name);
    return 0;
}
