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

// The composer's run a block at a time, each merging byte on its own, for
// the blocks the run below leaves alone.
namespace one_by_one {
#include "impl/generic/compose_blocks.h"
}  // namespace one_by_one

namespace run {

// ---------------------------------------------------------------------------
// What every byte of a block merges into, for all of them at once.
//
// In ASCII text a byte merges into the byte before it (a first merge: a mark
// after a letter, a D after a D) or, as a tone, into the letter that a shape
// mark just made of the byte two before it.  Neither waits on what the bytes
// before did, but for a D after a D that merged (see
// only_ds_merge_into_a_merged_byte).  So each is one look-up by what the two
// bytes are, in tables of 16 or 64 entries (pshufb): a byte's kind is found by
// a hash of its two halves, and the letter by a number that the kinds of the
// two bytes add up to.

constexpr bool is_tone_byte(int b) { return merging_index[b] != 0 && is_tone_class(default_classes[b]); }
constexpr bool is_shape_byte(int b) { return merging_index[b] != 0 && is_shape_class(default_classes[b]); }
constexpr bool is_stroke_byte(int b) { return merging_index[b] != 0 && !is_tone_byte(b) && !is_shape_byte(b); }
constexpr int tone_of(int b) { return (mark_bits[default_classes[b]] & TONE_MASK) - 1; }  // 0 to 4
constexpr int shape_of(int b) { return default_classes[b] - FIRST_SHAPE_CLASS; }          // 0 to 2
constexpr unsigned char merged(int before, int b) { return merged_after[before][merging_index[b]]; }

constexpr bool takes_tones(int b) {
    for (int t = TONE_ACUTE; t < TONE_COUNT; ++t)
        if (merged(b, tone_mark_char[t]) == 0) return false;
    return true;
}
constexpr bool takes_a_first_merge(int b) {
    for (unsigned char m : merging_bytes)
        if (merged(b, m) != 0) return true;
    return false;
}

// The ASCII bytes that a first merge goes into (the letters) and the bytes
// that merge (the marks and D).
constexpr std::size_t count_of(bool (*member)(int)) {
    std::size_t n = 0;
    for (int b = 0; b < 0x80; ++b) n += member(b);
    return n;
}
template <std::size_t N>
constexpr std::array<unsigned char, N> bytes_where(bool (*member)(int)) {
    std::array<unsigned char, N> bytes{};
    std::size_t n = 0;
    for (int b = 0; b < 0x80; ++b)
        if (member(b)) bytes[n++] = static_cast<unsigned char>(b);
    return bytes;
}
constexpr auto merge_letters = bytes_where<count_of(takes_a_first_merge)>(takes_a_first_merge);
static_assert(merging_bytes.back() < 0x80, "every merging byte is ASCII");

// A hash of a byte below 0x80 into four bits, the low half of the byte
// xor a value for its high half, that gives each member of a set a place of
// its own.  From 0x80 on the value for the high half sets the top bit, so
// that pshufb finds nothing.
struct nibble_hash {
    std::array<unsigned char, 16> high{};
    bool found = false;

    constexpr int of(int b) const { return (b & 15) ^ high[b >> 4]; }
};

template <std::size_t N>
constexpr bool places_apart(const nibble_hash &h, const std::array<unsigned char, N> &members, int upto_high) {
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t k = 0; k < i; ++k)
            if ((members[i] >> 4) <= upto_high && (members[k] >> 4) <= upto_high &&
                h.of(members[i]) == h.of(members[k]))
                return false;
    return true;
}

// Tries the values of the high halves in turn, backing up on a clash.
template <std::size_t N>
constexpr bool search_hash(nibble_hash &h, const std::array<unsigned char, N> &members, int high) {
    if (high == 8) return true;
    for (int v = 0; v < 16; ++v) {
        h.high[high] = static_cast<unsigned char>(v);
        if (places_apart(h, members, high) && search_hash(h, members, high + 1)) return true;
    }
    return false;
}

