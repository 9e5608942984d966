// The typed reader (VIQR_PARAM_TYPED, toneup -t): which marks people typed
// as diacritics and which as punctuation, rule by rule and both ways; every
// syllable of the Vietnamese hunspell dictionary; any split of the input; and
// what it makes of tonedown's output next to the strict reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "composer.h"
#include "oracle.h"
#include "process.h"
#include "typed_reader.h"
#include "typed_spelling.h"
#include "viqr.h"
#include "viqr_model.h"
#include "viscii_letters.h"

namespace {

using namespace viqr::detail;

// VIQR_TEST_TYPED_CACHE=off runs every test below with the readers' caches
// off (ctest runs them both ways); the programs the CLI tests start keep
// theirs.
const bool cache_off = [] {
    const char *setting = std::getenv("VIQR_TEST_TYPED_CACHE");
    const bool off = setting != nullptr && std::string(setting) == "off";
    if (off) typed_use_cache(false);
    return off;
}();

// Reads `viqr` through one context with hold on, the typed reader on or off,
// in chunks of `chunk` bytes.
std::string read_viqr(const std::string &viqr, bool typed, std::size_t chunk = 4096, int mode = MODE_VIETNAMESE) {
    const int handle = viqr_open(mode, '\\', 0x08);
    viqr_set(handle, 1, VIQR_PARAM_HOLD);
    viqr_set(handle, typed ? 1 : 0, VIQR_PARAM_TYPED);
    std::string out;
    std::vector<unsigned char> area(viqr_typed_room(chunk));
    for (std::size_t at = 0; at < viqr.size(); at += chunk) {
        const std::size_t n = std::min(chunk, viqr.size() - at);
        const std::size_t written =
            viqr_feed_chunk(handle, reinterpret_cast<const unsigned char *>(viqr.data()) + at, n, area.data());
        EXPECT_LE(written, viqr_typed_room(n));
        out.append(reinterpret_cast<const char *>(area.data()), written);
    }
    int count = 0;
    viqr_close(handle, area.data(), count);
    EXPECT_LE(std::size_t(count), viqr_typed_room(0));
    out.append(reinterpret_cast<const char *>(area.data()), std::size_t(count));
    return out;
}

std::string typed(const std::string &viqr, std::size_t chunk = 4096) { return read_viqr(viqr, true, chunk); }

// Reads `viqr` as toneup -u does (UTF-8 in and out, characters beyond ASCII
// copied at their place), the typed reader on or off, in chunks of `chunk`.
std::string read_utf8(const std::string &viqr, bool typed, int mode = MODE_VIETNAMESE, std::size_t chunk = 4096) {
    const int handle = viqr_open(mode, '\\', 0x08);
    viqr_set(handle, 1, VIQR_PARAM_HOLD);
    viqr_set(handle, typed ? 1 : 0, VIQR_PARAM_TYPED);
    viqr_to_utf8_state state;
    viqr_to_utf8_start(state, handle);
    const viqr_model::utf8_converted c = viqr_model::to_utf8_chunks(state, viqr_model::pieces_of(viqr, chunk));
    EXPECT_TRUE(c.within_room);
    int count = 0;
    viqr_close(handle, nullptr, count);
    return c.text;
}

std::string strict(const std::string &viqr) { return read_viqr(viqr, false); }

// UTF-8 to VISCII by the system's iconv, an oracle independent of the tables.
std::string viscii_of(const std::string &utf8) {
    const run_result r = run_shell("exec iconv -f UTF-8 -t VISCII", utf8);
    EXPECT_EQ(r.status, 0) << r.err << " for " << utf8;
    return r.out;
}


// ---------------------------------------------------------------------------
// The rules, as rows: typed VIQR in, the text it must read as out (UTF-8).

struct rule_case {
    const char *rule;
    const char *input;
    const char *output;
};

// A semicolon would split the name in ctest's list of tests: it is spelled out.
void PrintTo(const rule_case &c, std::ostream *os) {
    *os << c.rule << ": ";
    for (const char *p = c.input; *p != '\0'; ++p) {
        const char ch = *p;
        if (ch == ';')
            *os << "(semicolon)";
        else
            *os << ch;
    }
}

const rule_case rule_cases[] = {
    // 1: a mark is a diacritic only where it completes a Vietnamese syllable.
    {"syllable", "Vie^.t Nam", "Việt Nam"},
    {"syllable", "ngu+o+`i ddu+o+.c khuye^'n khi'ch", "người được khuyến khích"},
    {"syllable", "qua' gia` gi`n nghie^ng", "quá già gìn nghiêng"},
    {"syllable", "ho`a hoa` thu?y thuy? ho`e hoe`", "hòa hoà thủy thuỷ hòe hoè"},
    {"syllable", "ba'c ba.c ha't", "bác bạc hát"},
    {"syllable", "Hello. Makefile. I'm yo'ure", "Hello. Makefile. I'm yo'ure"},
    {"syllable", "ca`c ha?t", "ca`c ha?t"},              // only ' and . before c ch p t
    {"syllable", "ce' ke' gha' ghe' nge' nghe'", "ce' ké gha' ghé nge' nghé"},  // k gh ngh before e ê i only
    {"syllable", "C++ a+b e^x", "C++ a+b e^x"},
    {"syllable", "i.e., ba.n", "i.e., bạn"},
    // 2: a second tone, or a tone in the wrong place, is punctuation.
    {"one tone", "No^.i.", "Nội."},
    {"one tone", "va^.y?", "vậy?"},
    {"one tone", "dda^u?", "đâu?"},
    {"one tone", "ca^y. Nha`.", "cây. Nhà."},
    {"one tone", "tie^'ng Vie^.t.", "tiếng Việt."},
    {"one tone", "hoa`n toa`n'", "hoàn toàn'"},
    // 3: marks in paths, addresses and file names; a mark before a digit.
    {"path", "www.google.com", "www.google.com"},
    {"path", "a@yahoo.com", "a@yahoo.com"},
    {"path", "libfoo.so.1", "libfoo.so.1"},
    {"path", "A.1. Mo+? ddi?", "A.1. Mở đi?"},
    {"path", "/usr/share/doc/ a.out file.txt", "/usr/share/doc/ a.out file.txt"},
    {"path", "va`/hoa(.c", "và/hoặc"},
    {"path", "tie^'t: ke^'t thu'c", "tiết: kết thúc"},
    {"path", "byte/ky' tu+.", "byte/ký tự"},
    {"path", "--directory=THU+_MU.C", "--directory=THƯ_MỤC"},
    {"path", "S.NGUYE^N1 -eq SO^'1", "S.NGUYÊN1 -eq SỐ1"},
    {"path", "U+%04X U+0041", "U+%04X U+0041"},
    {"path", "Dim a(1 To 10) x = a(0)", "Dim a(1 To 10) x = a(0)"},  // a shape mark before a digit too
    // 4: dd is đ only at the start of a syllable.
    {"dd", "dda^`u ddi DDa^y", "đầu đi Đây"},
    {"dd", "add adduser dd if=/dev/zero", "add adduser dd if=/dev/zero"},
    {"dd", "HDDND UBND DDHQG", "HĐND UBND ĐHQG"},
    {"dd", "gia' 50.000dd mo^.t ca'i", "giá 50.000đ một cái"},
    {"dd", "DDR3 DDoS", "DDR3 DDoS"},
    // 5: the composition character stays where it protects nothing.
    {"escape", "sed 's/1\\.3/x/'", "sed 's/1\\.3/x/'"},
    {"escape", "gentoo-(.+)\\.tar\\.gz", "gentoo-(.+)\\.tar\\.gz"},  // after a consonant it protects nothing
    {"escape", "line\\\nne^'u", "line\\\nnếu"},
    {"escape", "cu+\\. \\\\ a\\'", "cư. \\ a'"},
    {"escape", "Mo+? C:\\Videos\\Music\\Lyrics nhe'.", "Mở C:\\Videos\\Music\\Lyrics nhé."},
    {"escape", "x\\Vy \\v ta'c \\L, \\l", "x\\Vy \\v tác \\L, \\l"},
    // Only the \V that opens the text (tonedown's announcement) switches the
    // mode; a mode letter anywhere else is text, or the rest of the text
    // would pass unconverted.
    {"mode", "\\Vdda^u \\Vdda^u", "đâu \\Vđâu"},                  // the very start, and after a space
    {"mode", "\\V\\Mco' \\Lco'", "\\Mco' \\Lco'"},                // \M and \L after the announcement
    {"mode", "\\Mdda^u ddi", "\\Mđâu đi"},                         // \M at the start of the text
    {"mode", "vie^.t\n\\mhello'\n\\vvie^.t", "việt\n\\mhello'\n\\vviệt"},  // the start of a line
    {"mode", "co' \\Mco' \\Vdda^u \\vddi", "có \\Mco' \\Vđâu \\vđi"},       // after white space
    {"mode", "Go~ \\L ro^`i Enter.", "Gõ \\L rồi Enter."},            // \L alone
    {"mode", "\\lceil x\\rceil ro^`i", "\\lceil x\\rceil rồi"},        // TeX
    {"mode", "ra^'t\n\\mbox{ddu'ng} ro^`i", "rất\n\\mbox{đúng} rồi"},
    {"mode", "C:\\vim\\bin ro^`i", "C:\\vim\\bin rồi"},              // \v in a path
    {"mode", " \\Vco'", " \\Vco'"},                                // white space before it
    // 6: evidence around a mark that could be either.
    {"evidence", "ra. To^i ddi.\n\nra. to^i", "ra. Tôi đi.\n\nrạ tôi"},  // a small letter: no sentence ended
    {"evidence", "dde^? la`m. Co' dde^? Ddi?", "để làm. Có để Đi?"},
    {"evidence", "chia se?\nta^.p tin", "chia sẻ\ntập tin"},
    {"evidence", "vi' du.", "ví dụ"},
    {"evidence", "dda^`u tu+.", "đầu tư."},
    {"evidence", "cu.. ra... a.... nhe.; ra.,", "cụ. ra... ạ... nhẹ; rạ,"},
    {"evidence", "'ra' va` `ls` va` 'ddi'", "'ra' và `ls` và 'đi'"},
    {"evidence", "`po' co' --exclude='*.o'", "`po' có --exclude='*.o'"},  // GNU quotes, a quoted pattern
    {"evidence", "A. Mo+? B.", "A. Mở B."},
    {"evidence", "Co+.-ri-mia KY'_TU+.", "Cợ-ri-mia KÝ_TỰ"},
    // A small vowel alone with a full stop: a tone only where the line is
    // Vietnamese (ạ is a particle of speech), and -a is a command's option.
    {"lone letter", "the values in a. See e. g. grep, i. e. sed, o. u. y.",
     "the values in a. See e. g. grep, i. e. sed, o. u. y."},
    {"lone letter", "Ca?m o+n anh a.\nthe values in a.\nVa^ng a.", "Cảm ơn anh ạ\nthe values in a.\nVâng ạ"},
    {"lone letter", "ddu+`ng e. ho+.p", "đừng ẹ hợp"},
    {"lone letter", "du`ng -a. Ca^n --o. ra", "dùng -a. Cân --o. ra"},
    // Runs of words and slips of typing.
    {"slips", "huo+'ng dduo+.c %sMa~ Co+~Ta^.p", "huớng đuợc %sMã CỡTập"},
    // Faults once made in the code, each a wrong reading.
    {"k", "Ka? no' ko. di ka.y", "Ka? nó ko. di ka.y"},  // k only before e ê i y
    {"final", "ca^/www.google.com ha(.txt ie^.so.1", "ca^/www.google.com ha(.txt ie^.so.1"},  // â ă iê need a final
    {"end", "ddi va^.y du.", "đi vậy du."},            // the end of the text, with no line end
    {"DD.", "DD. Le^ Lo+.i DD.SO^'", "Đ. Lê Lợi Đ.SỐ"},
    {"quote", "co' 'ba.n co' ddi kho^ng'", "có 'bạn co' đi không'"},  // co' read before, then in a quotation
};

class TypedRules : public testing::TestWithParam<rule_case> {};

TEST_P(TypedRules, ReadsAsAPersonMeantIt) {
    REQUIRE_ORACLE(have_iconv_viscii(), "the system's iconv has no VISCII");
    const rule_case &c = GetParam();
    EXPECT_EQ(typed(c.input), viscii_of(c.output));
}

INSTANTIATE_TEST_SUITE_P(Rules, TypedRules, testing::ValuesIn(rule_cases));

// The same with -u: a character beyond ASCII parts the words around it.
const rule_case utf8_rule_cases[] = {
    {"compound", "(dda^`u — tu+.)", "(đầu — tự)"},  // no compound across the dash
    {"compound", "(dda^`u tu+.)", "(đầu tư.)"},
    {"mode", "Go~ « \\L ro^`i » \\Vdda^u", "Gõ « \\L rồi » \\Vđâu"},
};

TEST(TypedRulesUtf8, CharactersBeyondAsciiPartWords) {
    for (const rule_case &c : utf8_rule_cases) EXPECT_EQ(read_utf8(c.input, true), c.output) << c.rule << ": " << c.input;
}

// A composition character and a mode letter are text wherever a token
// longer than the reader keeps is cut, as anywhere but the very start.
TEST(TypedModes, NoSwitchAfterACut) {
    for (std::size_t length : {94u, 95u, 96u, 97u, 191u, 192u}) {
        const std::string head(length, 'x');
        for (const char *tail : {"\\Mco' ddi", "\\Lco' ddi", "\\Vco' ddi"}) {
            const std::string input = head + tail;
            const std::string got = typed(input);
            // The mode letter stays, and ddi is đi: the mode did not change.
            EXPECT_NE(got.find(std::string(tail, 2)), std::string::npos) << length << " bytes, then " << tail;
            EXPECT_EQ(got.substr(got.size() - 3), " \xF0i") << length << " bytes, then " << tail;
        }
    }
}

// The reader follows the engine's state byte for byte.  With -u, a
// character beyond ASCII after the composition character is what the
// engine takes as the escaped byte: the reader must see it so too, or a
// mode letter after it switches the reader alone.  In English and Literal
// mode the reader passes every byte, so while the text never enters
// Vietnamese mode its reading is the strict one.
TEST(TypedModes, ReaderAndEngineAgreeOnEscapesBeforeCharactersBeyondAscii) {
    EXPECT_EQ(read_utf8("\\\xC3\xA9V add", true, MODE_LITERAL), "\\\xC3\xA9V add");
    EXPECT_EQ(read_utf8("\\\xC3\xA9V \\a' x", true, MODE_ENGLISH), "\xC3\xA9V \xC3\xA1 x");
    std::mt19937 random(21u);
    static const char *const pieces[] = {"\\", "\xC3\xA9", "\xE2\x80\x94", "V", "v", "M", "L", "a", "'", "d", " ", "."};
    std::uniform_int_distribution<int> pick(0, int(std::size(pieces)) - 1);
    int compared = 0;
    for (int mode : {MODE_ENGLISH, MODE_LITERAL}) {
        for (int round = 0; round < 3000; ++round) {
            std::string text;
            for (int i = 0; i < 12; ++i) text += pieces[pick(random)];
            // Whether the strict engine ever reaches Vietnamese mode, byte by byte.
            const int handle = viqr_open(mode, '\\', 0x08);
            viqr_set(handle, 1, VIQR_PARAM_HOLD);
            viqr_to_utf8_state state;
            viqr_to_utf8_start(state, handle);
            std::vector<unsigned char> area(viqr_to_utf8_room(1));
            bool vietnamese = false;
            for (unsigned char b : text) {
                viqr_to_utf8(state, &b, 1, area.data());
                int now = -1;
                viqr_query(handle, &now, VIQR_PARAM_STATE);
                vietnamese |= now == MODE_VIETNAMESE;
            }
            int count = 0;
            viqr_close(handle, nullptr, count);
            if (vietnamese) continue;
            ++compared;
            ASSERT_EQ(read_utf8(text, true, mode), read_utf8(text, false, mode)) << "mode " << mode << ": " << text;
        }
    }
    EXPECT_GT(compared, 1000);
}

// The strict reader stays what it was: tonedown's escapes, mode switches
// anywhere, every mark after a letter that takes it.
TEST(TypedReader, IsOffUnlessAskedFor) {
    const int handle = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
    unsigned char typed_flag = 9;
    viqr_query(handle, &typed_flag, VIQR_PARAM_TYPED);
    EXPECT_EQ(typed_flag, 0);
    viqr_set(handle, 1, VIQR_PARAM_TYPED);
    viqr_query(handle, &typed_flag, VIQR_PARAM_TYPED);
    EXPECT_EQ(typed_flag, 1);
    int count = 0;
    viqr_close(handle, nullptr, count);
    EXPECT_EQ(strict("No^.i. x\\Vdd add"), "N\xB5\xB8 x\xF0 a\xF0");
}

// The single-byte viqr_feed reads strictly whatever the setting.
TEST(TypedReader, SingleBytesReadStrictly) {
    const int handle = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
    viqr_set(handle, 1, VIQR_PARAM_HOLD);
    viqr_set(handle, 1, VIQR_PARAM_TYPED);
    std::string out;
    unsigned char area[2];
    int count = 0;
    for (unsigned char b : std::string("add ")) {
        viqr_feed(handle, b, area, count);
        out.append(reinterpret_cast<const char *>(area), std::size_t(count));
    }
    viqr_close(handle, nullptr, count);
    EXPECT_EQ(out, "a\xF0 ");
}

// A composition character other than the backslash, set before or after the
// reader is turned on.
TEST(TypedReader, FollowsTheCompositionCharacter) {
    for (bool before : {true, false}) {
        const int handle = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
        viqr_set(handle, 1, VIQR_PARAM_HOLD);
        if (before) viqr_set(handle, '#', VIQR_PARAM_COMPOSE_CHAR);
        viqr_set(handle, 1, VIQR_PARAM_TYPED);
        if (!before) viqr_set(handle, '#', VIQR_PARAM_COMPOSE_CHAR);
        const std::string in = "1#.3 cu+#. \\ No^.i. #Mdd";
        std::vector<unsigned char> area(viqr_typed_room(in.size()));
        std::size_t n = viqr_feed_chunk(handle, reinterpret_cast<const unsigned char *>(in.data()), in.size(), area.data());
        int count = 0;
        viqr_close(handle, area.data() + n, count);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(area.data()), n + std::size_t(count)),
                  "1#.3 c\xDF. \\ N\xB5i. #Mdd")
            << (before ? "set before" : "set after");
    }
}

