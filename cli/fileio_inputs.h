// The chunk loop of toneconv, which converts from one encoding to another
// into standard output or a file of its own, and reads the start of an input
// before it converts it when it must detect the input's encoding.  (tonedown
// and toneup read through input_loop.h, which also owns their announcement.)
#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

#include "fileio.h"

namespace viqr::cli {

// Outcome of reading every input.  `refused`: an input was the file standard
// output writes to, and was skipped.
enum class inputs_status { complete, refused, open_failed, read_failed, write_failed };

// What convert_inputs calls by default before each input: nothing.
struct no_input_begins {
    void operator()(const char *) const {}
};

namespace fileio_detail {

// Hands every chunk of `fd` to `convert(chunk, n)`, which returns false when
// writing its result failed (it reports that itself).
template <class Convert>
inputs_status convert_descriptor(const char *program, int fd, const char *name, unsigned char *buffer,
                                 std::size_t size, Convert &convert) {
    for (;;) {
        const ssize_t n = read_retrying(fd, buffer, size);
        if (n == 0) return inputs_status::complete;
        if (n < 0) {
            report_read_failure(program, name, errno);
            return inputs_status::read_failed;
        }
        if (!convert(buffer, static_cast<std::size_t>(n))) return inputs_status::write_failed;
    }
}

}  // namespace fileio_detail

// Reads each named input in turn (standard input for a name "-", and when
// there are no names) in chunks of at most `size` bytes and hands every chunk
// to `convert`.  Before the first chunk of each input it calls `begin(name)`,
// with the name that messages use for that input.  An input that cannot be
// opened (a directory included) or read is reported here, and reading stops;
// an input that is the file standard output writes to is reported and
// skipped, as cat does, for reading it would read back what was just written.
template <class Convert, class Begin = no_input_begins>
inputs_status convert_inputs(const char *program, char *const *names, int name_count, unsigned char *buffer,
                             std::size_t size, Convert convert, Begin begin = {}) {
    static char standard_input[] = "-";
    char *const only_standard_input[] = {standard_input};
    if (name_count == 0) {
        names = only_standard_input;
        name_count = 1;
    }
    bool refused = false;
    for (int i = 0; i < name_count; ++i) {
        const bool standard = names_standard_stream(names[i]);
        const char *name = standard ? STANDARD_INPUT_NAME : names[i];
        const int fd = standard ? STDIN_FILENO : open_input_file(names[i]);
        if (fd < 0) {
            report_open_failure(program, names[i], errno);
            return inputs_status::open_failed;
        }
        inputs_status status = inputs_status::complete;
        if (is_standard_output_file(fd)) {
            report_input_is_output(program, name);
            refused = true;
        } else {
            begin(name);
            status = fileio_detail::convert_descriptor(program, fd, name, buffer, size, convert);
        }
        if (!standard) close(fd);
        if (status != inputs_status::complete) return status;
    }
    return refused ? inputs_status::refused : inputs_status::complete;
}

}  // namespace viqr::cli
