// The converters between encodings, in-process: every byte of every
// single-byte table and every letter against iconv and GNU recode, round
// trips through every encoding, real text against the oracles, any split of
// the input, the loss report, numeric character references, and the
// registry.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "iconv_oracle.h"
#include "oracle.h"
#include "process.h"
#include "seeded_random.h"
#include "viqr.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers

struct converted {
    std::string out;
    viqr_loss_report losses{};
};

// Converts `in` from `from` to `to` in pieces of `piece` bytes (the whole at
// once by default), then finishes.
converted convert(const std::string &from, const std::string &to, const std::string &in, std::size_t piece = 0,
                  int flags = 0) {
    converted c;
    viqr_converter *converter = viqr_converter_open(viqr_encoding_lookup(from.c_str()),
                                                    viqr_encoding_lookup(to.c_str()), flags);
    EXPECT_NE(converter, nullptr) << from << " to " << to;
    if (converter == nullptr) return c;
    if (piece == 0) piece = in.size() + 1;
    std::vector<unsigned char> out(viqr_convert_room(piece));
    const auto *bytes = reinterpret_cast<const unsigned char *>(in.data());
    for (std::size_t at = 0; at < in.size(); at += piece) {
        const std::size_t n = std::min(piece, in.size() - at);
        const std::size_t written = viqr_convert(converter, bytes + at, n, out.data());
        EXPECT_LE(written, viqr_convert_room(n));
        c.out.append(reinterpret_cast<const char *>(out.data()), written);
    }
    const std::size_t written = viqr_convert_finish(converter, out.data());
    EXPECT_LE(written, viqr_convert_room(0));
    c.out.append(reinterpret_cast<const char *>(out.data()), written);
    viqr_convert_losses(converter, &c.losses);
    viqr_converter_close(converter);
    return c;
}