// ---------------------------------------------------------------------------
// Every syllable of the Vietnamese hunspell dictionary, typed with its
// marks, reads back as itself.  The syllables stand in running text (each
// followed by a space and the next), where a trailing . or ? is a tone.

const char *const hunspell_path = "/usr/share/hunspell/vi_VN.dic";

// The syllables of the dictionary in VISCII, one word each.
std::vector<std::string> dictionary_syllables() {
    std::ifstream file(hunspell_path);
    std::string line, words;
    std::getline(file, line);  // the count
    while (std::getline(file, line)) {
        if (line.empty() || line.find(' ') != std::string::npos) continue;
        if (line == "palăng") continue;  // pa-lăng, two syllables written as one word
        words += line + "\n";
    }
    std::istringstream lines(viscii_of(words));
    std::vector<std::string> syllables;
    while (std::getline(lines, line)) syllables.push_back(line);
    return syllables;
}

#define REQUIRE_DICTIONARY()                                                                                       \
    REQUIRE_ORACLE(std::ifstream(hunspell_path).good(), std::string(hunspell_path) + " is missing (package hunspell-vi)"); \
    REQUIRE_ORACLE(have_iconv_viscii(), "the system's iconv has no VISCII")

TEST(TypedDictionary, EverySyllableOfHunspellReadsBack) {
    REQUIRE_DICTIONARY();
    const std::vector<std::string> syllables = dictionary_syllables();
    ASSERT_GT(syllables.size(), 6000u);
    std::string text;
    for (const std::string &s : syllables) text += typed_spelling(s) + " ";
    text += "xong";
    std::istringstream got(typed(text));
    int wrong = 0;
    for (const std::string &s : syllables) {
        std::string word;
        got >> word;
        if (word != s && ++wrong <= 10) ADD_FAILURE() << typed_spelling(s) << " read as " << typed_spelling(word);
    }
    EXPECT_EQ(wrong, 0) << "of " << syllables.size();
}

