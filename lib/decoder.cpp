// The VIQR decoder engine: up to three independent contexts, each following
// the VIQR modes, the composition character and, through its own composer,
// the letters spelled with marks after them.
#include <algorithm>
#include <array>
#include <cstring>

#include "buffer_sizes.h"
#include "composer.h"
#include "implementation.h"
#include "mode_letters.h"
#include "typed_reader.h"
#include "viqr.h"

namespace {

using namespace viqr::detail;

struct viqr_context {
    unsigned char in_use;
    int state;
    unsigned char composition_char;
    unsigned char overstrike_char;
    unsigned char hold;       // 0 off: letters are written at once and overstruck as marks arrive
    unsigned char held_byte;  // the letter kept back in STATE_HOLDING; 0 when nothing is held
    struct composer composer;
    int return_mode;  // the mode in which the current escape or held letter began
    unsigned char typed;  // VIQR_PARAM_TYPED: chunks pass the typed reader first
    viqr::detail::typed_reader reader;
};

static_assert(VIQR_TYPED_PENDING_MAX == viqr::detail::TYPED_PENDING_MAX);

viqr_context contexts[VIQR_MAX_CONTEXTS];
viqr::detail::typed_cache typed_caches[VIQR_MAX_CONTEXTS];  // apart, so that copying a context stays cheap

bool is_mode(int value) { return value >= MODE_VIETNAMESE && value <= MODE_LITERAL; }

viqr_context *open_context(int handle) {
    if (handle < 0 || handle >= VIQR_MAX_CONTEXTS || !contexts[handle].in_use) return nullptr;
    return &contexts[handle];
}

// Ends the letter under construction without writing it: nothing held, the
// composer idle.  A byte after an escape, a mode switch and a state set by the
// caller must not join a letter begun before them.
void drop_letter(viqr_context &c) {
    c.held_byte = 0;
    int pending, combined;
    compose_char(c.composer, 0, pending, combined);
}

// Each feed_ function handles one byte in one state, writes at `out` and
// returns how many bytes it wrote.

int feed_holding(viqr_context &c, unsigned char b, unsigned char *out) {
    int pending, combined;
    const unsigned char r = compose_char(c.composer, b, pending, combined);
    if (pending) {
        if (combined || c.held_byte == 0) {
            c.held_byte = r;
            return 0;
        }
        // b starts a new letter: the held one is complete.
        out[0] = c.held_byte;
        if (c.hold || c.return_mode == MODE_ENGLISH) {
            c.held_byte = r;
            return 1;
        }
        // Hold off in Vietnamese mode: write the new letter at once and let
        // its marks overstrike it.
        out[1] = r;
        c.held_byte = 0;
        c.state = MODE_VIETNAMESE;
        return 2;
    }
    c.state = c.return_mode;
    const unsigned char held = c.held_byte;
    c.held_byte = 0;
    if (combined) {
        out[0] = r;
        return 1;
    }
    int n = 0;
    if (held != 0) out[n++] = held;
    if (r == c.composition_char)
        c.state = STATE_ESCAPE;
    else
        out[n++] = r;
    return n;
}

int feed_vietnamese(viqr_context &c, unsigned char b, unsigned char *out) {
    if (b == c.composition_char) {
        c.return_mode = MODE_VIETNAMESE;
        c.state = STATE_ESCAPE;
        return 0;
    }
    int pending, combined;
    const unsigned char r = compose_char(c.composer, b, pending, combined);
    if (c.hold && pending) {
        c.return_mode = MODE_VIETNAMESE;
        c.held_byte = r;
        c.state = STATE_HOLDING;
        return 0;
    }
    if (combined) {
        out[0] = c.overstrike_char;
        out[1] = r;
        return 2;
    }
    out[0] = r;
    return 1;
}

int feed_english(viqr_context &c, unsigned char b, unsigned char *out) {
    if (b == c.composition_char) {
        c.return_mode = MODE_ENGLISH;
        c.state = STATE_ESCAPE;
        return 0;
    }
    out[0] = b;
    return 1;
}

int feed_literal(viqr_context &c, unsigned char b, unsigned char *out) {
    if (b == c.composition_char) {
        c.state = STATE_LITERAL_ESCAPE;
        return 0;
    }
    out[0] = b;
    return 1;
}

int feed_escape(viqr_context &c, unsigned char b, unsigned char *out) {
    // Neither the escaped byte nor the text after a mode switch joins a letter
    // begun before the composition character; with hold off such a letter has
    // already been written and would otherwise take the next mark.
    drop_letter(c);
    if (mode_letter[b] != NO_MODE) {
        c.state = mode_letter[b];
        return 0;
    }
    if (b == c.composition_char) {
        out[0] = b;
        c.state = c.return_mode;
        return 1;
    }
    c.state = STATE_HOLDING;
    return feed_holding(c, b, out);
}

// In Literal mode the composition character means something only before a
// mode letter; before anything else both bytes stand for themselves.
int feed_literal_escape(viqr_context &c, unsigned char b, unsigned char *out) {
    if (mode_letter[b] != NO_MODE) {
        c.state = mode_letter[b];
        return 0;
    }
    out[0] = c.composition_char;
    out[1] = b;
    c.state = MODE_LITERAL;
    return 2;
}

int feed_byte(viqr_context &c, unsigned char b, unsigned char *out) {
    switch (c.state) {
    case MODE_VIETNAMESE:
        return feed_vietnamese(c, b, out);
    case MODE_ENGLISH:
        return feed_english(c, b, out);
    case MODE_LITERAL:
        return feed_literal(c, b, out);
    case STATE_ESCAPE:
        return feed_escape(c, b, out);
    case STATE_LITERAL_ESCAPE:
        return feed_literal_escape(c, b, out);
    default:
        return feed_holding(c, b, out);
    }
}

// Writes what the context still holds to `out` (or drops it when `out` is
// null) and returns how many bytes that was: a held letter as composed so far,
// or a composition character left pending, which stands for itself.  The
// context is left in its mode with no letter under way, so that a second flush
// writes nothing and text fed afterwards starts afresh.
int flush_context(viqr_context &c, unsigned char *out) {
    unsigned char scratch[1];
    unsigned char *const to = out != nullptr ? out : scratch;
    int n = 0;
    switch (c.state) {
    case STATE_LITERAL_ESCAPE:
        to[n++] = c.composition_char;
        c.state = MODE_LITERAL;
        break;
    case STATE_ESCAPE:
        to[n++] = c.composition_char;
        c.state = c.return_mode;
        break;
    case STATE_HOLDING:
        if (c.held_byte != 0) to[n++] = c.held_byte;
        c.state = c.return_mode;
        break;
    default:
        break;
    }
    drop_letter(c);
    return n;
}

// The common case of toneup, Vietnamese text with hold on, goes to the
// composer a run at a time: from Vietnamese mode with no letter under way, or
// while a letter begun in Vietnamese mode is held.  The run stops at the
// composition character, which feed_byte handles.
bool can_compose_run(const viqr_context &c) {
    if (!c.hold) return false;
    if (c.state == MODE_VIETNAMESE) return c.composer.state == COMPOSER_IDLE;
    return c.state == STATE_HOLDING && c.return_mode == MODE_VIETNAMESE && c.held_byte != 0;
}

// Within a run an escape is a letter break (see run_stop): the byte after the
// composition character starts afresh, as feed_escape reads it, unless it is
// a mode letter or the composition character again, which the run leaves to
// feed_escape.  That holds for a composition character that is no part of a
// letter; one that is (a letter or a mark) can join the letter held before
// it instead (feed_holding), so the run leaves every such one to feed_byte.
run_stop escapes_in_runs(unsigned char composition_char) {
    run_stop stop{composition_char, class_table[composition_char] == CLASS_NONE, {}};
    stop.ends.fill(composition_char);
    std::copy(mode_letter_bytes.begin(), mode_letter_bytes.end(), stop.ends.begin());
    return stop;
}

const unsigned char *compose_run(viqr_context &c, const unsigned char *in, const unsigned char *end,
                                 unsigned char *&out) {
    in = compose_held_run(c.composer, in, end, escapes_in_runs(c.composition_char), c.held_byte, out);
    if (c.held_byte != 0) {
        c.state = STATE_HOLDING;
        c.return_mode = MODE_VIETNAMESE;
    } else {
        c.state = MODE_VIETNAMESE;
    }
    return in;
}

std::size_t feed_engine(viqr_context &context, const unsigned char *in, std::size_t length, unsigned char *out) {
    // Work on a copy: the output bytes could alias the table of contexts, which
    // would make the compiler reload the state after every byte written.
    viqr_context local = context;
    unsigned char *position = out;
    const unsigned char *const end = in + length;
    while (in != end) {
        if (can_compose_run(local)) in = compose_run(local, in, end, position);
        if (in != end) position += feed_byte(local, *in++, position);
    }
    context.state = local.state;
    context.held_byte = local.held_byte;
    context.composer = local.composer;
    context.return_mode = local.return_mode;
    return static_cast<std::size_t>(position - out);
}

// With the typed reader on, what it still keeps back goes through the engine
// before the engine's own flush.
int flush_typed(viqr_context &c, unsigned char *out) {
    if (!c.typed) return 0;
    unsigned char strict[viqr::detail::typed_output_room(0)];
    unsigned char scratch[2 * sizeof strict];
    const std::size_t written = viqr::detail::typed_flush(c.reader, strict);
    return static_cast<int>(feed_engine(c, strict, written, out != nullptr ? out : scratch));
}

void start_typed(viqr_context &c) {
    const int mode = is_mode(c.state) ? c.state : c.return_mode;
    viqr::detail::typed_reset(c.reader, c.composition_char, mode, true, &typed_caches[&c - contexts]);
}

}  // namespace

