// The AVX2 implementation: blocks of 32 bytes, for the processors with AVX2
// (most x86-64 processors since 2013).  Byte look-ups in 16-entry tables
// (pshufb) classify a block at once; the code is compiled for those
// processors function by function (VIQR_KERNEL) and run only where the
// processor has them.
#include <immintrin.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "avx2.h"
#include "composer_run.h"
#include "encoder_tables.h"
#include "exchange.h"
#include "impl/implementations.h"
#include "unicode_letters.h"

#define VIQR_KERNEL __attribute__((target("avx2,bmi,bmi2,popcnt,lzcnt")))

namespace viqr::detail {
namespace {

bool supported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

constexpr std::ptrdiff_t BLOCK = 32;

VIQR_KERNEL inline __m256i load_block(const unsigned char *block) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block));
}

VIQR_KERNEL inline void store_block(unsigned char *to, __m256i bytes) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(to), bytes);
}

VIQR_KERNEL inline std::uint64_t mask_of(__m256i hits) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(hits));
}

VIQR_KERNEL inline __m256i splat(unsigned char value) { return _mm256_set1_epi8(static_cast<char>(value)); }

// A set of bytes as two 16-entry tables, one by the high half of a byte and
// one by the low half: each high half that has members gets a bit of its
// own, which the low-half table sets for the low halves of its members.  A
// byte belongs when the two entries share a bit; a byte from 0x80 on looks
// up 0 in the high table, as pshufb gives 0 for an index with its top bit set.
struct nibble_set {
    std::array<unsigned char, 16> high{};
    std::array<unsigned char, 16> low{};
    bool fits = true;  // at most eight high halves, all below 8

    template <std::size_t N>
    constexpr explicit nibble_set(const std::array<unsigned char, N> &members) {
        unsigned char next_bit = 1;
        for (unsigned char b : members) {
            if (b >= 0x80) fits = false;
            if (high[b >> 4] == 0) {
                if (next_bit == 0) fits = false;
                high[b >> 4] = next_bit;
                next_bit = static_cast<unsigned char>(next_bit << 1);
            }
            low[b & 15] |= high[b >> 4];
        }
    }

    constexpr bool has(int b) const { return b < 0x80 && (high[b >> 4] & low[b & 15]) != 0; }
};

template <std::size_t N>
constexpr bool holds_exactly(const nibble_set &set, const std::array<unsigned char, N> &members) {
    if (!set.fits) return false;
    for (int b = 0; b < 256; ++b) {
        bool member = false;
        for (unsigned char m : members) member = member || m == b;
        if (set.has(b) != member) return false;
    }
    return true;
}

VIQR_KERNEL inline __m256i table_of(const std::array<unsigned char, 16> &entries) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(entries.data())));
}

// The bytes of `bytes` in the set, as 0xFF.
VIQR_KERNEL inline __m256i members_of(__m256i bytes, const nibble_set &set) {
    const __m256i high_half = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), splat(0x0F));
    // pshufb looks at the low four bits and the top bit of each index: a
    // byte from 0x80 on keeps its top bit here and looks up 0.
    const __m256i high_index = _mm256_or_si256(high_half, _mm256_and_si256(bytes, splat(0x80)));
    const __m256i high = _mm256_shuffle_epi8(table_of(set.high), high_index);
    const __m256i low = _mm256_shuffle_epi8(table_of(set.low), _mm256_and_si256(bytes, splat(0x0F)));
    return _mm256_xor_si256(_mm256_cmpeq_epi8(_mm256_and_si256(high, low), _mm256_setzero_si256()),
                            _mm256_set1_epi8(-1));
}

constexpr nibble_set merging_set(merging_bytes);
static_assert(holds_exactly(merging_set, merging_bytes));

VIQR_KERNEL inline std::uint64_t bytes_equal(const unsigned char *block, unsigned char value) {
    return mask_of(_mm256_cmpeq_epi8(load_block(block), splat(value)));
}