// The other way: syllables of the dictionary made to break one rule of the
// spelling, typed with their marks, are not read with all of them.  Each
// kind is made from the dictionary's own syllables:
//   k before a, ă, â, o, ô, ơ, u, ư   cá -> ká, cuộc -> kuộc;
//   a nucleus without its final       cân -> câ, tiến -> tiế, người -> ngườ;
//   two tones                         hoà -> hóà, người -> ngừơi;
//   a tone on the wrong vowel         người -> ngươì, quả -> qủa (a result
//                                     the dictionary has, and the nuclei
//                                     whose tone has two places, are left out).

bool is_vowel_char(char c) { return std::strchr("aeiouyAEIOUY", c) != nullptr && c != '\0'; }
bool is_tone_char(char c) { return std::strchr("'`?~.", c) != nullptr && c != '\0'; }
bool is_shape_char_typed(char c) { return c == '(' || c == '^' || c == '+'; }

// The vowels of a typed syllable: where each begins, and where its tone
// would go (after its shape mark).
std::vector<std::size_t> vowel_ends(const std::string &s) {
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!is_vowel_char(s[i])) continue;
        std::size_t end = i + 1;
        if (end < s.size() && is_shape_char_typed(s[end])) ++end;
        ends.push_back(end);
    }
    return ends;
}

