// tonefix: repairs VISCII 1.0 text into VISCII 1.1 (see exchange_versions.h).
//
// One input (a named file or standard input), one output (a named file or
// standard output; "-" names the standard stream in either place), one buffer
// converted in place.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "exchange_versions.h"
#include "fileio.h"
#include "frontend.h"

namespace {

using namespace viqr::cli;

unsigned char buffer[CHUNK_SIZE];

constexpr const char *usage_lines[] = {
    "Usage: tonefix [input file] [output file]\n",
    "       If file names not specified, stdio is used.\n",
    "       --help: writes this text, --version: the version\n",
    "\n",
    "Purpose: converts files from VISCII 1.0 to VISCII 1.1\n",
    "Version: VISCII 1.1\n",
};
constexpr usage_text usage_of_tonefix{"tonefix", usage_lines, std::size(usage_lines)};

// Opening the output truncates it, so an output that is the input itself (under
// any name: a hard link, a symbolic link) would lose the text before it is read.
bool is_same_file(int input_fd, const char *output_path) {
    struct stat in, out;
    if (fstat(input_fd, &in) != 0 || stat(output_path, &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// tonefix has no flags: a first argument that begins with "-" and is neither
// "-" nor answered by answer_help_or_version is a usage error.  A directory is
// refused here, before anything else happens.
int open_input(const char *program, const char *path) {
    if (path[0] == '-') usage(usage_of_tonefix);
    const int fd = open_input_file(path);
    if (fd < 0) {
        report_open_failure(program, path, errno);
        std::exit(1);
    }
    return fd;
}

// The output is opened only once the input has given its first chunk (or
// its end), so that an input that cannot be read leaves an existing output
// file as it was.  `input_argument` is the input as typed: a file name or "-".
int open_output(const char *program, int input_fd, const char *input_argument, const char *input_name,
                const char *path) {
    if (path == nullptr) {
        // Appending to the input through standard output would grow it without end.
        if (is_standard_output_file(input_fd)) {
            report_input_is_output(program, input_name);
            std::exit(1);
        }
        return STDOUT_FILENO;
    }
    if (is_same_file(input_fd, path)) {
        std::fprintf(stderr, "%s: \"%s\" and \"%s\" are the same file\n", program, input_argument, path);
        std::exit(1);
    }
    // A text file: read and write for whoever the creation mask allows, never executable.
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        report_open_failure(program, path, errno);
        std::exit(1);
    }
    return fd;
}

[[noreturn]] void fail_to_read(const char *program, const char *name) {
    report_read_failure(program, name, errno);
    std::exit(1);
}

[[noreturn]] void fail_to_write(const char *program, const char *name) {
    report_write_failure(program, name, errno);
    std::exit(1);
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

    const int input_fd = input_path ? open_input(program, input_path) : STDIN_FILENO;
    const char *input_name = input_path ? input_path : STANDARD_INPUT_NAME;
    const char *output_name = output_path ? output_path : "standard output";

    ssize_t n = read_retrying(input_fd, buffer, sizeof buffer);
    if (n < 0) fail_to_read(program, input_name);
    const int output_fd = open_output(program, input_fd, argv[1], input_name, output_path);
    while (n > 0) {
        viqr::detail::exchange_versions_in_place(buffer, static_cast<std::size_t>(n));
        if (!write_all(output_fd, buffer, static_cast<std::size_t>(n))) fail_to_write(program, output_name);
        n = read_retrying(input_fd, buffer, sizeof buffer);
        if (n < 0) fail_to_read(program, input_name);
    }
    // Some file systems report a failed write only when the file is closed.
    if (output_path && close(output_fd) != 0) fail_to_write(program, output_name);
    return 0;
}
