// The evidence that a reading of a text is Vietnamese, as data: what kind of
// character each code point is, the weights of what a reading shows, and a
// reader that goes through the decoded text once, cutting it into words and
// asking the typed reader's syllable rules (syllables.h) about each.
//
// A right reading of a Vietnamese file is made of syllables with their tones
// where the rules put them.  A wrong one shows letters that make no syllable
// (TCVN3 read as VISCII: "Céng"), capitals inside words ("kÕt"), symbols
// that text hardly ever holds (º, ¶, a soft hyphen), control characters and
// bytes the encoding does not define.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "syllables.h"
#include "unicode_letters.h"
#include "viscii_letters.h"

namespace viqr::detail {

// ---------------------------------------------------------------------------
// The weights, all in one place.  A reading's score is the sum of its counts
// times these; the best score wins.

// A word with a Vietnamese letter beyond ASCII that makes a well-formed
// syllable: the evidence that counts.
inline constexpr double WEIGHT_SYLLABLE = 4.0;
// A plain ASCII word: neutral.  Every reading sees it alike (cho, nam and
// khi as much as English words, names and commands), so it is not put to
// the syllable rules at all, which keeps long ASCII stretches cheap.  So is a capital with a tone standing
// alone: Vietnamese has a few such words (Ở, Ý), but it is also what VN1's
// table makes of the dashes and quotes TCVN3 keeps at 0x80..0x9F.
inline constexpr double WEIGHT_ASCII_WORD = 0.0;
// A word with Vietnamese letters that makes no syllable: an impossible tone,
// a letter in the wrong place.
inline constexpr double WEIGHT_BAD_WORD = -5.0;
// A word with a Latin letter Vietnamese does not have (ä, ß, ñ, ł).
inline constexpr double WEIGHT_FOREIGN_WORD = -4.0;
// A capital after a small letter inside a word that has letters beyond
// ASCII ("kÕt", "mÒm"): the mark of bytes read in the wrong table.
inline constexpr double WEIGHT_CASE_BREAK = -6.0;
// Letters of two scripts in one word.
inline constexpr double WEIGHT_MIXED_SCRIPT = -6.0;
// Punctuation beyond ASCII pressed against a letter on the side where it
// cannot stand ("kh«ng", "„n", a closing quote before a word).
inline constexpr double WEIGHT_GLUED_PUNCTUATION = -5.0;
// A symbol text hardly ever holds.
inline constexpr double WEIGHT_RARE_SYMBOL = -4.0;
// A control character other than the usual white space.
inline constexpr double WEIGHT_CONTROL = -8.0;
// A byte the encoding does not define, or invalid UTF-8 (U+FFFD).
inline constexpr double WEIGHT_UNDEFINED = -10.0;

// VIQR is seven-bit: it is the one reading of a text without a byte beyond
// ASCII (which every other reading takes for ASCII), and no reading of any
// other text.
inline constexpr const char *SEVEN_BIT_CANDIDATE = "viqr";
// Seven-bit text with numeric character references ("&#7879;", "&#x1EC7;")
// is also read as NCR, an HTML page's way to hold Vietnamese in ASCII.
inline constexpr const char *REFERENCES_CANDIDATE = "ncr";

// The readings detection tries, in the order that settles a tie (the same
// score: the same text, such as lower-case TCVN3 and VN1), each with a
// prior added to its score: encodings that few files use must read clearly
// better than a common one before they are named.
struct candidate_rule {
    const char *name;
    double prior;
};

inline constexpr double PRIOR_COMMON = 0.0;
inline constexpr double PRIOR_RARE = -4.0;  // one syllable's worth

inline constexpr candidate_rule candidate_table[] = {
    {"utf-8", PRIOR_COMMON},           {"tcvn3", PRIOR_COMMON},           {"vni", PRIOR_COMMON},
    {"viscii", PRIOR_COMMON},          {"cp1258", PRIOR_COMMON},
    {"utf-8-as-cp1252", PRIOR_COMMON}, {"tcvn3-as-cp1252", PRIOR_COMMON}, {"vni-as-cp1252", PRIOR_COMMON},
    {"vn1", PRIOR_RARE},               {"vps", PRIOR_RARE},               {"viscii-1.0", PRIOR_RARE},
};

// The verdict.  A Vietnamese reading needs this many syllables beyond ASCII
// and this confidence; fewer is too thin to name (one word, a few bytes).
inline constexpr unsigned MIN_SYLLABLES = 3;
inline constexpr int MIN_CONFIDENCE = 70;
// Valid UTF-8 that reads as no Vietnamese is still UTF-8, given this many
// characters beyond ASCII.
inline constexpr unsigned UTF8_MIN_CHARACTERS = 3;
// Plain ASCII needs this many words to be named ascii rather than unknown.
inline constexpr unsigned ASCII_MIN_WORDS = 3;
// A text whose best reading has fewer words than this, and too few
// syllables, is too little to tell, rather than a text no reading fits.
inline constexpr unsigned THIN_WORDS = 8;
// Reading stops early once the best reading has this many syllables and
// leads the next different one by this score.
inline constexpr unsigned DECISIVE_SYLLABLES = 48;
inline constexpr double DECISIVE_LEAD = 60.0;
// ... or once even the best reading shows this much nonsense at under this
// confidence: text in another language, which more of it will not change.
inline constexpr unsigned DECISIVE_NONSENSE = 64;
inline constexpr int DECISIVE_NO_FIT_CONFIDENCE = 30;

// ---------------------------------------------------------------------------
// What kind of character a code point is.

enum class char_kind : unsigned char {
    space,         // white space: ends a word
    neutral,       // ASCII punctuation and digits, common punctuation beyond ASCII: ends a word
    opening,       // punctuation beyond ASCII that may stand before a word (“ ‘ «)
    closing,       // punctuation beyond ASCII that may stand after a word (” ’ » …)
    punctuation,   // other punctuation beyond ASCII: odd when it touches a letter
    letter,        // ASCII letter or Vietnamese letter
    mark,          // one of the eight combining marks of Vietnamese
    foreign,       // a Latin letter Vietnamese does not have, or another combining mark
    other_script,  // a letter of another script (Greek, Cyrillic, CJK ...)
    rare,          // a symbol text hardly ever holds
    control,       // C0 but white space, DEL, C1
    undefined,     // U+FFFD: what decoders write for a byte they do not define
};

// The Latin-1 symbols that real text uses; the others are rare.
inline constexpr char32_t common_latin1_symbols[] = {0xA1, 0xA3, 0xA7, 0xA9, 0xAB, 0xAE, 0xB0, 0xB7, 0xBB, 0xBF};
// Punctuation that opens or closes a phrase, and may touch a word on that
// side.
inline constexpr char32_t opening_punctuation[] = {0xA1, 0xAB, 0xBF, 0x2018, 0x201C};
inline constexpr char32_t closing_punctuation[] = {0xBB, 0x2019, 0x201D, 0x2026};
// Beyond Latin-1, the rare signs of Windows-1252's 0x80..0x9F: what a wrong
// table shows for the capitals some encodings keep there.
inline constexpr char32_t rare_signs[] = {0x02C6, 0x02DC, 0x201A, 0x201E, 0x2020, 0x2021, 0x2030, 0x2039, 0x203A, 0x2122};

namespace evidence_tables {

constexpr bool listed(char32_t cp, const char32_t *first, const char32_t *last) {
    for (; first != last; ++first)
        if (*first == cp) return true;
    return false;
}

constexpr bool is_vietnamese_beyond_ascii(char32_t cp) {
    if (cp < LOW_LETTERS_END) return cp >= 0x80 && viscii_of_low[cp] != 0;
    return cp >= HIGH_LETTERS_FIRST && cp < HIGH_LETTERS_END && viscii_of_high[cp - HIGH_LETTERS_FIRST] != 0;
}

constexpr char_kind punctuation_kind(char32_t cp) {
    if (listed(cp, std::begin(opening_punctuation), std::end(opening_punctuation))) return char_kind::opening;
    if (listed(cp, std::begin(closing_punctuation), std::end(closing_punctuation))) return char_kind::closing;
    return char_kind::punctuation;
}

constexpr char_kind latin1_kind(char32_t cp) {
    if (cp == '\t' || cp == '\n' || cp == '\r' || cp == '\f' || cp == '\v' || cp == ' ' || cp == 0xA0)
        return char_kind::space;
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) return char_kind::control;
    if ((cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z')) return char_kind::letter;
    if (cp < 0x80) return char_kind::neutral;
    if (cp == 0xD7 || cp == 0xF7) return char_kind::rare;  // × ÷
    if (cp >= 0xC0) return is_vietnamese_beyond_ascii(cp) ? char_kind::letter : char_kind::foreign;
    if (!listed(cp, std::begin(common_latin1_symbols), std::end(common_latin1_symbols))) return char_kind::rare;
    return punctuation_kind(cp);
}

constexpr std::array<char_kind, 256> make_latin1_kinds() {
    std::array<char_kind, 256> table{};
    for (char32_t cp = 0; cp < 256; ++cp) table[cp] = latin1_kind(cp);
    return table;
}

}  // namespace evidence_tables

inline constexpr std::array<char_kind, 256> latin1_kinds = evidence_tables::make_latin1_kinds();

constexpr char_kind kind_of(char32_t cp) {
    using namespace evidence_tables;
    if (cp < 0x100) return latin1_kinds[cp];
    if (is_vietnamese_beyond_ascii(cp)) return char_kind::letter;
    if (listed(cp, std::begin(rare_signs), std::end(rare_signs))) return char_kind::rare;
    if (cp >= FIRST_COMBINING && cp < 0x370) return combining_mark_of(cp) != NO_MARK ? char_kind::mark : char_kind::foreign;
    if (cp < 0x300) return cp < 0x250 ? char_kind::foreign : char_kind::other_script;  // Latin Extended, IPA
    if (cp < 0x2000) return char_kind::other_script;     // Greek, Cyrillic, Hebrew, Arabic, Indic ...
    if (cp < 0x2070) return cp == 0x2028 || cp == 0x2029 ? char_kind::space : punctuation_kind(cp);
    if (cp < 0x2E00) return char_kind::punctuation;       // currency, letterlike, arrows, maths, boxes
    if (cp == 0xFFFD || cp >= 0x110000) return char_kind::undefined;  // beyond: a decoder's mark for a byte
    if (cp >= 0xE000 && cp < 0xF900) return char_kind::rare;  // private use
    if (cp >= 0xFE00 && cp < 0xFFF0) return char_kind::punctuation;
    if (cp >= 0xFFF0 && cp < 0x10000) return char_kind::rare;
    return char_kind::other_script;  // CJK and the rest
}

static_assert(kind_of('a') == char_kind::letter && kind_of(0x1EC7) == char_kind::letter && kind_of(0x01B0) == char_kind::letter);
static_assert(kind_of(0xE4) == char_kind::foreign && kind_of(0x0142) == char_kind::foreign && kind_of(0xDF) == char_kind::foreign);
static_assert(kind_of(0x0323) == char_kind::mark && kind_of(0x0308) == char_kind::foreign);
static_assert(kind_of(0xBA) == char_kind::rare && kind_of(0xAD) == char_kind::rare && kind_of(0xAB) == char_kind::opening);
static_assert(kind_of(0x201D) == char_kind::closing && kind_of(0x2013) == char_kind::punctuation && kind_of(0x02DC) == char_kind::rare);
static_assert(kind_of(0x81) == char_kind::control && kind_of(0xFFFD) == char_kind::undefined && kind_of(0x0410) == char_kind::other_script);

// A letter as the syllable rules spell it: the lower-case letter class of a
// Vietnamese letter (viscii_letters.h), or a lower-case ASCII byte; its tone;
// and whether it was a capital.
struct spelled_letter {
    unsigned char symbol;
    unsigned char tone;
    bool capital;
};

namespace evidence_tables {

// The letter of every VISCII byte that is one.
constexpr std::array<spelled_letter, 256> make_viscii_spellings() {
    std::array<spelled_letter, 256> table{};
    for (int b = 'a'; b <= 'z'; ++b) table[b] = {static_cast<unsigned char>(b), TONE_NONE, false};
    for (int b = 'A'; b <= 'Z'; ++b) table[b] = {static_cast<unsigned char>(b - 'A' + 'a'), TONE_NONE, true};
    for_each_letter([&](int cls, int tone, unsigned char code) {
        const bool capital = cls <= CASE_DISTANCE;
        table[code] = {static_cast<unsigned char>(capital ? cls + CASE_DISTANCE : cls), static_cast<unsigned char>(tone),
                       capital};
    });
    return table;
}

}  // namespace evidence_tables

inline constexpr std::array<spelled_letter, 256> viscii_spellings = evidence_tables::make_viscii_spellings();

// The letter of a code point of kind `letter`.
constexpr spelled_letter spelling_of(char32_t cp) {
    if (cp < 0x80) return viscii_spellings[cp];
    const unsigned char byte = cp < LOW_LETTERS_END ? viscii_of_low[cp] : viscii_of_high[cp - HIGH_LETTERS_FIRST];
    return viscii_spellings[byte];
}

static_assert(spelling_of('d').symbol == 15 && spelling_of(0x0110).symbol == 19 && spelling_of(0x0110).capital);
static_assert(spelling_of(0x1EC7).tone == TONE_DOT && spelling_of(0x1EC7).symbol == 22 && spelling_of('q').symbol == 'q');

// ---------------------------------------------------------------------------
// The reader.

// What one reading of a text shows.
struct evidence {
    unsigned syllables = 0;        // words with letters beyond ASCII that make a syllable
    unsigned ascii_words = 0;      // plain ASCII words
    unsigned lone_capitals = 0;    // a capital with a tone alone (Ở, Ý): a word, but no evidence
    unsigned bad_words = 0;
    unsigned foreign_words = 0;
    unsigned case_breaks = 0;
    unsigned mixed_scripts = 0;
    unsigned glued_punctuation = 0;
    unsigned rare_symbols = 0;
    unsigned controls = 0;
    unsigned undefined = 0;
    unsigned precomposed = 0;     // Vietnamese letters beyond ASCII written as one code point
    unsigned combining = 0;       // Vietnamese combining marks after a letter
    unsigned beyond_ascii = 0;    // code points beyond ASCII
};

constexpr double score(const evidence &e) {
    return WEIGHT_SYLLABLE * e.syllables + WEIGHT_ASCII_WORD * e.ascii_words + WEIGHT_BAD_WORD * e.bad_words +
           WEIGHT_FOREIGN_WORD * e.foreign_words + WEIGHT_CASE_BREAK * e.case_breaks +
           WEIGHT_MIXED_SCRIPT * e.mixed_scripts + WEIGHT_GLUED_PUNCTUATION * e.glued_punctuation +
           WEIGHT_RARE_SYMBOL * e.rare_symbols + WEIGHT_CONTROL * e.controls + WEIGHT_UNDEFINED * e.undefined;
}

// Every word of a reading.
constexpr unsigned words(const evidence &e) {
    return e.syllables + e.ascii_words + e.lone_capitals + e.bad_words + e.foreign_words +
           e.case_breaks + e.mixed_scripts;
}

// An undefined byte is the surest sign of a wrong table: it counts as this
// many pieces of nonsense.
inline constexpr unsigned UNDEFINED_NONSENSE = 5;

// What reads as nonsense in a reading: every count with a negative weight.
constexpr unsigned nonsense(const evidence &e) {
    return e.bad_words + e.foreign_words + e.case_breaks + e.mixed_scripts + e.glued_punctuation +
           e.rare_symbols + e.controls + UNDEFINED_NONSENSE * e.undefined;
}

// Whether a lone letter may stand with `cp` before or after it: white space,
// the start or end of the text, or punctuation that opens (before) or ends
// (after) a phrase.
constexpr bool lone_letter_may_follow(char32_t cp) {
    const char_kind k = kind_of(cp);
    return cp == 0 || k == char_kind::space || k == char_kind::opening || cp == '(' || cp == '[' || cp == '"' ||
           cp == '\'';
}
constexpr bool lone_letter_may_precede(char32_t cp) {
    const char_kind k = kind_of(cp);
    return cp == 0 || k == char_kind::space || k == char_kind::closing || cp == '.' || cp == ',' || cp == ';' ||
           cp == ':' || cp == '!' || cp == '?' || cp == ')' || cp == ']' || cp == '"' || cp == '\'';
}

// Goes through decoded text one code point at a time, in as many calls as
// the caller likes, and counts what the text shows.  Words are runs of
// letters and marks; a word of letters up to SPELLING_MAX long is put to the
// syllable rules.
class evidence_reader {
public:
    void take(char32_t cp) {
        if (cp < 0x80 && latin1_kinds[cp] == char_kind::letter) {  // the common case first
            take_letter(viscii_spellings[cp], false);
            return;
        }
        if (cp >= 0x80) ++counts_.beyond_ascii;
        const char_kind kind = kind_of(cp);
        switch (kind) {
        case char_kind::letter:
            ++counts_.precomposed;
            take_letter(spelling_of(cp), true);
            return;
        case char_kind::mark: take_mark(combining_mark_of(cp)); return;
        case char_kind::foreign:
            start_word();
            foreign_ = latin_ = true;
            previous_ = char_kind::letter;
            ++length_;
            return;
        case char_kind::other_script:
            start_word();
            other_script_ = true;
            previous_ = char_kind::letter;
            ++length_;
            return;
        case char_kind::opening:
        case char_kind::punctuation:
            if (previous_ == char_kind::letter) ++counts_.glued_punctuation;
            break;
        case char_kind::rare: ++counts_.rare_symbols; break;
        case char_kind::control: ++counts_.controls; break;
        case char_kind::undefined: ++counts_.undefined; break;
        case char_kind::closing:
        case char_kind::space:
        case char_kind::neutral: break;
        }
        end_word(cp);
        previous_ = kind;
        previous_cp_ = cp;
    }

