// What every codec of the converters is: a decoder from an encoding's bytes
// to Unicode code points, an encoder from code points to bytes, and the
// registry entry that names them.  A converter (converter.cpp) runs
//     bytes -> decoder -> letter composer -> encoder -> bytes
// a piece of at most PIECE input bytes at a time.  Adding an encoding is a
// decoder and/or encoder class and one line in the registry (codecs.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "viqr.h"

namespace viqr::detail {

struct byte_field;
using byte_fields = std::array<byte_field, 256>;
struct spelling_pages;
struct spelling_field;
inline constexpr std::size_t FLAT_SPELLINGS = 0x800 + (0x2200 - 0x1E00) + 1;
using flat_spellings = std::array<spelling_field, FLAT_SPELLINGS>;
struct viscii_byte_spellings;
struct implementation;

// Input bytes a decoder is given at a time.
inline constexpr std::size_t PIECE = 4096;

// Code points a decoder may write for one call: one or two per byte (a VNI
// byte that carries two marks), plus what it kept back from the call before.
inline constexpr std::size_t DECODE_ROOM = 2 * PIECE + VIQR_CONVERT_PENDING_MAX;

// Written by a decoder in place of a byte its encoding does not define (or
// invalid UTF-8): one past the last code point, so that no text can hold it.
// Encoders write it as U+FFFD, or "?" where they cannot hold U+FFFD; it is
// already counted, as undefined input, not as a loss of the target.
inline constexpr char32_t UNDEFINED_INPUT = 0x110000;

// Output bytes an encoder may write for one code point (a numeric character
// reference "&#1114111;") and for its finish.
inline constexpr std::size_t ENCODE_MAX = 10;
inline constexpr std::size_t ENCODE_FINISH_ROOM = 64;

// Where the current input stands, and the undefined bytes found in it.
// Decoders call note_undefined with the byte's offset from the start of the
// input (`offset` is the offset of the first byte of the current call).
struct input_tracker {
    unsigned long long offset = 0;
    unsigned long long undefined = 0;
    unsigned long long first_offset = 0;
    unsigned char first_byte = 0;

    void note_undefined(unsigned long long at, unsigned char byte) {
        if (undefined++ == 0) {
            first_offset = at;
            first_byte = byte;
        }
    }
};

// What an encoder tells the converter about a character it cannot write.
// `index` is the character's place in the array given to encode; `how` is
// VIQR_SUBSTITUTE_LOWERCASE or VIQR_SUBSTITUTE_QUESTION_MARK.
class loss_sink {
public:
    virtual void unwritable(std::size_t index, char32_t cp, int how) = 0;

protected:
    ~loss_sink() = default;
};

class decoder {
public:
    virtual ~decoder() = default;
    // Decodes `n` (at most PIECE) bytes into `out`, which has room for
    // DECODE_ROOM code points; returns how many it wrote.
    virtual std::size_t decode(const unsigned char *in, std::size_t n, char32_t *out, input_tracker &input) = 0;
    // The text has ended: writes what is kept back (room DECODE_ROOM) and
    // starts afresh.
    virtual std::size_t finish(char32_t *out, input_tracker &input) = 0;
    // Whether the code points may hold a base letter followed by combining
    // marks that the converter should compose.
    virtual bool decomposes() const { return false; }
    // A new input begins (the text goes on).
    virtual void begin_input() {}
    // For the converter's fast lanes (fast_lanes.h): the table of a
    // single-byte charset, or null; whether this decoder reads UTF-8 as it
    // is, and whether it keeps nothing back.
    virtual const byte_fields *fields() const { return nullptr; }
    virtual bool reads_plain_utf8() const { return false; }
    virtual bool idle() const { return true; }
};

class encoder {
public:
    virtual ~encoder() = default;
    // Encodes `n` code points (composed where the text allows); `out` has
    // room for ENCODE_MAX bytes each.  Returns the end of what it wrote.
    virtual unsigned char *encode(const char32_t *in, std::size_t n, unsigned char *out, loss_sink &losses) = 0;
    // The text has ended: writes what is kept back (room ENCODE_FINISH_ROOM)
    // and starts afresh.
    virtual unsigned char *finish(unsigned char *out) { return out; }
    // Whether UNDEFINED_INPUT is written as U+FFFD (otherwise as "?").
    virtual bool holds_replacement() const { return false; }
    // For the converter's fast lanes: whether this encoder writes UTF-8 as
    // it is, and the spellings of a single-byte charset (by code point, and
    // of each VISCII byte's character), or null.
    virtual bool writes_plain_utf8() const { return false; }
    virtual const spelling_pages *spellings() const { return nullptr; }
    virtual const flat_spellings *flat() const { return nullptr; }
    virtual const viscii_byte_spellings *viscii_spelled() const { return nullptr; }
};

// One line of the registry.  A null maker: the encoding cannot be read (or
// written).  A maker may return null when a resource is exhausted (the VIQR
// decoder contexts); it throws std::bad_alloc when memory is.
struct encoding_entry {
    const char *name;         // as toneconv -l prints it
    const char *aliases;      // lower case, separated by single spaces
    const char *description;  // one line
    std::unique_ptr<decoder> (*make_decoder)(int flags);
    std::unique_ptr<encoder> (*make_encoder)(int flags);
};

// Makes `converter` take its fast lanes with `kernels` (the tests compare
// implementations through whole conversions).
void use_implementation(viqr_converter *converter, const implementation &kernels);

// Makes `converter` leave its fast lanes: everything goes through decoder,
// letter joiner and encoder (the tests compare the two).
void take_general_path(viqr_converter *converter);

// The registry, in the order toneconv -l lists it.
const encoding_entry *encoding_table();
int encoding_table_size();

}  // namespace viqr::detail