std::string utf8_of(char32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

std::string hex(const std::string &bytes) {
    std::ostringstream s;
    for (unsigned char b : bytes) s << std::hex << (b < 16 ? "0" : "") << static_cast<int>(b) << ' ';
    return s.str();
}

// The 134 Vietnamese letters beyond ASCII, as Python's unicodedata names
// them would: every letter with a Vietnamese shape mark or tone, in the
// order of the rows (capital, then small).
const std::vector<char32_t> &vietnamese_letters() {
    static const std::vector<char32_t> letters = [] {
        std::vector<char32_t> v;
        const char32_t rows[][6] = {
            {0x0041, 0x00C1, 0x00C0, 0x1EA2, 0x00C3, 0x1EA0}, {0x0102, 0x1EAE, 0x1EB0, 0x1EB2, 0x1EB4, 0x1EB6},
            {0x00C2, 0x1EA4, 0x1EA6, 0x1EA8, 0x1EAA, 0x1EAC}, {0x0045, 0x00C9, 0x00C8, 0x1EBA, 0x1EBC, 0x1EB8},
            {0x0049, 0x00CD, 0x00CC, 0x1EC8, 0x0128, 0x1ECA}, {0x00CA, 0x1EBE, 0x1EC0, 0x1EC2, 0x1EC4, 0x1EC6},
            {0x004F, 0x00D3, 0x00D2, 0x1ECE, 0x00D5, 0x1ECC}, {0x0055, 0x00DA, 0x00D9, 0x1EE6, 0x0168, 0x1EE4},
            {0x00D4, 0x1ED0, 0x1ED2, 0x1ED4, 0x1ED6, 0x1ED8}, {0x01A0, 0x1EDA, 0x1EDC, 0x1EDE, 0x1EE0, 0x1EE2},
            {0x01AF, 0x1EE8, 0x1EEA, 0x1EEC, 0x1EEE, 0x1EF0}, {0x0059, 0x00DD, 0x1EF2, 0x1EF6, 0x1EF8, 0x1EF4},
        };
        for (const auto &row : rows)
            for (char32_t cp : row)
                if (cp >= 0x80) v.push_back(cp);
        v.push_back(0x0110);
        const std::size_t capitals = v.size();
        for (std::size_t i = 0; i < capitals; ++i) {
            const char32_t cp = v[i];
            v.push_back(cp < 0x100 ? cp + 0x20 : cp == 0x0110 ? 0x0111 : cp + 1);
        }
        return v;
    }();
    return letters;
}

bool is_capital(char32_t cp) {
    const auto &letters = vietnamese_letters();
    for (std::size_t i = 0; i < letters.size() / 2; ++i)
        if (letters[i] == cp) return true;
    return false;
}

char32_t small_of(char32_t cp) { return cp < 0x100 ? cp + 0x20 : cp == 0x0110 ? 0x0111 : cp + 1; }

// Capitals with a tone: the capitals but Ă Â Đ Ê Ô Ơ Ư.
bool has_tone(char32_t cp) {
    for (char32_t bare : {0x0102, 0x00C2, 0x0110, 0x00CA, 0x00D4, 0x01A0, 0x01AF})
        if (cp == bare || cp == small_of(bare)) return false;
    return true;
}

// GNU recode, the oracle for VPS, TCVN (VN1) and VNI; nothing when it fails.
std::optional<std::string> recode(const std::string &request, const std::string &bytes) {
    const run_result r = run_shell("recode -f " + request, bytes);
    if (r.status != 0) return std::nullopt;
    return r.out;
}

bool have_recode() { return recode("UTF-8..VPS", "a").has_value(); }

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Real Vietnamese text in UTF-8: the project's sample letter.
std::string sample_text() {
    const std::optional<std::string> text = iconv_convert("VISCII", "UTF-8", read_file(VIQR_SAMPLE));
    return text.value_or("");
}

const char *const writable_encodings[] = {"utf-8", "utf-8-nfd", "ncr",  "viqr", "viscii", "viscii-1.0",
                                          "tcvn3", "vn1",       "vni",  "vps",  "cp1258"};

// What a letter becomes through `encoding` and back, and whether that is a
// loss: TCVN3 writes a capital with a tone as its small letter; VPS (as
// recode's table) has no Ỗ.
char32_t expected_back(const std::string &encoding, char32_t cp) {
    if (encoding == "tcvn3" && is_capital(cp) && has_tone(cp)) return small_of(cp);
    if (encoding == "vps" && cp == 0x1ED6) return 0x1ED7;
    return cp;
}

// ---------------------------------------------------------------------------
// Every byte of the single-byte tables against the oracles

// An encoding and the oracle that knows it.
struct oracle_case {
    const char *encoding;
    const char *tool;     // "iconv" or "recode"
    const char *charset;  // the oracle's name for it
};

std::string case_name(const testing::TestParamInfo<oracle_case> &info) {
    std::string name = std::string(info.param.encoding) + "_" + info.param.tool;
    for (char &c : name)
        if (c == '-') c = '_';
    return name;
}

class single_byte_table : public testing::TestWithParam<oracle_case> {};

TEST_P(single_byte_table, every_byte_reads_as_the_oracle_reads_it) {
    const oracle_case o = GetParam();
    const bool by_recode = std::string(o.tool) == "recode";
    if (by_recode) REQUIRE_ORACLE(have_recode(), "GNU recode is not installed");
    else REQUIRE_ORACLE(iconv_convert(o.charset, "UTF-8", "a").has_value(), std::string("iconv lacks ") + o.charset);
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        std::optional<std::string> expected = by_recode ? recode(std::string(o.charset) + "..UTF-8", byte)
                                                        : iconv_convert(o.charset, "UTF-8", byte);
        const bool undefined = !expected || *expected == "\xEF\xBF\xBD";
        const converted ours = convert(o.encoding, "utf-8", byte);
        SCOPED_TRACE(testing::Message() << o.encoding << " byte 0x" << std::hex << b);
        if (undefined) {
            EXPECT_EQ(ours.out, "\xEF\xBF\xBD");
            EXPECT_EQ(ours.losses.undefined, 1u);
            EXPECT_EQ(ours.losses.undefined_byte, b);
        } else {
            EXPECT_EQ(hex(ours.out), hex(*expected));
            EXPECT_EQ(ours.losses.undefined, 0u);
            // and the byte is written back, unless it is a second byte for
            // something written elsewhere
            EXPECT_EQ(hex(convert("utf-8", o.encoding, ours.out).out), hex(byte));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(oracles, single_byte_table,
                         testing::Values(oracle_case{"viscii", "iconv", "VISCII"},
                                         oracle_case{"vn1", "iconv", "TCVN5712-1"},
                                         oracle_case{"vn1", "recode", "TCVN"},
                                         oracle_case{"cp1258", "iconv", "CP1258"},
                                         oracle_case{"vps", "recode", "VPS"}),
                         case_name);

// TCVN3 is VN1's small letters and bare capitals with Windows-1252's
// punctuation below 0xA0; above, it reads every byte as VN1 does.
TEST(tcvn3_table, is_vn1_above_0xa0_and_windows_1252_below) {
    REQUIRE_ORACLE(iconv_convert("CP1252", "UTF-8", "a").has_value(), "iconv lacks CP1252");
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const converted ours = convert("tcvn3", "utf-8", byte);
        SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << b);
        if (b < 0x80) {
            EXPECT_EQ(ours.out, byte);
        } else if (b < 0xA0) {
            const std::optional<std::string> windows = iconv_convert("CP1252", "UTF-8", byte);
            EXPECT_EQ(hex(ours.out), hex(windows.value_or("\xEF\xBF\xBD")));  // undefined in Windows-1252
        } else {
            EXPECT_EQ(hex(ours.out), hex(convert("vn1", "utf-8", byte).out));
        }
    }
}

// ---------------------------------------------------------------------------
// Every letter both ways through every codec

TEST(every_letter, comes_back_through_every_encoding) {
    for (const char *encoding : writable_encodings) {
        for (char32_t cp : vietnamese_letters()) {
            const std::string letter = utf8_of(cp);
            const converted there = convert("utf-8", encoding, letter);
            const converted back = convert(encoding, "utf-8", there.out);
            const char32_t expected = expected_back(encoding, cp);
            SCOPED_TRACE(testing::Message() << encoding << " " << letter << " as " << hex(there.out));
            EXPECT_EQ(back.out, utf8_of(expected));
            EXPECT_EQ(there.losses.unwritable, expected == cp ? 0u : 1u);
            if (expected != cp) {
                EXPECT_EQ(there.losses.unwritable_first, cp);
                EXPECT_EQ(there.losses.substitutes, VIQR_SUBSTITUTE_LOWERCASE);
            }
            EXPECT_EQ(back.losses.undefined, 0u);
        }
    }
}

// All the letters in one text, side by side, then separated, survive every
// encoding: no letter takes a mark from its neighbour.
TEST(every_letter, side_by_side_survive_every_encoding) {
    for (const char *encoding : writable_encodings) {
        std::string text, expected;
        for (const char *separator : {"", " ", "\n"})
            for (char32_t cp : vietnamese_letters()) {
                text += utf8_of(cp) + separator;
                expected += utf8_of(expected_back(encoding, cp)) + separator;
            }
        const converted there = convert("utf-8", encoding, text);
        EXPECT_EQ(convert(encoding, "utf-8", there.out).out, expected) << encoding;
    }
}

// VNI as recode writes it, letter by letter, and read back.  recode writes
// the capitals Ắ and Ằ with each other's mark bytes (0xC8, 0xC9); the VNI
// fonts follow their small letters (ắ 0xE9, ằ 0xE8) shifted by 0x20, and so
// does toneconv.
TEST(every_letter, vni_is_what_recode_writes) {
    REQUIRE_ORACLE(have_recode(), "GNU recode is not installed");
    const std::map<char32_t, std::string> disagreements = {{0x1EAE, "A\xC9"}, {0x1EB0, "A\xC8"}};
    for (char32_t cp : vietnamese_letters()) {
        const std::string letter = utf8_of(cp);
        const std::string ours = convert("utf-8", "vni", letter).out;
        const std::optional<std::string> theirs = recode("UTF-8..VNI", letter);
        ASSERT_TRUE(theirs.has_value());
        SCOPED_TRACE(letter);
        if (const auto d = disagreements.find(cp); d != disagreements.end()) {
            EXPECT_EQ(hex(ours), hex(d->second));
            EXPECT_NE(hex(ours), hex(*theirs));
        } else {
            EXPECT_EQ(hex(ours), hex(*theirs));
            EXPECT_EQ(convert("vni", "utf-8", *theirs).out, letter);
        }
    }
}

// VPS and TCVN (recode's name for VN1) as recode writes every letter.
TEST(every_letter, vps_and_vn1_are_what_recode_writes) {
    REQUIRE_ORACLE(have_recode(), "GNU recode is not installed");
    for (const auto &[encoding, charset] : {std::pair{"vps", "VPS"}, std::pair{"vn1", "TCVN"}}) {
        for (char32_t cp : vietnamese_letters()) {
            if (std::string(encoding) == "vps" && cp == 0x1ED6) continue;  // Ỗ: a loss, above
            const std::string letter = utf8_of(cp);
            EXPECT_EQ(hex(convert("utf-8", encoding, letter).out), hex(recode(std::string("UTF-8..") + charset, letter).value_or("")))
                << encoding << " " << letter;
        }
    }
}

// UTF-8 NFD as Python's unicodedata decomposes, and read back composed.
TEST(every_letter, nfd_is_pythons) {
    REQUIRE_ORACLE(have_python_unicodedata(), "python3 with unicodedata is not available");
    std::string text;
    for (char32_t cp : vietnamese_letters()) text += utf8_of(cp) + " ";
    const run_result python = run_shell(
        "python3 -c 'import sys,unicodedata; sys.stdout.buffer.write(unicodedata.normalize(\"NFD\", "
        "sys.stdin.buffer.read().decode()).encode())'",
        text);
    ASSERT_EQ(python.status, 0) << python.err;
    const std::string ours = convert("utf-8", "utf-8-nfd", text).out;
    EXPECT_EQ(hex(ours), hex(python.out));
    EXPECT_EQ(convert("utf-8", "utf-8", ours).out, text);
}

// ---------------------------------------------------------------------------
// Real text against the oracles

class real_text : public testing::TestWithParam<oracle_case> {
protected:
    std::optional<std::string> oracle(const std::string &from, const std::string &to, const std::string &bytes) {
        const oracle_case o = GetParam();
        if (std::string(o.tool) == "recode") return recode(from + ".." + to, bytes);
        return iconv_convert(from, to, bytes);
    }
};

TEST_P(real_text, reads_and_writes_what_the_oracle_does) {
    const oracle_case o = GetParam();
    if (std::string(o.tool) == "recode") REQUIRE_ORACLE(have_recode(), "GNU recode is not installed");
    REQUIRE_ORACLE(have_iconv_viscii(), "iconv lacks VISCII");
    const std::string text = sample_text();
    REQUIRE_ORACLE(!text.empty(), "iconv lacks VISCII");
    const std::optional<std::string> theirs = oracle("UTF-8", o.charset, text);
    ASSERT_TRUE(theirs.has_value());
    const converted read = convert(o.encoding, "utf-8", *theirs);
    EXPECT_EQ(read.out, text);
    EXPECT_EQ(read.losses.undefined, 0u);
    const converted written = convert("utf-8", o.encoding, text);
    EXPECT_EQ(written.losses.unwritable, 0u);
    if (std::string(o.encoding) == "cp1258")
        EXPECT_EQ(oracle(o.charset, "UTF-8", written.out).value_or(""), text);  // Windows-1258 composes freely
    else
        EXPECT_EQ(written.out, *theirs);
}

INSTANTIATE_TEST_SUITE_P(oracles, real_text,
                         testing::Values(oracle_case{"viscii", "iconv", "VISCII"},
                                         oracle_case{"vn1", "iconv", "TCVN5712-1"},
                                         oracle_case{"cp1258", "iconv", "CP1258"},
                                         oracle_case{"vps", "recode", "VPS"},
                                         oracle_case{"vni", "recode", "VNI"}),
                         case_name);

// ---------------------------------------------------------------------------
// Any split of the input gives the same output

TEST(chunks, any_split_gives_the_same_output) {
    auto random = seeded_random(2207);
    std::string text = sample_text();
    REQUIRE_ORACLE(!text.empty(), "iconv lacks VISCII");
    text += "&#7879; &#x1EC7 A\xCC\x81 a\xCC\xA3\xCC\x82 \xFF\xE1\xBA";  // references, NFD, invalid UTF-8
    for (const char *encoding : writable_encodings) {
        const std::string there = convert("utf-8", encoding, text).out;
        for (const auto &[from, to, input] : {std::tuple{"utf-8", encoding, text}, std::tuple{encoding, "utf-8", there}}) {
            const std::string whole = convert(from, to, input).out;
            for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7},
                                      std::size_t{1 + below(random, 300)}})
                EXPECT_EQ(convert(from, to, input, piece).out, whole) << from << " to " << to << " in pieces of " << piece;
        }
    }
}

