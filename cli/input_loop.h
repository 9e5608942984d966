// The one read-convert-write loop of the programs, in the manner of cat:
// every input in turn (standard input for "-" and when there is none), read a
// chunk at a time, each chunk converted and written at once.
#pragma once

#include <cstddef>

#include "fileio.h"

namespace viqr::cli {

// What a conversion makes of an input once it is open, before the loop reads
// it.
struct input_start {
    enum class next {
        read,  // convert `bytes`, then read the rest of the input unless `at_end`
        skip,  // leave this input, which the conversion has reported, and go on: the run fails
        stop,  // the conversion has reported a failure: end the reading as after a failed read
    };
    next then = next::read;
    // What the conversion has already read of the input, to be converted
    // before anything the loop reads.
    const unsigned char *bytes = nullptr;
    std::size_t length = 0;
    bool at_end = false;  // the input ended within `bytes`
};

// One conversion as the loop drives it.
class converter {
public:
    virtual ~converter() = default;
    // Before the first chunk of each input, with the name messages use.
    virtual void begin(const char *name) { static_cast<void>(name); }
    // Called for each input in place of begin by the loop, which has not read
    // from `fd` yet.  A conversion that must see the start of an input before
    // it knows how to convert it (toneconv -f auto) reads the start itself and
    // hands it back; by default this is begin and reads nothing.
    virtual input_start start(int fd, const char *name) {
        static_cast<void>(fd);
        begin(name);
        return {};
    }
    // Converts the next `length` bytes into `out`, which has room for the
    // output of CHUNK_SIZE bytes in any of the conversions; returns the number
    // of bytes written.
    virtual std::size_t convert(const unsigned char *chunk, std::size_t length, unsigned char *out) = 0;
    // At the end of each input read, whole or up to a failed read: what the
    // conversion writes for that input alone, into `out`.  Nothing by default,
    // for the inputs make one text.  `input_ended` follows the write, whether
    // it worked or not.
    virtual std::size_t end_input(unsigned char *out) {
        static_cast<void>(out);
        return 0;
    }
    virtual void input_ended() {}
    // What is still held at the end of the whole text, into `out`.
    virtual std::size_t finish(unsigned char *out) = 0;
    // After each chunk's output is written (`chunk` as converted) and after
    // the finish (`chunk` null): what the conversion has to say about it.
    virtual void after(const unsigned char *chunk, std::size_t length) {
        static_cast<void>(chunk);
        static_cast<void>(length);
    }
    // A conversion that writes nothing of its inputs, only something about
    // each (toneconv --detect): the loop reads every input whatever became of
    // the one before, and reads the file standard output writes to as any
    // other.
    virtual bool only_reports() const { return false; }
};

// tonedown's first two bytes, the composition character and "V" or "M",
// which switch a VIQR reader into the mode used.  They are written before the
// first input that is read, so that a run that reads nothing (an input that
// cannot be opened, or that is the output) leaves no announcement of nothing.
class mode_announcement {
public:
    mode_announcement(const char *program, unsigned char composition_char, int mode);
    // Writes the announcement to `output` the first time; false after a
    // failed write, which it reports.
    bool write_once(const output_file &output);

private:
    const char *program_;
    unsigned char bytes_[2];
    bool written_ = false;
};

// Converts the inputs named (none: standard input) with `conversion` to
// `output`, after `announcement` when there is one, and returns the exit
// status: 0, or 1 after any failure, each reported as it happens.
//  - An input that cannot be opened (a folder included) or read ends the
//    reading; what the conversion still holds is finished and written, for
//    it belongs to the text read so far.
//  - An input that is the file standard output writes to is refused and
//    skipped, as is one the conversion skips; the others are converted.
//  - After a failed write nothing more is written.
int convert_inputs(const char *program, char *const *names, int name_count, converter &conversion,
                   mode_announcement *announcement = nullptr, const output_file &output = STANDARD_OUTPUT);

}  // namespace viqr::cli
