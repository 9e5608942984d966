// tonefix: repairs VISCII 1.0 text into VISCII 1.1.
//
// Revision 1.0 of VISCII had capital O with tilde and small a with dot below at
// each other's code points.  Exchanging those two bytes and copying every other
// byte turns 1.0 text into 1.1 text, and 1.1 text back into 1.0.
//
// One input (a named file or standard input), one output (a named file or
// standard output), one 1024-byte buffer converted in place.

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "credits.h"
#include "viscii_letters.h"

namespace {

// The two letters that revision 1.0 had swapped, at their VISCII 1.1 codes.
constexpr unsigned char CAPITAL_O_TILDE = letter_rows[9].code[TONE_TILDE];
constexpr unsigned char SMALL_A_DOT = letter_rows[16].code[TONE_DOT];
static_assert(letter_rows[9].spelling[0] == 'O' && letter_rows[9].spelling[1] == '\0');
static_assert(letter_rows[16].spelling[0] == 'a' && letter_rows[16].spelling[1] == '\0');
static_assert(CAPITAL_O_TILDE == 0xA0 && SMALL_A_DOT == 0xD5);

using byte_table = std::array<unsigned char, 256>;

constexpr byte_table make_exchange_table() {
    byte_table table{};
    for (int b = 0; b < 256; ++b) table[b] = static_cast<unsigned char>(b);
    table[CAPITAL_O_TILDE] = SMALL_A_DOT;
    table[SMALL_A_DOT] = CAPITAL_O_TILDE;
    return table;
}

constexpr byte_table exchange = make_exchange_table();

constexpr bool exchange_is_its_own_inverse() {
    for (int b = 0; b < 256; ++b)
        if (exchange[exchange[b]] != b) return false;
    return true;
}

constexpr int bytes_changed() {
    int changed = 0;
    for (int b = 0; b < 256; ++b) changed += exchange[b] != b;
    return changed;
}

static_assert(exchange_is_its_own_inverse(), "running tonefix twice must give back the input");
static_assert(bytes_changed() == 2, "only the two swapped letters change");

// The exchange as two comparisons instead of a table look-up, so that the
// compiler can convert a whole chunk with vector instructions.
constexpr unsigned char exchanged(unsigned char b) {
    return b == CAPITAL_O_TILDE ? SMALL_A_DOT : b == SMALL_A_DOT ? CAPITAL_O_TILDE : b;
}

constexpr bool exchanged_agrees_with_table() {
    for (int b = 0; b < 256; ++b)
        if (exchanged(static_cast<unsigned char>(b)) != exchange[b]) return false;
    return true;
}

static_assert(exchanged_agrees_with_table());

constexpr std::size_t BUFFER_SIZE = 1024;
unsigned char buffer[BUFFER_SIZE];

// The name messages are headed by when no file name fits: the program as typed.
const char *invocation_name = "tonefix";

[[noreturn]] void usage() {
    std::fputs("Usage: tonefix [input file] [output file]\n", stderr);
    std::fputs("       If file names not specified, stdio is used.\n", stderr);
    std::fputs("\n", stderr);
    std::fputs("Purpose: converts files from VISCII 1.0 to VISCII 1.1\n", stderr);
    std::fputs("Version: VISCII 1.1\n", stderr);
    std::fputs(VIQR_TOOLS_AUTHOR_LINE, stderr);
    std::fputs(VIQR_TOOLS_MAKER_LINE, stderr);
    std::exit(1);
}

[[noreturn]] void fail(const char *name) {
    std::perror(name);
    std::exit(1);
}

// Returns the number of bytes read, 0 at the end of the input, -1 on failure.
ssize_t read_retrying(int fd, void *into, std::size_t size) {
    ssize_t n;
    do n = read(fd, into, size);
    while (n < 0 && errno == EINTR);
    return n;
}

// Writes all `size` bytes, continuing after short writes; false on failure.
bool write_all(int fd, const unsigned char *from, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, from, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;   // no progress and no reason given
            return false;
        }
        from += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void exchange_in_place(unsigned char *bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) bytes[i] = exchanged(bytes[i]);
}

// Opening the output truncates it, so an output that is the input itself (under
// any name: a hard link, a symbolic link) would lose the text before it is read.
bool is_same_file(int input_fd, const char *output_path) {
    struct stat in, out;
    if (fstat(input_fd, &in) != 0 || stat(output_path, &out) != 0) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

int open_input(const char *path) {
    if (path[0] == '-') usage();
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        std::perror(path);
        usage();
    }
    return fd;
}

int open_output(int input_fd, const char *input_path, const char *path) {
    if (is_same_file(input_fd, path)) {
        std::fprintf(stderr, "%s: \"%s\" and \"%s\" are the same file\n", invocation_name, input_path, path);
        std::exit(1);
    }
    // A text file: read and write for whoever the creation mask allows, never executable.
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        std::perror(path);
        usage();
    }
    return fd;
}

}  // namespace

int main(int argc, char *argv[]) {
    if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') invocation_name = argv[0];
    const char *input_path = argc > 1 ? argv[1] : nullptr;
    const char *output_path = argc > 2 ? argv[2] : nullptr;   // later arguments are ignored

    const int input_fd = input_path ? open_input(input_path) : STDIN_FILENO;
    const int output_fd = output_path ? open_output(input_fd, input_path, output_path) : STDOUT_FILENO;
    const char *input_name = input_path ? input_path : invocation_name;
    const char *output_name = output_path ? output_path : invocation_name;

    for (;;) {
        const ssize_t n = read_retrying(input_fd, buffer, BUFFER_SIZE);
        if (n == 0) break;
        if (n < 0) fail(input_name);
        exchange_in_place(buffer, static_cast<std::size_t>(n));
        if (!write_all(output_fd, buffer, static_cast<std::size_t>(n))) fail(output_name);
    }
    // Some file systems report a failed write only when the file is closed.
    if (output_path && close(output_fd) != 0) fail(output_name);
    return 0;
}
