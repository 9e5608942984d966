#include "viqr_to_utf8.h"

#include "composer.h"
#include "mode_letters.h"

namespace viqr::detail {

unsigned char choose_stand_in(unsigned char composition_char) {
    for (unsigned char b = ' '; b < 0x7F; ++b) {
        if (class_table[b] == CLASS_NONE && b != composition_char && mode_of_letter(b) == NO_MODE) return b;
    }
    return 0;  // not reached: only 34 bytes have a class
}

namespace {

// The reference: each byte's field of utf8_of_viscii.  Each field is copied
// whole, so up to 3 bytes past the end are written over.
unsigned char *write_utf8_bytes(const unsigned char *viscii, const unsigned char *end, unsigned char *o) {
    for (; viscii != end; ++viscii) {
        const utf8_field &f = utf8_of_viscii[*viscii];
        std::memcpy(o, f.bytes, sizeof f.bytes);
        o += f.length;
    }
    return o;
}

}  // namespace

// The kernel takes what it can, blocks at a time; where it stops short of
// the end, this writes a block and asks it again.
unsigned char *write_utf8(const implementation &kernels, const unsigned char *viscii, std::size_t n,
                          unsigned char *o) {
    const unsigned char *end = viscii + n;
    if (kernels.letters_to_utf8 != nullptr) {
        for (;;) {
            const progress taken = kernels.letters_to_utf8(viscii, end, o);
            viscii = taken.in;
            o = taken.out;
            if (end - viscii < 2 * kernels.block) break;
            o = write_utf8_bytes(viscii, viscii + kernels.block, o);
            viscii += kernels.block;
        }
    }
    return write_utf8_bytes(viscii, end, o);
}

}  // namespace viqr::detail

void viqr_to_utf8_start(viqr_to_utf8_state *state, int context) {
    if (state == nullptr) return;
    *state = viqr_to_utf8_state{};
    state->context = context;
    unsigned char composition_char = DEFAULT_COMPOSITION_CHAR;
    viqr_query(context, &composition_char, VIQR_PARAM_COMPOSE_CHAR);
    state->stand_in = viqr::detail::choose_stand_in(composition_char);
}

namespace {

// A context that is not open would drop the ASCII and keep the rest, so the
// conversion does nothing, as the decoder functions do for such a handle.
bool can_convert(const viqr_to_utf8_state *state, const unsigned char *out) {
    if (state == nullptr || out == nullptr) return false;
    int context_state = -1;
    viqr_query(state->context, &context_state, VIQR_PARAM_STATE);
    return context_state >= 0;
}

}  // namespace

namespace viqr::detail {

std::size_t to_utf8_with(const implementation &kernels, viqr_to_utf8_state &state, const unsigned char *in,
                         std::size_t length, unsigned char *out) {
    if (in == nullptr || !can_convert(&state, out)) return 0;
    engine_reader reader{state.context, state.stand_in};
    return to_utf8_call(kernels, reader, state.scan, out).convert(in, length);
}

std::size_t to_utf8_finish_with(const implementation &kernels, viqr_to_utf8_state &state, unsigned char *out) {
    if (!can_convert(&state, out)) return 0;
    engine_reader reader{state.context, state.stand_in};
    return to_utf8_call(kernels, reader, state.scan, out).finish();
}

}  // namespace viqr::detail

std::size_t viqr_to_utf8(viqr_to_utf8_state *state, const unsigned char *in, std::size_t length,
                         unsigned char *out) {
    if (state == nullptr) return 0;
    return viqr::detail::to_utf8_with(viqr::detail::active_implementation(), *state, in, length, out);
}

std::size_t viqr_to_utf8_finish(viqr_to_utf8_state *state, unsigned char *out) {
    if (state == nullptr) return 0;
    return viqr::detail::to_utf8_finish_with(viqr::detail::active_implementation(), *state, out);
}
