#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

void report_write_failure(const char *program, int error) { report_write_failure_to(program, "standard output", error); }

void report_write_failure_to(const char *program, const char *name, int error) {
    std::fprintf(stderr, "%s: can't write \"%s\": %s\n", program, name, std::strerror(error));
}

void report_open_failure(const char *program, const char *name, int error) {
    std::fprintf(stderr, "%s: can't open file \"%s\": %s\n", program, name, std::strerror(error));
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