std::size_t tone_at(const std::string &s) {
    for (std::size_t i = 1; i < s.size(); ++i)
        if (is_tone_char(s[i])) return i;
    return std::string::npos;
}

// k before a back vowel, from a marked syllable that has c there.
void add_k_before_back_vowel(const std::string &s, std::set<std::string> &out) {
    const bool marked = s.find_first_of("'`?~.(^+") != std::string::npos;
    if (marked && s.size() > 1 && (s[0] == 'c' || s[0] == 'C') && std::strchr("aouAOU", s[1]) != nullptr) {
        std::string k = s;
        k[0] = s[0] == 'c' ? 'k' : 'K';
        out.insert(k);
    }
}

// A nucleus that needs a final, its final taken away.
void add_without_needed_final(const std::string &s, std::set<std::string> &out) {
    std::string open = s;
    while (!open.empty() && std::strchr("cghmnptCGHMNPT", open.back()) != nullptr) open.pop_back();
    // (With qu or gi the u or i is the initial's: quố, giê are syllables.)
    const bool qu_gi = s.size() > 2 && std::strchr("qQgG", s[0]) != nullptr && std::strchr("uUiI", s[1]) != nullptr;
    if (open.size() == s.size() || qu_gi) return;
    std::string bare = open;
    if (!bare.empty() && is_tone_char(bare.back())) bare.pop_back();
    for (const char *needs : {"a(", "a^", "ie^", "ye^", "uo^", "u+o+"}) {
        const std::size_t n = std::strlen(needs);
        if (bare.size() >= n && bare.compare(bare.size() - n, n, needs) == 0 &&
            !(n == 2 && bare.size() >= 3 && std::strchr("aeiouy", bare[bare.size() - 3]) != nullptr)) {
            if (open.size() > 2) out.insert(open);  // ă and â alone are letters named
            return;
        }
    }
}

