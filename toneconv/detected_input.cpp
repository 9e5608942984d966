#include "detected_input.h"

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

// The best readings after the verdict that have any confidence, as "a (NN%)
// or b (NN%)"; empty when there is none.
void print_guesses(std::FILE *to, const detected_input &input, int most) {
    int printed = 0;
    for (int i = 1; i < input.count && printed < most; ++i) {
        if (input.ranked[i].confidence == 0) continue;
        std::fprintf(to, "%s%s (%d%%)", printed == 0 ? "" : " or ", verdict_name(input.ranked[i].encoding),
                     input.ranked[i].confidence);
        ++printed;
    }
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

bool has_guesses(const detected_input &input) {
    for (int i = 1; i < input.count; ++i)
        if (input.ranked[i].confidence > 0) return true;
    return false;
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
        if (has_guesses(input)) {
            std::printf("; the closest: ");
            print_guesses(stdout, input, 2);
        }
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
        if (has_guesses(input)) {
            std::fprintf(stderr, "; the closest: ");
            print_guesses(stderr, input, 2);
        }
    }
    std::fprintf(stderr, "); name it with -f, for example -f tcvn3 (%s -l lists the encodings)\n", program);
}

int encoding_to_read(const detected_input &input) {
    const int e = input.verdict().encoding;
    return e == VIQR_DETECT_ASCII ? viqr_encoding_lookup("utf-8") : e;
}

}  // namespace viqr::cli
