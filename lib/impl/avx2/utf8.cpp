// The UTF-8 kernels of the AVX2 implementation: VISCII to UTF-8, UTF-8 to
// VISCII, and UTF-8 straight to VIQR.
#include "avx2.h"
#include "blocks.h"
#include "encoder_tables.h"
#include "unicode_letters.h"

namespace viqr::detail::avx2 {

// These kernels write most characters (ASCII) as they are and a few (the
// letters, and what may take an escape) otherwise: a block is copied whole,
// and then each of those few is written where it lands, with the rest of
// the block copied again after it.  Each write may run a block past what
// counts, which the output of the block still to come covers.

namespace to_utf8 {

constexpr bool letters_take_two_or_three_bytes() {
    for (int b = 0; b < 256; ++b) {
        const bool letter = b >= 0x80 || is_c0_letter(static_cast<unsigned char>(b));
        if (letter != (utf8_of_viscii[b].length > 1) || utf8_of_viscii[b].length > 3) return false;
        if (!letter && utf8_of_viscii[b].bytes[0] != b) return false;
    }
    return true;
}
static_assert(letters_take_two_or_three_bytes());

// Stops at a block with a control code that is a letter (rare).
VIQR_KERNEL progress letters_to_utf8(const unsigned char *viscii, const unsigned char *end, unsigned char *o) {
    for (; end - viscii >= 2 * BLOCK; viscii += BLOCK) {
        const __m256i bytes = load_block(viscii);
        const __m256i left_alone = members_of(bytes, c0_letter_set);
        if (!_mm256_testz_si256(left_alone, left_alone)) break;
        store_block(o, bytes);
        std::ptrdiff_t added = 0;
        for (std::uint32_t mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes)); mask != 0;
             mask &= mask - 1) {
            const int j = std::countr_zero(mask);
            const utf8_field &f = utf8_of_viscii[viscii[j]];
            unsigned char *at = o + j + added;  // where the byte was copied
            std::memcpy(at, f.bytes, 4);
            copy_block(at + f.length, viscii + j + 1);
            added += f.length - 1;
        }
        o += BLOCK + added;
    }
    return {viscii, o};
}

}  // namespace to_utf8

