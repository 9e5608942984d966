#include "typed_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "byte_classes.h"
#include "composer.h"
#include "mode_letters.h"
#include "syllables.h"
#include "viqr.h"

namespace viqr::detail {
namespace {

// ---------------------------------------------------------------------------
// Bytes (the predicates on a single byte are in byte_classes.h)

// What a byte is as a letter of a syllable: its symbol (see syllables.h) and
// tone; symbol 0 for a byte that is no letter.  Bytes >= 0x80 are VISCII.
struct letter_info {
    unsigned char symbol;
    unsigned char tone;
};

constexpr std::array<letter_info, 256> make_letter_infos() {
    std::array<letter_info, 256> infos{};
    for (int b = 'a'; b <= 'z'; ++b) {
        infos[b] = {static_cast<unsigned char>(b), TONE_NONE};
        infos[b - 'a' + 'A'] = {static_cast<unsigned char>(b), TONE_NONE};
    }
    for_each_letter([&](int cls, int tone, unsigned char code) {
        const int lower = cls > CASE_DISTANCE ? cls : cls + CASE_DISTANCE;
        infos[code] = {static_cast<unsigned char>(lower), static_cast<unsigned char>(tone)};
    });
    return infos;
}

constexpr auto letter_infos = make_letter_infos();
constexpr unsigned char d_symbol = spell("d").symbols[0];

static_assert(letter_infos['A'].symbol == spell("a").symbols[0] && letter_infos['b'].symbol == 'b' &&
              letter_infos[0xF0].symbol == spell("dd").symbols[0] && letter_infos[0xA4].tone == TONE_ACUTE);

// ---------------------------------------------------------------------------
// A token as units: each byte with what the engine would make of it.

// The engine's composer, reduced to what decides a join.
struct join_state {
    unsigned char letter_class = CLASS_NONE;
    unsigned char state = COMPOSER_IDLE;

    // Without a branch of its own: whether a byte joins is data, which a
    // branch for the state as well would mispredict twice.
    bool joins(unsigned char b) const {
        return (state != COMPOSER_IDLE) & ((accept_mask[letter_class] & mark_bits[default_classes[b]]) != 0);
    }
    void join(unsigned char b) {
        const unsigned char cls = default_classes[b];
        letter_class = static_cast<unsigned char>(letter_class + class_shift[cls]);
        state = cls >= FIRST_SHAPE_CLASS ? COMPOSER_SHAPED : COMPOSER_IDLE;
    }
    // A byte that does not join: it starts a letter or ends the one before.
    void start(unsigned char b) {
        const unsigned char cls = default_classes[b];
        const bool letter = cls != CLASS_NONE && cls < LETTER_CLASS_COUNT;
        letter_class = letter ? cls : CLASS_NONE;
        state = letter ? COMPOSER_BASE : COMPOSER_IDLE;
    }
    void reset() { *this = join_state{}; }
};

// What the white space after a token and the byte after it say.
enum space_kind : unsigned char { SPACE_NONE, SPACE_BLANKS, SPACE_LINE_END, SPACE_BLANK_LINE };
constexpr int NEXT_END = -1;      // the end of the text
constexpr int NEXT_UNKNOWN = -2;  // a character that is not fed, or a token cut short

struct follow {
    space_kind space;
    int next;   // the byte after the white space, or NEXT_END or NEXT_UNKNOWN
    int next2;  // the byte after that, the same way (a space when the token is one byte)
};

// What follows a token, in the terms the evidence for a trailing mark
// weighs it: all that a decision takes from beyond the token, and so part
// of the key of a cached one.
enum follow_class : unsigned char {
    FOLLOW_SAYS_NOTHING,    // a character not fed, a cut, or the next token's byte with no space between
    FOLLOW_PARAGRAPH_END,   // a blank line or the end of the text
    FOLLOW_LINE_THEN_SMALL, // a line end, the next line starting with a small letter
    FOLLOW_LINE_THEN_OTHER,
    FOLLOW_SPACE_THEN_SMALL,
    FOLLOW_SPACE_THEN_SENTENCE,  // a space, a capital and a small letter
    FOLLOW_SPACE_THEN_OTHER,
    FOLLOW_CLASS_COUNT
};

follow_class class_of(const follow &f) {
    const bool small = f.next >= 0 && is_ascii_lower(static_cast<unsigned char>(f.next));
    switch (f.space) {
    case SPACE_BLANK_LINE:
        return FOLLOW_PARAGRAPH_END;
    case SPACE_LINE_END:
        return small ? FOLLOW_LINE_THEN_SMALL : FOLLOW_LINE_THEN_OTHER;
    case SPACE_BLANKS:
        if (f.next == NEXT_END) return FOLLOW_PARAGRAPH_END;
        if (f.next == NEXT_UNKNOWN) return FOLLOW_SAYS_NOTHING;
        if (small) return FOLLOW_SPACE_THEN_SMALL;
        if (is_ascii_upper(static_cast<unsigned char>(f.next)) && f.next2 >= 0 &&
            is_ascii_lower(static_cast<unsigned char>(f.next2)))
            return FOLLOW_SPACE_THEN_SENTENCE;
        return FOLLOW_SPACE_THEN_OTHER;
    default:
        return f.next == NEXT_END ? FOLLOW_PARAGRAPH_END : FOLLOW_SAYS_NOTHING;
    }
}

constexpr int WORD_LETTERS_MAX = 24;
constexpr int JOINS_MAX = 10;

// A word: a run of units that starts with a letter and goes on over
// letters and joins until a unit that is no part of a word or a letter that
// starts another.
struct word {
    int begin, end;  // units [begin, end)
    int joins[JOINS_MAX];  // the first JOINS_MAX joins; a word with more takes none
    int join_count;
};

// The token as the reading found it in one walk: its units, its words, and
// where the quotation marks stand.
struct token_view {
    unit units[TYPED_TOKEN_MAX];
    int count = 0;
    bool has_join = false;
    bool has_separator = false;  // \ @ : inside, or / at the start: maybe a path or an address
    int slashes = 0;             // / inside: one may just mean "or" (va`/hoa(.c)
    word words[TYPED_TOKEN_MAX];
    int word_count = 0;
    int quote_count = 0;                        // units that are a ' or a `, which may open or close a quotation
    unsigned char quotes[TYPED_TOKEN_MAX];      // their indices, in order
};
static_assert(TYPED_TOKEN_MAX <= 256, "a unit's index fits a byte");

bool is_letter_byte(unsigned char b, bool viscii_input) {
    return letter_infos[b].symbol != 0 && (viscii_input || b < 0x80);
}

// A unit after which tonedown escapes a mark: a vowel or a d, or a mark
// joined to one.  After any other letter an escape protects nothing
// (tar\.gz in a regular expression).
bool escapes_marks_after(const unit &u) {
    if (u.kind == UNIT_JOIN) return true;
    if (u.kind != UNIT_LETTER) return false;
    const unsigned char symbol = letter_infos[u.byte].symbol;
    return is_vowel_symbol(symbol) || symbol == d_symbol;
}

// Whether a vowel follows position `i` before the letters end (DDoS: no).
bool vowel_ahead(const typed_reader &r, const unsigned char *t, int i, int n) {
    for (; i < n && is_letter_byte(t[i], r.viscii_input); ++i)
        if (is_vowel_symbol(letter_infos[t[i]].symbol)) return true;
    return false;
}

// The engine's reading of the token's bytes, with the composition
// characters resolved: an escape that protects the byte after it stays, one
// that protects nothing is doubled so that it reads as itself.
void read_units(const typed_reader &r, const unsigned char *t, int n, token_view &v) {
    const unsigned char composition = r.composition_char;
    join_state js{r.carry_class, r.carry_state};
    bool fresh = true;         // the next letter starts a word
    bool seen_letter = false;  // a letter of this token has been read
    word *open = nullptr;      // the word being read
    auto add = [&](unsigned char b, unit_kind kind, unit_prefix prefix) {
        const int index = v.count++;
        const bool word_start = fresh && kind == UNIT_LETTER;
        v.units[index] = unit{b, kind, prefix, word_start, false};
        if (b == '\'' || b == '`') v.quotes[v.quote_count++] = static_cast<unsigned char>(index);
        if (open != nullptr && (kind == UNIT_PLAIN || word_start)) {
            open->end = index;
            open = nullptr;
        }
        if (kind == UNIT_LETTER && open == nullptr) {
            open = &v.words[v.word_count++];
            open->begin = index;
            open->join_count = 0;
        } else if (kind == UNIT_JOIN && open != nullptr) {
            if (open->join_count < JOINS_MAX) open->joins[open->join_count] = index;
            ++open->join_count;
        }
        fresh = false;
        seen_letter |= kind == UNIT_LETTER;
    };
    for (int i = 0; i < n; ++i) {
        const unsigned char b = t[i];
        if (b == composition) {
            const bool last = i + 1 == n;
            const unsigned char next = last ? 0 : t[i + 1];
            // An escape protects a mark (or a second d) after a letter: one
            // that would join it, and one after a finished letter, as
            // tonedown writes them (Y?\().
            const bool after_word = v.count > 0 ? escapes_marks_after(v.units[v.count - 1]) : r.carry_word;
            const bool protects = js.joins(next) || (after_word && (default_classes[next] >= FIRST_TONE_CLASS ||
                                                                    next == 'd' || next == 'D'));
            if (!last && next != composition && mode_of_letter(next) == NO_MODE && protects) {
                // A real escape: the byte after it stays apart from the letter.
                ++i;
                const bool letter = is_letter_byte(next, r.viscii_input);
                fresh = true;
                add(next, letter ? UNIT_LETTER : UNIT_PLAIN, PREFIX_ESCAPE);
                js.start(next);
                continue;
            }
            // Doubled, the composition character reads as one, as does one that protects nothing.
            if (i > 0 && i + 1 < n) v.has_separator = true;
            add(composition, UNIT_PLAIN, PREFIX_ESCAPE);
            if (!last && next == composition) ++i;
            js.reset();
            fresh = true;
            continue;
        }
        if (js.joins(b)) {
            add(b, UNIT_JOIN, PREFIX_NONE);
            // A mark that joins a letter left in the part of a word before a
            // cut is taken as the engine takes it: that word is decided as it
            // stands.
            if (!seen_letter) v.units[v.count - 1].accepted = true;
            js.join(b);
            v.has_join = true;
            continue;
        }
        js.start(b);
        if (is_letter_byte(b, r.viscii_input)) {
            // No syllable has a capital after its first letter: CỡTập, %sMã,
            // ĐChỉ are words run together.
            if (is_ascii_upper(b) && v.count > 0 && v.units[v.count - 1].kind != UNIT_PLAIN && vowel_ahead(r, t, i, n)) {
                int last_letter = v.count - 1;
                while (last_letter >= 0 && v.units[last_letter].kind != UNIT_LETTER) --last_letter;
                const bool next_small = i + 1 < n && is_ascii_lower(t[i + 1]);
                if (last_letter >= 0 && (!is_ascii_upper(v.units[last_letter].byte) || next_small)) fresh = true;
            }
            add(b, UNIT_LETTER, PREFIX_NONE);
        } else {
            if ((b == '@' || b == ':') && i > 0 && i + 1 < n) v.has_separator = true;
            if (b == '/') (i == 0 ? v.has_separator = true : ++v.slashes);
            add(b, UNIT_PLAIN, PREFIX_NONE);
            fresh = true;
        }
    }
    if (open != nullptr) open->end = v.count;
}

// ---------------------------------------------------------------------------
// Syllables of a word under one reading

// The letters of units [begin, end) under the accepted joins, cut into
// pieces at every join that is not accepted.  Calls `piece(letters, count,
// marked)` for each; stops and returns false when it returns false.
template <class Piece>
bool for_each_piece(const unit *units, int begin, int end, Piece piece) {
    syllable_letter letters[WORD_LETTERS_MAX];
    int count = 0;
    bool marked = false, too_long = false;
    auto close = [&]() {
        const bool ok = count == 0 || (!too_long && piece(letters, count, marked));
        count = 0;
        marked = too_long = false;
        return ok;
    };
    for (int i = begin; i < end; ++i) {
        const unit &u = units[i];
        if (u.kind == UNIT_LETTER) {
            if (count == WORD_LETTERS_MAX) {
                too_long = true;
                continue;
            }
            letters[count++] = {letter_infos[u.byte].symbol, letter_infos[u.byte].tone};
            continue;
        }
        if (!u.accepted) {
            if (!close()) return false;
            continue;
        }
        if (count == 0 || too_long) continue;
        syllable_letter &l = letters[count - 1];
        const unsigned char cls = default_classes[u.byte];
        if (cls >= FIRST_TONE_CLASS && cls < FIRST_SHAPE_CLASS)
            l.tone = mark_bits[cls] & TONE_MASK;
        else
            l.symbol = static_cast<unsigned char>(l.symbol + class_shift[cls]);
        marked = true;
    }
    return close();
}

// Every piece that carries an accepted mark is a Vietnamese syllable.
bool marked_pieces_well_formed(const unit *units, const word &w) {
    return for_each_piece(units, w.begin, w.end, [](const syllable_letter *letters, int count, bool marked) {
        return !marked || well_formed(letters, count);
    });
}

// The same with loosely_formed, for slips of typing.
bool marked_pieces_loosely_formed(const unit *units, const word &w, bool by_the_rules) {
    return for_each_piece(units, w.begin, w.end, [by_the_rules](const syllable_letter *letters, int count, bool marked) {
        return !marked || loosely_formed(letters, count, by_the_rules);
    });
}

// The letters of the last piece of the word, as read now.
int last_piece(const unit *units, const word &w, syllable_letter *out) {
    int n = 0;
    for_each_piece(units, w.begin, w.end, [&](const syllable_letter *letters, int count, bool) {
        n = count;
        std::memcpy(out, letters, sizeof(syllable_letter) * static_cast<std::size_t>(count));
        return true;
    });
    return n;
}

// A reading of a word is the set of its joins refused: the letters between
// two refused joins (or the word's ends) are one piece, every join in it
// taken.  The readings are searched piece by piece, each piece weighed
// once, so that a word costs the square of its joins rather than two to
// their power (a crafted word of ten joins, or twenty d, would otherwise
// take a thousand readings).  A cut is the index of a refused join in
// w.joins, or CUT_START before the first.
constexpr int CUT_START = -1;

// The pieces that begin at one cut, grown join by join: the piece up to the
// next cut takes in the join at the old end and the letters after it.
// Growing only adds letters, marks and tones, so once a piece with a mark
// cannot be a syllable (more letters than any syllable, two tones, vowels
// after a final consonant), no longer piece from the same cut can be one.
class piece_from_cut {
public:
    piece_from_cut(const unit *units, const word &w, int from) : units_(units), w_(w) {
        add_units(from == CUT_START ? w.begin : w.joins[from] + 1, end_of(from + 1));
        to_ = from + 1;
    }