VIQR_KERNEL inline std::uint64_t merging_bytes_of(const unsigned char *block) {
    return mask_of(members_of(load_block(block), merging_set));
}

VIQR_KERNEL inline void copy_block(unsigned char *to, const unsigned char *from) { store_block(to, load_block(from)); }


VIQR_KERNEL inline __m256i high_bytes(__m256i bytes) { return _mm256_cmpgt_epi8(_mm256_setzero_si256(), bytes); }

VIQR_KERNEL inline __m256i below(__m256i bytes, unsigned char limit) {
    // Unsigned: the minimum of the two is the byte only when the byte is at most limit - 1.
    return _mm256_cmpeq_epi8(_mm256_min_epu8(bytes, splat(static_cast<unsigned char>(limit - 1))), bytes);
}

// The six control codes that are letters in VISCII, which the kernels leave
// to the references.
constexpr auto c0_letters = [] {
    std::array<unsigned char, 6> bytes{};
    int n = 0;
    for (int b = 0; b < 0x20; ++b)
        if (is_c0_letter(static_cast<unsigned char>(b)) && n < 6) bytes[n++] = static_cast<unsigned char>(b);
    return bytes;
}();
constexpr nibble_set c0_letter_set(c0_letters);
static_assert(holds_exactly(c0_letter_set, c0_letters), "the six control codes that are letters in VISCII");

// The encoder and VISCII to UTF-8 write most bytes (ASCII) as they are and
// a few (the letters, and what may take an escape) as up to four bytes: a
// block is copied whole, and then each of those few is written where it
// lands, with the rest of the block copied again after it.  Each write may
// run a block past what counts, which the output of the block still to come
// covers.

