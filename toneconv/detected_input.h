// toneconv's detection of each input's encoding: -f auto, the default, and
// --detect.
#pragma once

#include <cstddef>
#include <vector>

#include "viqr.h"

namespace viqr::cli {

// What detection is first given of an input: enough for any text that is
// clear at all.  Plain ASCII, or too little to tell yet, is read on, four
// times as much each time, up to DETECT_READ_MAX, in case Vietnamese text
// follows; the input is never held whole beyond that.
inline constexpr std::size_t DETECT_READ_FIRST = 256 * 1024;
inline constexpr std::size_t DETECT_READ_MAX = 16 * 1024 * 1024;

// Readings --detect names besides the verdict when they come close: within
// this many points of its confidence.
inline constexpr int CLOSE_CONFIDENCE = 10;
inline constexpr int DETECT_RANKS = 16;
// Readings named as the closest for an input no Vietnamese reading fits.
inline constexpr int CLOSEST_GUESSES = 2;

struct detected_input {
    std::vector<unsigned char> start;  // what was read of the input
    bool at_end = false;               // the input ended within it
    viqr_detection ranked[DETECT_RANKS] = {};
    int count = 0;

    const viqr_detection &verdict() const { return ranked[0]; }
    // An empty input has no encoding to tell and nothing to lose: it
    // converts to nothing, as it does under every encoding.
    bool empty() const { return at_end && start.empty(); }
    bool unknown() const;
};

// Reads the start of the input open on `fd` and detects its encoding; false
// after a read failure, which it reports.
bool detect_input(const char *program, int fd, const char *name, detected_input &input);

// "NAME: ENCODING (NN%)" on standard output, with the runner-up when it is
// close, or with why it was not taken when it has the higher confidence.
void print_detection(const char *name, const detected_input &input);

// Why an input is not converted, and how to name its encoding.
void report_unknown(const char *program, const char *name, const detected_input &input);

// The encoding to read an input in: the verdict, utf-8 for plain ASCII and
// for an empty input.
int encoding_to_read(const detected_input &input);

}  // namespace viqr::cli