namespace from_utf8 {

VIQR_KERNEL inline std::uint32_t mask_from(__m256i hits) { return static_cast<std::uint32_t>(_mm256_movemask_epi8(hits)); }

VIQR_KERNEL inline __m256i at_least(__m256i v, unsigned char b) {
    return _mm256_cmpeq_epi8(_mm256_max_epu8(v, splat(b)), v);
}

// The VISCII letter of a character of two bytes, or 0.
inline unsigned char letter_of_two(const unsigned char *p) {
    const char32_t cp = (char32_t{p[0] & 0x1Fu} << 6) | (p[1] & 0x3Fu);
    return cp < LOW_LETTERS_END ? viscii_of_low[cp] : 0;
}

// The VISCII letter of a character of three bytes beginning E1, or 0.
inline unsigned char letter_of_three(const unsigned char *p) {
    const char32_t cp = 0x1000u | (char32_t{p[1] & 0x3Fu} << 6) | (p[2] & 0x3Fu);
    return cp >= HIGH_LETTERS_FIRST && cp < HIGH_LETTERS_END ? viscii_of_high[cp - HIGH_LETTERS_FIRST] : 0;
}

// Takes the characters that end within the 32 bytes at `in` (two more bytes
// must be readable) and writes their VISCII bytes at `out`, which must have
// room for 64.  Takes nothing from a block with anything but ASCII that is
// no letter in VISCII and letters of two bytes or of three beginning E1, all
// well-formed.  The block is copied whole; each letter is then written at
// its place and the rest of the block copied again after it.
VIQR_KERNEL progress decode_block(const unsigned char *in, unsigned char *out) {
    const __m256i first = load_block(in);
    const std::uint32_t ascii = ~mask_from(first);
    const std::uint32_t lead_or_more = mask_from(at_least(first, 0xC0));
    const std::uint32_t continuation = ~ascii & ~lead_or_more;
    const std::uint32_t two = lead_or_more & ~mask_from(at_least(first, 0xE0)) & ~mask_from(below(first, 0xC2));
    const std::uint32_t three = mask_from(_mm256_cmpeq_epi8(first, splat(0xE1)));
    const std::uint32_t straddling = (two & (1u << 31)) | (three & (3u << 30));
    const int taken = straddling == 0 ? 32 : std::countr_zero(straddling);
    const std::uint32_t reach = taken == 32 ? ~0u : (1u << taken) - 1;

    // Every byte of the block, the character cut at its end included, must be
    // where well-formed UTF-8 puts it: a character taken may end in the byte
    // where the cut one begins, which must then be a continuation byte.
    const std::uint32_t expected = (two << 1) | (three << 1) | (three << 2);
    if (((continuation ^ expected) | ~(ascii | two | three | continuation)) != 0) return {in, out};
    if ((mask_from(members_of(first, c0_letter_set)) & reach) != 0) return {in, out};

    store_block(out, first);
    std::ptrdiff_t removed = 0;
    for (std::uint32_t leads = (two | three) & reach; leads != 0; leads &= leads - 1) {
        const int j = std::countr_zero(leads);
        const bool of_three = (three >> j & 1) != 0;
        const unsigned char letter = of_three ? letter_of_three(in + j) : letter_of_two(in + j);
        if (letter == 0) return {in, out};
        unsigned char *const at = out + j - removed;
        *at = letter;
        const int length = of_three ? 3 : 2;
        copy_block(at + 1, in + j + length);
        removed += length - 1;
    }
    return {in + taken, out + taken - removed};
}

// Blocks while 96 or more bytes are left and the output has room for two.
VIQR_KERNEL progress letters_from_utf8(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                       const unsigned char *out_end) {
    while (end - in >= 3 * BLOCK && out_end - out >= 2 * BLOCK) {
        const progress taken = decode_block(in, out);
        if (taken.in == in) break;
        in = taken.in;
        out = taken.out;
    }
    return {in, out};
}

}  // namespace from_utf8

