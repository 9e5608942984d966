#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

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

void report_read_failure(const char *program, const char *name, int error) {
    std::fprintf(stderr, "%s: can't read \"%s\": %s\n", program, name, std::strerror(error));
}

void report_write_failure(const char *program, int error) {
    std::fprintf(stderr, "%s: can't write \"standard output\": %s\n", program, std::strerror(error));
}

void report_open_failure(const char *program, const char *name) {
    std::fprintf(stderr, "%s: can't open file \"%s\"\n", program, name);
}

}  // namespace viqr::cli