// A two-byte letter (VNI's base and mark, Windows-1258's base and tone) cut
// by the end of one input is finished by the next.
TEST(chunks, letters_compose_across_inputs) {
    for (const auto &[encoding, bytes] : {std::pair<std::string, std::string>{"vni", "Vie\xE4t"},
                                          {"cp1258", "Vi\xEA\xF2t"}, {"vn1", "Vi\xAA\xB4t"},
                                          {"utf-8", "Vie\xCC\xA3\xCC\x82t"}, {"ncr", "Vi&#7879;t"}}) {
        for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
            viqr_converter *c = viqr_converter_open(viqr_encoding_lookup(encoding.c_str()), viqr_encoding_lookup("utf-8"), 0);
            ASSERT_NE(c, nullptr);
            std::vector<unsigned char> out(viqr_convert_room(bytes.size()));
            const auto *in = reinterpret_cast<const unsigned char *>(bytes.data());
            std::size_t n = viqr_convert(c, in, cut, out.data());
            viqr_convert_begin_input(c);
            n += viqr_convert(c, in + cut, bytes.size() - cut, out.data() + n);
            n += viqr_convert_finish(c, out.data() + n);
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(out.data()), n), "Vi\xE1\xBB\x87t") << encoding << " cut at " << cut;
            viqr_converter_close(c);
        }
    }
}