    // Grows the piece to the next cut.
    void grow() {
        const int join = w_.joins[to_];
        if (count_ > 0) {
            syllable_letter &l = letters_[count_ - 1];
            const unsigned char cls = default_classes[units_[join].byte];
            if (cls >= FIRST_TONE_CLASS && cls < FIRST_SHAPE_CLASS)
                l.tone = mark_bits[cls] & TONE_MASK;
            else
                l.symbol = static_cast<unsigned char>(l.symbol + class_shift[cls]);
            marked_ = true;
        }
        ++to_;
        add_units(join + 1, end_of(to_));
    }

    int to() const { return to_; }

    // Whether the piece may stand: no mark, or a syllable; `all` asks for a
    // syllable even without a mark.
    bool stands(bool all) const {
        if (count_ == 0 || (!marked_ && !all)) return true;
        return !too_long_ && shape() == piece_shape::may_be && well_formed(letters_, count_);
    }

    // Whether no longer piece from this cut can stand with a mark.
    bool dead() const { return marked_ && (too_long_ || shape() == piece_shape::never); }

private:
    enum class piece_shape { may_be, not_yet, never };

    // A syllable is spelled C{0,3} V{1,4} C{0,2} (ngh, the u of qu or the i
    // of gi and three vowels, ng) with at most one tone: a quick test before
    // the tables'.
    piece_shape shape() const {
        int i = 0, tones = 0;
        for (int j = 0; j < count_; ++j) tones += letters_[j].tone != TONE_NONE;
        if (tones > 1 || count_ > SPELLING_MAX) return piece_shape::never;
        while (i < count_ && !is_vowel_symbol(letters_[i].symbol)) ++i;
        if (i > 3) return piece_shape::never;
        if (i == count_) return piece_shape::not_yet;
        const int vowels_begin = i;
        while (i < count_ && is_vowel_symbol(letters_[i].symbol)) ++i;
        if (i - vowels_begin > 4) return piece_shape::never;
        const int finals_begin = i;
        while (i < count_ && !is_vowel_symbol(letters_[i].symbol)) ++i;
        return i < count_ || i - finals_begin > 2 ? piece_shape::never : piece_shape::may_be;
    }

    int end_of(int cut) const { return cut == w_.join_count ? w_.end : w_.joins[cut]; }

    void add_units(int begin, int end) {
        for (int i = begin; i < end; ++i) {
            if (units_[i].kind != UNIT_LETTER) continue;  // a mark after a refused one joins nothing
            if (count_ == WORD_LETTERS_MAX) {
                too_long_ = true;
                continue;
            }
            letters_[count_++] = {letter_infos[units_[i].byte].symbol, letter_infos[units_[i].byte].tone};
        }
    }

