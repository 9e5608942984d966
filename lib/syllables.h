// What a Vietnamese syllable looks like, as data: the initial consonants, the
// vowel nuclei with the vowel that carries the tone, the final consonants,
// and how often some syllables close a phrase.  The typed reader asks these
// tables whether the marks a person typed make a Vietnamese syllable, and so
// whether they are diacritics or punctuation.
//
// A syllable is spelled as letters: every letter that a VISCII row spells
// (the vowels with their shape marks, d and đ) is written as its lower-case
// letter class from viscii_letters.h, any other letter as its lower-case ASCII
// byte.  Each letter carries a tone number 0..5.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "composer.h"
#include "viscii_letters.h"

namespace viqr::detail {

// ---------------------------------------------------------------------------
// The tables, as a person reads them.  Spellings are VIQR: a base letter, then
// a shape mark; "dd" is đ.

// Which vowels may follow an initial: c, g and ng are written k, gh and ngh
// before the front vowels e, ê, i, y.
enum class before_vowel : unsigned char { any, front_only, not_front };

struct initial_rule {
    const char *spelling;
    before_vowel before;
};

inline constexpr initial_rule initial_table[] = {
    {"b", before_vowel::any},   {"c", before_vowel::not_front},  {"ch", before_vowel::any},
    {"d", before_vowel::any},   {"dd", before_vowel::any},       {"g", before_vowel::not_front},
    {"gh", before_vowel::front_only}, {"gi", before_vowel::any}, {"h", before_vowel::any},
    {"k", before_vowel::front_only},  {"kh", before_vowel::any}, {"l", before_vowel::any},
    {"m", before_vowel::any},   {"n", before_vowel::any},        {"ng", before_vowel::not_front},
    {"ngh", before_vowel::front_only}, {"nh", before_vowel::any}, {"p", before_vowel::any},
    {"ph", before_vowel::any},  {"qu", before_vowel::any},       {"r", before_vowel::any},
    {"s", before_vowel::any},   {"t", before_vowel::any},        {"th", before_vowel::any},
    {"tr", before_vowel::any},  {"v", before_vowel::any},        {"x", before_vowel::any},
};

struct final_rule {
    const char *spelling;
    bool stop;  // c ch p t: only the acute or the dot below may stand before it
};

inline constexpr final_rule final_table[] = {
    {"c", true}, {"ch", true}, {"m", false}, {"n", false}, {"ng", false}, {"nh", false}, {"p", true}, {"t", true},
};

// Whether a nucleus stands at the end of the syllable, before a final
// consonant, or both.
enum class takes_final : unsigned char { never, always, optional };

inline constexpr int NO_TONE_POSITION = -1;

// A vowel nucleus and the vowel (0 = first) that carries the tone: without a
// final consonant, under the older placement where it differs (hòa, hòe,
// thủy beside hoà, hoè, thuỷ), and before a final consonant.
struct nucleus_rule {
    const char *spelling;
    takes_final final;
    signed char tone_open;
    signed char tone_open_old;
    signed char tone_closed;
};

inline constexpr nucleus_rule nucleus_table[] = {
    //  nucleus   final                    open              old               closed
    {"a",      takes_final::optional,  0,                0,                0},
    {"a(",     takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 0},
    {"a^",     takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 0},
    {"ai",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"ao",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"au",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"ay",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"a^u",    takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"a^y",    takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"e",      takes_final::optional,  0,                0,                0},
    {"eo",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"e^",     takes_final::optional,  0,                0,                0},
    {"e^u",    takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"i",      takes_final::optional,  0,                0,                0},
    {"ia",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"ie^",    takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 1},
    {"ie^u",   takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"iu",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"o",      takes_final::optional,  0,                0,                0},
    {"oa",     takes_final::optional,  1,                0,                1},
    {"oa(",    takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 1},
    {"oai",    takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"oao",    takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"oay",    takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"oe",     takes_final::optional,  1,                0,                1},
    {"oeo",    takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"oi",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"oo",     takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 1},
    {"o^",     takes_final::optional,  0,                0,                0},
    {"o^i",    takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"o+",     takes_final::optional,  0,                0,                0},
    {"o+i",    takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"u",      takes_final::optional,  0,                0,                0},
    {"ua",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"ua^",    takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 1},
    {"ua^y",   takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"ue^",    takes_final::optional,  1,                1,                1},
    {"ui",     takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"uo^",    takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 1},
    {"uo^i",   takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"uo+",    takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"uy",     takes_final::optional,  1,                0,                1},
    {"uya",    takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"uye^",   takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 2},
    {"uyu",    takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"u+",     takes_final::optional,  0,                0,                0},
    {"u+a",    takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"u+i",    takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"u+u",    takes_final::never,     0,                0,                NO_TONE_POSITION},
    {"u+o+",   takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 1},
    {"u+o+i",  takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"u+o+u",  takes_final::never,     1,                1,                NO_TONE_POSITION},
    {"y",      takes_final::optional,  0,                0,                0},
    {"ye^",    takes_final::always,    NO_TONE_POSITION, NO_TONE_POSITION, 1},
    {"ye^u",   takes_final::never,     1,                1,                NO_TONE_POSITION},
};

// How common an open syllable is, bare or with the dot below or the hook
// above, from 1 (met now and then) to 4 (among the commonest words); a
// syllable not listed counts 0.  Consulted only where a trailing . or ? could
// be the tone of an open syllable or punctuation after it: ra. is far more
// often ra and a full stop than rạ, chia se? is chia sẻ and not a question.
struct syllable_weight {
    const char *spelling;  // lower-case VIQR
    signed char weight;
};

inline constexpr syllable_weight frequency_table[] = {
    // bare
    {"ra", 4}, {"ddi", 4}, {"cho", 4}, {"nhu+", 4}, {"qua", 4}, {"khi", 4}, {"nghe", 3}, {"do", 4},
    {"ta", 3}, {"gia", 2}, {"hoa", 3}, {"khoa", 3}, {"thu+", 3}, {"co^", 2}, {"co+", 3}, {"xe", 3},
    {"ba", 3}, {"thi", 3}, {"tu+", 3}, {"tuy", 3}, {"quy", 3}, {"duy", 3}, {"thu", 3}, {"chi", 1},
    {"khu", 2}, {"tho+", 2}, {"que^", 2}, {"da", 2}, {"vi", 2}, {"tu", 2}, {"du", 2}, {"xa", 2},
    {"nha", 2}, {"ca", 2}, {"ma", 2}, {"pha", 2}, {"no", 2}, {"to", 2}, {"to^", 2}, {"ddo^", 2},
    {"so+", 2}, {"mo+", 2}, {"che", 2}, {"ke^", 2}, {"chu", 2}, {"su+", 2}, {"hu+", 2}, {"u+", 2},
    {"loa", 2}, {"huy", 2}, {"ly", 2}, {"hy", 2}, {"bi", 1}, {"di", 2}, {"mo^", 2}, {"so", 2},
    {"lo", 2}, {"ho", 2}, {"cu+", 2}, {"nghi", 2}, {"tha", 1}, {"ti", 1}, {"li", 1},
    {"mi", 1}, {"ni", 1}, {"ky", 1}, {"bo", 1}, {"co", 1}, {"tho", 1}, {"tro", 1}, {"vo", 1},
    {"mo", 1}, {"bo^", 1}, {"ho^", 1}, {"lo^", 1}, {"xo^", 1}, {"to+", 1}, {"bo+", 1}, {"o+", 1},
    {"me", 1}, {"ve", 1}, {"be", 1}, {"the", 1}, {"tre", 1}, {"khe", 1}, {"te^", 1}, {"le^", 1},
    {"be^", 1}, {"dde^", 1}, {"che^", 1}, {"me^", 1}, {"u", 1}, {"cu", 1}, {"bu", 1}, {"mu", 1},
    {"ru", 1}, {"su", 1}, {"ngu", 1}, {"phu", 1}, {"xu", 1}, {"toa", 1}, {"thuy", 1}, {"y", 1},
    {"ki", 1}, {"hi", 1},
    {"tho^", 1},
    // the dot below
    {"bi.", 4}, {"vi.", 4}, {"tri.", 4}, {"he^.", 4}, {"bo^.", 4}, {"ddo^.", 4}, {"tro+.", 4}, {"vu.", 4},
    {"su+.", 4}, {"tu+.", 4}, {"ho.", 4}, {"thi.", 3}, {"nghi.", 3}, {"chi.", 3}, {"le^.", 3}, {"ve^.", 3},
    {"nghe^.", 3}, {"ho^.", 3}, {"du.", 3}, {"cu.", 3}, {"phu.", 3}, {"du+.", 3}, {"me.", 3}, {"hoa.", 3},
    {"toa.", 3}, {"di.", 2}, {"ke^.", 2}, {"te^.", 2}, {"lo^.", 2}, {"mo^.", 2}, {"ngo^.", 2}, {"so+.", 2},
    {"vo+.", 2}, {"no+.", 2}, {"cho+.", 2}, {"thu.", 2}, {"tru.", 2}, {"tu.", 2}, {"ngu.", 2}, {"mu.", 2},
    {"nu.", 2}, {"thu+.", 2}, {"ngu+.", 2}, {"cu+.", 2}, {"ha.", 2}, {"la.", 3}, {"a.", 2}, {"da.", 2},
    {"nhe.", 2}, {"bo.", 2}, {"lo.", 2}, {"tho.", 2}, {"tro.", 2}, {"no.", 2}, {"ki.", 1}, {"li.", 1},
    {"mi.", 1}, {"ti.", 1}, {"ky.", 1}, {"ly.", 1}, {"be^.", 1}, {"tre^.", 1}, {"co^.", 1}, {"lo+.", 1},
    {"mo+.", 1}, {"bo+.", 1}, {"hu.", 1}, {"ta.", 1}, {"ma.", 1}, {"ra.", 1}, {"xa.", 1}, {"ca.", 1},
    {"ba.", 1}, {"cha.", 1}, {"qua.", 1}, {"be.", 1}, {"xe.", 1}, {"o.", 1}, {"thuy.", 1},
    // the hook above
    {"dde^?", 4}, {"the^?", 4}, {"ca?", 4}, {"qua?", 4}, {"chi?", 4}, {"o+?", 4}, {"chu?", 4}, {"su+?", 4},
    {"tu+?", 4}, {"gia?", 3}, {"ta?", 3}, {"tra?", 3}, {"nho?", 3}, {"bo?", 3}, {"mo+?", 3}, {"so+?", 3},
    {"to^?", 3}, {"pho^?", 3}, {"ddu?", 3}, {"thu?", 3}, {"phu?", 3}, {"thu+?", 3}, {"xu+?", 3}, {"se?", 3},
    {"tre?", 3}, {"ve?", 3}, {"ke^?", 3}, {"ky?", 3}, {"hoa?", 3}, {"huy?", 3}, {"thoa?", 3}, {"ha?", 2},
    {"tha?", 2}, {"xa?", 2}, {"cho?", 2}, {"ddo?", 2}, {"co?", 2}, {"to?", 2}, {"tho?", 2}, {"co^?", 2},
    {"ddo^?", 2}, {"bo^?", 2}, {"no^?", 2}, {"so^?", 2}, {"ngu?", 2}, {"tu?", 2}, {"cu?", 2}, {"hu?", 2},
    {"cu+?", 2}, {"ke?", 2}, {"re?", 2}, {"le?", 2}, {"me?", 2}, {"be?", 2}, {"nghi?", 2}, {"ti?", 2},
    {"ty?", 2}, {"be^?", 2}, {"ne^?", 2}, {"vo+?", 2}, {"tho+?", 2}, {"no+?", 2}, {"do+?", 2}, {"lo+?", 2},
    {"toa?", 2}, {"khoa?", 2}, {"ba?", 1}, {"la?", 1}, {"ma?", 1}, {"na?", 1}, {"a?", 1}, {"pha?", 1},
    {"ri?", 1}, {"mi?", 1}, {"hi?", 1}, {"y?", 1}, {"o?", 1}, {"lo?", 1}, {"mo?", 1}, {"gio?", 1},
    {"mu?", 1}, {"ru?", 1}, {"nhu?", 1}, {"u+?", 1}, {"khu+?", 1}, {"he?", 1}, {"che?", 1}, {"te^?", 1},
    {"bi?", 1},
    {"tho^?", 2},
    {"the?", 3},
    {"vo?", 2},
    {"tro?", 3},
};

// Words of two syllables whose second one is open and could take a trailing
// . or ?: when the syllable before is the first one, the second is read as
// spelled here (ví du. is ví dụ; đa^`u tu+. is đầu tư and a full stop).
struct compound {
    const char *first;
    const char *second;
};

inline constexpr compound compound_table[] = {
    {"vi'", "du."}, {"ki'", "tu+."}, {"ky'", "tu+."}, {"thu+'", "tu+."}, {"tu+o+ng", "tu+."},
    {"di.ch", "vu."}, {"nhie^.m", "vu."}, {"nghi~a", "vu."}, {"co^ng", "cu."}, {"du.ng", "cu."},
    {"thie^'t", "bi."}, {"chua^?n", "bi."}, {"gia'", "tri."}, {"qua?n", "tri."}, {"chi'nh", "tri."},
    {"ddi.a", "chi?"}, {"ty?", "le^."}, {"ti?", "le^."}, {"ngoa.i", "le^."}, {"ho+.p", "le^."},
    {"lie^n", "he^."}, {"quan", "he^."}, {"the^'", "he^."}, {"ba?o", "ve^."}, {"co^ng", "nghe^."},
    {"toa`n", "bo^."}, {"tie^'n", "ddo^."}, {"che^'", "ddo^."}, {"to^'c", "ddo^."}, {"mu+'c", "ddo^."},
    {"nhie^.t", "ddo^."}, {"ho^~", "tro+."}, {"hie^?n", "thi."}, {"ho^.i", "nghi."}, {"dde^`", "nghi."},
    {"tham", "du+."}, {"ke^'t", "qua?"}, {"hie^.u", "qua?"}, {"ta'c", "gia?"}, {"mo^", "ta?"},
    {"mie^u", "ta?"}, {"chia", "se?"}, {"co+", "so+?"}, {"tru.", "so+?"}, {"co'", "the^?"},
    {"cu.", "the^?"}, {"to^?ng", "the^?"}, {"dda^`y", "ddu?"}, {"li.ch", "su+?"}, {"ddie^.n", "tu+?"},
    {"pha^`n", "tu+?"}, {"toa'n", "tu+?"}, {"kie^?m", "thu+?"}, {"dda^`u", "tu+"}, {"rie^ng", "tu+"},
    {"pha.m", "vi"}, {"tu+.", "do"}, {"ly'", "do"}, {"quo^'c", "gia"}, {"tham", "gia"},
    {"chuye^n", "gia"}, {"chu'ng", "ta"}, {"ddo^.ng", "co+"}, {"nguy", "co+"}, {"tu+", "duy"},
    {"ta.o", "ra"}, {"xa?y", "ra"}, {"ddu+a", "ra"}, {"nha^.n", "ra"}, {"chi?", "ra"}, {"da`nh", "cho"},
    {"bo?", "qua"}, {"tho^ng", "qua"}, {"vu+o+.t", "qua"}, {"tru+o+'c", "khi"}, {"sau", "khi"},
    {"chu+~", "hoa"}, {"a^'n", "ddo^."}, {"chi?", "thi."}, {"a'nh", "xa."}, {"la~nh", "tho^?"},
    {"he^.", "vo?"}, {"con", "tro?"}, {"ddo^`", "thi."}, {"cha", "me."}, {"thu?", "ddo^"}, {"di.ch", "gia?"}, {"ma'y", "chu?"}, {"trang", "chu?"},
};

// Capital abbreviations in which Đ stands inside a word (HĐND), as typed.
inline constexpr const char *abbreviation_table[] = {
    "HDDND", "HDDH", "DDH", "DDHQG", "CDD", "NDD", "QDD", "DDBSCL", "HDDQT", "DDCSVN", "DDT", "DDTDD",
};

// Words that right after a number are a currency sign (50.000đ), as typed.
inline constexpr const char *currency_table[] = {"dd", "DD"};

// Names whose spelling breaks a rule of the syllable, as typed: read with
// their marks all the same.
inline constexpr const char *name_table[] = {
    "Ko^ng", "KO^NG",  // Hồng Kông
};

// English words that type like a Vietnamese syllable with a tone, as typed;
// each begins with I or i.
inline constexpr const char *english_table[] = {
    "I'm", "i.e.", "I.e.",
};

// ---------------------------------------------------------------------------
// The same tables as letters, for the checks.

struct syllable_letter {
    unsigned char symbol;  // lower-case letter class, or lower-case ASCII
    unsigned char tone;    // TONE_NONE .. TONE_DOT
};

inline constexpr int SPELLING_MAX = 8;

struct spelled {
    unsigned char symbols[SPELLING_MAX];
    unsigned char tones[SPELLING_MAX];
    unsigned char length;
};

constexpr char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// The letter class of a lower-case row spelled `base` `mark`, or 0.
constexpr int lower_class_spelled(char base, char mark) {
    for (int cls = CASE_DISTANCE + 1; cls < LETTER_CLASS_COUNT; ++cls) {
        const letter_row &row = letter_rows[cls];
        if (row.spelling[0] == base && row.spelling[1] == mark) return cls;
    }
    return 0;
}

constexpr int tone_of_char(char c) {
    for (int tone = TONE_ACUTE; tone < TONE_COUNT; ++tone)
        if (tone_mark_char[tone] == c) return tone;
    return TONE_NONE;
}

// "u+o+" -> the classes of u+ and o+; "ngh" -> n g h; "dd" -> the class of đ;
// a tone mark gives the letter before it its tone.
constexpr spelled spell(const char *viqr) {
    spelled s{};
    for (int i = 0; viqr[i] != '\0';) {
        const char base = viqr[i];
        if (tone_of_char(base) != TONE_NONE && s.length > 0) {
            s.tones[s.length - 1] = static_cast<unsigned char>(tone_of_char(base));
            ++i;
            continue;
        }
        const char next = viqr[i + 1];
        int cls = 0;
        if (next != '\0' && (is_shape_char(next) || (base == 'd' && next == 'd'))) cls = lower_class_spelled(base, next);
        if (cls != 0) {
            s.symbols[s.length++] = static_cast<unsigned char>(cls);
            i += 2;
            continue;
        }
        cls = lower_class_spelled(base, '\0');
        s.symbols[s.length++] = static_cast<unsigned char>(cls != 0 ? cls : base);
        ++i;
    }
    return s;
}

template <std::size_t N, class Rule>
constexpr std::array<spelled, N> spell_all(const Rule (&rules)[N]) {
    std::array<spelled, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = spell(rules[i].spelling);
    return out;
}

inline constexpr auto initial_letters = spell_all(initial_table);
inline constexpr auto final_letters = spell_all(final_table);
inline constexpr auto nucleus_letters = spell_all(nucleus_table);
inline constexpr auto frequency_letters = spell_all(frequency_table);

// A vowel: a lower-case row that takes tones.
constexpr bool is_vowel_symbol(unsigned char symbol) {
    return symbol > CASE_DISTANCE && symbol < LETTER_CLASS_COUNT && letter_rows[symbol].code[TONE_ACUTE] != 0;
}

constexpr bool is_front_vowel(unsigned char symbol) {
    constexpr unsigned char e = spell("e").symbols[0], e_hat = spell("e^").symbols[0], i = spell("i").symbols[0],
                            y = spell("y").symbols[0];
    return symbol == e || symbol == e_hat || symbol == i || symbol == y;
}

namespace syllables_check {

template <std::size_t N>
constexpr bool all_vowels(const std::array<spelled, N> &table) {
    for (const spelled &s : table) {
        if (s.length == 0) return false;
        for (int i = 0; i < s.length; ++i)
            if (!is_vowel_symbol(s.symbols[i])) return false;
    }
    return true;
}

// Initials and finals are consonants, save the u of qu and the i of gi.
template <std::size_t N>
constexpr bool consonants_but_qu_gi(const std::array<spelled, N> &table) {
    for (const spelled &s : table)
        for (int i = 0; i < s.length; ++i)
            if (is_vowel_symbol(s.symbols[i]) && i != 1) return false;
    return true;
}

constexpr bool tone_positions_inside() {
    for (std::size_t i = 0; i < std::size(nucleus_table); ++i) {
        const nucleus_rule &r = nucleus_table[i];
        const int n = nucleus_letters[i].length;
        const bool open = r.final != takes_final::always, closed = r.final != takes_final::never;
        if (open != (r.tone_open >= 0 && r.tone_open < n && r.tone_open_old >= 0 && r.tone_open_old < n)) return false;
        if (closed != (r.tone_closed >= 0 && r.tone_closed < n)) return false;
    }
    return true;
}

// A shaped vowel carries the tone wherever there is one (ươ: the second).
constexpr bool tone_on_shaped_vowel() {
    for (std::size_t i = 0; i < std::size(nucleus_table); ++i) {
        const spelled &s = nucleus_letters[i];
        int last_shaped = -1;
        for (int v = 0; v < s.length; ++v)
            if (row_has_shape(letter_rows[s.symbols[v]])) last_shaped = v;
        if (last_shaped < 0) continue;
        const nucleus_rule &r = nucleus_table[i];
        if (r.tone_open >= 0 && r.tone_open != last_shaped) return false;
        if (r.tone_closed >= 0 && r.tone_closed != last_shaped) return false;
    }
    return true;
}

constexpr bool nuclei_unique() {
    for (std::size_t i = 0; i < std::size(nucleus_table); ++i)
        for (std::size_t j = i + 1; j < std::size(nucleus_table); ++j) {
            const spelled &a = nucleus_letters[i], &b = nucleus_letters[j];
            bool same = a.length == b.length;
            for (int v = 0; same && v < a.length; ++v) same = a.symbols[v] == b.symbols[v];
            if (same) return false;
        }
    return true;
}

static_assert(all_vowels(nucleus_letters), "a nucleus is made of vowels that VISCII spells");
static_assert(consonants_but_qu_gi(initial_letters), "initials are consonants, save qu and gi");
static_assert(consonants_but_qu_gi(final_letters), "finals are consonants");
static_assert(tone_positions_inside(), "each nucleus names a tone vowel where it can stand");
static_assert(tone_on_shaped_vowel(), "the tone goes on the shaped vowel");
static_assert(nuclei_unique(), "each nucleus once");
static_assert(spell("u+o+").length == 2 && spell("ngh").length == 3 && spell("dd").length == 1);

}  // namespace syllables_check

// ---------------------------------------------------------------------------
// The checks.

// A nucleus of up to three vowels as one number: four bits a vowel.
constexpr unsigned nucleus_key(const unsigned char *symbols, int count) {
    unsigned key = 0;
    for (int i = 0; i < count; ++i) key |= static_cast<unsigned>(symbols[i] - CASE_DISTANCE) << (4 * i);
    return key;
}

inline constexpr int NUCLEUS_MAX = 3;
inline constexpr unsigned NUCLEUS_KEYS = 1u << (4 * NUCLEUS_MAX);

// nucleus_index[key] is the row of nucleus_table plus one, 0 for no nucleus.
inline constexpr auto nucleus_index = [] {
    std::array<unsigned char, NUCLEUS_KEYS> index{};
    for (std::size_t i = 0; i < std::size(nucleus_table); ++i)
        index[nucleus_key(nucleus_letters[i].symbols, nucleus_letters[i].length)] = static_cast<unsigned char>(i + 1);
    return index;
}();

static_assert(std::size(nucleus_table) < 255 && [] {
    for (const spelled &s : nucleus_letters)
        if (s.length > NUCLEUS_MAX) return false;
    return true;
}(), "nuclei have at most three vowels and fit the index");

constexpr bool untoned_match(const spelled &s, const syllable_letter *letters, int count, int at) {
    if (at < 0 || at + s.length > count) return false;
    for (int i = 0; i < s.length; ++i)
        if (letters[at + i].symbol != s.symbols[i] || letters[at + i].tone != TONE_NONE) return false;
    return true;
}

// The same, whatever the tones: the initial qu of qúa, gi of gìa.
constexpr bool symbols_match(const spelled &s, const syllable_letter *letters, int count, int at) {
    if (at < 0 || at + s.length > count) return false;
    for (int i = 0; i < s.length; ++i)
        if (letters[at + i].symbol != s.symbols[i]) return false;
    return true;
}

// Checks the nucleus between `begin` and `end` with its final (or -1).
constexpr bool nucleus_fits(const syllable_letter *letters, int begin, int end, int final_row, int tone_at, int tone) {
    const int n = end - begin;
    if (n < 1 || n > NUCLEUS_MAX) return false;
    unsigned char symbols[NUCLEUS_MAX] = {};
    for (int i = 0; i < n; ++i) {
        if (!is_vowel_symbol(letters[begin + i].symbol)) return false;
        symbols[i] = letters[begin + i].symbol;
    }
    const int row = nucleus_index[nucleus_key(symbols, n)] - 1;
    if (row < 0) return false;
    const nucleus_rule &r = nucleus_table[row];
    const bool closed = final_row >= 0;
    if (closed ? r.final == takes_final::never : r.final == takes_final::always) return false;
    if (tone == TONE_NONE) return true;
    if (closed && final_table[final_row].stop && tone != TONE_ACUTE && tone != TONE_DOT) return false;
    const int at = tone_at - begin;
    return closed ? at == r.tone_closed : at == r.tone_open || at == r.tone_open_old;
}

constexpr bool vowel_allowed(before_vowel rule, unsigned char first_vowel) {
    if (rule == before_vowel::front_only) return is_front_vowel(first_vowel);
    if (rule == before_vowel::not_front) return !is_front_vowel(first_vowel);
    return true;
}

// A table of spellings with, for each letter, the rows that begin with it
// (a bit each): a look-up tries only those.
template <std::size_t N>
struct spelling_table {
    static_assert(N <= 32, "a bit for each row");
    std::array<spelled, N> rows;
    std::array<std::uint32_t, 256> starting_with;