template <std::size_t N>
constexpr nibble_hash make_hash(const std::array<unsigned char, N> &members) {
    nibble_hash h;
    h.found = search_hash(h, members, 0);
    for (int high = 8; high < 16; ++high) h.high[high] = 0x80;
    return h;
}

constexpr nibble_hash letter_hash = make_hash(merge_letters);
constexpr nibble_hash merging_hash = make_hash(merging_bytes);
static_assert(letter_hash.found && merging_hash.found, "the letters and the merging bytes hash apart");

using table16 = std::array<unsigned char, 16>;

// A value for each member of a set, at its place in the hash.
template <std::size_t N, class Value>
constexpr table16 by_hash(const nibble_hash &h, const std::array<unsigned char, N> &members, Value value) {
    table16 t{};
    for (unsigned char m : members) t[h.of(m)] = static_cast<unsigned char>(value(m));
    return t;
}

// Each member at its place, and 0xFF at the places of none, which no byte
// that hashes there is (0xFF hashes past them).
template <std::size_t N>
constexpr table16 key_of(const nibble_hash &h, const std::array<unsigned char, N> &members) {
    table16 t{};
    t.fill(0xFF);
    for (unsigned char m : members) t[h.of(m)] = m;
    return t;
}

// The letters that take the tones, numbered from 0, and the letters the
// shape marks make, numbered from 0 so that a letter's number plus the
// shape's is the shaped letter's (assigned below); the two Ds come after
// them.
constexpr int tone_letter_number(int b) {
    int n = 0;
    for (int x = 0; x < b; ++x) n += takes_tones(x);
    return n;
}
constexpr int TONE_LETTERS = tone_letter_number(0x80);

struct shape_numbers {
    std::array<int, 0x80> letter{};  // a letter's number; its shaped letters are at letter + shape
    int shaped = 0;                  // how many shaped letters
    bool fits = true;
};

constexpr shape_numbers number_shapes() {
    shape_numbers n;
    std::array<bool, 16> used{};
    for (unsigned char b : merge_letters) {
        bool any = false;
        for (unsigned char m : merging_bytes) any = any || (is_shape_byte(m) && merged(b, m) != 0);
        if (!any) continue;
        int at = 0;
        for (;; ++at) {
            bool free = true;
            for (unsigned char m : merging_bytes)
                if (is_shape_byte(m) && merged(b, m) != 0) free = free && at + shape_of(m) < 16 && !used[at + shape_of(m)];
            if (free || at >= 16) break;
        }
        n.letter[b] = at;
        for (unsigned char m : merging_bytes)
            if (is_shape_byte(m) && merged(b, m) != 0) {
                if (at + shape_of(m) >= 16) n.fits = false;
                else used[at + shape_of(m)] = true;
            }
    }
    for (int s = 0; s < 16; ++s) n.shaped = used[s] ? s + 1 : n.shaped;
    return n;
}
constexpr shape_numbers shape_number = number_shapes();

// A second D has the column STROKE_COLUMN; D and d are numbered so that
// their Đ and đ come after the shaped letters.
constexpr int STROKE_COLUMN = SHAPE_MARK_COUNT;
constexpr int stroke_letter_number(int b) { return shape_number.shaped - STROKE_COLUMN + ((b & 0x20) != 0); }
constexpr int SHAPED_AND_STROKED = shape_number.shaped + 2;
static_assert(shape_number.fits && SHAPED_AND_STROKED <= 16 && TONE_LETTERS * (TONE_COUNT - 1) <= 64 &&
                  shape_number.shaped * (TONE_COUNT - 1) <= 64,
              "the shaped letters and Đ, đ in one table of 16; each letter of a tone table under every tone in 64");

