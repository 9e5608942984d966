// The Unicode codecs: UTF-8 (read in any composition, written NFC), UTF-8
// written decomposed (NFD), and ASCII with numeric character references.
#pragma once

#include <array>

#include "codec.h"
#include "letter_joiner.h"
#include "utf8.h"

namespace viqr::detail {

// UTF-8 to code points.  Every byte that is not part of a valid sequence
// (overlong forms, surrogates and code points past U+10FFFF are not) is
// undefined input of its own; a sequence cut by the end of a call goes on in
// the next.
class utf8_decoder final : public decoder {
public:
    std::size_t decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) override;
    std::size_t finish(char32_t *out, input_tracker &input) override;
    bool decomposes() const override { return true; }
    bool reads_plain_utf8() const override { return true; }
    bool idle() const override { return have_ == 0; }

private:
    char32_t *drop_sequence(char32_t *o, input_tracker &input);

    unsigned char sequence_[4] = {};
    int have_ = 0, need_ = 0;
    unsigned long long sequence_offset_ = 0;
};

// ASCII (or UTF-8) with numeric character references: "&#7879;" and
// "&#x1EC7;" are read as U+1EC7; a reference to no character (0, a
// surrogate, past U+10FFFF), or one cut short, is kept as written.
class ncr_decoder final : public decoder {
public:
    std::size_t decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) override;
    std::size_t finish(char32_t *out, input_tracker &input) override;
    bool decomposes() const override { return true; }

private:
    char32_t *read_references(const char32_t *cps, std::size_t n, char32_t *o);
    char32_t *give_up(char32_t *o);

    utf8_decoder utf8_;
    char32_t text_[DECODE_ROOM];
    // The reference under way: what has been read of it, and its value.
    static constexpr int MAX_DIGITS = 7;
    char32_t pending_[3 + MAX_DIGITS] = {};
    int pending_count_ = 0;
    int digits_ = 0;
    bool hex_ = false;
    char32_t value_ = 0;
};

// Code points to UTF-8.
unsigned char *write_utf8_code_point(char32_t cp, unsigned char *o);

class utf8_encoder final : public encoder {
public:
    unsigned char *encode(const char32_t *in, std::size_t n, unsigned char *out, loss_sink &) override;
    bool holds_replacement() const override { return true; }
    bool writes_plain_utf8() const override { return true; }
};

// Every Vietnamese letter as its base letter and its combining marks in
// canonical order (horn, then dot below, then the others with the shape mark
// before the tone); the rest as UTF-8.
class nfd_encoder final : public encoder {
public:
    unsigned char *encode(const char32_t *in, std::size_t n, unsigned char *out, loss_sink &) override;
    bool holds_replacement() const override { return true; }
};

// ASCII as itself but "&" as "&#38;" (so that what was written reads back
// the same), every other character as a decimal reference.
class ncr_encoder final : public encoder {
public:
    unsigned char *encode(const char32_t *in, std::size_t n, unsigned char *out, loss_sink &) override;
    bool holds_replacement() const override { return true; }
};

namespace nfd_tables {

inline constexpr char32_t shape_mark_code_point[SHAPE_MARK_COUNT] = {0x0306, 0x0302, 0x031B};

// A letter's decomposition as UTF-8: at most a base byte and two marks of
// two bytes each.
struct nfd_field {
    unsigned char bytes[5];
    unsigned char length;
};

constexpr int shape_of(const letter_row &row) {
    for (int s = 0; s < SHAPE_MARK_COUNT; ++s)
        if (row.spelling[1] == shape_mark_char[s]) return s;
    return -1;
}

constexpr nfd_field decompose(int cls, int tone) {
    const letter_row &row = letter_rows[cls];
    nfd_field f{};
    auto put = [&](char32_t cp) {
        const utf8_field u = utf8_of(cp);
        for (int i = 0; i < u.length; ++i) f.bytes[f.length++] = u.bytes[i];
    };
    if (row_is_d(row)) {
        put(unicode_rows[cls][TONE_NONE]);  // Đ has no decomposition
        return f;
    }
    put(static_cast<char32_t>(row.spelling[0]));
    char32_t marks[2] = {};
    unsigned char classes[2] = {};
    int count = 0;
    const int shape = shape_of(row);
    if (shape >= 0) {
        marks[count] = shape_mark_code_point[shape];
        classes[count++] = combining_classes[shape];
    }
    if (tone != TONE_NONE) {
        marks[count] = combining_marks[FIRST_TONE_MARK + tone - 1];
        classes[count++] = combining_classes[FIRST_TONE_MARK + tone - 1];
    }
    // Canonical order: a lower combining class first; equal classes keep
    // their order.
    if (count == 2 && classes[1] < classes[0]) {
        const char32_t m = marks[0];
        marks[0] = marks[1];
        marks[1] = m;
    }
    for (int i = 0; i < count; ++i) put(marks[i]);
    return f;
}

constexpr std::array<nfd_field, 256> make_nfd_of_viscii() {
    std::array<nfd_field, 256> table{};
    for (int b = 0; b < 0x80; ++b) table[b] = {{static_cast<unsigned char>(b)}, 1};
    for_each_letter([&](int cls, int tone, unsigned char code) { table[code] = decompose(cls, tone); });
    return table;
}

}  // namespace nfd_tables

inline constexpr std::array<nfd_tables::nfd_field, 256> nfd_of_viscii = nfd_tables::make_nfd_of_viscii();

// ậ is a, dot below, circumflex (class 220 before 230); ợ is o, horn, dot
// below; ấ is a, circumflex, acute.
static_assert(nfd_of_viscii[0xA7].length == 5 && nfd_of_viscii[0xA7].bytes[2] == 0xA3 &&
              nfd_of_viscii[0xA7].bytes[4] == 0x82);
static_assert(nfd_of_viscii[0xFE].bytes[2] == 0x9B && nfd_of_viscii[0xFE].bytes[4] == 0xA3);
static_assert(nfd_of_viscii[0xA4].bytes[2] == 0x82 && nfd_of_viscii[0xA4].bytes[4] == 0x81);
static_assert(nfd_of_viscii[0xF0].length == 2, "đ stays one character");

}  // namespace viqr::detail
