// VIQR to UTF-8 (toneup -u) over any reader of VIQR.  The ASCII of the input
// goes to the reader, and every VISCII byte it writes back is written as
// UTF-8.  A character beyond ASCII (or one of the six control codes that are
// letters in VISCII) ends the letter the reader is composing and is copied
// unchanged at its place.
//
// A reader turns VIQR into VISCII and has three operations:
//   std::size_t read(const unsigned char *in, std::size_t n, unsigned char *out);
//       `in` is ASCII; `out` has room for VIQR_TYPED_OUTPUT_SIZE(n) bytes;
//   std::size_t interrupt(unsigned char *out);
//       a character that is not ASCII comes next: end what is being composed
//       and write what that settles; `out` has room for
//       VIQR_TYPED_OUTPUT_SIZE(0) + 2 bytes;
//   std::size_t flush(unsigned char *out);
//       the text has ended; `out` has room for VIQR_TYPED_OUTPUT_SIZE(0) bytes.
// Each returns the number of bytes written.  engine_reader is the strict
// decoder engine; a reader of hand-typed VIQR can put its rewriting in front
// of one.
#pragma once

#include <cstring>

#include "buffer_sizes.h"
#include "utf8.h"
#include "viqr.h"
#include "implementation.h"

namespace viqr::detail {

// With the typed reader on for `handle`, writes what it keeps back at `out`
// (room VIQR_TYPED_OUTPUT_SIZE(0)), decided as at the end of a word, through
// the engine; returns how many bytes that was (0 with the reader off).
std::size_t context_break(int handle, unsigned char *out);

// A decoder context.  To end a letter before a character it never sees, it is
// fed a stand-in: an ASCII byte of no letter class that is neither the
// composition character nor a mode letter.  In every state the context
// writes such a byte exactly once, as the last byte of that step (it ends a
// held letter, an escape or a Literal escape and stands for itself), so the
// stand-in is dropped and the real character written in its place.
//
// With the typed reader on, the word it keeps back is decided first, as at a
// word boundary (context_break), and the room a step needs is the typed
// reader's.
struct engine_reader {
    int context;
    unsigned char stand_in;

    std::size_t read(const unsigned char *in, std::size_t n, unsigned char *out) const {
        return viqr_feed_chunk(context, in, n, out);
    }
    std::size_t interrupt(unsigned char *out) const {
        const std::size_t settled = context_break(context, out);
        int count = 0;
        viqr_feed(context, stand_in, out + settled, count);
        return settled + (count > 0 ? static_cast<std::size_t>(count - 1) : 0);
    }
    std::size_t flush(unsigned char *out) const {
        int count = 0;
        viqr_flush(context, out, count);
        return static_cast<std::size_t>(count);
    }
};

// The stand-in for a context whose composition character is `composition_char`.
unsigned char choose_stand_in(unsigned char composition_char);

// Checks bytes that are copied unchanged, so that the first invalid one of
// each input is reported.
inline void scan_copied(viqr_utf8_scan &scan, const unsigned char *p, std::size_t n, unsigned long long offset) {
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (scan.have != 0) {
            if (continues(scan.bytes[0], scan.have, b)) {
                scan.bytes[scan.have++] = b;
                if (scan.have == scan.need) scan.have = 0;
                continue;
            }
            report_sequence(scan);
        }
        if (sequence_length[b] == 0)
            report_here(scan, offset + i);
        else if (sequence_length[b] > 1)
            begin_sequence(scan, b, offset + i);
    }
}

template <class Reader>
class to_utf8_call {
public:
    to_utf8_call(const implementation &kernels, Reader &reader, viqr_utf8_scan &scan, unsigned char *out)
        : kernels_(kernels), reader_(reader), scan_(scan), out_(out), o_(out) {}

    std::size_t convert(const unsigned char *in, std::size_t length) {
        std::size_t i = 0;
        while (i < length) {
            const auto j = static_cast<std::size_t>(end_of_plain_ascii(kernels_, in + i, in + length) - in);
            if (j > i) read(in + i, j - i);
            if (j == length) break;
            std::size_t k = j + 1;
            while (k < length && !plain_ascii[in[k]]) ++k;
            copy(in + j, k - j, scan_.offset + j);
            i = k;
        }
        scan_.offset += length;
        return written();
    }

    std::size_t finish() {
        if (scan_.have != 0) report_sequence(scan_);
        unsigned char viscii[VIQR_TYPED_OUTPUT_SIZE(0)];
        o_ = write_utf8(kernels_, viscii, reader_.flush(viscii), o_);
        return written();
    }

private:
    void read(const unsigned char *p, std::size_t n) {
        // ASCII cuts short a sequence under way.
        if (scan_.have != 0) report_sequence(scan_);
        unsigned char viscii[VIQR_TYPED_OUTPUT_SIZE(VIQR_TO_UTF8_PIECE_SIZE)];
        for (std::size_t at = 0; at < n; at += VIQR_TO_UTF8_PIECE_SIZE) {
            const std::size_t piece = n - at < VIQR_TO_UTF8_PIECE_SIZE ? n - at : VIQR_TO_UTF8_PIECE_SIZE;
            o_ = write_utf8(kernels_, viscii, reader_.read(p + at, piece, viscii), o_);
        }
    }

    void copy(const unsigned char *p, std::size_t n, unsigned long long offset) {
        unsigned char viscii[VIQR_TYPED_OUTPUT_SIZE(0) + 2];
        o_ = write_utf8(kernels_, viscii, reader_.interrupt(viscii), o_);
        std::memcpy(o_, p, n);
        o_ += n;
        scan_copied(scan_, p, n, offset);
    }

    std::size_t written() const { return static_cast<std::size_t>(o_ - out_); }

    const implementation &kernels_;
    Reader &reader_;
    viqr_utf8_scan &scan_;
    unsigned char *out_, *o_;
};

}  // namespace viqr::detail