    // The text ends (or the part of it the caller reads).
    const evidence &finish() {
        end_word(0);
        return counts_;
    }

private:
    void start_word() {
        if (length_ > 0) return;
        before_word_ = previous_cp_;
    }

    void take_letter(spelled_letter letter, bool beyond_ascii) {
        if (previous_ == char_kind::closing || previous_ == char_kind::punctuation) ++counts_.glued_punctuation;
        start_word();
        previous_ = char_kind::letter;
        latin_ = true;
        beyond_ascii_ = beyond_ascii_ || beyond_ascii;
        // TCVN3 has no capitals with a tone, so its capital words hold small
        // toned letters (TóM TắT): only an untoned small letter breaks them.
        if (letter.capital && length_ > 0 && seen_small_) case_break_ = true;
        seen_small_ = seen_small_ || (!letter.capital && letter.tone == TONE_NONE);
        lone_capital_ = length_ == 0 && letter.capital && letter.tone != TONE_NONE;
        if (length_ < SPELLING_MAX) letters_[length_] = {letter.symbol, letter.tone};
        ++length_;
    }

    // A combining mark joins the letter before it: a tone, or a shape mark
    // that the letter's row can take.
    void take_mark(int mark) {
        if (length_ == 0 || length_ > SPELLING_MAX || previous_ != char_kind::letter) {
            start_word();
            foreign_ = true;  // a mark on nothing, or on what is no letter of ours
            return;
        }
        ++counts_.combining;
        beyond_ascii_ = true;
        syllable_letter &letter = letters_[length_ - 1];
        if (mark >= FIRST_TONE_MARK) {
            if (letter.tone != TONE_NONE || !is_vowel_symbol(letter.symbol)) bad_mark_ = true;
            letter.tone = static_cast<unsigned char>(mark - FIRST_TONE_MARK + 1);
            return;
        }
        const int shaped = shaped_symbol(letter.symbol, mark);
        if (shaped == 0) {
            bad_mark_ = true;
            return;
        }
        letter.symbol = static_cast<unsigned char>(shaped);
    }

