#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frontend.h"

namespace viqr::cli {

ssize_t read_retrying(int fd, void *buffer, std::size_t size) {
    ssize_t n;
    do {
        n = read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

bool write_all(int fd, const void *buffer, std::size_t size) {
    const char *p = static_cast<const char *>(buffer);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // no progress and no reason given
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool write_output(const char *program, const output_file &output, const unsigned char *bytes, std::size_t length) {
    if (write_all(output.fd, bytes, length)) return true;
    report_write_failure(program, output.name, errno);
    return false;
}

void report_read_failure(const char *program, const char *name, int error) {
    std::fprintf(stderr, "%s: can't read \"%s\": %s\n", program, name, std::strerror(error));
}

void report_write_failure(const char *program, int error) {
    report_write_failure(program, STANDARD_OUTPUT.name, error);
}

void report_write_failure(const char *program, const char *name, int error) {
    std::fprintf(stderr, "%s: can't write \"%s\": %s\n", program, name, std::strerror(error));
}

void report_open_failure(const char *program, const char *name, int error) {
    std::fprintf(stderr, "%s: can't open file \"%s\": %s%s\n", program, name, std::strerror(error),
                 spelled_like_a_flag(name) ? " (options must come before file names)" : "");
}

bool is_standard_output_file(int fd) {
    // With standard output closed, an input opened as descriptor 1 is no output.
    if (fd == STDOUT_FILENO) return false;
    struct stat in, out;
    if (fstat(fd, &in) != 0 || fstat(STDOUT_FILENO, &out) != 0) return false;
    return S_ISREG(in.st_mode) && S_ISREG(out.st_mode) && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

void report_input_is_output(const char *program, const char *name) {
    std::fprintf(stderr, "%s: \"%s\": input file is output file\n", program, name);
}

int open_input_file(const char *name) {
    const int fd = open(name, O_RDONLY);
    if (fd < 0) return -1;
    struct stat status;
    if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

}  // namespace viqr::cli