// ---------------------------------------------------------------------------
// The loss report

TEST(losses, count_the_characters_and_place_the_first) {
    struct row {
        const char *to;
        std::string text;
        unsigned long long count;
        char32_t first;
        unsigned long long line, column;
        int substitutes;
        std::string out;
    };
    const row rows[] = {
        {"tcvn3", "B\xC3\xA1o c\xC3\xA1o\nNg\xC3\xA0y 1 \xE1\xBB\x86 \xE1\xBA\xA0", 2, 0x1EC6, 2, 8, VIQR_SUBSTITUTE_LOWERCASE,
         "B\xB8o c\xB8o\nNg\xB5y 1 \xD6 \xB9"},
        {"viscii", "a\n\nxy \xE2\x82\xAC!", 1, 0x20AC, 3, 4, VIQR_SUBSTITUTE_QUESTION_MARK, "a\n\nxy ?!"},
        {"tcvn3", "\xE2\x82\xAC \xC3\x81 \xC2\xA9", 2, 0xC1, 1, 3, VIQR_SUBSTITUTE_LOWERCASE | VIQR_SUBSTITUTE_QUESTION_MARK,
         "\x80 \xB8 ?"},  // TCVN3 has the euro sign of its fonts' code page
        {"vps", "\xE1\xBB\x96", 1, 0x1ED6, 1, 1, VIQR_SUBSTITUTE_LOWERCASE, "\x87"},
        // a letter composed from three characters is one column
        {"vn1", "a\xCC\xA3\xCC\x82 \xE2\x82\xAC", 1, 0x20AC, 1, 3, VIQR_SUBSTITUTE_QUESTION_MARK, "\xCB ?"},
        {"cp1258", "\xE1\xBB\x87 \xC3\xA7 \xE2\x80\x9C", 0, 0, 0, 0, 0, "\xEA\xF2 \xE7 \x93"},
    };
    for (const row &r : rows) {
        const converted c = convert("utf-8", r.to, r.text);
        SCOPED_TRACE(r.text);
        EXPECT_EQ(hex(c.out), hex(r.out));
        EXPECT_EQ(c.losses.unwritable, r.count);
        EXPECT_EQ(c.losses.unwritable_first, r.first);
        EXPECT_EQ(c.losses.unwritable_line, r.line);
        EXPECT_EQ(c.losses.unwritable_column, r.column);
        EXPECT_EQ(c.losses.substitutes, r.substitutes);
    }
}