namespace from_utf8_to_viqr {

// The bytes that may join the byte before them in Vietnamese mode: the ASCII
// ones by a set, and the two from 0x80 on (Đ and đ), which are letters anyway.
constexpr auto joining_ascii = [] {
    std::array<unsigned char, 10> bytes{};
    int n = 0;
    for (int b = 0; b < 0x80; ++b)
        if (vietnamese_joins[b] != 0 && n < 10) bytes[n++] = static_cast<unsigned char>(b);
    return bytes;
}();
constexpr nibble_set joining_set(joining_ascii);
static_assert(holds_exactly(joining_set, joining_ascii));

// Below 0x80 the bytes that need care are those that join, and the bytes
// spelled otherwise than as themselves are the control codes that are
// letters, which the UTF-8 kernel leaves to the reference.
constexpr bool ascii_needs_only_these() {
    for (int b = 0; b < 0x80; ++b) {
        const packed_spelling &s = vietnamese_spelling[b];
        const bool itself = s.length == 1 && static_cast<unsigned char>(s.text[0]) == b;
        if (itself == is_c0_letter(static_cast<unsigned char>(b))) return false;
        if ((s.needs_care != 0) != joining_set.has(b)) return false;
    }
    return true;
}
static_assert(ascii_needs_only_these());

// Every character the kernel converts has a key: an ASCII byte is its own
// key, a character of two bytes its code point (below 0x800), one of three
// bytes E1 BA xx or E1 BB xx (U+1E80..U+1EFF) 0x800 plus its offset from
// U+1E80, and any other of three bytes the one key COPIED_THREE.  Each key's
// entry holds what the kernel writes for it and what decides the escapes, as
// the encoder has them for the character's VISCII byte.  A character that is
// no letter is copied as it stands, as the reference does, and nothing joins
// what follows it: its entry has no text.  A combining mark may join the
// letter before it, so the kernel leaves blocks with marks alone and their
// keys have empty entries.
constexpr char32_t THREE_BYTE_FIRST = 0x1E80;
constexpr unsigned THREE_BYTE_KEYS = 0x800;
constexpr unsigned COPIED_THREE = THREE_BYTE_KEYS + 0x80;
constexpr unsigned KEYS = COPIED_THREE + 1;

struct straight_entry {
    std::uint32_t text;        // the VIQR spelling, NUL-padded; 0 to copy the character
    unsigned char out_length;  // the bytes written
    unsigned char in_length;   // the UTF-8 character's; 0 where the kernel stops
    unsigned char joins;       // vietnamese_joins of the VISCII byte
    unsigned char accepts;     // vietnamese_accepts of it
};
static_assert(sizeof(straight_entry) == 8);

constexpr straight_entry letter_entry(unsigned char viscii, int in_length) {
    straight_entry e{};
    const packed_spelling &spelling = vietnamese_spelling[viscii];
    for (int k = 0; k < 4; ++k)
        e.text |= static_cast<std::uint32_t>(static_cast<unsigned char>(spelling.text[k])) << (8 * k);
    e.out_length = spelling.length;
    e.in_length = static_cast<unsigned char>(in_length);
    e.joins = vietnamese_joins[viscii];
    e.accepts = vietnamese_accepts[viscii];
    return e;
}

constexpr straight_entry copied_entry(int in_length) {
    straight_entry e{};
    e.out_length = e.in_length = static_cast<unsigned char>(in_length);
    return e;
}

constexpr std::array<straight_entry, KEYS> make_entries() {
    std::array<straight_entry, KEYS> table{};
    for (int k = 0; k < 0x80; ++k)  // but the control codes that are letters, which stop the kernel
        if (!is_c0_letter(static_cast<unsigned char>(k))) table[k] = letter_entry(static_cast<unsigned char>(k), 1);
    for (char32_t cp = 0x80; cp < 0x800; ++cp) {
        if (cp >= FIRST_COMBINING && cp <= LAST_COMBINING && combining_mark_of(cp) != NO_MARK) continue;
        const unsigned char v = cp < LOW_LETTERS_END ? viscii_of_low[cp] : 0;
        table[cp] = v != 0 ? letter_entry(v, 2) : copied_entry(2);
    }
    for (char32_t cp = THREE_BYTE_FIRST; cp < THREE_BYTE_FIRST + 0x80; ++cp) {
        const bool letter = cp >= HIGH_LETTERS_FIRST && cp < HIGH_LETTERS_END && viscii_of_high[cp - HIGH_LETTERS_FIRST] != 0;
        table[THREE_BYTE_KEYS + (cp - THREE_BYTE_FIRST)] =
            letter ? letter_entry(viscii_of_high[cp - HIGH_LETTERS_FIRST], 3) : copied_entry(3);
    }
    table[COPIED_THREE] = copied_entry(3);
    return table;
}
inline constexpr auto entries = make_entries();

static_assert(LOW_LETTERS_END <= THREE_BYTE_KEYS && HIGH_LETTERS_FIRST >= THREE_BYTE_FIRST &&
                  HIGH_LETTERS_END <= THREE_BYTE_FIRST + 0x80,
              "the letters of two bytes lie below the keys of three, which cover U+1E80..U+1EFF");
// The marks are U+0300..U+037F, led by CC or CD: the kernel finds them by
// their lead bytes.
static_assert(FIRST_COMBINING >= 0x300 && LAST_COMBINING < 0x380);
// With its escape, a character takes at most twice its UTF-8 length, and a
// letter's spelling is never empty: a unit of 64 bytes writes at most 128
// and a copy of 32 past them.
constexpr bool spellings_fit_twice_their_characters() {
    for (const straight_entry &e : entries) {
        if (e.in_length != 0 && 1 + e.out_length > 2 * e.in_length) return false;
        if (e.text == 0 && e.out_length != e.in_length) return false;
    }
    return entries[0x80].text == 0 && entries[0xE0].text != 0 && entries[0x301].in_length == 0;
}
static_assert(spellings_fit_twice_their_characters());

VIQR_KERNEL inline __m256i select(__m256i where, __m256i if_set, __m256i otherwise) {
    return _mm256_blendv_epi8(otherwise, if_set, where);
}

// The keys of the characters that would begin at each of the 32 bytes from
// `p` (three more bytes readable), computed for all at once; a byte where no
// character of the kernel's begins gets a key that is never read.
VIQR_KERNEL inline void store_keys(const unsigned char *p, std::uint16_t *keys) {
    const __m256i b0 = load_block(p), b1 = load_block(p + 1), b2 = load_block(p + 2);
    const __m256i ascii = _mm256_cmpgt_epi8(b0, splat(0xFF));  // as signed bytes, ASCII is above -1
    const __m256i three = from_utf8::at_least(b0, 0xE0);
    const __m256i letters = _mm256_and_si256(_mm256_cmpeq_epi8(b0, splat(0xE1)),
                                             _mm256_cmpeq_epi8(_mm256_or_si256(b1, splat(1)), splat(0xBB)));
    // Shifts of 16-bit lanes, masked so that no bit crosses into a byte.
    const __m256i low_two = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b0, splat(3)), 6),
                                            _mm256_and_si256(b1, splat(0x3F)));
    const __m256i high_two = _mm256_and_si256(_mm256_srli_epi16(b0, 2), splat(7));
    const __m256i low_letter = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b1, splat(1)), 6),
                                               _mm256_and_si256(b2, splat(0x3F)));
    const __m256i low_three = select(letters, low_letter, splat(COPIED_THREE & 0xFF));
    const __m256i low = select(ascii, b0, select(three, low_three, low_two));
    const __m256i high = select(ascii, _mm256_setzero_si256(), select(three, splat(COPIED_THREE >> 8), high_two));
    const __m256i first = _mm256_unpacklo_epi8(low, high), second = _mm256_unpackhi_epi8(low, high);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(keys), _mm256_permute2x128_si256(first, second, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(keys + 16), _mm256_permute2x128_si256(first, second, 0x31));
}
static_assert(THREE_BYTE_KEYS >> 8 == COPIED_THREE >> 8 && (THREE_BYTE_KEYS & 0xFF) == 0,
              "the keys of three bytes share their high byte");

