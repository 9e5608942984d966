// UTF-8 to VIQR (tonedown -u).  Each Vietnamese letter of the text becomes
// its VISCII byte and goes, with the rest of ASCII, through the VISCII
// encoder, so that spelling and escapes are exactly those of VISCII input.
// Everything else is copied as it stands, and the encoder then carries on as
// after a byte that needs nothing escaped after it.
#include <bit>
#include <cstring>

#include "viqr.h"
#include "buffer_sizes.h"
#include "encoder_tables.h"
#include "utf8.h"
#include "implementation.h"

namespace viqr::detail {
namespace {

// The VISCII byte of a code point decoded from two or more bytes; 0 for none.
inline unsigned char viscii_of(char32_t cp) {
    if (cp < LOW_LETTERS_END) return viscii_of_low[cp];
    if (cp >= HIGH_LETTERS_FIRST && cp < HIGH_LETTERS_END) return viscii_of_high[cp - HIGH_LETTERS_FIRST];
    return 0;
}

inline int mark_of(char32_t cp) {
    return cp >= FIRST_COMBINING && cp <= LAST_COMBINING ? combining_mark_of(cp) : NO_MARK;
}

// What a character of two bytes (U+0080..U+07FF) is, for the fast loop: a
// VISCII letter (its byte), one of the marks (MARK_ENTRY + its index), or
// neither (0).
constexpr unsigned short MARK_ENTRY = 0x100;

constexpr std::array<unsigned short, 0x800> make_two_byte_entries() {
    std::array<unsigned short, 0x800> table{};
    for (char32_t cp = 0x80; cp < 0x800; ++cp) {
        const int mark = cp >= FIRST_COMBINING && cp <= LAST_COMBINING ? combining_mark_of(cp) : NO_MARK;
        if (mark != NO_MARK)
            table[cp] = static_cast<unsigned short>(MARK_ENTRY + mark);
        else if (cp < LOW_LETTERS_END)
            table[cp] = viscii_of_low[cp];
    }
    return table;
}
inline constexpr std::array<unsigned short, 0x800> two_byte_entries = make_two_byte_entries();

static_assert(two_byte_entries[0xE2] == 0xE2 && two_byte_entries[0x1B0] == 0xDF &&
              two_byte_entries[0x323] == MARK_ENTRY + FIRST_TONE_MARK + TONE_DOT - 1 && two_byte_entries[0xE4] == 0);

// The letters of Latin Extended Additional, U+1EA0..U+1EF9, are E1 BA A0 to
// E1 BB B9.
constexpr bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// One call's work.  VISCII bytes gather in `run` and go to the encoder
// together, whenever `run` is full, before bytes that are copied, and at the
// end of the call.
class from_utf8_call {
public:
    from_utf8_call(const implementation &kernels, viqr_from_utf8_state &state, unsigned char *out)
        : kernels_(kernels), s_(state), out_(out), o_(out) {}

    std::size_t convert(const unsigned char *in, std::size_t length) {
        in_ = in;
        out_end_ = out_ + VIQR_FROM_UTF8_OUTPUT_SIZE(length);
        std::size_t i = 0;
        while (i < length) {
            if (s_.scan.have == 0) {
                i = fast(in, i, length);
                if (i == length) break;
            }
            const unsigned char b = in[i];
            if (s_.scan.have != 0) {
                if (!continue_sequence(b)) continue;  // b starts afresh
                ++i;
            } else if (plain_ascii[b]) {
                const auto j = static_cast<std::size_t>(end_of_plain_ascii(kernels_, in + i + 1, in + length) - in);
                ascii(in + i, j - i);
                i = j;
            } else if (b < 0x80) {
                copy(in + i, 1);  // a control code that is a letter only in VISCII
                ++i;
            } else if (sequence_length[b] == 0) {
                report_here(s_.scan, s_.scan.offset + i);
                copy(in + i, 1);
                ++i;
            } else if (i + sequence_length[b] <= length) {
                i += whole_sequence(in + i);
            } else {
                begin_sequence(s_.scan, b, s_.scan.offset + i);
                ++i;
            }
        }
        s_.scan.offset += length;
        return finish_call();
    }