// Two tones (another one on another vowel), and the tone moved to another
// vowel where the syllable has one place for it and the dictionary lacks the
// result.
void add_tone_elsewhere(const std::string &s, const std::set<std::string> &dictionary, std::set<std::string> &out) {
    const std::size_t tone = tone_at(s);
    if (tone == std::string::npos) return;
    for (std::size_t end : vowel_ends(s)) {
        if (end == tone) continue;
        out.insert(s.substr(0, end) + (s[tone] == '`' ? '\'' : '`') + s.substr(end));
        const std::string without = s.substr(0, tone) + s.substr(tone + 1);
        const std::size_t at = end > tone ? end - 1 : end;
        const std::string moved = without.substr(0, at) + s[tone] + without.substr(at);
        const bool two_places = s.find("oa") != std::string::npos || s.find("oe") != std::string::npos ||
                                s.find("uy") != std::string::npos;
        if (!two_places && dictionary.count(moved) == 0) out.insert(moved);
    }
}

std::vector<std::string> rule_breakers(const std::vector<std::string> &typed_syllables,
                                       const std::set<std::string> &dictionary) {
    std::set<std::string> out;
    for (const std::string &s : typed_syllables) {
        add_k_before_back_vowel(s, out);
        add_without_needed_final(s, out);
        add_tone_elsewhere(s, dictionary, out);
    }
    return {out.begin(), out.end()};
}