    explicit constexpr spelling_table(const std::array<spelled, N> &spellings) : rows(spellings), starting_with{} {
        for (std::size_t i = 0; i < N; ++i) starting_with[rows[i].symbols[0]] |= std::uint32_t{1} << i;
    }
};

inline constexpr spelling_table initial_spellings{initial_letters};
inline constexpr spelling_table final_spellings{final_letters};

// The row of the table whose spelling is letters [at, at + length), untoned;
// -1 when there is none.
template <std::size_t N>
constexpr int row_spelled(const spelling_table<N> &table, const syllable_letter *letters, int count, int at,
                          int length) {
    if (at < 0 || at >= count) return -1;
    for (std::uint32_t rows = table.starting_with[letters[at].symbol]; rows != 0; rows &= rows - 1) {
        const int i = std::countr_zero(rows);
        const spelled &s = table.rows[static_cast<std::size_t>(i)];
        if (s.length == length && untoned_match(s, letters, count, at)) return i;
    }
    return -1;
}

// With the initial taking `begin` letters: the vowels up to the trailing
// consonants are the nucleus, the consonants the final.
constexpr bool rest_fits(const syllable_letter *letters, int count, int begin, int tone_at, int tone) {
    int end = count;
    while (end > begin && !is_vowel_symbol(letters[end - 1].symbol)) --end;
    if (end == count) return nucleus_fits(letters, begin, end, -1, tone_at, tone);
    const int final_row = row_spelled(final_spellings, letters, count, end, count - end);
    return final_row >= 0 && nucleus_fits(letters, begin, end, final_row, tone_at, tone);
}

constexpr bool initial_fits(const syllable_letter *letters, int count, int length, int tone_at, int tone) {
    if (length == 0) return rest_fits(letters, count, 0, tone_at, tone);
    const int row = row_spelled(initial_spellings, letters, count, 0, length);
    return row >= 0 && length < count && vowel_allowed(initial_table[row].before, letters[length].symbol) &&
           rest_fits(letters, count, length, tone_at, tone);
}

// Whether the letters make one well-formed Vietnamese syllable: an initial or
// none, a nucleus, a final or none, at most one tone, on the vowel the
// nucleus puts it on, and only the acute or the dot below before c ch p t.
// The initial is the leading consonants, or those and the u of qu or the i
// of gi; the final is the trailing consonants.
constexpr bool well_formed(const syllable_letter *letters, int count) {
    int tones = 0, tone_at = -1, tone = TONE_NONE;
    for (int i = 0; i < count; ++i)
        if (letters[i].tone != TONE_NONE) {
            ++tones;
            tone_at = i;
            tone = letters[i].tone;
        }
    if (tones > 1 || count == 0) return false;
    int consonants = 0;
    while (consonants < count && !is_vowel_symbol(letters[consonants].symbol)) ++consonants;
    if (initial_fits(letters, count, consonants, tone_at, tone)) return true;
    // qu and gi take the vowel after them (qua, gia, giê'ng) ...
    if (consonants + 1 < count && initial_fits(letters, count, consonants + 1, tone_at, tone)) return true;
    // ... save where it is the only vowel: gì, gìn.
    constexpr spelled g = spell("g"), i = spell("i");
    if (consonants == 1 && untoned_match(g, letters, count, 0) && letters[1].symbol == i.symbols[0] &&
        (count == 2 || !is_vowel_symbol(letters[2].symbol)))
        return rest_fits(letters, count, 1, tone_at, tone);
    return false;
}

constexpr bool same_letters(const spelled &s, const syllable_letter *letters, int count) {
    bool same = s.length == count;
    for (int i = 0; same && i < count; ++i) same = letters[i].symbol == s.symbols[i] && letters[i].tone == s.tones[i];
    return same;
}

// A spelling as the letters of a syllable, as the text gives them.
constexpr std::array<syllable_letter, SPELLING_MAX> spelled_letters(const spelled &s) {
    std::array<syllable_letter, SPELLING_MAX> letters{};
    for (int i = 0; i < s.length; ++i) letters[static_cast<std::size_t>(i)] = {s.symbols[i], s.tones[i]};
    return letters;
}

constexpr bool same_spelling(const spelled &a, const spelled &b) { return same_letters(a, spelled_letters(b).data(), b.length); }

// Where a nucleus of the table may carry the tone, before a final or at the
// end as the table says; where the table has no such place (a slip such as
// huo+'ng, whose nucleus never takes a final) any of its vowels.
constexpr bool tone_place_allowed(const nucleus_rule &r, bool closed, int at) {
    if (closed) return r.tone_closed < 0 || at == r.tone_closed;
    return r.tone_open < 0 || at == r.tone_open || at == r.tone_open_old;
}

// Where the one tone of a word stands: NO_TONE, or MORE_THAN_ONE_TONE.
inline constexpr int NO_TONE = -1, MORE_THAN_ONE_TONE = -2;
constexpr int tone_position(const syllable_letter *letters, int count) {
    int at = NO_TONE;
    for (int i = 0; i < count; ++i) {
        if (letters[i].tone == TONE_NONE) continue;
        if (at != NO_TONE) return MORE_THAN_ONE_TONE;
        at = i;
    }
    return at;
}

// For loosely_formed: where the initial ends, past the consonants that open
// the word (three at most) or the longest initial of the table that fits,
// whose row `initial_row` gets (-1 for none).
constexpr int loose_initial_end(const syllable_letter *letters, int count, int &initial_row) {
    int begin = 0;
    while (begin < count && begin < 3 && !is_vowel_symbol(letters[begin].symbol)) ++begin;
    initial_row = -1;
    for (std::size_t i = 0; i < std::size(initial_table); ++i) {
        const spelled &s = initial_letters[i];
        if (s.length >= begin && s.length < count && symbols_match(s, letters, count, 0) &&
            (s.length > begin || initial_row < 0 || s.length > initial_letters[initial_row].length)) {
            begin = s.length;
            initial_row = static_cast<int>(i);
        }
    }
    return begin;
}

// For loosely_formed: where the longest final of the table that ends the word
// after `begin` starts; `count` when none does.
constexpr int loose_final_start(const syllable_letter *letters, int count, int begin) {
    int end = count;
    for (std::size_t f = 0; f < std::size(final_table); ++f) {
        const int at = count - final_letters[f].length;
        if (at > begin && at < end && untoned_match(final_letters[f], letters, count, at)) end = at;
    }
    return end;
}

constexpr bool all_vowels(const syllable_letter *letters, int begin, int end) {
    for (int i = begin; i < end; ++i)
        if (!is_vowel_symbol(letters[i].symbol)) return false;
    return true;
}

// The row of the nucleus table that the vowels [begin, end) spell, -1 for
// none.
constexpr int loose_nucleus_row(const syllable_letter *letters, int begin, int end) {
    unsigned char symbols[NUCLEUS_MAX] = {};
    for (int i = begin; i < end; ++i) symbols[i - begin] = letters[i].symbol;
    return nucleus_index[nucleus_key(symbols, end - begin)] - 1;
}

// Only the acute or the dot below before c ch p t: the final starts at `end`.
constexpr bool tone_suits_final(const syllable_letter *letters, int count, int end, int tone_at) {
    const int final_row = row_spelled(final_spellings, letters, count, end, count - end);
    if (final_row < 0 || !final_table[final_row].stop) return true;
    return tone_at < 0 || letters[tone_at].tone == TONE_ACUTE || letters[tone_at].tone == TONE_DOT;
}

// A looser test, for words with a typing slip in them (huo+'ng, dduo+.c,
// chuo+ng) and foreign names spelled the Vietnamese way (Xlô-ven): up to
// three consonants, one to three vowels, a final or none, at most one tone.
// With `by_the_rules`, what breaks a rule of the spelling is no slip, and is
// refused: an initial before a vowel it never stands before (k before a, o,
// u), a nucleus of the table without the final it needs (câ, tiê; a vowel
// alone is a letter named, as in a list of the letters), a tone outside the
// nucleus (qúa, gìa) or on a vowel of it that never carries one (ngươì).
// Without, for the parts of a name spelled syllable by syllable (An-gê-ri,
// Ta-tă) and a word that a menu's _ cuts (Cắ_t), they stand.  Only the
// acute or the dot below before c ch p t, either way.
constexpr bool loosely_formed(const syllable_letter *letters, int count, bool by_the_rules) {
    const int tone_at = tone_position(letters, count);
    if (tone_at == MORE_THAN_ONE_TONE || count == 0) return false;
    if (count == 1 && tone_at == NO_TONE) return is_vowel_symbol(letters[0].symbol);  // a letter named alone: ă, â
    int initial_row = -1;
    const int begin = loose_initial_end(letters, count, initial_row);
    if (by_the_rules && initial_row >= 0 && !vowel_allowed(initial_table[initial_row].before, letters[begin].symbol))
        return false;
    const int end = loose_final_start(letters, count, begin);
    if (end - begin < 1 || end - begin > NUCLEUS_MAX || !all_vowels(letters, begin, end)) return false;
    const int row = loose_nucleus_row(letters, begin, end);
    const bool closed = end < count;
    if (by_the_rules && tone_at >= 0 && (tone_at < begin || tone_at >= end)) return false;
    if (by_the_rules && row >= 0) {
        const nucleus_rule &r = nucleus_table[row];
        if (!closed && r.final == takes_final::always) return false;
        if (tone_at >= 0 && !tone_place_allowed(r, closed, tone_at - begin)) return false;
    }
    return !closed || tone_suits_final(letters, count, end, tone_at);
}

// FNV-1a over the letters of a syllable, a letter at a time.  The tables are
// built from spellings and looked up with the letters of the text; both go
// through this one function, so that a lookup finds the slot the build chose.
constexpr unsigned hash_syllable(const syllable_letter *letters, int count, unsigned seed = 2166136261u) {
    unsigned h = seed;
    for (int i = 0; i < count; ++i) h = (h ^ (letters[i].symbol * 8u + letters[i].tone)) * 16777619u;
    return h;
}

constexpr unsigned hash_spelled(const spelled &s, unsigned seed = 2166136261u) {
    return hash_syllable(spelled_letters(s).data(), s.length, seed);
}

// An open-addressed index of the rows of a table (ROWS at most) by the hash
// of their spelling: a slot holds a row + 1, 0 when empty, and a look-up
// probes the slots from its hash on.  Kept at most half full, so that probes
// stay short.
template <std::size_t ROWS, std::size_t SLOTS>
class spelling_index {
    static_assert(ROWS < SLOTS / 2, "the index stays sparse");
    static_assert((SLOTS & (SLOTS - 1)) == 0 && SLOTS <= 65536, "slots by a mask, rows in 16 bits");

public:
    // `hash_of(row)`: the hash of a row's spelling, as hash_syllable gives it.
    template <class HashOf>
    constexpr spelling_index(std::size_t rows, HashOf hash_of) : slots_{} {
        for (std::size_t row = 0; row < rows && row < ROWS; ++row) {
            std::size_t slot = hash_of(row) % SLOTS;
            while (slots_[slot] != 0) slot = (slot + 1) % SLOTS;
            slots_[slot] = static_cast<std::uint16_t>(row + 1);
        }
    }