// What the letter tables give the look-ups.
constexpr auto letter_key = key_of(letter_hash, merge_letters);
constexpr auto letter_accepts = by_hash(letter_hash, merge_letters, [](int b) { return accept_mask[default_classes[b]]; });
constexpr auto letter_tone_row = by_hash(letter_hash, merge_letters, [](int b) {
    return takes_tones(b) ? (TONE_COUNT - 1) * tone_letter_number(b) : 0;
});
constexpr auto letter_shape_row = by_hash(letter_hash, merge_letters, [](int b) {
    return is_stroke_byte(b) ? stroke_letter_number(b) : shape_number.letter[b];
});
constexpr auto mark_key = key_of(merging_hash, merging_bytes);
constexpr auto mark_bits_of = by_hash(merging_hash, merging_bytes, [](int b) { return mark_bits[default_classes[b]]; });
constexpr auto mark_tone = by_hash(merging_hash, merging_bytes, [](int b) { return is_tone_byte(b) ? tone_of(b) : 0; });
constexpr auto mark_column = by_hash(merging_hash, merging_bytes, [](int b) {
    return is_shape_byte(b) ? shape_of(b) : is_stroke_byte(b) ? STROKE_COLUMN : 0;
});

// The letters a mark makes: a tone on a letter, and a shape or a second D.
constexpr std::array<unsigned char, 64> toned_letters = [] {
    std::array<unsigned char, 64> t{};
    for (unsigned char b : merge_letters)
        for (unsigned char m : merging_bytes)
            if (takes_tones(b) && is_tone_byte(m))
                t[(TONE_COUNT - 1) * tone_letter_number(b) + tone_of(m)] = merged(b, m);
    return t;
}();
constexpr table16 shaped_letters = [] {
    table16 t{};
    for (unsigned char b : merge_letters)
        for (unsigned char m : merging_bytes) {
            if (is_shape_byte(m) && merged(b, m) != 0) t[shape_number.letter[b] + shape_of(m)] = merged(b, m);
            if (is_stroke_byte(b) && is_stroke_byte(m)) t[stroke_letter_number(b) + STROKE_COLUMN] = merged(b, m);
        }
    return t;
}();
// A tone on a shaped letter, by the shaped letter's number.
constexpr std::array<unsigned char, 64> toned_shaped_letters = [] {
    std::array<unsigned char, 64> t{};
    for (unsigned char b : merge_letters)
        for (unsigned char s : merging_bytes)
            if (is_shape_byte(s) && merged(b, s) != 0)
                for (unsigned char m : merging_bytes)
                    if (is_tone_byte(m))
                        t[(TONE_COUNT - 1) * (shape_number.letter[b] + shape_of(s)) + tone_of(m)] = merged(merged(b, s), m);
    return t;
}();
constexpr table16 times_tones = [] {
    table16 t{};
    for (int s = 0; s < 16; ++s) t[s] = static_cast<unsigned char>(s < shape_number.shaped ? (TONE_COUNT - 1) * s : 0);
    return t;
}();

// A byte is found at its place in a hash exactly when it is a member.
template <std::size_t N>
constexpr bool keys_tell_members(const nibble_hash &h, const table16 &key, const std::array<unsigned char, N> &members) {
    for (int b = 0; b < 256; ++b) {
        bool member = false;
        for (unsigned char m : members) member = member || m == b;
        if (member != (h.of(b) < 16 && key[h.of(b)] == b)) return false;
    }
    return true;
}
static_assert(keys_tell_members(letter_hash, letter_key, merge_letters) &&
              keys_tell_members(merging_hash, mark_key, merging_bytes));

// The tables above hold every merge: each merging byte after each letter,
// and each after that, is found in them as the look-ups below find it, and
// nothing merges into any other ASCII byte.
constexpr unsigned char first_merge(int before, int b) {
    const int lp = letter_hash.of(before), mp = merging_hash.of(b);
    if ((letter_accepts[lp] & mark_bits_of[mp]) == 0) return 0;
    return is_tone_byte(b) ? toned_letters[letter_tone_row[lp] + mark_tone[mp]]
                           : shaped_letters[letter_shape_row[lp] + mark_column[mp]];
}
constexpr bool tables_hold_every_merge() {
    for (int before = 0; before < 0x80; ++before)
        for (unsigned char b : merging_bytes)
            if (!takes_a_first_merge(before) && merged(before, b) != 0) return false;
    for (unsigned char before : merge_letters)
        for (unsigned char b : merging_bytes) {
            if (first_merge(before, b) != merged(before, b)) return false;
            const unsigned char made = merged(before, b);
            if (made == 0) continue;
            for (unsigned char m : merging_bytes) {
                const bool shape_then_tone = is_shape_byte(b) && is_tone_byte(m);
                const int lp = letter_hash.of(before), mp = merging_hash.of(b), tp = merging_hash.of(m);
                const unsigned char found =
                    shape_then_tone
                        ? toned_shaped_letters[times_tones[letter_shape_row[lp] + mark_column[mp]] + mark_tone[tp]]
                        : 0;
                if (merged(made, m) != found) return false;
            }
        }
    return true;
}
static_assert(tables_hold_every_merge());

