#include "viqr_to_utf8.h"

#include "composer.h"
#include "mode_letters.h"

namespace viqr::detail {

unsigned char choose_stand_in(unsigned char composition_char) {
    // The classes are those of the last composer_reset, which viqr_open made.
    for (unsigned char b = ' '; b < 0x7F; ++b) {
        if (class_table[b] == CLASS_NONE && b != composition_char && mode_of_letter(b) == NO_MODE) return b;
    }
    return 0;  // not reached: only 34 bytes have a class
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

std::size_t viqr_to_utf8(viqr_to_utf8_state *state, const unsigned char *in, std::size_t length,
                         unsigned char *out) {
    if (in == nullptr || !can_convert(state, out)) return 0;
    viqr::detail::engine_reader reader{state->context, state->stand_in};
    return viqr::detail::to_utf8_call(reader, state->scan, out).convert(in, length);
}

std::size_t viqr_to_utf8_finish(viqr_to_utf8_state *state, unsigned char *out) {
    if (!can_convert(state, out)) return 0;
    viqr::detail::engine_reader reader{state->context, state->stand_in};
    return viqr::detail::to_utf8_call(reader, state->scan, out).finish();
}