VIQR_KERNEL inline std::uint64_t mask64(__m256i low_hits, __m256i high_hits) {
    return mask_of(low_hits) | mask_of(high_hits) << 32;
}

VIQR_KERNEL inline std::uint64_t equal64(__m256i low, __m256i high, unsigned char value) {
    return mask64(_mm256_cmpeq_epi8(low, splat(value)), _mm256_cmpeq_epi8(high, splat(value)));
}

// UTF-8 straight to VIQR in Vietnamese mode, 64 bytes at a time, with no
// VISCII in between: each character beyond ASCII is looked up by its key and
// spelled (or copied) where it lands, with the escape the encoder would give
// it, and the 32 bytes after it are copied again.  An ASCII byte is its own
// spelling, so the ASCII bytes at 31 and 63 are spelled too: then no gap
// between two bytes spelled is longer than a copy.  Takes what utf8_to_viqr
// in implementation.h describes and stops at anything else.  The byte before
// `in` is read (and not used).
VIQR_KERNEL progress utf8_to_viqr(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                  const unsigned char *out_end, unsigned char composition_char,
                                  unsigned char previous) {
    constexpr std::ptrdiff_t UNIT = 2 * BLOCK;
    constexpr std::uint64_t REFRESHED = (1ull << 31) | (1ull << 63);
    if (composition_char == 0 || composition_char >= 0x80) return {in, out};
    const __m256i composition = splat(composition_char);
    const unsigned char *letter_end = in;                  // just after the last character spelled
    unsigned char accepts = vietnamese_accepts[previous];  // what may join it
    while (end - in >= 3 * UNIT && out_end - out >= 4 * UNIT) {
        const __m256i low = load_block(in), high = load_block(in + BLOCK);
        // Well-formed characters of up to three bytes but those led by E0 and
        // ED, whose second bytes have narrower ranges.
        const std::uint64_t ascii = ~mask64(low, high);
        const std::uint64_t lead_or_more = mask64(from_utf8::at_least(low, 0xC0), from_utf8::at_least(high, 0xC0));
        const std::uint64_t from_e0 = mask64(from_utf8::at_least(low, 0xE0), from_utf8::at_least(high, 0xE0));
        const std::uint64_t from_f0 = mask64(from_utf8::at_least(low, 0xF0), from_utf8::at_least(high, 0xF0));
        const std::uint64_t below_c2 = mask64(below(low, 0xC2), below(high, 0xC2));
        const std::uint64_t continuation = ~ascii & ~lead_or_more;
        const std::uint64_t two = lead_or_more & ~from_e0 & ~below_c2;
        const std::uint64_t three = from_e0 & ~from_f0 & ~equal64(low, high, 0xE0) & ~equal64(low, high, 0xED);
        const std::uint64_t straddling = (two & (1ull << 63)) | (three & (3ull << 62));
        const int taken = straddling == 0 ? 64 : std::countr_zero(straddling);
        const std::uint64_t reach = taken == 64 ? ~0ull : (1ull << taken) - 1;
        const std::uint64_t expected = (two << 1) | (three << 1) | (three << 2);
        if (((continuation ^ expected) | ~(ascii | two | three | continuation)) != 0) break;
        const std::uint64_t left_alone =
            mask64(_mm256_or_si256(_mm256_cmpeq_epi8(low, composition), members_of(low, c0_letter_set)),
                   _mm256_or_si256(_mm256_cmpeq_epi8(high, composition), members_of(high, c0_letter_set))) |
            equal64(low, high, 0xCC) | equal64(low, high, 0xCD);
        if ((left_alone & reach) != 0 || may_start_mark(in[taken])) break;
        const std::uint64_t joining = mask64(members_of(low, joining_set), members_of(high, joining_set));

        alignas(32) std::uint16_t keys[UNIT];
        store_keys(in, keys);
        store_keys(in + BLOCK, keys + BLOCK);
        store_block(out, low);
        store_block(out + BLOCK, high);
        std::ptrdiff_t added = 0;
        for (std::uint64_t spelled = (two | three | joining | (ascii & REFRESHED)) & reach; spelled != 0;
             spelled &= spelled - 1) {
            const int j = std::countr_zero(spelled);
            const unsigned char *const p = in + j;
            std::uint32_t bytes;  // the byte before the character and its first three
            std::memcpy(&bytes, p - 1, 4);
            const straight_entry &e = entries[keys[j]];
            if (e.in_length == 0) return {p, out + j + added};
            const unsigned char after_ascii = vietnamese_accepts[bytes & 0xFF];
            const unsigned char before = p == letter_end ? accepts : after_ascii;
            const int escaped = (e.joins & before) != 0;
            // A character copied is at most three bytes long.
            const std::uint32_t text = e.text | ((bytes >> 8) & (0u - static_cast<std::uint32_t>(e.text == 0)));
            unsigned char *at = out + j + added;
            *at = composition_char;
            at += escaped;
            std::memcpy(at, &text, 4);
            copy_block(at + e.out_length, p + e.in_length);
            added += escaped + e.out_length - e.in_length;
            accepts = e.accepts;
            letter_end = p + e.in_length;
        }
        in += taken;
        out += taken + added;
    }
    return {in, out};
}

}  // namespace from_utf8_to_viqr

}  // namespace viqr::detail::avx2
