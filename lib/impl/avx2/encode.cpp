// VISCII to VIQR (the encoder in Vietnamese mode), 32 bytes at a time.
#include <atomic>

#include "avx2.h"
#include "blocks.h"
#include "encoder_tables.h"

namespace viqr::detail::avx2 {

namespace encode {

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
// KEY_FIELD_AT[i] (the order in which put_eight finds them).  The four keep
// at most twelve characters, so the pattern's last byte writes past them,
// where the next store writes over it: it holds how many characters the
// pattern keeps, so that one load with the pattern's own index fetches it.
constexpr int KEY_FIELD_AT[4] = {0, 4, 2, 6};
constexpr int LENGTH_AT = 15;

struct alignas(16) group_packing {
    // One row of 16 bytes per key, in one flat array, so that a key
    // multiplied by 16 indexes it.
    unsigned char rows[256 * 16];

    constexpr unsigned char at(int key, int i) const { return rows[16 * key + i]; }
    constexpr unsigned length(int key) const { return at(key, LENGTH_AT); }
};

constexpr group_packing make_group_packing() {
    group_packing t{};
    for (int key = 0; key < 256; ++key) {
        int n = 0;
        for (int i = 0; i < 4; ++i)
            for (int k = 0; k < (key >> KEY_FIELD_AT[i] & 3); ++k)
                t.rows[16 * key + n++] = static_cast<unsigned char>(4 * i + k);
        for (int k = n; k < LENGTH_AT; ++k) t.rows[16 * key + k] = 0x80;  // pshufb writes 0
        t.rows[16 * key + LENGTH_AT] = static_cast<unsigned char>(n);
    }
    return t;
}
inline constexpr group_packing group_packings = make_group_packing();
constexpr bool lengths_end_before_their_byte() {
    for (int key = 0; key < 256; ++key)
        if (group_packings.length(key) >= LENGTH_AT) return false;
    return true;
}
static_assert(lengths_end_before_their_byte(), "the characters a pattern keeps end before the byte of its length");
// Lengths 1, 2, 0 and 3: key 0b11'10'00'01.
static_assert(group_packings.length(0) == 0 && group_packings.length(255) == 12 &&
                  group_packings.length(0b11'10'00'01) == 6 && group_packings.at(0b11'10'00'01, 0) == 0 &&
                  group_packings.at(0b11'10'00'01, 1) == 4 && group_packings.at(0b11'10'00'01, 2) == 5 &&
                  group_packings.at(0b11'10'00'01, 3) == 12 && group_packings.at(0b11'10'00'01, 5) == 14 &&
                  group_packings.at(0b11'10'00'01, 6) == 0x80,
              "lengths 1, 2, 0 and 3 keep 0, 4 5 and 12 to 14");

// The words turned one place up, the last coming round to the first place:
// with the first place taken from the eight before, the words of the places
// before those of `words`.
VIQR_KERNEL inline __m256i turned_up(__m256i words) {
    return _mm256_permutevar8x32_epi32(words, _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6));
}

VIQR_KERNEL inline __m256i words_before(__m256i turned, __m256i turned_earlier) {
    return _mm256_blend_epi32(turned, turned_earlier, 0x01);
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
    // Each key is taken out already multiplied by 16: the offset of its row.
    const std::uint32_t keys = lengths | lengths >> 6;
    const unsigned char *first = group_packings.rows + (keys << 4 & 0xFF0);
    const unsigned char *second = group_packings.rows + (keys >> 12 & 0xFF0);
    const __m256i pattern = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(first))),
        _mm_load_si128(reinterpret_cast<const __m128i *>(second)), 1);
    const __m256i packed = _mm256_shuffle_epi8(slots, pattern);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(packed));
    out += first[LENGTH_AT];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_extracti128_si256(packed, 1));
    return out + second[LENGTH_AT];
}

// The word of one byte in every place.
VIQR_KERNEL inline __m256i word_everywhere(unsigned char byte) {
    return _mm256_set1_epi32(static_cast<int>(spelling_words[byte]));
}

