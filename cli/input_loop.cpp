#include "input_loop.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

#include "viqr.h"

namespace viqr::cli {

namespace {

unsigned char input_buffer[CHUNK_SIZE];
// Room for a chunk's output in the widest of the programs' conversions.
unsigned char output_buffer[std::max({viqr_encoder_output_size(CHUNK_SIZE), viqr_typed_room(CHUNK_SIZE),
                                      viqr_from_utf8_room(CHUNK_SIZE), viqr_to_utf8_room(CHUNK_SIZE),
                                      viqr_convert_room(CHUNK_SIZE)})];

// skipped: refused as the output, or left by the conversion.
enum class outcome { converted, skipped, input_failed, output_failed };

// One pass of the loop over one input: its reads, its conversion, its output.
class input_pass {
public:
    input_pass(const char *program, converter &conversion, const output_file &output)
        : program_(program), conversion_(conversion), output_(output) {}

    outcome run(int fd, const char *name, mode_announcement *announcement) {
        if (!conversion_.only_reports() && is_standard_output_file(fd)) {
            report_input_is_output(program_, name);
            return outcome::skipped;
        }
        if (announcement != nullptr && !announcement->write_once(output_)) return outcome::output_failed;
        const input_start start = conversion_.start(fd, name);
        if (start.then == input_start::next::skip) return outcome::skipped;
        if (start.then == input_start::next::stop) return outcome::input_failed;
        outcome result = convert_read(start.bytes, start.length);
        if (result == outcome::converted && !start.at_end) result = read_and_convert(fd, name);
        if (result == outcome::output_failed) return result;
        const bool ended = write(conversion_.end_input(output_buffer));
        conversion_.input_ended();
        return ended ? result : outcome::output_failed;
    }

    bool write(std::size_t length) { return write_output(program_, output_, output_buffer, length); }

private:
    // Bytes the conversion read itself, a chunk at a time as the loop reads.
    outcome convert_read(const unsigned char *bytes, std::size_t length) {
        for (std::size_t at = 0; at < length; at += CHUNK_SIZE)
            if (!convert_chunk(bytes + at, std::min(CHUNK_SIZE, length - at))) return outcome::output_failed;
        return outcome::converted;
    }

    outcome read_and_convert(int fd, const char *name) {
        for (;;) {
            const ssize_t n = read_retrying(fd, input_buffer, sizeof input_buffer);
            if (n == 0) return outcome::converted;
            if (n < 0) {
                report_read_failure(program_, name, errno);
                return outcome::input_failed;
            }
            if (!convert_chunk(input_buffer, static_cast<std::size_t>(n))) return outcome::output_failed;
        }
    }

    bool convert_chunk(const unsigned char *chunk, std::size_t length) {
        const bool written = write(conversion_.convert(chunk, length, output_buffer));
        conversion_.after(chunk, length);
        return written;
    }

    const char *program_;
    converter &conversion_;
    const output_file output_;
};

outcome convert_named(input_pass &pass, const char *program, const char *name, mode_announcement *announcement) {
    if (names_standard_stream(name)) return pass.run(STDIN_FILENO, STANDARD_INPUT_NAME, announcement);
    const int fd = open_input_file(name);
    if (fd < 0) {
        report_open_failure(program, name, errno);
        return outcome::input_failed;
    }
    const outcome result = pass.run(fd, name, announcement);
    close(fd);
    return result;
}

}  // namespace

mode_announcement::mode_announcement(const char *program, unsigned char composition_char, int mode)
    : program_(program), bytes_{composition_char, static_cast<unsigned char>(mode == MODE_ENGLISH ? 'M' : 'V')} {}

bool mode_announcement::write_once(const output_file &output) {
    if (written_) return true;
    written_ = true;
    return write_output(program_, output, bytes_, sizeof bytes_);
}

int convert_inputs(const char *program, char *const *names, int name_count, converter &conversion,
                   mode_announcement *announcement, const output_file &output) {
    static char standard_input[] = "-";
    char *const only_standard_input[] = {standard_input};
    if (name_count == 0) {
        names = only_standard_input;
        name_count = 1;
    }
    input_pass pass(program, conversion, output);
    outcome last = outcome::converted;
    bool all_converted = true;
    for (int i = 0; i < name_count; ++i) {
        last = convert_named(pass, program, names[i], announcement);
        all_converted = all_converted && last == outcome::converted;
        if (last == outcome::output_failed) return 1;
        if (last == outcome::input_failed && !conversion.only_reports()) break;
    }
    const bool finished = pass.write(conversion.finish(output_buffer));
    conversion.after(nullptr, 0);
    return all_converted && finished ? 0 : 1;
}

}  // namespace viqr::cli