    static int shaped_symbol(unsigned char symbol, int shape) {
        if (symbol <= CASE_DISTANCE || symbol >= LETTER_CLASS_COUNT) return 0;
        const letter_row &row = letter_rows[symbol];
        if (row_has_shape(row) || row_is_d(row)) return 0;
        const int cls = class_spelled(row.spelling[0], shape_mark_char[shape]);
        return cls < 0 ? 0 : cls;
    }

    void end_word(char32_t after) {
        if (length_ > 0) judge_word(after);
        length_ = 0;
        beyond_ascii_ = foreign_ = other_script_ = latin_ = case_break_ = seen_small_ = bad_mark_ = false;
    }

    // A letter with a tone standing alone is a word (Ở, ý, ạ), but not one
    // pressed against a sign: that is a wrong reading of a quote (»%s«).
    bool lone_letter_out_of_place(char32_t after) const {
        return length_ == 1 && letters_[0].tone != TONE_NONE &&
               !(lone_letter_may_follow(before_word_) && lone_letter_may_precede(after));
    }

    void judge_word(char32_t after) {
        if (other_script_) {
            if (latin_) ++counts_.mixed_scripts;
            return;
        }
        if (foreign_) {
            ++counts_.foreign_words;
            return;
        }
        if (!beyond_ascii_) {
            ++counts_.ascii_words;
            return;
        }
        const bool syllable = length_ <= SPELLING_MAX && !bad_mark_ && well_formed(letters_.data(), length_) &&
                              !lone_letter_out_of_place(after);
        if (case_break_)
            ++counts_.case_breaks;
        else if (syllable && lone_capital_)
            ++counts_.lone_capitals;
        else
            ++(syllable ? counts_.syllables : counts_.bad_words);
    }

    evidence counts_;
    std::array<syllable_letter, SPELLING_MAX> letters_{};
    int length_ = 0;
    bool beyond_ascii_ = false, foreign_ = false, other_script_ = false, latin_ = false;
    bool case_break_ = false, seen_small_ = false, bad_mark_ = false;
    bool lone_capital_ = false;  // the word so far is one capital with a tone
    char_kind previous_ = char_kind::space;  // of the code point before
    char32_t previous_cp_ = 0;               // 0 at the start of the text
    char32_t before_word_ = 0;               // the code point before the word in hand
};

}  // namespace viqr::detail