    const unit *units_;
    const word &w_;
    syllable_letter letters_[WORD_LETTERS_MAX];
    int count_ = 0;
    int to_ = 0;
    bool marked_ = false;
    bool too_long_ = false;
};

// Whether some reading makes every piece of the word a syllable.
bool word_reads_vietnamese(const unit *units, const word &w) {
    if (w.join_count > JOINS_MAX) return false;
    bool reached[JOINS_MAX + 1] = {};  // reached[c + 1]: the pieces up to cut c all read
    reached[0] = true;
    for (int from = CUT_START; from < w.join_count; ++from) {
        if (!reached[from + 1]) continue;
        for (piece_from_cut piece(units, w, from); !piece.dead(); piece.grow()) {
            if (piece.stands(true)) {
                if (piece.to() == w.join_count) return true;
                reached[piece.to() + 1] = true;
            }
            if (piece.to() == w.join_count) break;
        }
    }
    return false;
}

bool word_spells(const unit *units, const word &w, const char *text) {
    int i = w.begin;
    for (; i < w.end && *text != '\0'; ++i, ++text)
        if (units[i].byte != static_cast<unsigned char>(*text)) return false;
    return i == w.end && *text == '\0';
}

template <std::size_t N>
bool word_in(const unit *units, const word &w, const char *const (&table)[N]) {
    for (const char *text : table)
        if (word_spells(units, w, text)) return true;
    return false;
}

// ---------------------------------------------------------------------------
// The evidence around a trailing mark

constexpr int DECIDED = 100;  // evidence that settles the question alone

// The character after the trailing mark: the next unit of the token, or
// what follows the token.
struct after_mark {
    bool in_token;
    unsigned char byte;  // in_token: the unit's byte
    int dots;            // full stops right after the mark, in the token
};

struct word_context {
    after_mark after;
    bool path;         // the token is a path, address or file name
    bool after_digit;  // the unit before the word is a digit
    bool first_word;   // the word starts the token, right after the previous word
    const word *previous_in_token;  // the word before, joined by - or _ (Ấn-độ, KÝ_TỰ)
};

// What the characters after a trailing . or ? say, in points toward the
// tone (positive) or toward punctuation (negative).  Hard-wrapped text ends
// lines in mid-sentence, so a line end says less than a blank line.
struct end_evidence {
    signed char prior;             // before anything is seen: a question is rarer than a hook tone
    signed char clause;            // , ; : ! right after: rạ, or đỉ; cannot end a sentence
    signed char closing;           // ) ] } " ' >
    signed char joined;            // - or _ right after: Cợ-ri-mia, KÝ_TỰ
    signed char other;             // any other character right after
    signed char paragraph_end;     // a blank line or the end of the text
    signed char line_then_small;   // a line end, the next line starting with a small letter
    signed char line_then_other;   // a line end, anything else
    signed char space_then_small;  // a space and a small letter: the sentence goes on
    signed char space_then_sentence;  // a space, a capital and a small letter
    signed char space_then_other;  // a space and anything else (C:\, HTML, "...)
};

// A full stop ends sentences everywhere, so only strong signs say tone.
constexpr end_evidence full_stop_evidence = {
    .prior = 0,                  // as often a full stop as a dot below, before anything is seen
    .clause = 10,                // ra., cannot be: the dot is the tone
    .closing = -1,               // (ra.) is mostly a sentence closed in brackets
    .joined = 8,                 // Cợ-ri: no full stop stands before a hyphen
    .other = 0,                  // ra.x says nothing either way
    .paragraph_end = -3,         // the last word of a paragraph mostly ends a sentence
    .line_then_small = 2,        // the sentence goes on after a hard wrap
    .line_then_other = -2,       // a new line with a capital: a new sentence, or a list
    .space_then_small = 9,       // a small letter after a space: no sentence ended
    .space_then_sentence = -2,   // a capital and a small letter: the next sentence
    .space_then_other = -1,      // a name, a heading, a path: weak
};

// A question mark is rarer than the hook above at the end of a word.
constexpr end_evidence question_evidence = {
    .prior = 3,                  // chia se?: the hook is the more common reading
    .clause = 8,                 // đỉ, cannot be a question
    .closing = -1,               // (đâu?) closes a question in brackets
    .joined = 8,                 // no question mark before a hyphen
    .other = 0,                  // says nothing
    .paragraph_end = -3,         // the end of a paragraph: a question that ends it
    .line_then_small = 1,        // a hard wrap in mid-sentence
    .line_then_other = -2,       // a capital on the next line
    .space_then_small = 6,       // the sentence goes on
    .space_then_sentence = -3,   // a capital and a small letter: a question ended
    .space_then_other = -1,      // weak
};

// The other weights of the decision, in the same points.
struct decision_weights {
    int frequency_step;       // each step of frequency_table's weights (about ten times as common)
    int other_trailing_tone;  // a trailing ' ` ~ ( ^ + outside quotations: hardly ever punctuation
    int capital_label;        // A. or E. alone: a label in a list rather than the interjection Ạ
    int compound;             // the word before makes a word of compound_table with the reading
    int internal_refusal;     // a mark refused inside a word: typists rarely type punctuation there
    // A small vowel alone with a full stop.
    int lone_vowel_plain_line;  // on a line with no diacritic taken yet the sentence is English:
                                // the values in a., e. g.; ạ is a particle of Vietnamese speech
    int option_letter;          // -a. or --a.: a command's option, as in the manual pages
};

constexpr decision_weights weights = {
    .frequency_step = 2,
    .other_trailing_tone = 3,
    .capital_label = -6,
    .compound = 5,
    .internal_refusal = 3,
    .lone_vowel_plain_line = -DECIDED,
    .option_letter = -DECIDED,
};

int sentence_end_evidence(unsigned char mark, const after_mark &a, const follow &f) {
    const end_evidence &e = mark == '.' ? full_stop_evidence : question_evidence;
    int points = e.prior;
    if (a.in_token) {
        const unsigned char b = a.byte;
        if (mark == '.' && a.dots > 0) return a.dots == 2 ? -DECIDED : DECIDED;  // ra... / rạ. / rạ...
        if (b == ',' || b == ';' || b == ':' || b == '!' || (mark == '.' && b == '?')) return points + e.clause;
        if (b == ')' || b == ']' || b == '"' || b == '\'' || b == '}' || b == '>') return points + e.closing;
        if (b == '-' || b == '_') return points + e.joined;
        return points + e.other;
    }
    switch (class_of(f)) {
    case FOLLOW_PARAGRAPH_END: return points + e.paragraph_end;
    case FOLLOW_LINE_THEN_SMALL: return points + e.line_then_small;
    case FOLLOW_LINE_THEN_OTHER: return points + e.line_then_other;
    case FOLLOW_SPACE_THEN_SMALL: return points + e.space_then_small;
    case FOLLOW_SPACE_THEN_SENTENCE: return points + e.space_then_sentence;
    case FOLLOW_SPACE_THEN_OTHER: return points + e.space_then_other;
    default: return points;
    }
}

// The letters of a word spelled in `bytes`, every mark joined.
int letters_of(const unsigned char *bytes, int n, syllable_letter *out) {
    int count = 0;
    join_state js;
    for (int i = 0; i < n && count < WORD_LETTERS_MAX; ++i) {
        const unsigned char b = bytes[i];
        if (js.joins(b) && count > 0) {
            const unsigned char cls = default_classes[b];
            if (cls >= FIRST_TONE_CLASS && cls < FIRST_SHAPE_CLASS)
                out[count - 1].tone = mark_bits[cls] & TONE_MASK;
            else
                out[count - 1].symbol = static_cast<unsigned char>(out[count - 1].symbol + class_shift[cls]);
            js.join(b);
        } else {
            out[count++] = {letter_infos[b].symbol, letter_infos[b].tone};
            js.start(b);
        }
    }
    return count;
}

// The letters of the previous word, for compounds; 0 when there is none.
int previous_letters(const typed_reader &r, syllable_letter *out) { return letters_of(r.previous, r.previous_length, out); }

// Keeps the letters that end a token with nothing to decide as the
// previous word.
void remember_bytes(typed_reader &r, const unsigned char *word, int n) {
    r.previous_length = n <= static_cast<int>(TYPED_PREVIOUS_MAX) ? static_cast<unsigned char>(n) : 0;
    std::memcpy(r.previous, word, r.previous_length);
}

void remember_plain_word(typed_reader &r, const unsigned char *bytes, int n) {
    int begin = n;
    while (begin > 0 && is_letter_byte(bytes[begin - 1], r.viscii_input)) --begin;
    remember_bytes(r, bytes + begin, n - begin);
}

bool is_capital_vowel(unsigned char b) { return is_ascii_upper(b) && is_vowel_symbol(letter_infos[b].symbol); }
bool is_small_vowel(unsigned char b) { return is_ascii_lower(b) && is_vowel_symbol(letter_infos[b].symbol); }

// Whether the units before `begin` are the one or two hyphens of an
// option (-a, --a) that start the token.
bool follows_option_dash(const unit *units, int begin) {
    if (begin < 1 || begin > 2) return false;
    for (int i = 0; i < begin; ++i)
        if (units[i].byte != '-' || units[i].kind != UNIT_PLAIN) return false;
    return true;
}

// For a trailing . or ?: how common the two readings are, what follows, and
// whether the word before makes a compound with either.
int weigh_stop_or_question(unsigned char mark, const syllable_letter *toned, int n_toned, const syllable_letter *bare,
                           int n_bare, const syllable_letter *first, int n_first, const after_mark &a,
                           const follow &f) {
    int evidence = weights.frequency_step * (frequency(toned, n_toned) - frequency(bare, n_bare)) +
                   sentence_end_evidence(mark, a, f);
    if (n_first > 0) {
        if (is_compound(first, n_first, toned, n_toned)) evidence += weights.compound;
        if (is_compound(first, n_first, bare, n_bare)) evidence -= weights.compound;
    }
    return evidence;
}

// For the trailing mark of a word: positive when it should be a tone,
// negative when punctuation, by how much.
int tone_preference(const typed_reader &r, unit *units, const word &w, int mark_index, const word_context &c,
                    const follow &f) {
    const unsigned char mark = units[mark_index].byte;
    const after_mark &a = c.after;
    const bool after_letter = units[mark_index - 1].kind == UNIT_LETTER;
    if (a.in_token && (is_digit(a.byte) || a.byte == '%') && after_letter)
        return -DECIDED;  // A.1., so.1, U+%04X, but SO^'1
    if (mark == '\'' && (r.quote_open || r.backtick_open)) return -DECIDED;  // 'ra', `ra' (GNU quotes)
    if (mark == '`' && r.backtick_open) return -DECIDED;
    if (mark != '.' && mark != '?') return weights.other_trailing_tone;
    // A lone capital vowel with a full stop is a label (A. B.), not the
    // interjection Ạ.
    if (mark == '.' && mark_index == w.begin + 1 && is_capital_vowel(units[w.begin].byte)) return weights.capital_label;
    if (mark == '.' && mark_index == w.begin + 1 && is_small_vowel(units[w.begin].byte)) {
        if (follows_option_dash(units, w.begin)) return weights.option_letter;
        r.context_weighed = true;
        if (!r.diacritic_on_line) return weights.lone_vowel_plain_line;
    }

    syllable_letter toned[WORD_LETTERS_MAX], bare[WORD_LETTERS_MAX], first[WORD_LETTERS_MAX];
    const bool saved = units[mark_index].accepted;
    units[mark_index].accepted = true;
    const int n_toned = last_piece(units, w, toned);
    units[mark_index].accepted = false;
    const int n_bare = last_piece(units, w, bare);
    units[mark_index].accepted = saved;
    int n_first = 0;
    if (c.previous_in_token != nullptr) {
        n_first = last_piece(units, *c.previous_in_token, first);
    } else if (c.first_word) {
        n_first = previous_letters(r, first);
        r.context_weighed = true;
    }
    if (!a.in_token) r.context_weighed = true;  // what follows the token
    return weigh_stop_or_question(mark, toned, n_toned, bare, n_bare, first, n_first, a, f);
}

// ---------------------------------------------------------------------------
// Deciding a word

bool has_stroke(const unit *units, const word &w) {
    for (int j = 0; j < w.join_count; ++j)
        if (mark_bits[default_classes[units[w.joins[j]].byte]] == MARK_STROKE) return true;
    return false;
}

bool starts_with_stroke(const unit *units, const word &w) {
    return w.end - w.begin >= 2 && units[w.begin + 1].kind == UNIT_JOIN &&
           letter_infos[units[w.begin].byte].symbol == d_symbol;
}

// A word of capitals that begins with Đ and abbreviates: DD alone before a
// dot, a hyphen or a capitalised word run on (Đ.SỐ, ĐChỉ), or DD and two or
// more capital consonants (ĐTCV; DDR keeps its two Ds).
bool capital_abbreviation(const unit *units, const word &w, const after_mark &a) {
    if (units[w.begin].byte != 'D' || units[w.begin + 1].byte != 'D') return false;
    const int rest = w.end - w.begin - 2;
    if (rest == 0) return a.in_token && (a.byte == '.' || a.byte == '-' || units[w.end].word_start);
    if (rest < 2 || w.join_count != 1) return false;
    for (int i = w.begin + 2; i < w.end; ++i)
        if (!is_ascii_upper(units[i].byte) || is_vowel_symbol(letter_infos[units[i].byte].symbol)) return false;
    return true;
}

// A trailing mark that is hardly ever punctuation: a shape mark, a tone after
// one, or any mark before - or _.  Right after a letter and before a digit
// or a % a mark is punctuation, shape marks too (a(0), Dim a(1 To 10)).
bool safe_trailing(const unit *units, int mark_index, const after_mark &a) {
    if (units[mark_index - 1].kind == UNIT_JOIN) return true;
    if (a.in_token && (is_digit(a.byte) || a.byte == '%')) return false;
    if (default_classes[units[mark_index].byte] >= FIRST_SHAPE_CLASS) return true;
    return a.in_token && (a.byte == '-' || a.byte == '_');
}

// A word that a - or _ joins to the next or the one before: a syllable of
// a name spelled syllable by syllable, or part of a word a menu's _ cuts.
bool joined_to_a_word(const word_context &c) {
    return c.previous_in_token != nullptr || (c.after.in_token && (c.after.byte == '-' || c.after.byte == '_'));
}

// Sets the joins of the word as the reading that costs least: each
// internal join refused costs weights.internal_refusal, the trailing mark
// taken costs what the evidence says against the tone, and refused, what it
// says for it, where the tone would have made a syllable.  Every piece with
// a mark taken must be a syllable.  Among readings of one cost the one with
// fewer marks taken wins: the text as typed.
void search_readings(const typed_reader &r, unit *units, const word &w, const word_context &c, const follow &f) {
    const int joins = w.join_count;
    const int last = w.joins[joins - 1];
    const bool trailing = last == w.end - 1;
    const int trailing_cut = trailing ? joins - 1 : joins;  // joins after it are none
    // The evidence for the trailing tone, once for each last piece.
    int preference[JOINS_MAX + 1];
    bool weighed[JOINS_MAX + 1] = {};
    auto preference_after = [&](int from) {
        if (!weighed[from + 1]) {
            for (int j = 0; j < joins; ++j) units[w.joins[j]].accepted = j > from;
            preference[from + 1] = tone_preference(r, units, w, last, c, f);
            weighed[from + 1] = true;
        }
        return preference[from + 1];
    };
    struct reading {
        int cost = 1 << 30;
        int taken = 0;
        int from = CUT_START;  // the cut before the last piece
        bool reached = false;
        bool better_than(const reading &o) const {
            return !o.reached || cost < o.cost || (cost == o.cost && taken < o.taken);
        }
    };
    reading best[JOINS_MAX + 2];  // best[c + 1]: the pieces up to cut c
    best[0] = reading{0, 0, CUT_START, true};
    reading done;                 // the whole word
    bool done_refuses_trailing = false;
    for (int from = CUT_START; from < joins; ++from) {
        const reading &here = best[from + 1];
        if (!here.reached) continue;
        for (piece_from_cut piece(units, w, from); !piece.dead(); piece.grow()) {
            const int to = piece.to();
            if (piece.stands(false)) {
                reading next{here.cost, here.taken + (to - from - 1), from, true};
                if (to == joins) {
                    // The last piece, every join in it taken.
                    if (trailing && trailing_cut > from) {
                        const int p = preference_after(from);
                        next.cost += p < 0 ? -p : 0;
                    }
                    if (next.better_than(done)) {
                        done = next;
                        done_refuses_trailing = false;
                    }
                } else if (to == trailing_cut) {
                    // The trailing mark refused: the word ends with this piece.
                    piece_from_cut with_tone = piece;
                    with_tone.grow();
                    if (with_tone.stands(false)) {
                        const int p = preference_after(from);
                        next.cost += p > 0 ? p : 0;
                    }
                    if (next.better_than(done)) {
                        done = next;
                        done_refuses_trailing = true;
                    }
                } else {
                    next.cost += weights.internal_refusal;
                    if (next.better_than(best[to + 1])) best[to + 1] = next;
                }
            }
            if (to == joins) break;
        }
    }
    // Back along the cuts: a join is taken unless it is a cut.
    for (int j = 0; j < joins; ++j) units[w.joins[j]].accepted = true;
    if (!done.reached) {
        for (int j = 0; j < joins; ++j) units[w.joins[j]].accepted = false;
        return;
    }
    if (done_refuses_trailing) units[w.joins[trailing_cut]].accepted = false;
    for (int cut = done.from; cut != CUT_START; cut = best[cut + 1].from) units[w.joins[cut]].accepted = false;
}

void decide_word(const typed_reader &r, unit *units, const word &w, const word_context &c, const follow &f) {
    auto set_all = [&](bool accepted) {
        for (int j = 0; j < w.join_count; ++j) units[w.joins[j]].accepted = accepted;
    };
    // Too many marks for one syllable: none is taken (the ones past
    // JOINS_MAX were never recorded and stay refused).
    if (w.join_count > JOINS_MAX) {
        for (int j = 0; j < JOINS_MAX; ++j) units[w.joins[j]].accepted = false;
        return;
    }
    const bool capital_stroke = is_ascii_upper(units[w.begin].byte) && has_stroke(units, w);
    if ((capital_stroke && word_in(units, w, abbreviation_table)) || (c.after_digit && word_in(units, w, currency_table))) {
        set_all(true);  // HĐND; 100đ
        return;
    }
    if (starts_with_stroke(units, w) && capital_abbreviation(units, w, c.after)) {
        set_all(true);  // Đ. Lê Lợi, Đ.SỐ, Đ-xong-kha, ĐChỉ, ĐTCV
        return;
    }
    if (word_in(units, w, name_table)) {
        set_all(true);  // Hồng Kông
        return;
    }
    if ((units[w.begin].byte == 'I' || units[w.begin].byte == 'i') && word_in(units, w, english_table)) {
        set_all(false);
        return;
    }
    const int last = w.joins[w.join_count - 1];
    const bool trailing = last == w.end - 1;
    if (c.path) {
        // Inside a path only a word whose marks make a syllable keeps them,
        // and only where no mark ends it that could be punctuation
        // (S.NGUYE^N1, SO^'1, --directory=THU+_MU.C); so.1 and Makefile.
        // keep their dots.
        set_all(true);
        if ((trailing && !safe_trailing(units, last, c.after)) || !marked_pieces_well_formed(units, w)) set_all(false);
        return;
    }

    // The whole word as one syllable with every mark: the usual case.
    set_all(true);
    if (marked_pieces_well_formed(units, w)) {
        if (!trailing || tone_preference(r, units, w, last, c, f) > 0) return;
    } else if ((!trailing || safe_trailing(units, last, c.after)) &&
               marked_pieces_loosely_formed(units, w, !joined_to_a_word(c))) {
        // Marks inside a word that is nearly a syllable: a slip of typing or
        // a foreign name spelled the Vietnamese way (Xlô-ven), read as typed.
        return;
    }

    search_readings(r, units, w, c, f);
}

// ---------------------------------------------------------------------------
// Deciding a token

// A quotation opens with a ' or ` at the start of a token or after an
// opening bracket, a double quote or =, before more of the token.
bool opens_quote(const unit *units, int i, int count) {
    const bool before_ok = i == 0 || units[i - 1].byte == '(' || units[i - 1].byte == '[' || units[i - 1].byte == '"' ||
                           units[i - 1].byte == '=';
    if (!before_ok || i + 1 >= count) return false;
    const unit &next = units[i + 1];
    const unsigned char b = next.byte;
    return next.kind == UNIT_LETTER || is_digit(b) || b == '*' || b == '.' || b == '-' || b == '/' || b == '_' ||
           b == '~' || b == '$' || b == '%' || b == '<' || b == '[' || b == '(';
}

after_mark after_of(const unit *units, int end, int count) {
    after_mark a{false, 0, 0};
    if (end >= count) return a;
    a.in_token = true;
    a.byte = units[end].byte;
    for (int i = end; i < count && units[i].byte == '.' && units[i].prefix == PREFIX_NONE; ++i) ++a.dots;
    return a;
}

// A dot between two letters or digits is a separator, as are / \ @ : inside.
bool has_inner_dot(const token_view &v) {
    for (int i = 1; i + 1 < v.count; ++i) {
        const unit &u = v.units[i];
        if (u.byte != '.' || u.prefix != PREFIX_NONE) continue;
        const unit &before = v.units[i - 1], &after = v.units[i + 1];
        const bool before_ok = before.kind == UNIT_LETTER || is_digit(before.byte);
        const bool after_ok = after.kind == UNIT_LETTER || is_digit(after.byte);
        if (before_ok && after_ok) return true;
    }
    return false;
}

// Abbreviations without a vowel (m.chu?, Tp., www) say nothing either way.
bool has_vowel(const unit *units, const word &w) {
    for (int i = w.begin; i < w.end; ++i)
        if (units[i].kind == UNIT_LETTER && is_vowel_symbol(letter_infos[units[i].byte].symbol)) return true;
    return false;
}

// A path, address or file name: parts joined by separators, one of which
// does not read as Vietnamese.  One slash alone joins alternatives
// (byte/ky' tu+.) unless a dot or another separator says more.
bool is_path(const token_view &v) {
    if (!v.has_separator && v.slashes < 2 && !has_inner_dot(v)) return false;
    for (int i = 0; i < v.word_count; ++i)
        if (has_vowel(v.units, v.words[i]) && !word_reads_vietnamese(v.units, v.words[i])) return true;
    return false;
}

// Writes the token as decided; notes whether it took a diacritic.
std::size_t write_units(typed_reader &r, const token_view &v, unsigned char *out) {
    const unsigned char composition = r.composition_char;
    unsigned char *o = out;
    bool took = false;
    join_state js{r.carry_class, r.carry_state};
    for (int i = 0; i < v.count; ++i) {
        const unit &u = v.units[i];
        if (u.prefix == PREFIX_ESCAPE) {
            *o++ = composition;
            *o++ = u.byte;
            if (u.byte == composition)
                js.reset();
            else
                js.start(u.byte);
            continue;
        }
        if (js.joins(u.byte)) {
            if (u.kind == UNIT_JOIN && u.accepted) {
                *o++ = u.byte;
                js.join(u.byte);
                took = true;
                continue;
            }
            *o++ = composition;
        }
        *o++ = u.byte;
        js.start(u.byte);
    }
    // Where the token is cut, the next bytes read on from here.
    const bool in_word = v.count > 0 && v.units[v.count - 1].kind != UNIT_PLAIN;
    r.carry_word = r.cutting && in_word;
    r.carry_class = r.carry_word ? js.letter_class : CLASS_NONE;
    r.carry_state = r.carry_word ? js.state : COMPOSER_IDLE;
    r.token_took_diacritic = took;
    return static_cast<std::size_t>(o - out);
}

// A ' or ` that is no tone opens or closes a quotation; a ' also closes
// one opened by ` (`like this', as GNU programs quote).
void step_quotes(typed_reader &r, const unit *units, int i, int count) {
    if (units[i].byte == '\'') {
        if (r.quote_open)
            r.quote_open = false;
        else if (r.backtick_open)
            r.backtick_open = false;
        else
            r.quote_open = opens_quote(units, i, count);
    } else {
        r.backtick_open = r.backtick_open ? false : opens_quote(units, i, count);
    }
}

void update_quotes(typed_reader &r, const token_view &v) {
    for (int k = 0; k < v.quote_count; ++k) {
        const int i = v.quotes[k];
        const unit &u = v.units[i];
        if (u.kind == UNIT_JOIN && u.accepted) continue;
        step_quotes(r, v.units, i, v.count);
    }
}

// Keeps the word that ends the token, if one does, for the next token.
void remember_last_word(typed_reader &r, const token_view &v) {
    r.previous_length = 0;
    if (v.count == 0 || v.units[v.count - 1].kind == UNIT_PLAIN) return;
    int begin = v.count - 1;
    while (begin > 0 && v.units[begin].kind != UNIT_PLAIN && !v.units[begin].word_start) --begin;
    if (v.units[begin].kind == UNIT_PLAIN) ++begin;
    if (v.count - begin > static_cast<int>(TYPED_PREVIOUS_MAX)) return;
    for (int i = begin; i < v.count; ++i) {
        if (v.units[i].kind == UNIT_JOIN && !v.units[i].accepted) return;
        r.previous[i - begin] = v.units[i].byte;
    }
    r.previous_length = static_cast<unsigned char>(v.count - begin);
}

// A byte that gives the token something to decide: a mark, a second d, the
// composition character.
bool is_special(const typed_reader &r, unsigned char b, unsigned char before) {
    const unsigned char cls = default_classes[b];
    if (cls >= FIRST_TONE_CLASS || b == r.composition_char) return true;
    return (b == 'd' || b == 'D') && (before == 'd' || before == 'D');
}

// Whether a . or ? of the token may end a word and so be weighed against
// what follows the token and the word before it: one at the end of the
// token or before anything but a small letter.  Before a small letter it is
// inside a word (ddu+o+.c), or joins nothing.
bool has_open_stop(const unsigned char *bytes, int n) {
    for (int i = 0; i < n; ++i)
        if ((bytes[i] == '.' || bytes[i] == '?') && (i + 1 == n || !is_ascii_lower(bytes[i + 1]))) return true;
    return false;
}

// ---------------------------------------------------------------------------
// A whole token at once, where white space ends it in the input: how long it
// is, whether it has anything to decide (is_special), and the letters that
// end it.  The reference takes a byte at a time; with SSE2 a block of 16
// bytes is sorted out with a few comparisons, and the reference takes any
// token the block does not hold.

// A token of up to 16 bytes as the key of its decision in the cache: its
// bytes, zero-padded.
struct packed {
    std::uint64_t low, high;
};

struct token_scan {
    int length;       // the bytes before the white space
    bool decisions;   // a mark, the composition character, or d after d; perhaps, for a long token
    bool open_stops;  // has_open_stop, for a token the cache may hold
    int last_word;    // where the letters that end it begin; -1: ask is_letter_byte
    int space_run;    // the white space after it, where the bytes scanned end it; -1: not known
    int lines;        // the line ends in that white space, 2 for two or more (all that they tell)
    bool has_key;     // `key` is the token's, where the block scan found it
    packed key;
};

// The bytes that are marks (is_special).
constexpr std::size_t mark_count = [] {
    std::size_t n = 0;
    for (int b = 0; b < 256; ++b) n += default_classes[b] >= FIRST_TONE_CLASS;
    return n;
}();

constexpr auto mark_bytes = [] {
    std::array<unsigned char, mark_count> marks{};
    std::size_t n = 0;
    for (int b = 0; b < 256; ++b)
        if (default_classes[b] >= FIRST_TONE_CLASS) marks[n++] = static_cast<unsigned char>(b);
    return marks;
}();

static_assert(mark_count == 8 && mark_bytes[mark_count - 1] < 0x80, "the eight marks are ASCII");

static_assert([] {
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        const bool printable_ascii = b >= ' ' && b < 0x80;
        if (printable_ascii && (letter_infos[b].symbol != 0) != is_ascii_letter(byte)) return false;
        if (is_space(byte) != (b == ' ' || (b >= '\t' && b <= '\r'))) return false;
    }
    return true;
}(), "the block scan's white space is the reference's, and so are its letters but for the VISCII ones");

// Whether the `n` bytes at `token` hold anything the reader decides.
bool has_decisions(const typed_reader &r, const unsigned char *token, int n) {
    unsigned char before = 0;
    for (int i = 0; i < n; ++i) {
        if (is_special(r, token[i], before)) return true;
        before = token[i];
    }
    return false;
}

// The reference: `limit` bounds the bytes looked at.  False when no white
// space comes before it.
bool scan_token_bytes(const typed_reader &r, const unsigned char *in, std::size_t limit, token_scan &scan) {
    std::size_t q = 0;
    while (q < limit && !is_space(in[q])) ++q;
    if (q == limit) return false;
    const int n = static_cast<int>(q);
    if (n > static_cast<int>(TYPED_CACHE_TOKEN_MAX)) {
        // Too long for the cache: deciding it finds out whether there is
        // anything to decide, in the one pass it takes anyway.
        scan = {n, true, false, -1, -1, 0, false, {}};
        return true;
    }
    scan = {n, has_decisions(r, in, n), has_open_stop(in, n), -1, -1, 0, false, {}};
    return true;
}

// Scans tokens for one call of typed_feed.  The pattern of the composition
// character is made once here: made afresh for every token, it was built
// from the byte read back from memory as a wider value, which stalls.
class token_scanner {
public:
    explicit token_scanner(const typed_reader &r) : r_(r) {
#if defined(__SSE2__)
        composition_ = _mm_set1_epi8(static_cast<char>(r.composition_char));
#endif
    }

