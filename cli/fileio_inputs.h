// The chunk loop of convert_inputs, shared by the two converters.
#pragma once

#include <cerrno>
#include <unistd.h>

namespace viqr::cli {

namespace fileio_detail {

template <class Convert, class Begin>
inputs_status convert_descriptor(const char *program, int fd, const char *name, unsigned char *buffer,
                                 std::size_t size, Convert &convert, Begin &begin) {
    if (is_standard_output_file(fd)) {
        report_input_is_output(program, name);
        return inputs_status::refused;
    }
    if (!begin(name)) return inputs_status::write_failed;
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

template <class Convert, class Begin>
inputs_status convert_inputs(const char *program, char *const *names, int name_count, unsigned char *buffer,
                             std::size_t size, Convert convert, Begin begin) {
    if (name_count == 0)
        return fileio_detail::convert_descriptor(program, STDIN_FILENO, STANDARD_INPUT_NAME, buffer, size, convert,
                                                 begin);
    bool refused = false;
    for (int i = 0; i < name_count; ++i) {
        inputs_status status;
        if (names_standard_stream(names[i])) {
            status = fileio_detail::convert_descriptor(program, STDIN_FILENO, STANDARD_INPUT_NAME, buffer, size,
                                                       convert, begin);
        } else {
            const int fd = open_input_file(names[i]);
            if (fd < 0) {
                report_open_failure(program, names[i], errno);
                return inputs_status::open_failed;
            }
            status = fileio_detail::convert_descriptor(program, fd, names[i], buffer, size, convert, begin);
            close(fd);
        }
        if (status == inputs_status::refused)
            refused = true;
        else if (status != inputs_status::complete)
            return status;
    }
    return refused ? inputs_status::refused : inputs_status::complete;
}

}  // namespace viqr::cli