// The words of two bytes side by side, by the two bytes as they lie in
// memory (the first in the low half of the index).  With it four loads and
// three blends fetch the words of eight bytes, where a load a byte takes
// half as many instructions again.  The table takes 512 KiB, of which a
// text touches only the rows of the pairs it has: a few hundred in
// Vietnamese prose.  It is filled on the encoder's first call rather than
// at compile time: as a constant it would add its 512 KiB to every program
// and library that links the encoder, whether it encodes or not.
constexpr std::uint64_t pair_word(unsigned pair) {
    return spelling_words[pair & 0xFF] | std::uint64_t{spelling_words[pair >> 8]} << 32;
}
static_assert(std::endian::native == std::endian::little, "a pair's first byte is the low half of its index");
static_assert(pair_word(0xC3'41) == (spelling_words[0x41] | std::uint64_t{spelling_words[0xC3]} << 32));

alignas(64) std::uint64_t pair_table[65536];
// 0: empty; 1: being filled; 2: filled.  An atomic rather than a static
// local, whose guard would need the C++ runtime in C programs that link the
// static library.
std::atomic<int> pair_table_state{0};

void fill_pair_table() {
    int empty = 0;
    if (pair_table_state.compare_exchange_strong(empty, 1, std::memory_order_acquire)) {
        for (unsigned pair = 0; pair < 65536; ++pair) pair_table[pair] = pair_word(pair);
        pair_table_state.store(2, std::memory_order_release);
        return;
    }
    // Another thread is filling it, which takes a fraction of a millisecond.
    while (pair_table_state.load(std::memory_order_acquire) != 2) {
    }
}

const std::uint64_t *pair_words() {
    if (pair_table_state.load(std::memory_order_acquire) != 2) fill_pair_table();
    return pair_table;
}

VIQR_KERNEL inline __m256i pair_everywhere(const std::uint64_t *pairs, const unsigned char *bytes) {
    std::uint16_t pair;
    std::memcpy(&pair, bytes, sizeof pair);
    return _mm256_set1_epi64x(static_cast<long long>(pairs[pair]));
}

// The words of eight bytes: each pair loaded by a broadcast, which takes
// only a load port, and merged by blends, which run on any of three vector
// ports (inserting them would put a uop each on the port the packing
// shuffles need).
VIQR_KERNEL inline __m256i words_of_eight(const std::uint64_t *pairs, const unsigned char *bytes) {
    const __m256i first_four =
        _mm256_blend_epi32(pair_everywhere(pairs, bytes), pair_everywhere(pairs, bytes + 2), 0xCC);
    const __m256i last_four =
        _mm256_blend_epi32(pair_everywhere(pairs, bytes + 4), pair_everywhere(pairs, bytes + 6), 0xCC);
    return _mm256_blend_epi32(first_four, last_four, 0xF0);
}

// Spells the bytes from `in` while 64 or more are left, and stops at a block
// with the composition character (rare in VISCII text), which the reference
// doubles.  Every byte is looked up: eight words are loaded two by two and
// merged into a vector (faster than vpgatherdd, which is microcoded on many
// processors, and than storing them and loading the vector, which stalls),
// and each byte's escape is decided by the word of the byte before it.  No
// branch depends on the text within a block.  Every block has an input byte
// before it.
VIQR_KERNEL progress encode_vietnamese(const unsigned char *in, const unsigned char *end, unsigned char *out,
                                       unsigned char composition_char) {
    const __m256i composition = splat(composition_char);
    const __m256i composition_word = _mm256_set1_epi32(composition_char);
    const __m256i text_bits = _mm256_set1_epi32(TEXT_BITS);
    const std::uint64_t *const pairs = pair_words();
    __m256i turned_earlier = word_everywhere(in[-1]);
    while (end - in >= 2 * BLOCK) {
        const __m256i bytes = load_block(in);
        const __m256i escapes = _mm256_cmpeq_epi8(bytes, composition);
        if (!_mm256_testz_si256(escapes, escapes)) break;
        for (int k = 0; k < BLOCK; k += 8) {
            const __m256i words = words_of_eight(pairs, in + k);
            const __m256i turned = turned_up(words);
            out = put_eight(out, words, _mm256_and_si256(words, text_bits), words_before(turned, turned_earlier),
                            composition_word);
            turned_earlier = turned;
        }
        in += BLOCK;
    }
    return {in, out};
}

}  // namespace encode

}  // namespace viqr::detail::avx2
