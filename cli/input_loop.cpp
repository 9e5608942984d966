#include "input_loop.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

#include "fileio.h"
#include "viqr.h"

namespace viqr::cli {

namespace {

unsigned char input_buffer[CHUNK_SIZE];
// Room for a chunk's output in the widest of the four conversions.
unsigned char output_buffer[std::max({viqr_encoder_output_size(CHUNK_SIZE), viqr_typed_room(CHUNK_SIZE),
                                      viqr_from_utf8_room(CHUNK_SIZE), viqr_to_utf8_room(CHUNK_SIZE)})];

enum class outcome { converted, refused, input_failed, output_failed };

outcome convert_descriptor(const char *program, int fd, const char *name, converter &conversion,
                           mode_announcement *announcement) {
    if (is_standard_output_file(fd)) {
        report_input_is_output(program, name);
        return outcome::refused;
    }
    if (announcement != nullptr && !announcement->write_once()) return outcome::output_failed;
    conversion.begin(name);
    for (;;) {
        const ssize_t n = read_retrying(fd, input_buffer, sizeof input_buffer);
        if (n == 0) return outcome::converted;
        if (n < 0) {
            report_read_failure(program, name, errno);
            return outcome::input_failed;
        }
        const std::size_t length = static_cast<std::size_t>(n);
        const bool written = write_output(program, output_buffer, conversion.convert(input_buffer, length, output_buffer));
        conversion.after(input_buffer, length);
        if (!written) return outcome::output_failed;
    }
}

outcome convert_named(const char *program, const char *name, converter &conversion,
                      mode_announcement *announcement) {
    if (names_standard_stream(name))
        return convert_descriptor(program, STDIN_FILENO, STANDARD_INPUT_NAME, conversion, announcement);
    const int fd = open_input_file(name);
    if (fd < 0) {
        report_open_failure(program, name, errno);
        return outcome::input_failed;
    }
    const outcome result = convert_descriptor(program, fd, name, conversion, announcement);
    close(fd);
    return result;
}

}  // namespace

mode_announcement::mode_announcement(const char *program, unsigned char composition_char, int mode)
    : program_(program), bytes_{composition_char, static_cast<unsigned char>(mode == MODE_ENGLISH ? 'M' : 'V')} {}

bool mode_announcement::write_once() {
    if (written_) return true;
    written_ = true;
    return write_output(program_, bytes_, sizeof bytes_);
}

int convert_inputs(const char *program, char *const *names, int name_count, converter &conversion,
                   mode_announcement *announcement) {
    static char standard_input[] = "-";
    char *const only_standard_input[] = {standard_input};
    if (name_count == 0) {
        names = only_standard_input;
        name_count = 1;
    }
    outcome last = outcome::converted;
    bool refused = false;
    for (int i = 0; i < name_count && (last == outcome::converted || last == outcome::refused); ++i) {
        last = convert_named(program, names[i], conversion, announcement);
        refused |= last == outcome::refused;
    }
    if (last == outcome::output_failed) return 1;
    const bool finished = write_output(program, output_buffer, conversion.finish(output_buffer));
    conversion.after(nullptr, 0);
    return last != outcome::input_failed && !refused && finished ? 0 : 1;
}

}  // namespace viqr::cli