    // The row that `matches(row)` picks among those under `hash`; -1 for none.
    template <class Matches>
    constexpr int find(unsigned hash, Matches matches) const {
        for (std::size_t slot = hash % SLOTS; slots_[slot] != 0; slot = (slot + 1) % SLOTS)
            if (matches(slots_[slot] - 1)) return slots_[slot] - 1;
        return -1;
    }

private:
    std::array<std::uint16_t, SLOTS> slots_;
};

inline constexpr spelling_index<std::size(frequency_table), 1024> frequency_index{
    std::size(frequency_table), [](std::size_t row) { return hash_spelled(frequency_letters[row]); }};

// How common the syllable is by frequency_table, 0 when it is not listed.
constexpr int frequency(const syllable_letter *letters, int count) {
    if (count > SPELLING_MAX) return 0;
    const int row = frequency_index.find(hash_syllable(letters, count), [&](int row) {
        return same_letters(frequency_letters[static_cast<std::size_t>(row)], letters, count);
    });
    return row < 0 ? 0 : frequency_table[row].weight;
}

inline constexpr auto compound_firsts = [] {
    std::array<spelled, std::size(compound_table)> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = spell(compound_table[i].first);
    return out;
}();
inline constexpr auto compound_seconds = [] {
    std::array<spelled, std::size(compound_table)> out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = spell(compound_table[i].second);
    return out;
}();

// The compounds by the hash of the second word's letters on from the
// first's.
inline constexpr spelling_index<std::size(compound_table), 512> compound_index{
    std::size(compound_table),
    [](std::size_t row) { return hash_spelled(compound_seconds[row], hash_spelled(compound_firsts[row])); }};

// Whether `first` then `second` make a word of compound_table.
constexpr bool is_compound(const syllable_letter *first, int first_count, const syllable_letter *second,
                           int second_count) {
    if (first_count > SPELLING_MAX || second_count > SPELLING_MAX) return false;
    const unsigned h = hash_syllable(second, second_count, hash_syllable(first, first_count));
    return compound_index.find(h, [&](int row) {
        const auto r = static_cast<std::size_t>(row);
        return same_letters(compound_firsts[r], first, first_count) &&
               same_letters(compound_seconds[r], second, second_count);
    }) >= 0;
}

// The words that begin a compound, each once.  The word before a syllable
// counts for the compounds only as which of these it is, if any.
struct first_words {
    std::array<spelled, std::size(compound_table)> words{};
    int count = 0;
};

inline constexpr first_words compound_first_words = [] {
    first_words out;
    for (const spelled &first : compound_firsts) {
        bool seen = false;
        for (int i = 0; i < out.count && !seen; ++i) seen = same_spelling(out.words[static_cast<std::size_t>(i)], first);
        if (!seen) out.words[static_cast<std::size_t>(out.count++)] = first;
    }
    return out;
}();

inline constexpr spelling_index<std::size(compound_table), 256> first_word_index{
    static_cast<std::size_t>(compound_first_words.count),
    [](std::size_t row) { return hash_spelled(compound_first_words.words[row]); }};

// Which word that begins a compound the letters spell: 1 and up, one number
// for each word of compound_first_words; 0 for none.
constexpr int compound_first_id(const syllable_letter *letters, int count) {
    if (count > SPELLING_MAX) return 0;
    return first_word_index.find(hash_syllable(letters, count), [&](int row) {
        return same_letters(compound_first_words.words[static_cast<std::size_t>(row)], letters, count);
    }) + 1;
}

namespace syllables_check {

constexpr bool spelled_well_formed(const char *viqr) {
    const spelled s = spell(viqr);
    return well_formed(spelled_letters(s).data(), s.length);
}

constexpr bool evidence_tables_well_formed() {
    for (const syllable_weight &w : frequency_table)
        if (!spelled_well_formed(w.spelling)) return false;
    for (const compound &c : compound_table)
        if (!spelled_well_formed(c.first) || !spelled_well_formed(c.second)) return false;
    return true;
}

// Each syllable weighed once.
constexpr bool frequencies_unique() {
    for (std::size_t i = 0; i < std::size(frequency_table); ++i) {
        const spelled &a = frequency_letters[i];
        const auto letters = spelled_letters(a);
        for (std::size_t j = i + 1; j < std::size(frequency_table); ++j)
            if (same_letters(frequency_letters[j], letters.data(), a.length)) return false;
    }
    return true;
}

static_assert(evidence_tables_well_formed(), "the evidence tables list syllables");
static_assert(frequencies_unique(), "each syllable weighed once");
static_assert(spelled_well_formed("ngu+o+`i") && spelled_well_formed("gi`n") && spelled_well_formed("qua'") &&
              spelled_well_formed("ho`a") && spelled_well_formed("hoa`") && spelled_well_formed("ddu+o+.c"));
static_assert(!spelled_well_formed("no^.i.") && !spelled_well_formed("dda^u?") && !spelled_well_formed("ca`c") &&
              spelled_well_formed("ke") && !spelled_well_formed("ce") && !spelled_well_formed("ad"));

}  // namespace syllables_check

}  // namespace viqr::detail