namespace encode {

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

// Each byte's spelling and its part in the escape rule in one word, so that
// one load fetches all the encoder needs of a byte.  The spelling is in the
// low three bytes (NUL-padded); its characters are ASCII, so the top bits of
// those bytes are free, and the first two hold the length (low bit first)
// where movemask finds them.  The top byte holds what the byte joins (bits
// 0-2) and what it accepts (bits 3-5).
constexpr int ACCEPTS_AT = 3;
constexpr std::uint32_t TEXT_BITS = 0x007F7F7F;

constexpr std::uint32_t length_bits(unsigned length) { return (length & 1) << 7 | (length >> 1) << 15; }

constexpr std::array<std::uint32_t, 256> make_spelling_words() {
    std::array<std::uint32_t, 256> words{};
    for (int b = 0; b < 256; ++b) {
        const packed_spelling &s = vietnamese_spelling[b];
        std::uint32_t word = length_bits(s.length);
        for (int k = 0; k < 3; ++k) word |= std::uint32_t{static_cast<unsigned char>(s.text[k])} << (8 * k);
        words[b] = word | std::uint32_t(vietnamese_joins[b] | vietnamese_accepts[b] << ACCEPTS_AT) << 24;
    }
    return words;
}
alignas(64) inline constexpr auto spelling_words = make_spelling_words();

constexpr bool words_hold_what_the_encoder_reads() {
    for (int b = 0; b < 256; ++b) {
        const packed_spelling &s = vietnamese_spelling[b];
        const std::uint32_t word = spelling_words[b];
        if (s.length < 1 || s.length > 3 || s.text[3] != 0) return false;
        if (vietnamese_joins[b] >= 8 || vietnamese_accepts[b] >= 8) return false;
        for (int k = 0; k < 3; ++k) {
            const unsigned char c = static_cast<unsigned char>(s.text[k]);
            if (c >= 0x80 || (word >> (8 * k) & 0x7F) != c) return false;
        }
        if ((word >> 7 & 1) + 2 * (word >> 15 & 1) != s.length || (word >> 23 & 1) != 0) return false;
        if ((word >> 24 & 7) != vietnamese_joins[b] || word >> (24 + ACCEPTS_AT) != vietnamese_accepts[b]) return false;
        // An escape goes only before a byte spelled in one or two, so that
        // with it the byte still takes at most three characters.
        if (vietnamese_joins[b] != 0 && s.length > 2) return false;
    }
    return true;
}
static_assert(words_hold_what_the_encoder_reads(),
              "spellings of one to three ASCII characters, of at most two where an escape may go; three bits of "
              "joins and accepts");

// Four words, each written as up to three characters from its lowest byte,
// are packed together by one byte shuffle.  Its pattern is chosen by the
// four lengths (0 to 3), two bits each, the length of word i at
// KEY_FIELD_AT[i] (the order in which put_eight finds them): `length` is
// how many characters it keeps.
constexpr int KEY_FIELD_AT[4] = {0, 4, 2, 6};

struct alignas(16) group_packing {
    unsigned char shuffle[256][16];
    unsigned char length[256];
};

constexpr group_packing make_group_packing() {
    group_packing t{};
    for (int key = 0; key < 256; ++key) {
        int n = 0;
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < (key >> KEY_FIELD_AT[i] & 3); ++k)
                t.shuffle[key][n++] = static_cast<unsigned char>(4 * i + k);
        for (int k = n; k < 16; ++k) t.shuffle[key][k] = 0x80;  // pshufb writes 0
        t.length[key] = static_cast<unsigned char>(n);
    }
    return t;
}
inline constexpr group_packing group_packings = make_group_packing();
// Lengths 1, 2, 0 and 3: key 0b11'10'00'01.
static_assert(group_packings.length[0] == 0 && group_packings.length[255] == 12 &&
                  group_packings.length[0b11'10'00'01] == 6 && group_packings.shuffle[0b11'10'00'01][0] == 0 &&
                  group_packings.shuffle[0b11'10'00'01][1] == 4 && group_packings.shuffle[0b11'10'00'01][2] == 5 &&
                  group_packings.shuffle[0b11'10'00'01][3] == 12 && group_packings.shuffle[0b11'10'00'01][5] == 14 &&
                  group_packings.shuffle[0b11'10'00'01][6] == 0x80,
              "lengths 1, 2, 0 and 3 keep 0, 4 5 and 12 to 14");

// The words of the eight places before those of `words`, the first of which
// is the last of `earlier`; and two and three places before.
VIQR_KERNEL inline __m256i words_before(__m256i words, __m256i earlier, int places) {
    const __m256i seam = _mm256_permute2x128_si256(earlier, words, 0x21);  // earlier's high half, words' low half
    switch (places) {
    case 1: return _mm256_alignr_epi8(words, seam, 12);
    case 2: return _mm256_alignr_epi8(words, seam, 8);
    default: return _mm256_alignr_epi8(words, seam, 4);
    }
}

// Writes the characters of eight words, `text` holding what each writes (the
// text of `words` where the word has it) and `before` the word of the
// character before each, and returns the end; the stores may run 16 bytes
// past it.
VIQR_KERNEL inline unsigned char *put_eight(unsigned char *out, __m256i words, __m256i text, __m256i before,
                                            __m256i composition) {
    const __m256i clash = _mm256_and_si256(_mm256_srli_epi32(words, 24), _mm256_srli_epi32(before, 24 + ACCEPTS_AT));
    const __m256i escaped = _mm256_cmpgt_epi32(clash, _mm256_setzero_si256());
    const __m256i slots = _mm256_blendv_epi8(text, _mm256_or_si256(_mm256_slli_epi32(text, 8), composition), escaped);
    // Each word's length from movemask, at bits 4i and 4i + 1, and one more
    // where escaped: at most three, so the sum carries into no other
    // word's bits.  Then the four of each lane are gathered into a key by
    // shifts (pext would do it in one, but is microcoded and slow on many
    // processors with AVX2).
    const std::uint32_t lengths = (static_cast<std::uint32_t>(_mm256_movemask_epi8(words)) & 0x33333333u) +
                                  (static_cast<std::uint32_t>(_mm256_movemask_epi8(escaped)) & 0x11111111u);
    const std::uint32_t keys = lengths | lengths >> 6;
    const unsigned first = keys & 0xFF, second = keys >> 16 & 0xFF;
    const __m256i pattern = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(group_packings.shuffle[first]))),
        _mm_load_si128(reinterpret_cast<const __m128i *>(group_packings.shuffle[second])), 1);
    const __m256i packed = _mm256_shuffle_epi8(slots, pattern);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(packed));
    out += group_packings.length[first];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_extracti128_si256(packed, 1));
    return out + group_packings.length[second];
}

