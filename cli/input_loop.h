// The one read-convert-write loop of the two converters, in the manner of
// cat: every input in turn (standard input for "-" and when there is none),
// read a chunk at a time, each chunk converted and written at once.
#pragma once

#include <cstddef>

namespace viqr::cli {

// One conversion as the loop drives it.
class converter {
public:
    virtual ~converter() = default;
    // Before the first chunk of each input, with the name messages use.
    virtual void begin(const char *name) = 0;
    // Converts the next `length` bytes into `out`, which has room for the
    // output of CHUNK_SIZE bytes in any of the conversions; returns the number
    // of bytes written.
    virtual std::size_t convert(const unsigned char *chunk, std::size_t length, unsigned char *out) = 0;
    // What is still held at the end of the whole text, into `out`.
    virtual std::size_t finish(unsigned char *out) = 0;
    // After each chunk's output is written (`chunk` as converted) and after
    // the finish (`chunk` null): what the conversion has to say about it.
    virtual void after(const unsigned char *chunk, std::size_t length) {
        static_cast<void>(chunk);
        static_cast<void>(length);
    }
};

// tonedown's first two bytes, the composition character and "V" or "M",
// which switch a VIQR reader into the mode used.  They are written before the
// first input that is read, so that a run that reads nothing (an input that
// cannot be opened, or that is the output) leaves no announcement of nothing.
class mode_announcement {
public:
    mode_announcement(const char *program, unsigned char composition_char, int mode);
    // Writes the announcement the first time; false after a failed write,
    // which it reports.
    bool write_once();

private:
    const char *program_;
    unsigned char bytes_[2];
    bool written_ = false;
};

// Converts the inputs named (none: standard input) with `conversion` to
// standard output, after `announcement` when there is one, and returns the
// exit status: 0, or 1 after any failure, each reported as it happens.
//  - An input that cannot be opened (a folder included) or read ends the
//    reading; what the conversion still holds is finished and written, for
//    it belongs to the text read so far.
//  - An input that is the file standard output writes to is refused and
//    skipped; the others are converted.
//  - After a failed write nothing more is written.
int convert_inputs(const char *program, char *const *names, int name_count, converter &conversion,
                   mode_announcement *announcement = nullptr);

}  // namespace viqr::cli