// A D that merged is followed by a D that does not, which a first merge
// cannot tell: a block with two merging Ds running goes byte by byte.
constexpr bool only_ds_merge_into_a_merged_byte() {
    for (int x = 0; x < 0x80; ++x)
        for (unsigned char m1 : merging_bytes)
            for (unsigned char m2 : merging_bytes)
                if (merged(x, m1) != 0 && merged(m1, m2) != 0 && !(is_stroke_byte(m1) && is_stroke_byte(m2)))
                    return false;
    return true;
}
static_assert(only_ds_merge_into_a_merged_byte());

// Entries 16 * q to 16 * q + 15 of a table, in each half of a vector.
VIQR_KERNEL inline __m256i quarter_of(const std::array<unsigned char, 64> &t, int q) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t.data() + 16 * q)));
}

// The entries of a table of 64 at indexes below 64.
VIQR_KERNEL inline __m256i look_up64(const std::array<unsigned char, 64> &t, __m256i index) {
    // blendv reads the top bit of each byte: bit 4 of the index shifted
    // there, then bit 5 (what a 16-bit shift brings in from the byte below
    // stays under the top bit).
    const __m256i bit4 = _mm256_slli_epi16(index, 3), bit5 = _mm256_slli_epi16(index, 2);
    const __m256i low = _mm256_blendv_epi8(_mm256_shuffle_epi8(quarter_of(t, 0), index),
                                           _mm256_shuffle_epi8(quarter_of(t, 1), index), bit4);
    const __m256i high = _mm256_blendv_epi8(_mm256_shuffle_epi8(quarter_of(t, 2), index),
                                            _mm256_shuffle_epi8(quarter_of(t, 3), index), bit4);
    return _mm256_blendv_epi8(low, high, bit5);
}

// A byte's place in a hash, and whether the byte is the member there.
struct hashed {
    __m256i place, member;
};

VIQR_KERNEL inline hashed hash_of(__m256i bytes, const nibble_hash &h, const table16 &key) {
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), splat(0x0F));
    const __m256i place = _mm256_xor_si256(_mm256_shuffle_epi8(table_of(h.high), high), _mm256_and_si256(bytes, splat(0x0F)));
    return {place, _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table_of(key), place), bytes)};
}

VIQR_KERNEL inline __m256i look_up(const table16 &t, __m256i place) { return _mm256_shuffle_epi8(table_of(t), place); }

// Moves the bytes of `v` one place up, byte 31 of `before` coming in.
VIQR_KERNEL inline __m256i up_one(__m256i v, __m256i before) {
    return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(before, v, 0x21), 15);
}

// Where the kept bytes of 8 come from, for pshufb (0x80 past the last).
constexpr auto keep_shuffles = [] {
    std::array<std::array<unsigned char, 8>, 256> t{};
    for (int m = 0; m < 256; ++m) {
        int n = 0;
        for (int i = 0; i < 8; ++i)
            if ((m >> i) & 1) t[m][n++] = static_cast<unsigned char>(i);
        for (; n < 8; ++n) t[m][n] = 0x80;
    }
    return t;
}();