// Spells the bytes from `in` while 64 or more are left, and stops at a block
// with the composition character (rare in VISCII text), which the reference
// doubles.  Every byte is looked up: eight words are loaded one by one into
// a vector (faster than vpgatherdd, which is microcoded on many processors,
// and than storing them and loading the vector, which stalls), and each
// byte's escape is decided by the word of the byte before it.  No branch
// depends on the text within a block.  Every block has an input byte before
// it.
VIQR_KERNEL progress encode_vietnamese(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                       unsigned char composition_char) {
    const __m256i composition = splat(composition_char);
    const __m256i composition_word = _mm256_set1_epi32(composition_char);
    const __m256i text_bits = _mm256_set1_epi32(TEXT_BITS);
    __m256i earlier = _mm256_set1_epi32(static_cast<int>(spelling_words[in[-1]]));
    while (end - in >= 2 * BLOCK) {
        const __m256i bytes = load_block(in);
        const __m256i escapes = _mm256_cmpeq_epi8(bytes, composition);
        if (!_mm256_testz_si256(escapes, escapes)) break;
        for (int k = 0; k < BLOCK; k += 8) {
            const auto w = [&](int i) { return static_cast<int>(spelling_words[in[k + i]]); };
            const __m256i words = _mm256_setr_epi32(w(0), w(1), w(2), w(3), w(4), w(5), w(6), w(7));
            out = put_eight(out, words, _mm256_and_si256(words, text_bits), words_before(words, earlier, 1),
                            composition_word);
            earlier = words;
        }
        in += BLOCK;
    }
    return {in, out};
}

}  // namespace encode

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
        const std::uint64_t joining = mask64(members_of(low, encode::joining_set), members_of(high, encode::joining_set));

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

}  // namespace

namespace avx2 {
#include "impl/generic/compose_blocks.h"
}  // namespace avx2

namespace {

VIQR_KERNEL progress exchange_versions(const unsigned char *in, const unsigned char *end, unsigned char *out) {
    const __m256i capital_o_tilde = splat(tonefix::CAPITAL_O_TILDE);
    const __m256i small_a_dot_below = splat(tonefix::SMALL_A_DOT_BELOW);
    const __m256i both = _mm256_xor_si256(capital_o_tilde, small_a_dot_below);
    for (; end - in >= BLOCK; in += BLOCK, out += BLOCK) {
        const __m256i bytes = load_block(in);
        // x ^ (A ^ B) turns A into B and B into A.
        const __m256i either = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, capital_o_tilde),
                                               _mm256_cmpeq_epi8(bytes, small_a_dot_below));
        store_block(out, _mm256_xor_si256(bytes, _mm256_and_si256(either, both)));
    }
    return {in, out};
}

VIQR_KERNEL const unsigned char *skip_plain_ascii(const unsigned char *p, const unsigned char *end) {
    for (; end - p >= BLOCK; p += BLOCK) {
        const __m256i bytes = load_block(p);
        const std::uint64_t outside = mask_of(_mm256_or_si256(high_bytes(bytes), members_of(bytes, c0_letter_set)));
        if (outside != 0) return p + std::countr_zero(outside);
    }
    return p;
}

}  // namespace

const implementation avx2_kernels = {
    "avx2",
    supported,
    BLOCK,
    encode::encode_vietnamese,
    avx2::compose_run,
    from_utf8::letters_from_utf8,
    to_utf8::letters_to_utf8,
    exchange_versions,
    skip_plain_ascii,
    from_utf8_to_viqr::utf8_to_viqr,
};

}  // namespace viqr::detail
