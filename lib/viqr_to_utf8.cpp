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

#if defined(VIQR_WIDE_BLOCKS)

namespace {
namespace wide_utf8 {

using namespace ::viqr::detail::wide;

// Byte k of the UTF-8 of each letter from 0x80 on and of each control code
// that is a letter; 0 past its end and for every other byte.
struct alignas(64) tables {
    unsigned char high[3][128];
    unsigned char low[3][64];
};

constexpr tables make_tables() {
    tables t{};
    for (int b = 0; b < 256; ++b) {
        const utf8_field &f = utf8_of_viscii[b];
        if (b >= 0x20 && b < 0x80) continue;
        if (b < 0x20 && !is_c0_letter(static_cast<unsigned char>(b))) continue;
        for (int k = 0; k < 3; ++k) {
            const unsigned char byte = k < f.length ? f.bytes[k] : 0;
            if (b >= 0x80) t.high[k][b - 0x80] = byte;
            else t.low[k][b] = byte;
        }
    }
    return t;
}

constexpr tables table = make_tables();

constexpr bool letters_take_two_or_three_bytes() {
    for (int b = 0; b < 256; ++b) {
        const bool letter = b >= 0x80 || is_c0_letter(static_cast<unsigned char>(b));
        if (letter != (utf8_of_viscii[b].length > 1) || utf8_of_viscii[b].length > 3) return false;
    }
    return true;
}
static_assert(letters_take_two_or_three_bytes());
static_assert(table.high[2][0xAE - 0x80] == 0x87 && table.low[1][0x14] == 0xBB && table.high[2][0xE2 - 0x80] == 0,
              "ệ is E1 BB 87, Ỷ is E1 BB B6, â is C3 A2");

// Byte k of the UTF-8 of each letter of `bytes`, 0 past its end and for bytes
// that are no letter.
VIQR_WIDE_TARGET inline __m512i utf8_byte(int k, __m512i bytes, __mmask64 high, __mmask64 controls) {
    const __m512i low = _mm512_maskz_permutexvar_epi8(controls, bytes, vector(table.low[k]));
    return _mm512_or_si512(low, look_up(high, table.high[k], bytes));
}

}  // namespace wide_utf8
}  // namespace

// A block with a 0 byte, which could not be told from an empty slot, is
// written byte by byte.
VIQR_WIDE_TARGET unsigned char *write_utf8_blocks(const unsigned char *&viscii, const unsigned char *end,
                                                  unsigned char *o) {
    using namespace wide_utf8;
    for (; end - viscii >= 2 * WIDE_SIZE; viscii += WIDE_SIZE) {
        const __m512i bytes = _mm512_loadu_si512(viscii);
        if (_mm512_testn_epi8_mask(bytes, bytes) != 0) {
            o = write_utf8(viscii, WIDE_SIZE, o);  // fewer than 128 bytes: byte by byte
            continue;
        }
        const __mmask64 high = _mm512_movepi8_mask(bytes);
        const __mmask64 controls = _mm512_cmplt_epu8_mask(bytes, _mm512_set1_epi8(0x20));
        const __m512i first_of_low = _mm512_maskz_permutexvar_epi8(controls, bytes, vector(table.low[0]));
        const __mmask64 letters = high | _mm512_test_epi8_mask(first_of_low, first_of_low);
        const __m512i first = _mm512_mask_blend_epi8(letters, bytes, utf8_byte(0, bytes, high, controls));
        o = put_in_order(o, first, utf8_byte(1, bytes, high, controls), utf8_byte(2, bytes, high, controls),
                         _mm512_setzero_si512());
    }
    return o;
}

#endif

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