    bool scan(const unsigned char *in, std::size_t length, token_scan &scan) const {
#if defined(__SSE2__)
        if (length >= SCAN_BLOCK && scan_block(in, scan)) return true;
#endif
        return scan_token_bytes(r_, in, length > TYPED_TOKEN_MAX ? TYPED_TOKEN_MAX + 1 : length, scan);
    }

private:
#if defined(__SSE2__)
    static constexpr std::size_t SCAN_BLOCK = 16;
    // From byte 16 - n on: n bytes kept, the rest cleared.
    static constexpr unsigned char first_bytes_mask[2 * SCAN_BLOCK] = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

    // The same as scan_token_bytes for a token that 16 readable bytes at
    // `in` hold with the white space after it.
    bool scan_block(const unsigned char *in, token_scan &scan) const {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
        auto equal = [&](unsigned char value) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value))); };
        // Unsigned b - low <= span, as a saturating minimum.
        auto within = [&](unsigned char low, unsigned char span) {
            const __m128i shifted = _mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>(low)));
            return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(static_cast<char>(span))), shifted);
        };
        auto mask = [](__m128i hits) { return static_cast<unsigned>(_mm_movemask_epi8(hits)); };
        const unsigned spaces = mask(_mm_or_si128(equal(' '), within('\t', '\r' - '\t')));
        if (spaces == 0) return false;
        const int n = std::countr_zero(spaces);
        const unsigned in_token = (1u << n) - 1;
        __m128i marks = _mm_cmpeq_epi8(bytes, composition_);
        for (unsigned char m : mark_bytes) marks = _mm_or_si128(marks, equal(m));
        const unsigned ds = mask(_mm_or_si128(equal('d'), equal('D')));
        const bool decisions = ((mask(marks) | (ds & (ds << 1))) & in_token) != 0;  // d after d: ds & ds << 1
        const unsigned small = mask(within('a', 'z' - 'a'));
        const unsigned letters = small | mask(within('A', 'Z' - 'A'));
        const unsigned open_stops = mask(_mm_or_si128(equal('.'), equal('?'))) & ~(small >> 1) & in_token;
        const unsigned others = ~letters & in_token;
        // Bytes >= 0x80 and controls may be VISCII letters: the reference
        // knows which the reader takes.
        const unsigned unusual = mask(bytes) | mask(within(0, ' ' - 1));
        // The white space after the token, where a byte of the block ends it.
        const unsigned after = (~spaces & 0xFFFFu) >> n;
        const int run = after != 0 ? std::countr_zero(after) : -1;
        const unsigned run_bits = after != 0 ? ((1u << run) - 1) << n : 0;
        const unsigned line_ends = mask(equal('\n')) & run_bits;
        // Computed without branches, which the varied text would mispredict.
        const int last_word = (32 - std::countl_zero(others)) | -static_cast<int>((unusual & in_token) != 0);
        scan = {n,
                decisions,
                open_stops != 0,
                last_word,
                run,
                static_cast<int>(line_ends != 0) + static_cast<int>((line_ends & (line_ends - 1)) != 0),
                true,
                {}};
        // The key for the cache: the token's bytes and zeros after them.
        const __m128i keep = _mm_loadu_si128(reinterpret_cast<const __m128i *>(first_bytes_mask + SCAN_BLOCK - n));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(&scan.key), _mm_and_si128(bytes, keep));
        return true;
    }

    __m128i composition_;
