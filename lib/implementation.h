// The fast paths of the conversions, one set per kind of processor.
//
// Every stage that has a fast path keeps its plain, byte-by-byte code beside
// it: that is the reference, which says what the stage does.  An
// implementation is a set of kernels, one per stage, each of which converts
// as much of the input as it can take quickly (whole blocks of 16, 32 or 64
// bytes) and hands back where it stopped; the reference goes on from there.
// The scalar implementation has no kernels of its own: with it the
// reference does all the work, on any processor.
//
// The implementation used is picked once per process, the best one the
// processor has, unless the environment variable VIQR_IMPLEMENTATION names
// one.  The tests run every implementation the processor has side by side
// with the reference.
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "viqr.h"

namespace viqr::detail {

// What a kernel hands back: it converted the input up to `in` into the
// output up to `out`.
struct progress {
    const unsigned char *in;
    unsigned char *out;
};

struct run_stop;

struct implementation {
    const char *name;
    // Whether the processor running this has what the kernels need.
    bool (*supported)();
    // The bytes a kernel takes at a time: the reference takes at least this
    // many before a kernel that stopped short is asked again.
    std::ptrdiff_t block;

    // The kernels, one per stage; null for a stage that this implementation
    // leaves to the reference.

    // VISCII to VIQR in Vietnamese mode with a composition character other
    // than 0.  The byte before `in` is readable and is the byte before it in
    // the text; `out` has the encoder's room for the input up to `end`.
    progress (*encode_vietnamese)(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                  unsigned char composition_char);
    // The composer's run (compose_held_run) under the default classes.  The
    // two bytes before `in` are this run's and composed; `out[-1]` is the
    // byte written last, which a merging byte rewrites, and the run has not
    // stopped.  It stops at a stop byte it does not take, near `end`, or
    // once `out` has reached `out_limit`; it may write up to 128 bytes past
    // the output it hands back.
    progress (*compose_run)(const unsigned char *in, const unsigned char *end, unsigned char *out,
                            const unsigned char *out_limit, const run_stop &stop);
    // UTF-8 to VISCII: characters that are ASCII or VISCII letters, whole
    // and well-formed, while there is room for a block before `out_end`.
    // Each VISCII byte is written as it comes (the caller holds letters).
    progress (*letters_from_utf8)(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                  const unsigned char *out_end);
    // VISCII to UTF-8.  The output may be written up to 64 bytes past what
    // is handed back.
    progress (*letters_to_utf8)(const unsigned char *in, const unsigned char *end, unsigned char *out);
    // VISCII 1.0 and 1.1 exchanged (see tonefix), from `in` to `out`, which
    // may be the same place.
    progress (*exchange_versions)(const unsigned char *in, const unsigned char *end, unsigned char *out);
    // The first byte from `p` that is not plain ASCII (a byte beyond ASCII or
    // a control code that is a letter in VISCII), or a place fewer than a
    // block before `end`.
    const unsigned char *(*skip_plain_ascii)(const unsigned char *p, const unsigned char *end);
    // UTF-8 straight to VIQR in Vietnamese mode (tonedown -u), for an ASCII
    // composition character: whole, well-formed characters but the
    // composition character, the control codes that are letters and the
    // combining marks, where it stops before the character the mark follows
    // (which the mark could still join).  `previous` is the VISCII byte of the
    // character before `in` (the encoder's history), and the byte before `in`
    // is readable; the output may be
    // written up to 64 bytes past what is handed back, and the kernel stops
    // while there is room before `out_end`.  Its reference is the two stages
    // it joins: letters_from_utf8 then the encoder.
    progress (*utf8_to_viqr)(const unsigned char *in, const unsigned char *end, unsigned char *out,
                             const unsigned char *out_end, unsigned char composition_char, unsigned char previous);
};

// Every implementation this build has, from the plainest to the fastest.
std::span<const implementation *const> implementations();

// The implementation of that name in this build, or null.
const implementation *implementation_named(const char *name);

// The implementation the conversions use: picked at the first call.
const implementation &active_implementation();

// The plain one, which every processor runs.
const implementation &scalar_implementation();

// Why VIQR_IMPLEMENTATION cannot be followed (it names no implementation of
// this build, or one this processor lacks), written into `message`; false
// when it is unset or can be followed.  The library then uses the best
// implementation there is; the programs refuse to run.
bool implementation_request_fails(char *message, std::size_t size);

// The stages that have kernels, converting with the given implementation
// (the public functions use the active one).
std::size_t viscii_to_viqr_with(const implementation &kernels, const unsigned char *input, std::size_t length,
                                unsigned char *output, unsigned char composition_char, int mode,
                                viqr_encoder_history *history);
std::size_t from_utf8_with(const implementation &kernels, viqr_from_utf8_state &state, const unsigned char *in,
                           std::size_t length, unsigned char *out);
std::size_t from_utf8_finish_with(const implementation &kernels, viqr_from_utf8_state &state, unsigned char *out);
std::size_t to_utf8_with(const implementation &kernels, viqr_to_utf8_state &state, const unsigned char *in,
                         std::size_t length, unsigned char *out);
std::size_t to_utf8_finish_with(const implementation &kernels, viqr_to_utf8_state &state, unsigned char *out);
// Writes VISCII bytes as UTF-8 and returns the end.  Each byte's field is
// copied whole, so up to 3 bytes past the end are written over.
unsigned char *write_utf8(const implementation &kernels, const unsigned char *viscii, std::size_t n,
                          unsigned char *o);
// VISCII 1.0 to 1.1 and back, in place.
void exchange_versions(const implementation &kernels, unsigned char *bytes, std::size_t n);

// Makes the decoder context `handle` compose with `kernels` (the tests
// compare implementations through the whole decoder).
void use_implementation(int handle, const implementation &kernels);

}  // namespace viqr::detail
