#include "detected_input.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fileio.h"

namespace viqr::cli {

namespace {

const char *verdict_name(int encoding) {
    if (encoding == VIQR_DETECT_ASCII) return "ascii";
    if (encoding == VIQR_DETECT_UNKNOWN || encoding == VIQR_DETECT_TOO_LITTLE) return "unknown";
    return viqr_encoding_name(encoding);
}

// Reads until `input.start` holds `want` bytes or the input ends.
bool read_up_to(const char *program, int fd, const char *name, detected_input &input, std::size_t want) {
    while (!input.at_end && input.start.size() < want) {
        const std::size_t have = input.start.size();
        input.start.resize(want);
        const ssize_t n = read_retrying(fd, input.start.data() + have, want - have);
        input.start.resize(have + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n < 0) {
            report_read_failure(program, name, errno);
            return false;
        }
        input.at_end = n == 0;
    }
    return true;
}

// Whether more of the text could change the verdict: plain ASCII so far, or
// too little to tell by.  Text that no Vietnamese reading fits over so much
// stays so.
bool worth_reading_on(const detected_input &input) {
    const int e = input.verdict().encoding;
    return e == VIQR_DETECT_ASCII || e == VIQR_DETECT_TOO_LITTLE;
}

// The readings after the verdict with the highest confidence, at most
// `most`, highest first (of two alike, the one ranked first): the figures a
// user reads go down the line.  Readings of no confidence are left out.
std::vector<viqr_detection> closest_guesses(const detected_input &input, int most) {
    std::vector<viqr_detection> guesses;
    for (int i = 1; i < input.count; ++i)
        if (input.ranked[i].confidence > 0) guesses.push_back(input.ranked[i]);
    std::stable_sort(guesses.begin(), guesses.end(),
                     [](const viqr_detection &a, const viqr_detection &b) { return a.confidence > b.confidence; });
    if (guesses.size() > static_cast<std::size_t>(most)) guesses.resize(static_cast<std::size_t>(most));
    return guesses;
}

// "; the closest: a (NN%) or b (NN%)", or nothing when no reading has any
// confidence.
void print_guesses(std::FILE *to, const detected_input &input) {
    const std::vector<viqr_detection> guesses = closest_guesses(input, CLOSEST_GUESSES);
    for (std::size_t i = 0; i < guesses.size(); ++i)
        std::fprintf(to, "%s%s (%d%%)", i == 0 ? "; the closest: " : " or ", verdict_name(guesses[i].encoding),
                     guesses[i].confidence);
}

// The encoding the message about an input that cannot be told gives as its
// example: the closest reading, or, with none, utf-8 for plain ASCII (which
// every reading gives alike) and tcvn3, the commonest legacy encoding, for
// other bytes.
const char *example_encoding(const detected_input &input) {
    const std::vector<viqr_detection> guesses = closest_guesses(input, 1);
    if (!guesses.empty() && guesses[0].encoding >= 0) return viqr_encoding_name(guesses[0].encoding);
    const bool ascii = std::all_of(input.start.begin(), input.start.end(), [](unsigned char b) { return b < 0x80; });
    return ascii ? "utf-8" : "tcvn3";
}

// Why a reading with a higher confidence than the verdict's lost to it.  The
// confidences of the verdict kinds measure different things: plain ASCII
// counts its plain words, a Vietnamese reading its syllables, valid UTF-8 its
// characters.
const char *why_not_taken(const viqr_detection &verdict) {
    if (verdict.encoding == VIQR_DETECT_ASCII) return "too little of it reads as Vietnamese";
    const char *name = viqr_encoding_name(verdict.encoding);
    if (std::strcmp(name, "utf-8") == 0 || std::strcmp(name, "utf-8-nfd") == 0)
        return "valid UTF-8 is read as UTF-8";
    return "it weighs less over the whole text";
}

}  // namespace

bool detected_input::unknown() const {
    return verdict().encoding == VIQR_DETECT_UNKNOWN || verdict().encoding == VIQR_DETECT_TOO_LITTLE;
}

bool detect_input(const char *program, int fd, const char *name, detected_input &input) {
    for (std::size_t want = DETECT_READ_FIRST;; want *= 4) {
        if (!read_up_to(program, fd, name, input, want)) return false;
        input.count = viqr_detect(input.start.data(), input.start.size(), input.ranked, DETECT_RANKS);
        if (input.at_end || want >= DETECT_READ_MAX || !worth_reading_on(input)) return true;
    }
}

void print_detection(const char *name, const detected_input &input) {
    const viqr_detection &v = input.verdict();
    std::printf("%s: %s", name, verdict_name(v.encoding));
    if (v.encoding == VIQR_DETECT_TOO_LITTLE) {
        std::printf(" (too little text to tell)\n");
        return;
    }
    if (v.encoding == VIQR_DETECT_UNKNOWN) {
        std::printf(" (no Vietnamese reading fits");
        print_guesses(stdout, input);
        std::printf(")\n");
        return;
    }
    std::printf(" (%d%%)", v.confidence);
    const viqr_detection &next = input.ranked[1];
    if (input.count > 1 && next.confidence > v.confidence)
        std::printf("; %s (%d%%) not taken: %s", verdict_name(next.encoding), next.confidence, why_not_taken(v));
    else if (input.count > 1 && next.confidence > 0 && next.confidence >= v.confidence - CLOSE_CONFIDENCE)
        std::printf(", or %s (%d%%)", verdict_name(next.encoding), next.confidence);
    std::printf("\n");
}

void report_unknown(const char *program, const char *name, const detected_input &input) {
    std::fprintf(stderr, "%s: \"%s\": cannot tell the encoding (", program, name);
    if (input.verdict().encoding == VIQR_DETECT_TOO_LITTLE) {
        std::fprintf(stderr, "too little text");
    } else {
        std::fprintf(stderr, "no Vietnamese reading fits");
        print_guesses(stderr, input);
    }
    std::fprintf(stderr, "); name it with -f, for example -f %s (%s -l lists the encodings)\n", example_encoding(input),
                 program);
}

int encoding_to_read(const detected_input &input) {
    const int e = input.verdict().encoding;
    return e == VIQR_DETECT_ASCII || input.empty() ? viqr_encoding_lookup("utf-8") : e;
}

}  // namespace viqr::cli