TEST(TypedDictionary, SyllablesThatBreakARuleKeepTheirMarksApart) {
    REQUIRE_DICTIONARY();
    std::vector<std::string> typed_syllables;
    for (const std::string &s : dictionary_syllables()) typed_syllables.push_back(typed_spelling(s));
    const std::set<std::string> dictionary(typed_syllables.begin(), typed_syllables.end());
    const std::vector<std::string> breakers = rule_breakers(typed_syllables, dictionary);
    ASSERT_GT(breakers.size(), 3000u);
    std::string text;
    for (const std::string &s : breakers) text += s + " ";
    text += "xong";
    std::istringstream got(typed(text));
    int read_whole = 0;
    for (const std::string &s : breakers) {
        std::string word;
        got >> word;
        // With every mark joined the word is what the strict reader makes of it.
        if (word == strict(s) && ++read_whole <= 100) ADD_FAILURE() << s << " read with all its marks";
    }
    EXPECT_EQ(read_whole, 0) << "of " << breakers.size();
}

// ---------------------------------------------------------------------------
// Chunk boundaries change nothing: the text of all the rules and a stretch
// of typed prose, cut at every place into two chunks and read in chunks of
// many sizes.

std::string all_rule_inputs() {
    std::string text;
    for (const rule_case &c : rule_cases) text += std::string(c.input) + "\n";
    return text + "\\Mco' \\Vco'\n\nA? \\";
}

TEST(TypedChunks, AnySplitGivesTheSameOutput) {
    const std::string text = all_rule_inputs();
    const std::string whole = typed(text);
    for (std::size_t cut = 1; cut < text.size(); ++cut) {
        const int handle = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
        viqr_set(handle, 1, VIQR_PARAM_HOLD);
        viqr_set(handle, 1, VIQR_PARAM_TYPED);
        std::vector<unsigned char> area(viqr_typed_room(text.size()));
        const auto *in = reinterpret_cast<const unsigned char *>(text.data());
        std::size_t n = viqr_feed_chunk(handle, in, cut, area.data());
        n += viqr_feed_chunk(handle, in + cut, text.size() - cut, area.data() + n);
        int count = 0;
        viqr_close(handle, area.data() + n, count);
        const std::string got(reinterpret_cast<const char *>(area.data()), n + std::size_t(count));
        ASSERT_EQ(got, whole) << "cut at " << cut;
    }
    for (std::size_t chunk : {1u, 2u, 3u, 5u, 8u, 13u, 97u}) EXPECT_EQ(typed(text, chunk), whole) << "chunks of " << chunk;
}

// Any bytes at all, in chunks of random sizes: the same output as in one.
TEST(TypedChunks, RandomBytesInRandomChunks) {
    std::mt19937 random(11u);
    static const char tricky[] = "aAeEiIoOuUyYdD'`?~.(^+\\ \n/@:VvMmLl0123456789%_-\xE2\xF0\xA4";
    std::uniform_int_distribution<int> pick(0, int(sizeof tricky) - 2), any(0, 255), coin(0, 4), size(1, 300);
    for (int round = 0; round < 40; ++round) {
        std::string text;
        for (int i = 0; i < 3000; ++i) text += coin(random) == 0 ? char(any(random)) : tricky[pick(random)];
        const std::string whole = typed(text);
        const int handle = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
        viqr_set(handle, 1, VIQR_PARAM_HOLD);
        viqr_set(handle, 1, VIQR_PARAM_TYPED);
        std::string got;
        std::vector<unsigned char> area(viqr_typed_room(300));
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t n = std::min<std::size_t>(std::size_t(size(random)), text.size() - at);
            const std::size_t w = viqr_feed_chunk(handle, reinterpret_cast<const unsigned char *>(text.data()) + at, n,
                                                  area.data());
            ASSERT_LE(w, viqr_typed_room(n));
            got.append(reinterpret_cast<const char *>(area.data()), w);
            at += n;
        }
        int count = 0;
        viqr_close(handle, area.data(), count);
        got.append(reinterpret_cast<const char *>(area.data()), std::size_t(count));
        ASSERT_EQ(got, whole) << "round " << round;
    }
}