#endif
    const typed_reader &r_;
};

// A token with nothing to decide, as it stands; its last word kept for
// compounds.
std::size_t copy_plain_token(typed_reader &r, unsigned char *out) {
    const int n = r.token_length;
    std::memcpy(out, r.token, static_cast<std::size_t>(n));
    remember_plain_word(r, r.token, n);
    r.token_took_diacritic = false;
    return static_cast<std::size_t>(n);
}

// ---------------------------------------------------------------------------
// The cache of decisions.  A token reads the same wherever it stands, given
// the quotations open before it and, where a . or ? in it may be weighed,
// the class of what follows it; save where the word before could make a
// compound with it.  Running text repeats its words, so the decision is
// kept, with the state it leaves (the quotations, the word kept for
// compounds), and used again.

std::uint64_t first_bytes(const unsigned char *bytes, int n) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, 8);  // the token buffer is 16 bytes longer than any token
    return n >= 8 ? word : word & ((std::uint64_t{1} << (8 * n)) - 1);
}

unsigned char quote_bits(const typed_reader &r) {
    return static_cast<unsigned char>((r.quote_open ? 1 : 0) | (r.backtick_open ? 2 : 0));
}

// Which word that begins a compound (compound_first_id) the word kept for
// compounds is.
int first_id_of_previous(const typed_reader &r) {
    syllable_letter letters[WORD_LETTERS_MAX];
    return compound_first_id(letters, previous_letters(r, letters));
}