    std::size_t finish() {
        if (s_.scan.have != 0) copy_invalid_sequence();
        end_letter();
        return finish_call();
    }

private:
    // The common characters of Vietnamese text, in one tight loop over local
    // variables: ASCII, the letters and marks of two bytes, and the letters
    // of Latin Extended Additional.  It does what the steps below would do
    // and stops, for them to go on, at anything else or when `run` is full.
    std::size_t fast(const unsigned char *in, std::size_t i, std::size_t length) {
        unsigned char letter = s_.letter;
        unsigned char *r = run_ + run_length_;
        unsigned char *const r_end = run_ + UTF8_RUN_SIZE - 2;  // each step gathers at most two bytes
        for (;;) {
            // With a kernel, the bytes of a block it leaves alone go one by
            // one, and then the kernel is asked again.
            std::size_t one_by_one_until = length;
            const bool straight = straight_to_viqr();
            if (straight) {
                // The kernel reads the byte before where it starts; a mark at
                // `in[i]` may join the letter held, which must then stay held.
                if (i > 0 && length - i >= 2 * static_cast<std::size_t>(kernels_.block) &&
                    !may_start_mark(in[i])) {
                    // The letter held and the run go first; the kernel then
                    // writes the output itself.
                    *r = letter;
                    r += letter != 0;
                    letter = 0;
                    run_length_ = static_cast<std::size_t>(r - run_);
                    flush_run();
                    r = run_;
                    i = take_straight(in, i, length);
                }
            } else if (kernels_.letters_from_utf8 != nullptr &&
                       length - i >= 2 * static_cast<std::size_t>(kernels_.block)) {
                const taken_blocks taken = take_blocks(in, i, length, letter, r);
                i = taken.i;
                letter = taken.letter;
                r = taken.r;
            }
            if (straight || kernels_.letters_from_utf8 != nullptr) {
                const auto block = static_cast<std::size_t>(kernels_.block);
                one_by_one_until = length - i > block ? i + block : length;
            }
            bool stopped = false;  // at a character for the steps below
            for (; i < one_by_one_until && r < r_end; ++i) {
                const unsigned char b = in[i];
                unsigned char v;
                if (plain_ascii[b]) {
                    v = b;
                } else if (b >= 0xC2 && b <= 0xDF && i + 1 < length && is_continuation(in[i + 1])) {
                    const unsigned short entry = two_byte_entries[((b & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu)];
                    if (entry >= MARK_ENTRY) {
                        const unsigned char joined = letter != 0 ? mark_joins[letter][entry - MARK_ENTRY] : 0;
                        if (joined == 0) {  // a mark copied as it stands
                            stopped = true;
                            break;
                        }
                        letter = joined;
                        ++i;
                        continue;
                    }
                    if (entry == 0) {
                        stopped = true;
                        break;
                    }
                    v = static_cast<unsigned char>(entry);
                    ++i;
                } else if (b == 0xE1 && i + 2 < length && (in[i + 1] == 0xBA || in[i + 1] == 0xBB) &&
                           is_continuation(in[i + 2])) {
                    const char32_t cp = 0x1E00u | ((in[i + 1] & 0x3Fu) << 6) | (in[i + 2] & 0x3Fu);
                    if (cp < HIGH_LETTERS_FIRST || cp >= HIGH_LETTERS_END) {
                        stopped = true;
                        break;
                    }
                    v = viscii_of_high[cp - HIGH_LETTERS_FIRST];
                    i += 2;
                } else {
                    stopped = true;
                    break;
                }
                // v is a VISCII character: it ends the letter before it, and is
                // itself held while a mark may still follow.
                *r = letter;
                r += letter != 0;
                letter = takes_marks[v] ? v : 0;
                *r = v;
                r += letter == 0;
            }
            if (stopped || i >= length || r >= r_end) break;
        }
        s_.letter = letter;
        run_length_ = static_cast<std::size_t>(r - run_);
        if (r >= r_end) flush_run();
        return i;
    }

    // Whether the kernel that goes from UTF-8 to VIQR with no VISCII between
    // may run: Vietnamese mode, with a composition character it knows.
    bool straight_to_viqr() const {
        return kernels_.utf8_to_viqr != nullptr && s_.mode == VIQR_MODE_VIETNAMESE && s_.composition_char != 0 &&
               s_.composition_char < 0x80;
    }

    // The kernel from `in + i` straight to the output; the encoder's history
    // becomes the last character it took.  Returns where it stopped.
    std::size_t take_straight(const unsigned char *in, std::size_t i, std::size_t length) {
        const progress taken =
            kernels_.utf8_to_viqr(in + i, in + length, o_, out_end_, s_.composition_char, s_.previous);
        if (taken.in == in + i) return i;
        o_ = taken.out;
        s_.previous = viscii_of_last_character(in + i, taken.in);
        return static_cast<std::size_t>(taken.in - in);
    }

    // The VISCII byte of the character that ends at `end`, a whole ASCII
    // character or letter taken by the kernel from `start` on.
    static unsigned char viscii_of_last_character(const unsigned char *start, const unsigned char *end) {
        if (end[-1] < 0x80) return end[-1];
        const unsigned char *lead = end - 2;
        while (lead > start && is_continuation(*lead)) --lead;
        return viscii_of(decode_sequence(lead, static_cast<int>(end - lead)));
    }

    // Where take_blocks stopped, by value, so that fast() keeps its variables
    // in registers.
    struct taken_blocks {
        std::size_t i;
        unsigned char letter;
        unsigned char *r;
    };

    // fast() a block at a time while the kernel takes blocks whole: the
    // letter held before them goes first, and their last character is held
    // when a mark may still follow it.
    taken_blocks take_blocks(const unsigned char *in, std::size_t i, std::size_t length, unsigned char letter,
                             unsigned char *r) {
        const auto block = static_cast<std::size_t>(kernels_.block);
        while (length - i >= 2 * block) {
            if (run_ + UTF8_RUN_SIZE - r < 2 * kernels_.block + 2) {
                run_length_ = static_cast<std::size_t>(r - run_);
                flush_run();
                r = run_;
            }
            *r = letter;
            const progress taken = kernels_.letters_from_utf8(in + i, in + length, r + (letter != 0), run_ + UTF8_RUN_SIZE);
            if (taken.in == in + i) break;
            r = taken.out;
            letter = takes_marks[r[-1]] ? r[-1] : 0;
            r -= letter != 0;
            i = static_cast<std::size_t>(taken.in - in);
        }
        return {i, letter, r};
    }

    // A sequence that lies wholly in this chunk, the common case: converts the
    // character, or copies the lead byte as invalid.  Returns the bytes taken.
    std::size_t whole_sequence(const unsigned char *p) {
        const int need = sequence_length[p[0]];
        for (int k = 1; k < need; ++k)
            if (!continues(p[0], k, p[k])) {
                report_here(s_.scan, s_.scan.offset + static_cast<std::size_t>(p - in_));
                copy(p, static_cast<std::size_t>(k));
                return static_cast<std::size_t>(k);
            }
        character(decode_sequence(p, need), p, static_cast<std::size_t>(need));
        return static_cast<std::size_t>(need);
    }

    // Takes the next byte of the sequence under way; false when it does not
    // belong to it, which leaves the byte to be read afresh.
    bool continue_sequence(unsigned char b) {
        viqr_utf8_scan &scan = s_.scan;
        if (!continues(scan.bytes[0], scan.have, b)) {
            copy_invalid_sequence();
            return false;
        }
        scan.bytes[scan.have++] = b;
        if (scan.have == scan.need) {
            scan.have = 0;
            character(decode_sequence(scan.bytes, scan.need), scan.bytes, scan.need);
        }
        return true;
    }

    void copy_invalid_sequence() {
        const unsigned char have = s_.scan.have;
        report_sequence(s_.scan);
        copy(s_.scan.bytes, have);
    }

    void character(char32_t cp, const unsigned char *bytes, std::size_t length) {
        const int mark = mark_of(cp);
        if (mark != NO_MARK) {
            if (s_.letter != 0 && mark_joins[s_.letter][mark] != 0) {
                s_.letter = mark_joins[s_.letter][mark];
                if (!takes_marks[s_.letter]) end_letter();
                return;
            }
        } else if (const unsigned char v = viscii_of(cp); v != 0) {
            letter(v);
            return;
        }
        copy(bytes, length);
    }

    // Every byte of an ASCII run but the last is followed by ASCII, which is
    // no mark: only the last may still take one.
    void ascii(const unsigned char *p, std::size_t n) {
        end_letter();
        gather_many(p, n - 1);
        letter(p[n - 1]);
    }

    void letter(unsigned char v) {
        end_letter();
        if (takes_marks[v])
            s_.letter = v;
        else
            gather(v);
    }

    void end_letter() {
        if (s_.letter == 0) return;
        gather(s_.letter);
        s_.letter = 0;
    }

    void gather(unsigned char v) {
        run_[run_length_++] = v;
        if (run_length_ == UTF8_RUN_SIZE) flush_run();
    }

    void gather_many(const unsigned char *p, std::size_t n) {
        while (n > 0) {
            const std::size_t take = n < UTF8_RUN_SIZE - run_length_ ? n : UTF8_RUN_SIZE - run_length_;
            std::memcpy(run_ + run_length_, p, take);
            run_length_ += take;
            p += take;
            n -= take;
            if (run_length_ == UTF8_RUN_SIZE) flush_run();
        }
    }

    void flush_run() {
        encode(run_, run_length_);
        run_length_ = 0;
    }

    void encode(const unsigned char *p, std::size_t n) {
        if (n == 0) return;
        viqr_encoder_history history{s_.previous};
        o_ += viscii_to_viqr_with(kernels_, p, n, o_, s_.composition_char, s_.mode, &history);
        s_.previous = history.previous;
    }

    // Bytes that stand for themselves.  What comes after them needs no
    // escape, as after the byte 0x00.
    void copy(const unsigned char *p, std::size_t n) {
        end_letter();
        flush_run();
        std::memcpy(o_, p, n);
        o_ += n;
        s_.previous = 0x00;
    }

    std::size_t finish_call() {
        flush_run();
        return static_cast<std::size_t>(o_ - out_);
    }

    const implementation &kernels_;
    viqr_from_utf8_state &s_;
    unsigned char *out_, *o_;
    const unsigned char *out_end_ = nullptr;  // the end of the room the caller gave
    const unsigned char *in_ = nullptr;
    unsigned char run_[UTF8_RUN_SIZE];
    std::size_t run_length_ = 0;
};

// A byte after 0x00 is never escaped: 0x00 is neither a vowel nor a D.
static_assert(vietnamese_accepts[0x00] == 0 && english_accepts[0x00] == 0);

}  // namespace
}  // namespace viqr::detail

void viqr_from_utf8_start(viqr_from_utf8_state *state, unsigned char composition_char, int mode) {
    if (state == nullptr) return;
    *state = viqr_from_utf8_state{};
    state->composition_char = composition_char;
    state->mode = mode;
}

namespace {

// The encoder writes only these two modes; a state started in another would
// copy the bytes beyond ASCII and lose the rest, so it converts nothing.
bool can_convert(const viqr_from_utf8_state *state, const unsigned char *out) {
    return state != nullptr && out != nullptr &&
           (state->mode == VIQR_MODE_VIETNAMESE || state->mode == VIQR_MODE_ENGLISH);
}

}  // namespace

namespace viqr::detail {

std::size_t from_utf8_with(const implementation &kernels, viqr_from_utf8_state &state, const unsigned char *in,
                           std::size_t length, unsigned char *out) {
    if (!can_convert(&state, out) || in == nullptr) return 0;
    return from_utf8_call(kernels, state, out).convert(in, length);
}

std::size_t from_utf8_finish_with(const implementation &kernels, viqr_from_utf8_state &state, unsigned char *out) {
    if (!can_convert(&state, out)) return 0;
    return from_utf8_call(kernels, state, out).finish();
}

}  // namespace viqr::detail

std::size_t viqr_from_utf8(viqr_from_utf8_state *state, const unsigned char *in, std::size_t length,
                           unsigned char *out) {
    if (state == nullptr) return 0;
    return viqr::detail::from_utf8_with(viqr::detail::active_implementation(), *state, in, length, out);
}

std::size_t viqr_from_utf8_finish(viqr_from_utf8_state *state, unsigned char *out) {
    if (state == nullptr) return 0;
    return viqr::detail::from_utf8_finish_with(viqr::detail::active_implementation(), *state, out);
}