namespace viqr::detail {

std::size_t context_break(int handle, unsigned char *out) {
    viqr_context *c = open_context(handle);
    if (c == nullptr || !c->typed) return 0;
    unsigned char strict[typed_output_room(0)];
    const std::size_t written = typed_break(c->reader, strict);
    return feed_engine(*c, strict, written, out);
}

void use_implementation(int handle, const implementation &kernels) {
    if (viqr_context *c = open_context(handle)) c->composer.kernels = &kernels;
}

}  // namespace viqr::detail

int viqr_open(int mode, unsigned char composition_char, unsigned char overstrike_char) {
    if (!is_mode(mode)) return -1;
    for (int handle = 0; handle < VIQR_MAX_CONTEXTS; ++handle) {
        viqr_context &c = contexts[handle];
        if (c.in_use) continue;
        c.in_use = 1;
        c.state = mode;
        c.composition_char = composition_char;
        c.overstrike_char = overstrike_char;
        c.hold = 0;
        c.held_byte = 0;
        c.typed = 0;
        composer_reset(c.composer);
        return handle;
    }
    return -1;
}

int viqr_feed(int handle, unsigned char byte, unsigned char *out, int *count) {
    if (count != nullptr) *count = 0;
    viqr_context *c = open_context(handle);
    if (c == nullptr) return -1;
    unsigned char scratch[2];
    const int n = feed_byte(*c, byte, out != nullptr ? out : scratch);
    if (count != nullptr && out != nullptr) *count = n;
    return c->state;
}