// The same, from what a decision taken from the cache said where it can.
int previous_first_id(const typed_reader &r) {
    const bool known = r.known_length == r.previous_length && std::memcmp(r.known_word, r.previous, TYPED_PREVIOUS_MAX) == 0;
    return known ? r.known_first_id : first_id_of_previous(r);
}

// The key of a decision beyond the token's bytes: the quotations open
// before it and, where the token has a . or ? to weigh, what follows it and
// which word that begins a compound stands before it.
std::uint16_t context_key(const typed_reader &r, bool weighs, follow_class follows) {
    static_assert(FOLLOW_CLASS_COUNT + 1 <= 8 && std::size(compound_table) < 1 << 7, "the key fits 16 bits");
    if (!weighs) return quote_bits(r);
    const int first = previous_first_id(r);
    return static_cast<std::uint16_t>(quote_bits(r) | (follows + 1) << 2 | first << 5 | (r.diacritic_on_line ? 1 << 12 : 0));
}

// The tag of an entry (typed_cache_entry::tag) for a token of `n` bytes.
std::uint32_t tag_of(const typed_reader &r, int n, std::uint16_t context) {
    return context | static_cast<std::uint32_t>(n) << 16 | std::uint32_t{r.composition_char} << 24;
}

// The set of entries that may hold a key: two entries in one line of the
// processor's cache, the one used last first.
typed_cache_entry *cache_set(typed_reader &r, const packed &key, std::uint32_t tag) {
    static_assert(TYPED_CACHE_SLOTS % 2 == 0 && sizeof(typed_cache_entry) * 2 == 64);
    const std::uint64_t h = (key.low * 0x9E3779B97F4A7C15ull) ^ (key.high + tag) * 0xC2B2AE3D27D4EB4Full;
    return &r.cache->slots[(h >> 40) % (TYPED_CACHE_SLOTS / 2) * 2];
}

bool entry_holds(const typed_cache_entry &e, const packed &key, std::uint32_t tag) {
    packed held;
    std::memcpy(&held, e.key, sizeof held);
    return ((e.tag ^ tag) | (held.low ^ key.low) | (held.high ^ key.high)) == 0;  // one branch for all
}

// The `n` bytes at `bytes` as a key; 8 bytes past them may be read.
packed key_of(const unsigned char *bytes, int n) {
    return {first_bytes(bytes, n), n > 8 ? first_bytes(bytes + 8, n - 8) : 0};
}

bool cache_usable(const typed_reader &r) {
    return r.cache != nullptr && !r.cutting && !r.carry_word && r.token_length <= int(TYPED_CACHE_TOKEN_MAX);
}

// The cached decision of the token of `n` bytes at `bytes` (16 bytes past
// them may be read), whose key is `key`, in `context` (context_key),
// written at `out`, with the state it leaves; 0 when there is none.
std::size_t cached_decision(typed_reader &r, const unsigned char *bytes, int n, const packed &key,
                            std::uint16_t context, unsigned char *out) {
    const std::uint32_t tag = tag_of(r, n, context);
    typed_cache_entry *set = cache_set(r, key, tag);
    if (!entry_holds(set[0], key, tag)) {
        if (!entry_holds(set[1], key, tag)) return 0;
        std::swap(set[0], set[1]);  // the one used last first
    }
    const typed_cache_entry &e = set[0];
    r.quote_open = (e.quotes_after & 1) != 0;
    r.backtick_open = (e.quotes_after & 2) != 0;
    r.diacritic_on_line |= e.takes_diacritic != 0;
    r.previous_length = e.previous_length;
    std::memcpy(r.previous, bytes + (n - e.previous_length), TYPED_PREVIOUS_MAX);
    r.known_length = e.previous_length;
    r.known_first_id = e.previous_first_id;
    std::memcpy(r.known_word, r.previous, TYPED_PREVIOUS_MAX);
    if (e.escapes == 0) {
        std::memcpy(out, bytes, TYPED_CACHE_TOKEN_MAX);  // the whole of a token that takes every mark it joins
        return static_cast<std::size_t>(n);
    }
    // The bytes between escapes in copies of a fixed size, which the bytes
    // readable past the token and the output room allow.
    unsigned char *o = out;
    int from = 0;
    for (std::uint32_t escapes = e.escapes; escapes != 0; escapes &= escapes - 1) {
        const int k = std::countr_zero(escapes);
        std::memcpy(o, bytes + from, TYPED_CACHE_TOKEN_MAX);
        o += k - from;
        *o++ = r.composition_char;
        from = k;
    }
    std::memcpy(o, bytes + from, TYPED_CACHE_TOKEN_MAX);
    return static_cast<std::size_t>(o + (n - from) - out);
}

// Where the strict VIQR `out` adds composition characters to the token: a
// bit for each byte they stand before.  False when `out` is not the token
// with composition characters added.
bool escapes_of(const typed_reader &r, const unsigned char *out, std::size_t written, std::uint32_t &escapes) {
    escapes = 0;
    std::size_t k = 0;
    for (std::size_t j = 0; j < written; ++j) {
        if (k < static_cast<std::size_t>(r.token_length) && out[j] == r.token[k]) {
            ++k;
        } else if (out[j] == r.composition_char) {
            escapes |= std::uint32_t{1} << k;
        } else {
            return false;
        }
    }
    return k == static_cast<std::size_t>(r.token_length);
}

void cache_decision(typed_reader &r, std::uint16_t context, const unsigned char *out, std::size_t written) {
    // The word kept for compounds is the token's last bytes (an escape
    // before a word starts it).
    const std::size_t kept = r.previous_length;
    if (std::memcmp(r.previous, r.token + (r.token_length - static_cast<int>(kept)), kept) != 0) return;
    std::uint32_t escapes = 0;
    if (!escapes_of(r, out, written, escapes)) return;
    const packed key = key_of(r.token, r.token_length);
    const std::uint32_t tag = tag_of(r, r.token_length, context);
    typed_cache_entry *set = cache_set(r, key, tag);
    set[1] = set[0];  // the older of the two goes
    typed_cache_entry &e = set[0];
    std::memcpy(e.key, &key, sizeof key);
    e.tag = tag;
    e.quotes_after = quote_bits(r);
    e.takes_diacritic = r.token_took_diacritic;
    e.escapes = escapes;
    e.previous_length = r.previous_length;
    e.previous_first_id = static_cast<unsigned char>(first_id_of_previous(r));
}