// The cache keeps only decisions that nothing around the token changed: the
// same text read with it and without it is the same, byte for byte, also
// where a word comes back after quotations, sentence ends, compounds and
// mode letters that read it otherwise.
TEST(TypedCache, ChangesNoByte) {
    static const char *const words[] = {
        "co'", "'ba.n", "co'", "ddi", "kho^ng'", "ra.", "Ra.", "du.", "vi'", "dda^`u", "tu+.", "`ls`", "`po'", "ca'i",
        "No^.i.", "va^.y?", "dde^?", "la`m.", "chia", "se?", "(dda^`u", "tu+.)", "\\Mco'", "\\Vco'", "1\\.3",
        "www.google.com", "a.out", "HDDND", "DD.", "50.000dd", "add", "I'm", "Ko^ng", "Ka?", "ca^/x", "A.", "B.",
        "ngu+o+`i", "a'e'i'o'u'", "dddd", "\"ra.\"", "x'", "'", "`", "ba.n,", "ra...", "Tp.", "1.", "A?", "--",
        "a.", "e.", "-a.", "values",
    };
    static const char *const spaces[] = {" ", " ", " ", "\n", "\n\n", "  ", "\t"};
    std::mt19937 random(2021u);
    std::uniform_int_distribution<int> word(0, int(std::size(words)) - 1), space(0, int(std::size(spaces)) - 1);
    std::string text = all_rule_inputs();
    for (int i = 0; i < 20000; ++i) text += std::string(words[word(random)]) + spaces[space(random)];
    typed_use_cache(true);
    const std::string with = typed(text, 1000);
    const std::string with_utf8 = read_utf8(text, true, MODE_VIETNAMESE, 1000);
    typed_use_cache(false);
    const std::string without = typed(text, 1000);
    const std::string without_utf8 = read_utf8(text, true, MODE_VIETNAMESE, 1000);
    typed_use_cache(!cache_off);
    EXPECT_EQ(with, without);
    EXPECT_EQ(with_utf8, without_utf8);
}

// A decision that weighed what follows its token, the word before it or the
// diacritics of its line is kept under those; one that weighed none of them
// holds anywhere.  Each token here comes back in every place, on lines with
// and without a diacritic before it, after words that open a compound and
// words that do not: the text reads the same with the cache and without it.
TEST(TypedCache, KeepsWhatADecisionWeighed) {
    static const char *const tokens[] = {"(ra.", "(du.", "(la`m.", "(dde^?", "(va^.y?", "\"se?", "(a.",
                                         "ddu+o+.c.", "ra.", "du.", "a.", "tu+.", "la`m,"};
    static const char *const before[] = {"", "va^ng ", "vi' ", "dda^`u ", "x "};
    static const char *const after[] = {" x ", " Xy ", " X1 ", "\n", "\n\n", ", ", " - ", "."};
    std::string text;
    for (const char *b : before)
        for (const char *t : tokens)
            for (const char *a : after) text += std::string(b) + t + a + "\n";
    text += "(ra.";  // the end of the text
    typed_use_cache(true);
    const std::string with = typed(text, 1000);
    typed_use_cache(false);
    const std::string without = typed(text, 1000);
    typed_use_cache(!cache_off);
    EXPECT_EQ(with, without);
}

// Tokens longer than the reader keeps are decided as they stand, the same
// in any chunks.
TEST(TypedChunks, LongTokensAndLongWhiteSpace) {
    std::string text = std::string(300, 'x') + "a. " + std::string(200, ' ') + "ra. " + std::string(150, 'b') + "ba.n\n";
    for (int i = 0; i < 40; ++i) text += "ddi.A" + std::to_string(i);
    const std::string whole = typed(text);
    for (std::size_t chunk : {1u, 7u, 64u, 1000u}) EXPECT_EQ(typed(text, chunk), whole) << "chunks of " << chunk;
}

// ---------------------------------------------------------------------------
// tonedown's output read with -t.  The typed reader only regroups letters
// and marks: spelled out again, its reading and the strict one are the same
// text, always.  Where they group differently is measured and printed.

std::string tonedown_of(const std::string &viscii) {
    std::vector<unsigned char> out(viqr_encoder_output_size(viscii.size() + 1));
    viqr_encoder_history history;
    const std::size_t n = viscii_to_viqr(reinterpret_cast<const unsigned char *>(viscii.data()), viscii.size(),
                                         out.data(), '\\', MODE_VIETNAMESE, history);
    return "\\V" + std::string(reinterpret_cast<const char *>(out.data()), n);
}

struct comparison {
    int inputs = 0, differ = 0;
};