// Writes the bytes of `v` whose bits are set in `kept`, in order; returns
// the end.  Writes up to 32 bytes.
VIQR_KERNEL inline unsigned char *put_kept(unsigned char *o, __m256i v, std::uint32_t kept) {
    const __m128i halves[2] = {_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)};
    for (int h = 0; h < 2; ++h) {
        const unsigned low = (kept >> (16 * h)) & 0xFF, high = (kept >> (16 * h + 8)) & 0xFF;
        std::uint64_t first, second;
        std::memcpy(&first, keep_shuffles[low].data(), 8);
        std::memcpy(&second, keep_shuffles[high].data(), 8);
        // The second eight come from bytes 8 to 15; 0x80 stays past the top.
        const __m128i shuffle = _mm_set_epi64x(static_cast<long long>(second | 0x0808080808080808u), static_cast<long long>(first));
        const __m128i kept_bytes = _mm_shuffle_epi8(halves[h], shuffle);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(o), kept_bytes);
        o += std::popcount(low);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(o), _mm_unpackhi_epi64(kept_bytes, kept_bytes));
        o += std::popcount(high);
    }
    return o;
}

// Where a block's run ends and where it makes letter breaks (see run_stop):
// a stop byte ends it unless the byte after it is in sight and not one of
// the ends.
struct block_reach {
    int upto = static_cast<int>(BLOCK);
    std::uint32_t breaks = 0;
};

VIQR_KERNEL inline block_reach reach_of(__m256i bytes, std::uint32_t stops, const run_stop &stop) {
    block_reach reach;
    std::uint32_t ending = stops;
    if (stop.letter_breaks) {
        __m256i ends = _mm256_setzero_si256();
        for (unsigned char e : stop.ends) ends = _mm256_or_si256(ends, _mm256_cmpeq_epi8(bytes, splat(e)));
        ending = stops & ((static_cast<std::uint32_t>(mask_of(ends)) >> 1) | (1u << (BLOCK - 1)));
    }
    if (ending != 0) reach.upto = std::countr_zero(ending);
    reach.breaks = stops & ~ending & ((ending & (0u - ending)) - 1);
    return reach;
}

// What a block makes of its bytes: the letter each merge makes, at the
// place of the byte that made it, and which bytes merged; what the block
// hands the next.
struct block_merges {
    __m256i letters;
    std::uint32_t merged;   // the bytes that merged into the letter before them
    std::uint32_t strokes;  // the Ds that merged
    __m256i shape_places;   // the shaped letter each byte makes, by number
    __m256i shapes_made;    // 0xFF where a shape mark merged
};

constexpr table16 tone_marks = by_hash(merging_hash, merging_bytes, [](int b) { return is_tone_byte(b) ? 0xFF : 0; });
constexpr table16 shape_marks = by_hash(merging_hash, merging_bytes, [](int b) { return is_shape_byte(b) ? 0xFF : 0; });

// The letters of an ASCII block: `bytes` from `in`, `before` from in - 1.
// The last two fields of the block before (byte 31) come in as `last`.
VIQR_KERNEL inline block_merges merges_of(__m256i bytes, __m256i before, const block_merges &last) {
    const __m256i zero = _mm256_setzero_si256();
    const hashed letter = hash_of(before, letter_hash, letter_key);
    const hashed mark = hash_of(bytes, merging_hash, mark_key);
    const __m256i bits = _mm256_and_si256(look_up(mark_bits_of, mark.place), mark.member);
    const __m256i accepts = _mm256_and_si256(look_up(letter_accepts, letter.place), letter.member);
    const __m256i no_first = _mm256_cmpeq_epi8(_mm256_and_si256(accepts, bits), zero);
    const __m256i tone = look_up(mark_tone, mark.place);
    const __m256i is_tone = look_up(tone_marks, mark.place);  // for the members

    // A first merge: a tone on a letter, or a shape, or a second D.
    const __m256i shape_places = _mm256_add_epi8(look_up(letter_shape_row, letter.place), look_up(mark_column, mark.place));
    const __m256i toned = look_up64(toned_letters, _mm256_add_epi8(look_up(letter_tone_row, letter.place), tone));
    const __m256i first = _mm256_blendv_epi8(look_up(shaped_letters, shape_places), toned, is_tone);

    // A tone after a shape mark that merged.
    const __m256i shapes_made = _mm256_andnot_si256(no_first, look_up(shape_marks, mark.place));
    const __m256i after_shape = _mm256_and_si256(_mm256_and_si256(up_one(shapes_made, last.shapes_made), is_tone), mark.member);
    const __m256i made_before = up_one(shape_places, last.shape_places);
    const __m256i toned_shaped = look_up64(toned_shaped_letters, _mm256_add_epi8(look_up(times_tones, made_before), tone));

    // No byte is both: a tone after a shape follows a mark, and a first merge
    // follows a letter.
    const __m256i merges = _mm256_andnot_si256(no_first, _mm256_set1_epi8(-1));
    const __m256i letters = _mm256_blendv_epi8(_mm256_blendv_epi8(bytes, first, merges), toned_shaped, after_shape);
    const auto firsts = static_cast<std::uint32_t>(mask_of(merges));
    return {letters, firsts | static_cast<std::uint32_t>(mask_of(after_shape)),
            firsts & static_cast<std::uint32_t>(mask_of(_mm256_cmpeq_epi8(bits, splat(MARK_STROKE)))), shape_places,
            shapes_made};
}