// ---------------------------------------------------------------------------
// The decision

// Decides every word of the token and writes it as strict VIQR.
std::size_t decide_words(typed_reader &r, const follow &f, unsigned char *out) {
    token_view v;
    read_units(r, r.token, r.token_length, v);
    if (v.has_join) {
        const word *words = v.words;
        const bool path = is_path(v);
        // Quotes open before a word count for its marks: walk the words in
        // order, updating the quote state on the plain quotation marks
        // between them.
        const bool quote_before = r.quote_open, backtick_before = r.backtick_open;
        int quotes_done = 0;
        for (int wi = 0; wi < v.word_count; ++wi) {
            const word &w = words[wi];
            for (; quotes_done < v.quote_count && v.quotes[quotes_done] < w.begin; ++quotes_done)
                if (v.units[v.quotes[quotes_done]].kind == UNIT_PLAIN) step_quotes(r, v.units, v.quotes[quotes_done], v.count);
            if (w.join_count == 0) continue;
            const bool joined = wi > 0 && words[wi - 1].end + 1 == w.begin &&
                                (v.units[w.begin - 1].byte == '-' || v.units[w.begin - 1].byte == '_');
            word_context c{after_of(v.units, w.end, v.count), path,
                           w.begin > 0 && is_digit(v.units[w.begin - 1].byte), w.begin == 0,
                           joined ? &words[wi - 1] : nullptr};
            decide_word(r, v.units, w, c, f);
        }
        r.quote_open = quote_before;
        r.backtick_open = backtick_before;
    }
    update_quotes(r, v);
    remember_last_word(r, v);
    const std::size_t written = write_units(r, v, out);
    r.diacritic_on_line |= r.token_took_diacritic;
    return written;
}

// Decides the pending token afresh, and keeps the decision in the cache
// where there is one: under `context`, or where the decision did not weigh
// what surrounds the token, under the quotations open before it alone.
// `has_some` says that the token is known to have something to decide.
std::size_t decide_afresh(typed_reader &r, const follow &f, std::uint16_t context, unsigned char *out,
                          bool has_some = false) {
    const bool cache = cache_usable(r);
    const std::uint16_t quotes_before = quote_bits(r);
    r.context_weighed = false;
    const bool plain = !has_some && !r.cutting && !r.carry_word && !has_decisions(r, r.token, r.token_length);
    const std::size_t written = plain ? copy_plain_token(r, out) : decide_words(r, f, out);
    if (cache) cache_decision(r, r.context_weighed ? context : quotes_before, out, written);
    r.token_length = 0;
    return written;
}

// The decision kept for the token of `n` bytes at `bytes` (16 bytes past
// them may be read), written at `out`; 0 when there is none.  A token with
// a . or ? that may be weighed is looked up first as one whose decision did
// not weigh it, then under what follows it and the word before; `context`
// is left the key for a decision taken afresh.
std::size_t kept_decision(typed_reader &r, const unsigned char *bytes, int n, bool open_stops, const follow &f,
                          std::uint16_t &context, unsigned char *out) {
    const packed key = key_of(bytes, n);
    context = quote_bits(r);
    const std::size_t written = cached_decision(r, bytes, n, key, context, out);
    if (written > 0 || !open_stops) return written;
    context = context_key(r, true, class_of(f));
    return cached_decision(r, bytes, n, key, context, out);
}

std::size_t decide_token(typed_reader &r, const follow &f, unsigned char *out) {
    if (!cache_usable(r)) return decide_afresh(r, f, 0, out);
    std::uint16_t context = 0;
    const std::size_t written =
        kept_decision(r, r.token, r.token_length, has_open_stop(r.token, r.token_length), f, context, out);
    if (written > 0) {
        r.token_length = 0;
        return written;
    }
    return decide_afresh(r, f, context, out);
}

// The kind of white space that holds `lines` line ends.
constexpr space_kind space_of_lines(int lines) {
    return lines >= 2 ? SPACE_BLANK_LINE : lines == 1 ? SPACE_LINE_END : SPACE_BLANKS;
}

follow follow_of_space(const typed_reader &r, int next, int next2) {
    int lines = 0;
    for (int i = 0; i < r.space_length; ++i) lines += r.space[i] == '\n';
    return follow{space_of_lines(lines), next, next2};
}

// Only tonedown's announcement, a \V that opens the text, switches the mode.
// Anywhere else a composition character and a mode letter are text (a TeX
// \lceil at the start of a line, \L in prose about the keys): a switch taken
// wrongly would leave the rest of the text unconverted, without a word.
bool pending_switch(const typed_reader &r) {
    return r.at_text_start && r.token_length == 2 && r.token[0] == r.composition_char && r.token[1] == 'V';
}

std::size_t take_switch(typed_reader &r, unsigned char *out) {
    r.at_text_start = false;
    out[0] = r.composition_char;
    out[1] = r.token[1];
    r.mode = static_cast<unsigned char>(mode_of_letter(r.token[1]));
    r.token_length = 0;
    r.escape_pending = false;
    r.previous_length = 0;
    return 2;
}

// A line end in white space that passes at once: quotations end with the
// line, and a blank line parts a word from the one before it.
void note_line_end(typed_reader &r) {
    r.quote_open = r.backtick_open = false;
    r.diacritic_on_line = false;
    if (r.run_lines < 2) ++r.run_lines;
    if (r.run_lines == 2) r.previous_length = 0;
}

// Writes the pending token, decided with what follows it, and the white space
// after it.
std::size_t write_pending_token(typed_reader &r, int next, int next2, unsigned char *out) {
    if (r.token_length == 0 && !r.token_done) return 0;
    if (!r.token_done && pending_switch(r)) return take_switch(r, out);
    r.at_text_start = false;
    const follow f = r.token_done ? follow_of_space(r, next, next2) : follow{SPACE_NONE, next, next2};
    std::size_t n = r.token_length > 0 ? decide_token(r, f, out) : 0;
    if (r.token_done) {
        std::memcpy(out + n, r.space, r.space_length);
        n += r.space_length;
        int lines = 0;
        for (int i = 0; i < r.space_length; ++i) lines += r.space[i] == '\n';
        if (lines > 0) r.quote_open = r.backtick_open = r.diacritic_on_line = false;
        if (lines > 1) r.previous_length = 0;
        r.run_lines = static_cast<unsigned char>(lines > 2 ? 2 : lines);
    }
    r.token_done = false;
    r.token_length = 0;
    r.space_length = 0;
    return n;
}

std::size_t feed_one(typed_reader &r, unsigned char b, unsigned char *out);

// Decides the token before the white space with the bytes seen after it,
// then reads those bytes as the start of the next token.
std::size_t settle_and_replay(typed_reader &r, int next2, unsigned char *out) {
    std::size_t n = write_pending_token(r, r.lookahead[0], next2, out);
    const unsigned char first = r.lookahead[0];
    r.lookahead_length = 0;
    n += feed_one(r, first, out + n);
    return n;
}

std::size_t feed_vietnamese(typed_reader &r, unsigned char b, unsigned char *out) {
    std::size_t n = 0;
    if (r.token_done) {
        if (r.lookahead_length == 1) {
            n = settle_and_replay(r, b, out);
            return n + feed_one(r, b, out + n);
        }
        if (is_space(b) && r.space_length < TYPED_SPACE_MAX) {
            r.space[r.space_length++] = b;
            return 0;
        }
        if (!is_space(b)) {
            // Only after a capital does the byte after it tell anything.
            if (is_ascii_upper(b)) {
                r.lookahead[0] = b;
                r.lookahead_length = 1;
                return 0;
            }
            n = write_pending_token(r, b, NEXT_UNKNOWN, out);
        } else {
            n = write_pending_token(r, NEXT_UNKNOWN, NEXT_UNKNOWN, out);
        }
    }
    if (r.token_length == 0) {
        if (is_space(b)) {
            out[n++] = b;
            if (b == '\n') note_line_end(r);
            r.at_text_start = false;
            return n;
        }
        r.run_lines = 0;
        r.token[r.token_length++] = b;
        return n;
    }
    if (pending_switch(r)) {
        n += take_switch(r, out + n);
        return n + feed_one(r, b, out + n);
    }
    if (is_space(b)) {
        r.token_done = true;
        r.space[0] = b;
        r.space_length = 1;
        return n;
    }
    if (r.token_length == TYPED_TOKEN_MAX) {
        // A full buffer: what is kept is decided as it stands, but an escape
        // is not cut from the byte it escapes.
        int trailing = 0;
        while (trailing < r.token_length && r.token[r.token_length - 1 - trailing] == r.composition_char) ++trailing;
        const bool carry = trailing % 2 == 1;
        if (carry) --r.token_length;
        r.cutting = true;
        n += write_pending_token(r, NEXT_UNKNOWN, NEXT_UNKNOWN, out + n);
        r.cutting = false;
        if (carry) r.token[r.token_length++] = r.composition_char;
    }
    r.token[r.token_length++] = b;
    return n;
}

// English and Literal mode: the bytes pass; only a mode switch matters.
void follow_other_mode(typed_reader &r, unsigned char b) {
    r.at_text_start = false;
    if (r.escape_pending) {
        r.escape_pending = false;
        const int mode = mode_of_letter(b);
        if (mode != NO_MODE) {
            r.mode = static_cast<unsigned char>(mode);
        }
    } else if (b == r.composition_char) {
        r.escape_pending = true;
    }
}

std::size_t feed_one(typed_reader &r, unsigned char b, unsigned char *out) {
    if (r.mode == MODE_VIETNAMESE) return feed_vietnamese(r, b, out);
    out[0] = b;
    follow_other_mode(r, b);
    return 1;
}