void compare_on_tonedown(const std::string &viscii, comparison &c) {
    const std::string viqr = tonedown_of(viscii);
    const std::string s = strict(viqr), t = typed(viqr);
    ++c.inputs;
    if (s == t) return;
    ++c.differ;
    EXPECT_EQ(typed_spelling(t), typed_spelling(s)) << "tonedown wrote " << viqr;
}

// Alone, a one-byte text is either a syllable or not: đ is none, nor is ă
// or â with a tone (they need a final; alone and bare they are letters
// named), and a vowel with the dot below or the hook above at the very end
// of a text is the question of rule 6, decided for the full stop or the
// question mark unless the toned syllable is common.
TEST(TypedOnTonedown, EveryOneByteTextDiffersOnlyForNonSyllablesOrAFinalDotOrHook) {
    comparison c;
    for (int b = 0; b < 256; ++b) {
        const std::string viscii(1, char(b));
        const int before = c.differ;
        compare_on_tonedown(viscii, c);
        if (c.differ == before) continue;
        const std::string spelled = typed_spelling(viscii);
        const char last = spelled.back();
        const bool needs_final = spelled.size() == 3 && (spelled[0] == 'a' || spelled[0] == 'A') &&
                                 (spelled[1] == '(' || spelled[1] == '^');
        EXPECT_TRUE(spelled == "DD" || spelled == "dd" || needs_final || last == '.' || last == '?') << spelled;
    }
    EXPECT_GT(c.differ, 2);
    std::printf("one-byte texts: %d of %d read otherwise with -t\n", c.differ, c.inputs);
}

TEST(TypedOnTonedown, TwoByteAndRandomTextsKeepEveryCharacter) {
    comparison pairs, random_texts;
    for (int first = 0; first < 256; ++first)
        for (int second = 0; second < 256; ++second) compare_on_tonedown(std::string{char(first), char(second)}, pairs);
    std::mt19937 random(7u);
    static const char tricky[] = "aAeEiIoOuUyYdD\xF0\xD0\xE2\xC2\xE5\xEA\xF4\xBD\xDF\xBF\xE1\xA4'`?~.(^+\\ \nnhgct";
    std::uniform_int_distribution<int> pick(0, int(sizeof tricky) - 2);
    for (int round = 0; round < 200; ++round) {
        std::string text;
        for (int i = 0; i < 200; ++i) text += tricky[pick(random)];
        compare_on_tonedown(text, random_texts);
    }
    std::printf("two-byte texts: %d of %d read otherwise with -t; random texts: %d of %d\n", pairs.differ,
                pairs.inputs, random_texts.differ, random_texts.inputs);
}

TEST(TypedOnTonedown, TheSampleReadsBackSaveTheLoneD) {
    std::ifstream file(VIQR_SAMPLE, std::ios::binary);
    const std::string sample((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(sample.size(), 100u);
    const run_result r = run_shell("exec " + program_path("tonedown") + " '" + VIQR_SAMPLE + "' | " +
                                   program_path("toneup") + " -t");
    EXPECT_EQ(r.status, 0);
    // The one difference: the letter đ named alone in a list is no syllable.
    std::string expected = sample;
    const std::size_t at = expected.find("\xDF, \xF0.");
    ASSERT_NE(at, std::string::npos);
    expected.replace(at + 3, 1, "dd");
    EXPECT_EQ(r.out, expected);
}

// ---------------------------------------------------------------------------
// The command line.

TEST(TypedCli, TheFlagTurnsTheReaderOn) {
    const cli_case cases[] = {
        {{"-t"}, "No^.i. add", "N\xB5i. add", "", 0},
        {{}, "No^.i. add", "N\xB5\xB8 a\xF0", "", 0},
        {{"-t", "-m"}, "No^.i. \\Vadd dda^u", "No^.i. add \xF0\xE2u", "", 0},
        {{"-m", "-t"}, "\\a'", "\xE1", "", 0},
        {{"-l", "-t"}, "\\a'", "\\a'", "", 0},
        {{"-tv"}, "1\\.3 ba.n", "1\\.3 b\xD5n", "", 0},
        {{"-com", "#", "-t"}, "1#.3 \\ cu+#.", "1#.3 \\ c\xDF.", "", 0},
    };
    for (const cli_case &c : cases) expect_outcome(run_program(program_path("toneup"), c.args, c.input), c);
}

TEST(TypedCli, FilesReadAsOneText) {
    scratch_dir dir;
    dir.write("one", "tie^'ng Vie^");   // the word goes on in the next file
    dir.write("two", ".t ra.");         // and the text ends after a full stop
    const run_result r = run_program(program_path("toneup"), {"-t", "one", "two"}, "", "", dir.path());
    EXPECT_EQ(r.out, "ti\xAAng Vi\xAEt ra.");
    EXPECT_EQ(r.status, 0);
}

}  // namespace
