// UTF-8 as both conversions read it: which bytes start a sequence and how
// long it is, which bytes may continue it (no overlong forms, no surrogates,
// nothing beyond U+10FFFF), and the bookkeeping of viqr_utf8_scan that
// reports the first invalid byte of each input.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "implementation.h"
#include "unicode_letters.h"
#include "viqr.h"

namespace viqr::detail {

// The length of the sequence a byte starts: 1 for ASCII, 2 to 4 for a lead
// byte, 0 for a byte that cannot start one (a continuation byte, C0, C1,
// F5..FF).
constexpr std::array<unsigned char, 256> make_sequence_lengths() {
    std::array<unsigned char, 256> table{};
    for (int b = 0; b < 0x80; ++b) table[b] = 1;
    for (int b = 0xC2; b <= 0xDF; ++b) table[b] = 2;
    for (int b = 0xE0; b <= 0xEF; ++b) table[b] = 3;
    for (int b = 0xF0; b <= 0xF4; ++b) table[b] = 4;
    return table;
}
inline constexpr std::array<unsigned char, 256> sequence_length = make_sequence_lengths();

// Whether `b` may stand at `position` (1 to 3) of a sequence led by `lead`.
// The second byte's range excludes overlong forms (after E0 and F0),
// surrogates (after ED) and code points past U+10FFFF (after F4).
constexpr bool continues(unsigned char lead, int position, unsigned char b) {
    if (position == 1) {
        if (lead == 0xE0) return b >= 0xA0 && b <= 0xBF;
        if (lead == 0xED) return b >= 0x80 && b <= 0x9F;
        if (lead == 0xF0) return b >= 0x90 && b <= 0xBF;
        if (lead == 0xF4) return b >= 0x80 && b <= 0x8F;
    }
    return b >= 0x80 && b <= 0xBF;
}

constexpr char32_t decode_sequence(const unsigned char *s, int length) {
    if (length == 2) return (char32_t(s[0] & 0x1F) << 6) | (s[1] & 0x3F);
    if (length == 3) return (char32_t(s[0] & 0x0F) << 12) | (char32_t(s[1] & 0x3F) << 6) | (s[2] & 0x3F);
    return (char32_t(s[0] & 0x07) << 18) | (char32_t(s[1] & 0x3F) << 12) | (char32_t(s[2] & 0x3F) << 6) | (s[3] & 0x3F);
}

// ASCII that goes to the encoder or the decoder context: every byte below
// 0x80 but the six control codes that are letters in VISCII.
constexpr std::array<bool, 256> make_plain_ascii() {
    std::array<bool, 256> table{};
    for (int b = 0; b < 0x80; ++b) table[b] = !is_c0_letter(static_cast<unsigned char>(b));
    return table;
}
inline constexpr std::array<bool, 256> plain_ascii = make_plain_ascii();

// Where the plain ASCII from `p` ends: the first byte before `end` that is
// not plain ASCII, or `end`.  The kernel passes over whole blocks of plain
// ASCII at once, since ASCII is most of any text.
inline const unsigned char *end_of_plain_ascii(const implementation &kernels, const unsigned char *p,
                                               const unsigned char *end) {
    if (kernels.skip_plain_ascii != nullptr) p = kernels.skip_plain_ascii(p, end);
    while (p != end && plain_ascii[*p]) ++p;
    return p;
}

// For the kernels that find the bytes below 0x20 or beyond ASCII of a block
// (`candidates`, a bit per byte from `block`) with one comparison: the first
// of them that is not plain ASCII, or null.  Most are line ends, which are.
inline const unsigned char *first_not_plain(const unsigned char *block, std::uint64_t candidates) {
    for (; candidates != 0; candidates &= candidates - 1) {
        const unsigned char *const p = block + std::countr_zero(candidates);
        if (!plain_ascii[*p]) return p;
    }
    return nullptr;
}

// The second byte's rule against the code points themselves: a second byte
// is allowed exactly when some sequence it begins decodes to a code point of
// that length (not overlong), is no surrogate and is not past U+10FFFF.
constexpr bool second_bytes_follow_the_code_points() {
    for (int lead = 0xC2; lead <= 0xF4; ++lead) {
        const int length = sequence_length[lead];
        const char32_t shortest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        for (int b = 0; b < 256; ++b) {
            const auto l = static_cast<unsigned char>(lead), c = static_cast<unsigned char>(b);
            const unsigned char low[] = {l, c, 0x80, 0x80}, high[] = {l, c, 0xBF, 0xBF};
            const char32_t first = decode_sequence(low, length), last = decode_sequence(high, length);
            const bool allowed = b >= 0x80 && b <= 0xBF && last >= shortest && first <= 0x10FFFF &&
                                 !(first >= 0xD800 && last <= 0xDFFF);
            if (continues(l, 1, c) != allowed) return false;
        }
    }
    return true;
}
static_assert(second_bytes_follow_the_code_points());
static_assert(sequence_length[0xC1] == 0 && sequence_length[0xC2] == 2 && sequence_length[0xF5] == 0);
static_assert(!continues(0xE0, 1, 0x9F) && !continues(0xED, 1, 0xA0) && continues(0xED, 2, 0xA0));
static_assert(!continues(0xF0, 1, 0x8F) && continues(0xF0, 1, 0x90) && continues(0xF4, 1, 0x8F) &&
              !continues(0xF4, 1, 0x90));
inline constexpr unsigned char decode_check[] = {0xE1, 0xBB, 0x87};
static_assert(decode_sequence(decode_check, 3) == 0x1EC7, "U+1EC7 is E1 BB 87");

// Notes an invalid byte at `offset` of the current input, unless that input
// has had its report.
inline void note_report(viqr_utf8_scan &scan, const char *input, unsigned long long offset) {
    // Two places suffice when the caller takes the reports after every call;
    // a caller that never takes them loses the later ones.
    if (scan.report_count < 2) scan.reports[scan.report_count++] = {input, offset};
}

inline void report_here(viqr_utf8_scan &scan, unsigned long long offset) {
    if (scan.reported) return;
    scan.reported = true;
    note_report(scan, scan.input, offset);
}

inline void begin_sequence(viqr_utf8_scan &scan, unsigned char lead, unsigned long long offset) {
    scan.bytes[0] = lead;
    scan.have = 1;
    scan.need = sequence_length[lead];
    scan.sequence_input = scan.input;
    scan.sequence_offset = offset;
    scan.sequence_serial = scan.serial;
}

// The sequence under way turned out invalid: its first byte is reported,
// against the input where it began.  The caller copies its bytes.
inline void report_sequence(viqr_utf8_scan &scan) {
    scan.have = 0;
    if (scan.sequence_serial == scan.serial) {
        report_here(scan, scan.sequence_offset);
    } else if (!scan.sequence_input_reported) {
        scan.sequence_input_reported = true;
        note_report(scan, scan.sequence_input, scan.sequence_offset);
    }
}

}  // namespace viqr::detail