// Settles everything pending, as before a character that is not fed (`end`
// NEXT_UNKNOWN) or at the end of the text (NEXT_END).
std::size_t settle_all(typed_reader &r, int end, unsigned char *out) {
    std::size_t n = 0;
    if (r.lookahead_length == 1) n = settle_and_replay(r, end, out);
    if (r.mode != MODE_VIETNAMESE) return n;
    return n + write_pending_token(r, end, end, out + n);
}

}  // namespace

namespace {
bool cache_switch = true;
}  // namespace

void typed_use_cache(bool on) { cache_switch = on; }

void typed_reset(typed_reader &r, unsigned char composition_char, int mode, bool viscii_input, typed_cache *cache) {
    std::memset(&r, 0, sizeof r);
    r.cache = cache_switch ? cache : nullptr;
    if (r.cache != nullptr) std::memset(r.cache, 0, sizeof *r.cache);
    r.composition_char = composition_char;
    r.mode = static_cast<unsigned char>(mode);
    r.viscii_input = viscii_input;
    r.at_text_start = true;
}

// Between tokens in Vietnamese mode, with nothing kept back: white space
// passes at once.  Returns false, having done nothing, for any other byte.
namespace {

inline bool pass_between_tokens(typed_reader &r, const unsigned char *in, std::size_t length, std::size_t &i,
                                unsigned char *&o) {
    if (!is_space(in[i])) return false;
    r.at_text_start = false;
    do {
        const unsigned char b = in[i++];
        *o++ = b;
        if (b == '\n') note_line_end(r);
    } while (i < length && is_space(in[i]));
    return true;
}

// After a token: the white space its scan found, at once, and any other
// as pass_between_tokens passes it.  The token left the count of line ends
// at 0.
inline void pass_space_after(typed_reader &r, const token_scan &scan, const unsigned char *in, std::size_t length,
                             std::size_t &i, unsigned char *&o) {
    if (scan.space_run < 0) {
        pass_between_tokens(r, in, length, i, o);
        return;
    }
    // A copy of a fixed size where the input has the bytes (the output has
    // the room): the length of the white space is data.
    if (length - i >= 16)
        std::memcpy(o, in + i, 16);
    else
        std::memcpy(o, in + i, static_cast<std::size_t>(scan.space_run));
    o += scan.space_run;
    i += static_cast<std::size_t>(scan.space_run);
    if (scan.lines > 0) {
        r.quote_open = r.backtick_open = false;
        r.diacritic_on_line = false;
        r.run_lines = static_cast<unsigned char>(scan.lines);
        if (scan.lines == 2) r.previous_length = 0;
    }
}

// What follows the token that white space ends at `q`, where the input holds
// all of it that a decision weighs: the white space (no more than the buffer
// for it takes), the byte after it, and after a capital the byte after that.
// The same as the reader finds when the token waits for them.
bool follow_in(const token_scan &scan, const unsigned char *in, std::size_t length, std::size_t q, follow &f) {
    std::size_t k = q;
    int lines = 0;
    if (scan.space_run >= 0) {
        static_assert(TYPED_SPACE_MAX >= 16, "white space that the block scan finds fits the buffer for it");
        k += static_cast<std::size_t>(scan.space_run);
        lines = scan.lines;
    } else {
        for (; k < length && is_space(in[k]); ++k) lines += in[k] == '\n';
        if (k == length || k - q > TYPED_SPACE_MAX) return false;
    }
    const int next = in[k];
    int next2 = NEXT_UNKNOWN;
    if (is_ascii_upper(in[k])) {
        if (k + 1 == length) return false;
        next2 = in[k + 1];
    }
    f = {space_of_lines(lines), next, next2};
    return true;
}

// At the start of a token that ends in `in`, white space after it: a token
// with nothing to decide is written as it stands, and one whose decision
// what follows it in `in` settles is decided at once; any other is taken
// whole as the pending token.  Returns false, having done nothing, for a
// token that does not end in `in`, one too long for the buffer, and one
// that starts with the composition character (a mode switch may stand
// there).
inline bool take_whole_token(typed_reader &r, const token_scanner &scanner, const unsigned char *in,
                             std::size_t length, std::size_t &i, unsigned char *&o) {
    if (in[i] == r.composition_char) return false;
    token_scan scan;
    if (!scanner.scan(in + i, length - i, scan)) return false;
    const int n = scan.length;
    const std::size_t q = i + static_cast<std::size_t>(n);
    r.run_lines = 0;
    r.at_text_start = false;
    if (!scan.decisions) {
        // A short token far from the end of the input: copies of a fixed
        // size, which the output room and the buffer for the word allow.
        constexpr int SHORT = 16;
        const bool short_token = n < SHORT && length - i >= 2 * SHORT;
        if (short_token)
            std::memcpy(o, in + i, SHORT);
        else
            std::memcpy(o, in + i, static_cast<std::size_t>(n));
        o += n;
        if (scan.last_word < 0) {
            remember_plain_word(r, in + i, n);
        } else if (short_token) {
            static_assert(TYPED_PREVIOUS_MAX == SHORT);
            r.previous_length = static_cast<unsigned char>(n - scan.last_word);
            std::memcpy(r.previous, in + i + scan.last_word, SHORT);
        } else {
            remember_bytes(r, in + i + scan.last_word, n - scan.last_word);
        }
        i = q;
        pass_space_after(r, scan, in, length, i, o);
        return true;
    }
    // The cache reads 16 bytes past the token, which the input may not
    // have near its end: there the token is looked up where it is kept.
    const bool cacheable = r.cache != nullptr && n <= static_cast<int>(TYPED_CACHE_TOKEN_MAX);
    const unsigned char *bytes = in + i;
    if (cacheable && length - i < 2 * TYPED_CACHE_TOKEN_MAX) {
        std::memcpy(r.token, in + i, static_cast<std::size_t>(n));
        bytes = r.token;
    }
    std::uint16_t context = quote_bits(r);
    const packed key = !cacheable ? packed{} : scan.has_key ? scan.key : key_of(bytes, n);
    if (cacheable) {
        // A decision that did not weigh what follows the token is taken
        // without looking at that.
        if (const std::size_t written = cached_decision(r, bytes, n, key, context, o)) {
            o += written;
            i = q;
            pass_space_after(r, scan, in, length, i, o);
            return true;
        }
    }
    follow f;
    if (follow_in(scan, in, length, q, f)) {
        std::size_t written = 0;
        if (cacheable && scan.open_stops) {
            context = context_key(r, true, class_of(f));
            written = cached_decision(r, bytes, n, key, context, o);
        }
        if (written == 0) {
            std::memcpy(r.token, in + i, static_cast<std::size_t>(n));
            r.token_length = static_cast<unsigned short>(n);
            written = cacheable ? decide_afresh(r, f, context, o, true) : decide_token(r, f, o);
        }
        o += written;
        i = q;
        pass_space_after(r, scan, in, length, i, o);
        return true;
    }
    std::memcpy(r.token, in + i, static_cast<std::size_t>(n));
    r.token_length = static_cast<unsigned short>(n);
    r.token_done = true;
    r.space[0] = in[q];
    r.space_length = 1;
    i = q + 1;
    return true;
}

}  // namespace

std::size_t typed_feed(typed_reader &r, const unsigned char *in, std::size_t length, unsigned char *out) {
    unsigned char *o = out;
    const unsigned char composition = r.composition_char;
    const token_scanner scanner(r);
    std::size_t i = 0;
    while (i < length) {
        // The common steps inline: white space between tokens, the bytes inside a token, away from its start (where a
        // mode switch may stand) and from the buffer's end, and white space
        // after a token.  feed_one takes every other step.
        if (r.mode == MODE_VIETNAMESE && !r.token_done) {
            const std::size_t n = r.token_length;
            if (n == 0 && !r.carry_word) {
                if (pass_between_tokens(r, in, length, i, o)) continue;
                if (take_whole_token(r, scanner, in, length, i, o)) continue;
            }
            const bool inside = n > 2 || (n > 0 && r.token[0] != composition);
            if (inside && n < TYPED_TOKEN_MAX) {
                const std::size_t room = TYPED_TOKEN_MAX - n;
                const std::size_t limit = length - i < room ? length : i + room;
                std::size_t j = i;
                while (j < limit && !is_space(in[j])) ++j;
                std::memcpy(r.token + n, in + i, j - i);
                r.token_length = static_cast<unsigned short>(n + (j - i));
                i = j;
                if (i == length || !is_space(in[i])) continue;
                r.token_done = true;
                r.space[0] = in[i++];
                r.space_length = 1;
                continue;
            }
        } else if (r.mode == MODE_VIETNAMESE && r.lookahead_length == 0) {
            // White space after a token, then the first byte of the next:
            // the token is settled with what follows it and the next begun.
            while (i < length && is_space(in[i]) && r.space_length < TYPED_SPACE_MAX) r.space[r.space_length++] = in[i++];
            if (i == length) break;
            const unsigned char b = in[i];
            if (!is_space(b) && !is_ascii_upper(b) && b != composition) {
                // The next token starts with b, read on the next turn.
                o += write_pending_token(r, b, NEXT_UNKNOWN, o);
                continue;
            }
        }
        o += feed_one(r, in[i++], o);
    }
    return static_cast<std::size_t>(o - out);
}

std::size_t typed_break(typed_reader &r, unsigned char *out) {
    const std::size_t n = settle_all(r, NEXT_UNKNOWN, out);
    // The character is text, and in English or Literal mode the escaped
    // byte of a pending escape: the engine takes its stand-in so.
    r.escape_pending = false;
    r.at_text_start = false;
    r.previous_length = 0;
    return n;
}

std::size_t typed_flush(typed_reader &r, unsigned char *out) { return settle_all(r, NEXT_END, out); }

}  // namespace viqr::detail