// The composer's run 32 bytes at a time, with no branch on which bytes
// merge: the letters a block makes are looked up for all its bytes at once
// (merges_of), each in place of the mark that made it, and the letters the
// marks merged into are left out, with the bytes that make letter breaks.
// A merge at the block's start leaves out the byte written before it.
// Blocks with a byte from 0x80 on (a VISCII letter typed whole) or two
// merging Ds running go one merging byte at a time.
VIQR_KERNEL progress compose_run(const unsigned char *in, const unsigned char *end, unsigned char *o,
                                 const unsigned char *o_limit, const run_stop &stop) {
    const __m256i zero = _mm256_setzero_si256();
    block_merges last{};
    bool settled = false;  // whether `last` is the block before's
    while (end - in >= 2 * BLOCK && o < o_limit) {
        const __m256i bytes = load_block(in), before = load_block(in - 1);
        if (!settled) {
            // What the two bytes before `in` made, as byte 31 of a block.
            const __m256i pair = _mm256_insert_epi8(zero, static_cast<char>(in[-1]), 31);
            const __m256i pair_before = _mm256_insert_epi8(zero, static_cast<char>(in[-2]), 31);
            last = merges_of(pair, pair_before, block_merges{zero, 0, 0, zero, zero});
            settled = true;
        }
        const auto stops = static_cast<std::uint32_t>(mask_of(_mm256_cmpeq_epi8(bytes, splat(stop.byte))));
        const block_reach reach = stops == 0 ? block_reach{} : reach_of(bytes, stops, stop);
        const std::uint32_t in_reach = reach.upto == BLOCK ? ~0u : (1u << reach.upto) - 1;
        const block_merges m = merges_of(bytes, before, last);
        const std::uint32_t strokes_running = m.strokes & ((m.strokes << 1) | (last.strokes >> (BLOCK - 1)));
        if (((strokes_running & in_reach) | mask_of(_mm256_or_si256(bytes, before))) != 0) [[unlikely]] {
            const progress one = one_by_one::compose_run(in, in + 2 * BLOCK, o, o_limit, stop);
            if (one.in != in + BLOCK) return one;
            in = one.in;
            o = one.out;
            settled = false;
            continue;
        }
        // A merge at or past a stop byte is not the run's.
        const std::uint32_t merged = m.merged & in_reach;
        o -= merged & 1;
        o = put_kept(o, m.letters, ~((merged >> 1) | reach.breaks) & in_reach);
        in += reach.upto;
        last = m;
        if (reach.upto != BLOCK) break;
    }
    return {in, o};
}

}  // namespace run

}  // namespace

namespace avx2 {

VIQR_KERNEL progress compose_run(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                 const unsigned char *out_limit, const run_stop &stop) {
    return run::compose_run(in, end, out, out_limit, stop);
}

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