std::size_t viqr_feed_chunk(int handle, const unsigned char *in, std::size_t length, unsigned char *out) {
    viqr_context *c = open_context(handle);
    if (c == nullptr || in == nullptr || out == nullptr) return 0;
    if (!c->typed) return feed_engine(*c, in, length, out);
    // The typed reader rewrites a piece at a time into strict VIQR, which the
    // engine then reads.
    using viqr::detail::TYPED_PIECE_SIZE;
    unsigned char strict[viqr::detail::typed_output_room(TYPED_PIECE_SIZE)];
    unsigned char *position = out;
    while (length > 0) {
        const std::size_t n = length < TYPED_PIECE_SIZE ? length : TYPED_PIECE_SIZE;
        const std::size_t written = viqr::detail::typed_feed(c->reader, in, n, strict);
        position += feed_engine(*c, strict, written, position);
        in += n;
        length -= n;
    }
    return static_cast<std::size_t>(position - out);
}

void viqr_flush(int handle, unsigned char *out, int *count) {
    viqr_context *c = open_context(handle);
    if (c == nullptr) return;
    const int typed = flush_typed(*c, out);
    const int n = typed + flush_context(*c, out != nullptr ? out + typed : nullptr);
    if (out != nullptr && count != nullptr) *count = n;
}

void viqr_close(int handle, unsigned char *out, int *count) {
    viqr_context *c = open_context(handle);
    if (c == nullptr) return;
    const int typed = flush_typed(*c, out);
    const int n = typed + flush_context(*c, out != nullptr ? out + typed : nullptr);
    if (out != nullptr && count != nullptr) *count = n;
    c->in_use = 0;
}

void viqr_query(int handle, void *destination, int selector) {
    const viqr_context *c = open_context(handle);
    if (c == nullptr || destination == nullptr) return;
    if (selector & VIQR_PARAM_STATE)
        std::memcpy(destination, &c->state, sizeof c->state);
    else if (selector & VIQR_PARAM_COMPOSE_CHAR)
        std::memcpy(destination, &c->composition_char, 1);
    else if (selector & VIQR_PARAM_OVERSTRIKE_CHAR)
        std::memcpy(destination, &c->overstrike_char, 1);
    else if (selector & VIQR_PARAM_HOLD)
        std::memcpy(destination, &c->hold, 1);
    else if (selector & VIQR_PARAM_TYPED)
        std::memcpy(destination, &c->typed, 1);
}

void viqr_set(int handle, int value, int selector) {
    viqr_context *c = open_context(handle);
    if (c == nullptr) return;
    if (selector & VIQR_PARAM_STATE) {
        if (!is_mode(value)) return;
        // Whatever was held or pending belongs to the old state: drop it.
        c->state = value;
        flush_context(*c, nullptr);
        drop_letter(*c);
        if (c->typed) start_typed(*c);
    } else if (selector & VIQR_PARAM_COMPOSE_CHAR) {
        c->composition_char = static_cast<unsigned char>(value);
        c->reader.composition_char = c->composition_char;
    } else if (selector & VIQR_PARAM_OVERSTRIKE_CHAR) {
        c->overstrike_char = static_cast<unsigned char>(value);
    } else if (selector & VIQR_PARAM_HOLD) {
        c->hold = static_cast<unsigned char>(value);
    } else if (selector & VIQR_PARAM_TYPED) {
        const unsigned char typed = value != 0;
        if (typed && !c->typed) start_typed(*c);
        c->typed = typed;
    }
}