TEST(losses, undefined_bytes_are_counted_with_the_first_offset) {
    struct row {
        const char *from, *to;
        std::string in;
        unsigned long long count, offset;
        unsigned char byte;
        unsigned long substitute;
        std::string out;
    };
    const row rows[] = {
        {"vps", "utf-8", "ab\x91\xA0", 2, 2, 0x91, 0xFFFD, "ab\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"utf-8", "utf-8", "x\xC3(\xFF", 2, 1, 0xC3, 0xFFFD, "x\xEF\xBF\xBD(\xEF\xBF\xBD"},
        {"utf-8", "viscii", "\xE1\xBA", 2, 0, 0xE1, '?', "??"},  // cut short by the end
        {"cp1258", "tcvn3", "\x8A", 1, 0, 0x8A, '?', "?"},
        {"tcvn3", "ncr", "\x81", 1, 0, 0x81, 0xFFFD, "&#65533;"},
        {"viqr", "utf-8", "a\\V b \xFF", 1, 6, 0xFF, 0xFFFD, "a b \xEF\xBF\xBD"},
    };
    for (const row &r : rows) {
        const converted c = convert(r.from, r.to, r.in);
        SCOPED_TRACE(std::string(r.from) + " " + hex(r.in));
        EXPECT_EQ(hex(c.out), hex(r.out));
        EXPECT_EQ(c.losses.undefined, r.count);
        EXPECT_EQ(c.losses.undefined_offset, r.offset);
        EXPECT_EQ(c.losses.undefined_byte, r.byte);
        EXPECT_EQ(c.losses.undefined_substitute, r.substitute);
        EXPECT_EQ(c.losses.unwritable, 0u) << "undefined input is not counted twice";
    }
}

// The report starts afresh with each input; the place counts from it.
TEST(losses, each_input_has_its_own_report) {
    viqr_converter *c = viqr_converter_open(viqr_encoding_lookup("utf-8"), viqr_encoding_lookup("tcvn3"), 0);
    ASSERT_NE(c, nullptr);
    std::vector<unsigned char> out(viqr_convert_room(64));
    const std::string first = "\xE1\xBB\x86\n", second = "ab\ncd \xC3\x81";
    viqr_convert(c, reinterpret_cast<const unsigned char *>(first.data()), first.size(), out.data());
    viqr_loss_report r;
    EXPECT_EQ(viqr_convert_losses(c, &r), 1);
    EXPECT_EQ(r.unwritable, 1u);
    viqr_convert_begin_input(c);
    EXPECT_EQ(viqr_convert_losses(c, &r), 0);
    viqr_convert(c, reinterpret_cast<const unsigned char *>(second.data()), second.size(), out.data());
    viqr_convert_finish(c, out.data());
    EXPECT_EQ(viqr_convert_losses(c, &r), 1);
    EXPECT_EQ(r.unwritable_first, 0xC1u);
    EXPECT_EQ(r.unwritable_line, 2u);
    EXPECT_EQ(r.unwritable_column, 4u);
    viqr_converter_close(c);
}

// ---------------------------------------------------------------------------
// Numeric character references, VIQR and the registry

TEST(ncr, references_read_and_written) {
    const std::pair<std::string, std::string> reads[] = {
        {"Vi&#7879;t", "Vi\xE1\xBB\x87t"},
        {"Vi&#x1EC7;t &#X1ec7;", "Vi\xE1\xBB\x87t \xE1\xBB\x87"},
        {"e&#803;&#770;", "\xE1\xBB\x87"},                      // composed like any decomposed letter
        {"&#0; &#xD800; &#1114112; &#x110000;", "&#0; &#xD800; &#1114112; &#x110000;"},
        {"&#; &#x; &# &#65 &amp; &&#65;", "&#; &#x; &# &#65 &amp; &A"},
        {"&#12345678;", "&#12345678;"},                         // too many digits
        {"&#0000065;", "A"},
        {"\xC3\xA9&#233;", "\xC3\xA9\xC3\xA9"},                 // UTF-8 is read too
    };
    for (const auto &[in, out] : reads) EXPECT_EQ(convert("ncr", "utf-8", in).out, out) << in;
    EXPECT_EQ(convert("utf-8", "ncr", "Vi\xE1\xBB\x87t & \xF0\x9F\x98\x80").out, "Vi&#7879;t &#38; &#128512;");
    EXPECT_EQ(convert("ncr", "utf-8", convert("utf-8", "ncr", "&#65; & &amp;").out).out, "&#65; & &amp;");
}

TEST(viqr, reads_and_writes_as_the_engines_do) {
    EXPECT_EQ(convert("utf-8", "viqr", "Vi\xE1\xBB\x87t Nam").out, "\\VVie^.t Nam");
    EXPECT_EQ(convert("utf-8", "viqr", "Vi\xE1\xBB\x87t Nam", 0, VIQR_CONVERT_ENGLISH_MODE).out, "\\MVi\\e^.t Nam");
    EXPECT_EQ(convert("viqr", "utf-8", "\\VVie^.t Nam").out, "Vi\xE1\xBB\x87t Nam");
    EXPECT_EQ(convert("viqr-typed", "utf-8", "Tieng Vie^.t, dde^'n").out, "Tieng Vi\xE1\xBB\x87t, \xC4\x91\xE1\xBA\xBFn");
    EXPECT_EQ(convert("viqr", "tcvn3", "Vie^.t").out, "Vi\xD6t");
}

TEST(registry, names_aliases_and_directions) {
    const std::pair<const char *, const char *> names[] = {
        {"UTF-8", "utf-8"},    {"utf8", "utf-8"},         {"Windows-1258", "cp1258"}, {"TCVN5712-1", "vn1"},
        {"vni-windows", "vni"}, {"ABC", "tcvn3"},         {"VISCII", "viscii"},       {"viscii1.0", "viscii-1.0"},
        {"VPS", "vps"},        {"viqr-TYPED", "viqr-typed"}, {"NCR", "ncr"},           {"NFD", "utf-8-nfd"},
    };
    for (const auto &[name, canonical] : names) {
        const int e = viqr_encoding_lookup(name);
        ASSERT_GE(e, 0) << name;
        EXPECT_STREQ(viqr_encoding_name(e), canonical);
    }
    for (const char *unknown : {"", "utf", "utf-88", "abc ", "vn1 ", "latin1"}) EXPECT_EQ(viqr_encoding_lookup(unknown), -1) << unknown;
    EXPECT_EQ(viqr_encoding_lookup(nullptr), -1);
    const int typed = viqr_encoding_lookup("viqr-typed");
    EXPECT_TRUE(viqr_encoding_can_read(typed));
    EXPECT_FALSE(viqr_encoding_can_write(typed));
    EXPECT_EQ(viqr_encoding_name(-1), nullptr);
    EXPECT_EQ(viqr_encoding_name(viqr_encoding_count()), nullptr);
    errno = 0;
    EXPECT_EQ(viqr_converter_open(viqr_encoding_lookup("utf-8"), typed, 0), nullptr);
    EXPECT_EQ(errno, EINVAL);
    for (int e = 0; e < viqr_encoding_count(); ++e) {
        EXPECT_NE(*viqr_encoding_description(e), '\0');
        EXPECT_EQ(viqr_encoding_lookup(viqr_encoding_name(e)), e);
    }
}

// A converter that reads VIQR holds a decoder context until it is closed;
// when none is free, opening fails cleanly.
TEST(registry, viqr_readers_share_the_decoder_contexts) {
    const int viqr = viqr_encoding_lookup("viqr"), utf8 = viqr_encoding_lookup("utf-8");
    std::vector<viqr_converter *> open;
    for (int i = 0; i < VIQR_MAX_CONTEXTS; ++i) {
        open.push_back(viqr_converter_open(viqr, utf8, 0));
        ASSERT_NE(open.back(), nullptr);
    }
    errno = 0;
    EXPECT_EQ(viqr_converter_open(viqr, utf8, 0), nullptr);
    EXPECT_EQ(errno, EMFILE);
    viqr_converter *writer = viqr_converter_open(utf8, viqr, 0);
    EXPECT_NE(writer, nullptr) << "writing VIQR needs no context";
    viqr_converter_close(writer);
    viqr_converter_close(open.back());
    open.back() = viqr_converter_open(viqr, utf8, 0);
    EXPECT_NE(open.back(), nullptr);
    for (viqr_converter *c : open) viqr_converter_close(c);
}

}  // namespace
