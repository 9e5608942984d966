// The C interface of viqr.h: rows of the decoder, encoder and option tables
// run through the C++ interface and through C code (c_api_calls.c) must give
// the same bytes; then what the C interface adds, null pointers where the C++
// interface has references.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "c_api_calls.h"
#include "iconv_oracle.h"
#include "oracle.h"
#include "viqr.h"
#include "viqr_model.h"

namespace {

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

std::string text(const unsigned char *p, std::size_t n) { return std::string(reinterpret_cast<const char *>(p), n); }

// Every test leaves all contexts closed for the next one.
class CApi : public testing::Test {
protected:
    void TearDown() override {
        for (int handle = 0; handle < VIQR_MAX_CONTEXTS; ++handle) viqr_close(handle, nullptr, nullptr);
    }
};

// ---------------------------------------------------------------------------
// Decoder

struct decoder_row {
    int mode;
    bool hold;
    std::string input, output;
    int end_state;  // after the flush
};

void PrintTo(const decoder_row &r, std::ostream *os) {
    *os << "mode " << r.mode << (r.hold ? " hold on " : " hold off ") << testing::PrintToString(r.input);
}

const decoder_row decoder_rows[] = {
    {MODE_VIETNAMESE, true, "Vie^.t Nam", "Vi\xAEt Nam", MODE_VIETNAMESE},
    {MODE_VIETNAMESE, false, "a^'", "a\x08\xE2\x08\xA4", MODE_VIETNAMESE},
    {MODE_VIETNAMESE, true, "a\\", "a\\", MODE_VIETNAMESE},
    {MODE_ENGLISH, true, "\\ye^~n", "y\xADn", MODE_ENGLISH},
    {MODE_LITERAL, true, "\\Va'", "\xE1", MODE_VIETNAMESE},
    {MODE_LITERAL, true, "\\a'\\", "\\a'\\", MODE_LITERAL},
};

std::string decode_cpp(const decoder_row &r, int &end_state) {
    const int handle = viqr_open(r.mode, DEFAULT_COMPOSITION_CHAR, DEFAULT_OVERSTRIKE_CHAR);
    viqr_set(handle, r.hold, VIQR_PARAM_HOLD);
    std::string out;
    unsigned char area[2];
    int count = 0;
    for (unsigned char b : r.input) {
        viqr_feed(handle, b, area, count);
        out += text(area, static_cast<std::size_t>(count));
    }
    viqr_flush(handle, area, count);
    out += text(area, static_cast<std::size_t>(count));
    viqr_query(handle, &end_state, VIQR_PARAM_STATE);
    viqr_close(handle, area, count);
    return out;
}

class CApiDecoder : public CApi, public testing::WithParamInterface<decoder_row> {};

TEST_P(CApiDecoder, WritesWhatTheCppInterfaceWrites) {
    const decoder_row &r = GetParam();
    int cpp_state = -1;
    EXPECT_EQ(decode_cpp(r, cpp_state), r.output);
    EXPECT_EQ(cpp_state, r.end_state);

    std::vector<unsigned char> out(2 * r.input.size() + 2);
    int c_state = -1;
    std::size_t n = c_decode(r.mode, r.hold, bytes(r.input), r.input.size(), out.data(), &c_state);
    ASSERT_NE(n, static_cast<std::size_t>(-1)) << "no context was free";
    EXPECT_EQ(text(out.data(), n), r.output);
    EXPECT_EQ(c_state, r.end_state);

    for (std::size_t chunk : {1u, 2u, 64u}) {
        c_state = -1;
        n = c_decode_chunks(r.mode, r.hold, bytes(r.input), r.input.size(), chunk, out.data(), &c_state);
        EXPECT_EQ(text(out.data(), n), r.output) << "chunks of " << chunk;
        EXPECT_EQ(c_state, r.end_state) << "chunks of " << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CApiDecoder, testing::ValuesIn(decoder_rows));

// ---------------------------------------------------------------------------
// Encoder

struct encoder_row {
    int mode;
    std::string input, output;
    std::size_t cut;  // where the input is split into two calls
    unsigned char composition_char = '\\';
};

void PrintTo(const encoder_row &r, std::ostream *os) {
    *os << "mode " << r.mode << ", input " << testing::PrintToString(r.input) << ", cut at " << r.cut;
}

const encoder_row encoder_rows[] = {
    {MODE_VIETNAMESE, "Vi\xAEt", "Vie^.t", 2},
    {MODE_VIETNAMESE, "ddd", "d\\d\\d", 1},  // the history crosses the cut
    {MODE_VIETNAMESE, "\xE2'", "a^\\'", 1},
    {MODE_ENGLISH, "\xD0\xF0", "\\DD\\dd", 1},
    {MODE_ENGLISH, "\xE2'", "#a^#M'", 1, '#'},
    {MODE_LITERAL, "abc", "", 1},  // not a mode the encoder writes
};

class CApiEncoder : public testing::TestWithParam<encoder_row> {};

TEST_P(CApiEncoder, WritesWhatTheCppInterfaceWrites) {
    const encoder_row &r = GetParam();
    std::vector<unsigned char> out(viqr_encoder_output_size(r.input.size()));
    viqr_encoder_history history;
    std::size_t n = viscii_to_viqr(bytes(r.input), r.cut, out.data(), r.composition_char, r.mode, history);
    n += viscii_to_viqr(bytes(r.input) + r.cut, r.input.size() - r.cut, out.data() + n, r.composition_char, r.mode,
                        history);
    EXPECT_EQ(text(out.data(), n), r.output);

    n = c_encode(bytes(r.input), r.input.size(), r.cut, out.data(), r.composition_char, r.mode);
    EXPECT_EQ(text(out.data(), n), r.output);
}

INSTANTIATE_TEST_SUITE_P(Rows, CApiEncoder, testing::ValuesIn(encoder_rows));

// ---------------------------------------------------------------------------
// Option pre-parser

struct options_row {
    std::vector<std::string> args;       // after the invocation name
    std::vector<std::string> remaining;  // after the invocation name
    int composition_char;
    int overstrike_char;
};

void PrintTo(const options_row &r, std::ostream *os) { *os << "args " << testing::PrintToString(r.args); }

const options_row options_rows[] = {
    {{"-v", "file"}, {"-v", "file"}, '\\', 0x08},
    {{"a", "-com", "#", "b"}, {"a", "b"}, '#', 0x08},
    {{"-bs", "-com", "x"}, {"x"}, '\\', '-'},
    {{"-com", "\\777", "-bs", "\\33"}, {}, 255, 27},
};

// The vector as the program would get it, and what the pre-parser leaves.
struct argument_vector {
    explicit argument_vector(const std::vector<std::string> &args) : storage{"prog"} {
        storage.insert(storage.end(), args.begin(), args.end());
        for (std::string &s : storage) pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
    int count() const { return static_cast<int>(storage.size()); }
    std::vector<std::string> after_name(int argc) const {
        std::vector<std::string> left;
        for (int i = 1; i < argc; ++i) left.emplace_back(pointers[static_cast<std::size_t>(i)]);
        return left;
    }
    std::vector<std::string> storage;
    std::vector<char *> pointers;
};

class CApiOptions : public testing::TestWithParam<options_row> {};

TEST_P(CApiOptions, LeaveWhatTheCppInterfaceLeaves) {
    const options_row &r = GetParam();
    {
        argument_vector v(r.args);
        int argc = v.count();
        unsigned char com = '\\', bs = 0x08;
        viqr_parse_options(argc, v.pointers.data(), com, bs);
        EXPECT_EQ(v.after_name(argc), r.remaining);
        EXPECT_EQ(v.pointers[static_cast<std::size_t>(argc)], nullptr);
        EXPECT_EQ(com, r.composition_char);
        EXPECT_EQ(bs, r.overstrike_char);
    }
    {
        argument_vector v(r.args);
        unsigned char com = '\\', bs = 0x08;
        const int argc = c_parse_options(v.count(), v.pointers.data(), &com, &bs);
        EXPECT_EQ(v.after_name(argc), r.remaining);
        EXPECT_EQ(v.pointers[static_cast<std::size_t>(argc)], nullptr);
        EXPECT_EQ(com, r.composition_char);
        EXPECT_EQ(bs, r.overstrike_char);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, CApiOptions, testing::ValuesIn(options_rows));

// ---------------------------------------------------------------------------
// UTF-8 conversions

struct utf8_row {
    int mode;
    unsigned char composition_char;
    std::string input, output;
    long long invalid_at;  // offset of the reported byte; -1 for none
};

void PrintTo(const utf8_row &r, std::ostream *os) {
    *os << "mode " << r.mode << " with " << r.composition_char << ", input " << testing::PrintToString(r.input);
}

using viqr_model::utf8_converted;

// Through the C++ overloads, in one chunk.
utf8_converted from_utf8_cpp(const utf8_row &r) {
    viqr_from_utf8_state state;
    viqr_from_utf8_start(state, r.composition_char, r.mode);
    return viqr_model::from_utf8_chunks(state, {r.input});
}

utf8_converted to_utf8_cpp(const utf8_row &r) {
    const int context = viqr_open(r.mode, r.composition_char, DEFAULT_OVERSTRIKE_CHAR);
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    viqr_to_utf8_state state;
    viqr_to_utf8_start(state, context);
    const utf8_converted c = viqr_model::to_utf8_chunks(state, {r.input});
    int count = 0;
    viqr_close(context, nullptr, count);
    return c;
}

void expect_report(const std::vector<viqr_utf8_report> &reports, long long invalid_at, const std::string &how) {
    if (invalid_at < 0) {
        EXPECT_TRUE(reports.empty()) << how;
        return;
    }
    ASSERT_EQ(reports.size(), 1u) << how;
    EXPECT_STREQ(reports[0].input, "in") << how;
    EXPECT_EQ(reports[0].offset, static_cast<unsigned long long>(invalid_at)) << how;
}

// Runs a row through the C++ overloads, then through C in one call and in
// chunks of a few sizes: the bytes and the report must be the row's.
template <class Cpp, class C>
void check_utf8_row(const utf8_row &r, Cpp convert_cpp, C convert_c, std::size_t room) {
    const utf8_converted cpp = convert_cpp(r);
    EXPECT_EQ(cpp.text, r.output) << "C++";
    EXPECT_TRUE(cpp.within_room) << "C++";
    expect_report(cpp.reports, r.invalid_at, "C++");

    std::vector<unsigned char> out(room);
    for (std::size_t chunk : {0u, 1u, 2u, 5u}) {
        const std::string how = chunk == 0 ? "C, one call" : "C, chunks of " + std::to_string(chunk);
        const c_utf8_result c = convert_c(bytes(r.input), r.input.size(), chunk, r.composition_char, r.mode, out.data());
        ASSERT_NE(c.length, static_cast<std::size_t>(-1)) << "no context was free";
        EXPECT_EQ(text(out.data(), c.length), r.output) << how;
        std::vector<viqr_utf8_report> reports;
        if (c.reports > 0) reports.push_back({c.first_input, c.first_offset});
        if (c.reports > 1) reports.push_back({});  // more than one, which is a failure
        expect_report(reports, r.invalid_at, how);
    }
}

constexpr int V = MODE_VIETNAMESE, E = MODE_ENGLISH, L = MODE_LITERAL;

// UTF-8 in, VIQR out, without the mode announcement.
const utf8_row from_utf8_rows[] = {
    {V, '\\', "Ti\u1EBFng Vi\u1EC7t", "Tie^'ng Vie^.t", -1},                         // NFC
    {V, '\\', "Tie\u0302\u0301ng Vie\u0323\u0302t", "Tie^'ng Vie^.t", -1},           // NFD
    {V, '\\', "\u00E2\u0301 \u01A1\u0323 \u0110", "a^' o+. DD", -1},                  // partly composed
    {E, '\\', "Ti\u1EBFng \u0111i", "Ti\\e^'ng \\ddi", -1},
    {V, '\\', "a' \u00E1' d\u0111 \\", "a\\' a'' d\\dd \\\\", -1},                    // escapes as for VISCII
    {E, '#', "\u00E2a \u00E2' #", "#a^#Ma #a^#M' ##", -1},
    {V, '\\', "\u201Cq\u201D \u20AC \U0001F600 e\u0308", "\u201Cq\u201D \u20AC \U0001F600 e\u0308", -1},
    {V, '\\', "a\u0308' \u201C'", "a\u0308' \u201C'", -1},                            // no escape after them
    {V, '\\', std::string("\x02\x14 a\x14'"), std::string("\x02\x14 a\x14'"), -1},    // VISCII's control letters
    {V, '\\', "ab\x80" "c\xFF", "ab\x80" "c\xFF", 2},                                   // invalid: the first reported
    {V, '\\', "a\xE1\xBA" "a'", "a\xE1\xBA" "a\\'", 1},                               // a sequence cut short
    {V, '\\', "e\xCC", "e\xCC", 1},                                                   // ... by the end
};

class CApiFromUtf8 : public testing::TestWithParam<utf8_row> {};

TEST_P(CApiFromUtf8, WritesWhatTheCppInterfaceWrites) {
    const utf8_row &r = GetParam();
    check_utf8_row(r, from_utf8_cpp, c_from_utf8,
                   VIQR_FROM_UTF8_OUTPUT_SIZE(r.input.size()) + VIQR_FROM_UTF8_OUTPUT_SIZE(0));
}

INSTANTIATE_TEST_SUITE_P(Rows, CApiFromUtf8, testing::ValuesIn(from_utf8_rows));

// VIQR in, UTF-8 out, through a context opened in the row's mode, hold on.
const utf8_row to_utf8_rows[] = {
    {V, '\\', "Vie^.t Nam", "Vi\u1EC7t Nam", -1},
    {V, '\\', "DDo^`ng dda^'t", "\u0110\u1ED3ng \u0111\u1EA5t", -1},
    {E, '\\', "a' \\e^. \\Vo+'", "a' \u1EC7 \u1EDB", -1},
    {L, '\\', "a' \\a' \\Va'", "a' \\a' \u00E1", -1},
    {V, '#', "a#' e^. \\", "a' \u1EC7 \\", -1},
    // A character beyond ASCII ends the letter being composed.
    {V, '\\', "a^\u201C' o+\u00E4?", "\u00E2\u201C' \u01A1\u00E4?", -1},
    {V, '#', "#\u201C' #", "\u201C' #", -1},   // after the composition character
    {V, '\\', "Ti\u1EBFng", "Ti\u1EBFng", -1},  // UTF-8 already
    {V, '\\', "a'\xFF" "a'", "\u00E1\xFF\u00E1", 2},
    {V, '\\', "o+\xE2\x80" "'", "\u01A1\xE2\x80'", 2},
};

class CApiToUtf8 : public CApi, public testing::WithParamInterface<utf8_row> {};

TEST_P(CApiToUtf8, WritesWhatTheCppInterfaceWrites) {
    const utf8_row &r = GetParam();
    check_utf8_row(r, to_utf8_cpp, c_to_utf8, VIQR_TO_UTF8_OUTPUT_SIZE(r.input.size()) + VIQR_TO_UTF8_OUTPUT_SIZE(0));
}

INSTANTIATE_TEST_SUITE_P(Rows, CApiToUtf8, testing::ValuesIn(to_utf8_rows));

struct looks_row {
    std::string text;
    int looks;
};

void PrintTo(const looks_row &r, std::ostream *os) { *os << testing::PrintToString(r.text); }

const looks_row looks_rows[] = {
    {"", 0},
    {"plain ASCII", 0},
    {"Vi\u1EC7t", 1},
    {"\U0001F600", 1},
    {"Vi\u1EC7t\xE1\xBB", 1},  // a character cut by the end of the chunk
    {"abc\xE1\xBB", 0},        // ... and no whole character of more than one byte
    {"Vi\xAEt", 0},            // VISCII
    {"\u00E2\xAE", 0},         // UTF-8 up to a byte that cannot begin a character
    {"\u00E2\xE1\xBB" "a", 0}, // a sequence cut short inside the text
    {"\xC0\xAF", 0},           // overlong
    {"\xED\xA0\x80", 0},       // a surrogate
    {"\xF4\x90\x80\x80", 0},   // beyond U+10FFFF
};

class CApiLooksLikeUtf8 : public testing::TestWithParam<looks_row> {};

TEST_P(CApiLooksLikeUtf8, TellsUtf8FromVisciiAndBrokenUtf8) {
    EXPECT_EQ(viqr_looks_like_utf8(bytes(GetParam().text), GetParam().text.size()), GetParam().looks);
}

INSTANTIATE_TEST_SUITE_P(Rows, CApiLooksLikeUtf8, testing::ValuesIn(looks_rows));

// The output sizes of the header hold for every call: random text of the
// kinds that write the most (escaped letters in English mode, marks that
// complete a letter held over from the chunk before, copied bytes, mode
// switches), cut at random, each call writing into exactly that room with
// guard bytes after it.
std::string random_text(std::mt19937 &random, const std::vector<std::string> &pieces, std::size_t length) {
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string s;
    while (s.size() < length) s += pieces[pick(random)];
    return s;
}

// Sizes of chunks of 0 to 9 bytes that add up to `length`.
std::vector<std::size_t> random_chunks(std::mt19937 &random, std::size_t length) {
    std::uniform_int_distribution<std::size_t> size(0, 9);
    std::vector<std::size_t> chunks;
    for (std::size_t at = 0; at < length;) {
        const std::size_t n = std::min(size(random), length - at);
        chunks.push_back(n);
        at += n;
    }
    return chunks;
}

// The rooms the C header promises, as its macros give them.
std::size_t from_utf8_macro_room(std::size_t n) { return VIQR_FROM_UTF8_OUTPUT_SIZE(n); }
std::size_t to_utf8_macro_room(std::size_t n) { return VIQR_TO_UTF8_OUTPUT_SIZE(n); }

TEST(CApiUtf8Room, FromUtf8StaysWithinItsOutputSize) {
    const std::vector<std::string> pieces = {
        "\u1EA5", "'", "\u00E2", "\u0111", "\u0110", "\\", "#", "a", "e", "d", "D", "?", ".", "(", "^", "+", "~",
        "\u0301", "\u0302", "\u0323", "\u031B", "\u0306", "\u1EC7", "\u01B0", "\u201C", "\xFF", "\xE1\xBA", "\xCC",
        " "};
    std::mt19937 random(5);
    for (int round = 0; round < 300; ++round) {
        const std::string in = random_text(random, pieces, 100);
        const int mode = round % 2 == 0 ? E : V;
        viqr_from_utf8_state state;
        viqr_from_utf8_start(&state, round % 3 == 0 ? '#' : '\\', mode);
        const utf8_converted c = viqr_model::convert_utf8_chunks(
            state, viqr_model::pieces_by_sizes(in, random_chunks(random, in.size())), from_utf8_macro_room,
            [](viqr_from_utf8_state &s, const unsigned char *text, std::size_t n, unsigned char *out) {
                return viqr_from_utf8(&s, text, n, out);
            },
            [](viqr_from_utf8_state &s, unsigned char *out) { return viqr_from_utf8_finish(&s, out); });
        ASSERT_TRUE(c.within_room) << "input " << testing::PrintToString(in);
    }
}

TEST_F(CApi, ToUtf8StaysWithinItsOutputSize) {
    const std::vector<std::string> pieces = {
        "a", "e", "o", "u", "y", "d", "dd", "DD", "A", "^", "(", "+", "'", "`", "?", "~", ".", "\\", "\\M", "\\V",
        "\\L", "#", "\\\\", "a^'", "o+.", "u+~", "\u201C", "\u1EC7", "\xFF", "\xE1\xBA", " "};
    std::mt19937 random(9);
    for (int round = 0; round < 300; ++round) {
        const std::string in = random_text(random, pieces, 100);
        const int context = viqr_open(round % 3, round % 4 == 0 ? '#' : '\\', DEFAULT_OVERSTRIKE_CHAR);
        viqr_set(context, round % 5 != 0, VIQR_PARAM_HOLD);
        viqr_to_utf8_state state;
        viqr_to_utf8_start(&state, context);
        const utf8_converted c = viqr_model::convert_utf8_chunks(
            state, viqr_model::pieces_by_sizes(in, random_chunks(random, in.size())), to_utf8_macro_room,
            [](viqr_to_utf8_state &s, const unsigned char *text, std::size_t n, unsigned char *out) {
                return viqr_to_utf8(&s, text, n, out);
            },
            [](viqr_to_utf8_state &s, unsigned char *out) { return viqr_to_utf8_finish(&s, out); });
        viqr_close(context, nullptr, nullptr);
        ASSERT_TRUE(c.within_room) << "input " << testing::PrintToString(in);
    }
}

// ---------------------------------------------------------------------------
// Null pointers where the C++ interface has references

TEST_F(CApi, FeedWithoutACountStillWritesAndWithoutAnAreaDropsTheBytes) {
    const int handle = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
    unsigned char area[2] = {0xEE, 0xEE};
    EXPECT_EQ(viqr_feed(handle, 'b', area, nullptr), MODE_VIETNAMESE);
    EXPECT_EQ(area[0], 'b');

    // With no area the context still moves on: the letter it writes is
    // dropped, and the mark after it overstrikes a letter the caller never saw.
    int count = 7;
    EXPECT_EQ(viqr_feed(handle, 'a', nullptr, &count), MODE_VIETNAMESE);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(viqr_feed(handle, '\'', area, &count), MODE_VIETNAMESE);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(area[0], 0x08);
    EXPECT_EQ(area[1], 0xE1);
}

TEST_F(CApi, FeedWithNeitherAreaNorCountHoldsALetterAsUsual) {
    const int handle = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
    viqr_set(handle, 1, VIQR_PARAM_HOLD);
    EXPECT_EQ(viqr_feed(handle, 'a', nullptr, nullptr), STATE_HOLDING);
    EXPECT_EQ(viqr_feed(handle, '^', nullptr, nullptr), STATE_HOLDING);
    unsigned char area[2];
    int count = -1;
    viqr_flush(handle, area, &count);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(area[0], 0xE2);
}

TEST_F(CApi, FlushAndCloseWithoutACountStillWriteTheHeldLetter) {
    const int first = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
    const int second = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
    for (int handle : {first, second}) {
        viqr_set(handle, 1, VIQR_PARAM_HOLD);
        viqr_feed(handle, 'o', nullptr, nullptr);
        viqr_feed(handle, '+', nullptr, nullptr);
    }
    unsigned char area[2] = {0, 0};
    viqr_flush(first, area, nullptr);
    EXPECT_EQ(area[0], 0xBD);
    area[0] = 0;
    viqr_close(second, area, nullptr);
    EXPECT_EQ(area[0], 0xBD);
    EXPECT_EQ(viqr_open(MODE_ENGLISH, '\\', 0x08), second);  // the close freed it
}

TEST_F(CApi, FlushWithoutAnAreaLeavesTheCountAlone) {
    const int handle = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
    viqr_set(handle, 1, VIQR_PARAM_HOLD);
    viqr_feed(handle, 'a', nullptr, nullptr);
    int count = 77;
    viqr_flush(handle, nullptr, &count);
    EXPECT_EQ(count, 77);
    int state = -1;
    viqr_query(handle, &state, VIQR_PARAM_STATE);
    EXPECT_EQ(state, MODE_VIETNAMESE);  // the held letter was settled and dropped
}

// A flushed context is clean: a second flush, and a close after the end of
// the text, write nothing more, and the next text loses none of its bytes,
// also when the first text ended with the composition character.
struct two_texts_row {
    int mode;
    const char *first, *first_out, *second, *second_out;
};

const two_texts_row two_texts_rows[] = {
    {MODE_VIETNAMESE, "C:\\", "C:\\", "Viet", "Viet"},
    {MODE_ENGLISH, "x\\", "x\\", "Mary", "Mary"},
    {MODE_VIETNAMESE, "a\\", "a\\", "Mo+'", "M\xE1\xBB\x9B"},
    {MODE_VIETNAMESE, "o+", "\xC6\xA1", "'", "'"},
    {MODE_LITERAL, "\\", "\\", "a'", "a'"},
    {MODE_ENGLISH, "\\a^", "\xC3\xA2", "\\", "\\"},
};

TEST_F(CApi, AFlushedContextIsCleanAndWritesNothingMore) {
    REQUIRE_ORACLE(have_iconv_viscii(), "iconv lacks VISCII");
    auto to_viscii = [](const char *utf8) { return iconv_convert("UTF-8", "VISCII", utf8).value_or("?"); };
    for (const two_texts_row &r : two_texts_rows) {
        for (int typed : {0, 1}) {
            for (int utf8 : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "mode " << r.mode << " " << r.first << " then " << r.second
                                                << (typed ? ", typed" : "") << (utf8 ? ", UTF-8" : ", VISCII"));
                c_two_texts t{};
                ASSERT_TRUE(c_two_texts_through_one_context(r.mode, typed, utf8, r.first, r.second, &t));
                const std::string first_out = utf8 ? r.first_out : to_viscii(r.first_out);
                const std::string second_out = utf8 ? r.second_out : to_viscii(r.second_out);
                EXPECT_EQ(text(t.first, t.first_length), first_out);
                EXPECT_EQ(t.again_length, 0u) << "the second flush wrote " << text(t.again, t.again_length);
                EXPECT_EQ(text(t.second, t.second_length), second_out);
                EXPECT_EQ(t.closed_length, 0u) << "the close wrote " << text(t.closed, t.closed_length);
            }
        }
    }
}

TEST_F(CApi, QueryWithoutADestinationDoesNothing) {
    const int handle = viqr_open(MODE_ENGLISH, '#', 0x08);
    for (int selector : {VIQR_PARAM_STATE, VIQR_PARAM_COMPOSE_CHAR, VIQR_PARAM_OVERSTRIKE_CHAR, VIQR_PARAM_HOLD})
        viqr_query(handle, nullptr, selector);
    unsigned char composition = 0;
    viqr_query(handle, &composition, VIQR_PARAM_COMPOSE_CHAR);
    EXPECT_EQ(composition, '#');
}

TEST_F(CApi, FeedChunkWithoutInputOrAreaLeavesTheContextAlone) {
    const int handle = viqr_open(MODE_VIETNAMESE, '\\', 0x08);
    viqr_set(handle, 1, VIQR_PARAM_HOLD);
    viqr_feed(handle, 'a', nullptr, nullptr);
    const unsigned char in[] = "^^";
    unsigned char out[8] = {};
    EXPECT_EQ(viqr_feed_chunk(handle, nullptr, 2, out), 0u);
    EXPECT_EQ(viqr_feed_chunk(handle, in, 2, nullptr), 0u);
    EXPECT_EQ(viqr_feed_chunk(handle, in + 2, 0, out), 0u);  // nothing to feed
    const unsigned char tone[] = "'";
    ASSERT_EQ(viqr_feed_chunk(handle, tone, 1, out), 1u);
    EXPECT_EQ(out[0], 0xE1);  // the held a took the tone: nothing came between
}

TEST(CApiEncoderPointers, AMissingHistoryStartsEveryCallAfresh) {
    const unsigned char a[] = {'a'}, acute[] = {'\''};
    unsigned char out[viqr_encoder_output_size(1)];
    viqr_encoder_history history;
    ASSERT_EQ(viqr_viscii_to_viqr(a, 1, out, '\\', MODE_VIETNAMESE, &history), 1u);
    ASSERT_EQ(viqr_viscii_to_viqr(acute, 1, out, '\\', MODE_VIETNAMESE, &history), 2u);
    EXPECT_EQ(text(out, 2), "\\'");

    ASSERT_EQ(viqr_viscii_to_viqr(a, 1, out, '\\', MODE_VIETNAMESE, nullptr), 1u);
    ASSERT_EQ(viqr_viscii_to_viqr(acute, 1, out, '\\', MODE_VIETNAMESE, nullptr), 1u);
    EXPECT_EQ(out[0], '\'');
}

TEST(CApiEncoderPointers, AMissingInputOrOutputWritesNothing) {
    const unsigned char in[] = {0xE1};
    unsigned char out[viqr_encoder_output_size(1)] = {0xEE};
    viqr_encoder_history history{'a'};
    EXPECT_EQ(viqr_viscii_to_viqr(nullptr, 1, out, '\\', MODE_ENGLISH, &history), 0u);
    EXPECT_EQ(viqr_viscii_to_viqr(in, 1, nullptr, '\\', MODE_ENGLISH, &history), 0u);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(history.previous, 'a');
}

TEST(CApiOptionsPointers, AMissingCountOrVectorChangesNothing) {
    argument_vector v({"-com", "#"});
    unsigned char com = '\\', bs = 0x08;
    viqr_parse_options(nullptr, v.pointers.data(), &com, &bs);
    EXPECT_STREQ(v.pointers[1], "-com");
    int argc = v.count();
    viqr_parse_options(&argc, nullptr, &com, &bs);
    EXPECT_EQ(argc, 3);
    EXPECT_EQ(com, '\\');
}

TEST(CApiOptionsPointers, AMissingCharacterDropsItsOptionAndValue) {
    argument_vector v({"-com", "#", "file", "-bs", "*"});
    int argc = v.count();
    unsigned char bs = 0x08;
    viqr_parse_options(&argc, v.pointers.data(), nullptr, &bs);
    EXPECT_EQ(v.after_name(argc), std::vector<std::string>{"file"});
    EXPECT_EQ(bs, '*');

    argument_vector w({"-bs", "*", "-com", "#"});
    argc = w.count();
    unsigned char com = '\\';
    viqr_parse_options(&argc, w.pointers.data(), &com, nullptr);
    EXPECT_EQ(argc, 1);
    EXPECT_EQ(com, '#');
}

// The UTF-8 conversions: a null state, input or output makes a call return
// 0 and change nothing, so a letter or a cut sequence held before it is
// completed by what comes after it.
TEST(CApiUtf8Pointers, FromUtf8WithoutStateInputOrOutputChangesNothing) {
    viqr_from_utf8_start(nullptr, '\\', MODE_VIETNAMESE);
    viqr_from_utf8_state state;
    viqr_from_utf8_start(&state, '\\', MODE_VIETNAMESE);
    const std::string held = "Vi\xE1\xBB";  // a letter held, and a sequence cut
    unsigned char out[VIQR_FROM_UTF8_OUTPUT_SIZE(8)];
    ASSERT_EQ(viqr_from_utf8(&state, bytes(held), held.size(), out), 1u);
    EXPECT_EQ(out[0], 'V');

    const unsigned char rest[] = {0x87, 't'};
    std::fill(std::begin(out), std::end(out), 0xEE);
    EXPECT_EQ(viqr_from_utf8(nullptr, rest, 2, out), 0u);
    EXPECT_EQ(viqr_from_utf8(&state, nullptr, 2, out), 0u);
    EXPECT_EQ(viqr_from_utf8(&state, rest, 2, nullptr), 0u);
    EXPECT_EQ(viqr_from_utf8_finish(nullptr, out), 0u);
    EXPECT_EQ(viqr_from_utf8_finish(&state, nullptr), 0u);
    EXPECT_EQ(out[0], 0xEE);

    std::size_t n = viqr_from_utf8(&state, rest, 2, out);
    n += viqr_from_utf8_finish(&state, out + n);
    EXPECT_EQ(text(out, n), "ie^.t");
}

TEST_F(CApi, ToUtf8WithoutStateInputOrOutputChangesNothing) {
    viqr_to_utf8_start(nullptr, 0);
    const int context = viqr_open(MODE_VIETNAMESE, '\\', DEFAULT_OVERSTRIKE_CHAR);
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    viqr_to_utf8_state state;
    viqr_to_utf8_start(&state, context);
    const unsigned char held[] = {'a', '^', 0xE2, 0x80};  // a letter held, then a sequence cut
    unsigned char out[VIQR_TO_UTF8_OUTPUT_SIZE(4)];
    ASSERT_EQ(viqr_to_utf8(&state, held, 2, out), 0u);

    std::fill(std::begin(out), std::end(out), 0xEE);
    EXPECT_EQ(viqr_to_utf8(nullptr, held + 2, 2, out), 0u);
    EXPECT_EQ(viqr_to_utf8(&state, nullptr, 2, out), 0u);
    EXPECT_EQ(viqr_to_utf8(&state, held + 2, 2, nullptr), 0u);
    EXPECT_EQ(viqr_to_utf8_finish(nullptr, out), 0u);
    EXPECT_EQ(viqr_to_utf8_finish(&state, nullptr), 0u);
    EXPECT_EQ(out[0], 0xEE);
    int context_state = -1;
    viqr_query(context, &context_state, VIQR_PARAM_STATE);
    EXPECT_EQ(context_state, STATE_HOLDING);

    const unsigned char tone[] = {'\''};
    std::size_t n = viqr_to_utf8(&state, tone, 1, out);
    n += viqr_to_utf8(&state, held + 2, 2, out + n);
    n += viqr_to_utf8_finish(&state, out + n);
    EXPECT_EQ(text(out, n), "\u1EA5\xE2\x80");
    viqr_utf8_report report{};
    ASSERT_EQ(viqr_utf8_take_report(&state.scan, &report), 1);  // the cut sequence, at the end
    EXPECT_EQ(report.offset, 3u);
}

// A mode the encoder does not write, or a context that is not open: the
// conversion would keep only the bytes it copies, so it does nothing, as
// viqr_viscii_to_viqr and the decoder functions do.
TEST_F(CApi, Utf8ConversionsWithoutAWritableModeOrAnOpenContextDoNothing) {
    const std::string in = "a\u201C\xFF";
    unsigned char out[VIQR_TO_UTF8_OUTPUT_SIZE(8)] = {0xEE};
    for (int mode : {MODE_LITERAL, 7}) {
        viqr_from_utf8_state state;
        viqr_from_utf8_start(&state, '\\', mode);
        EXPECT_EQ(viqr_from_utf8(&state, bytes(in), in.size(), out), 0u) << "mode " << mode;
        EXPECT_EQ(viqr_from_utf8_finish(&state, out), 0u);
        EXPECT_EQ(viqr_utf8_take_report(&state.scan, nullptr), 0) << "mode " << mode;
    }
    for (int handle : {-1, 1, VIQR_MAX_CONTEXTS}) {
        viqr_to_utf8_state state;
        viqr_to_utf8_start(&state, handle);
        EXPECT_EQ(viqr_to_utf8(&state, bytes(in), in.size(), out), 0u) << "handle " << handle;
        EXPECT_EQ(viqr_to_utf8_finish(&state, out), 0u);
    }
    const int context = viqr_open(MODE_VIETNAMESE, '\\', DEFAULT_OVERSTRIKE_CHAR);
    viqr_to_utf8_state state;
    viqr_to_utf8_start(&state, context);
    viqr_close(context, nullptr, nullptr);
    EXPECT_EQ(viqr_to_utf8(&state, bytes(in), in.size(), out), 0u) << "closed after the start";
    EXPECT_EQ(out[0], 0xEE);
}

// A null scan is no scan; a null report is not stored, but the report is
// taken all the same; a null name is the name in the report.
TEST(CApiUtf8Pointers, ReportsWithoutScanOrReport) {
    viqr_utf8_begin_input(nullptr, "x");
    viqr_utf8_report report{"untouched", 9};
    EXPECT_EQ(viqr_utf8_take_report(nullptr, &report), 0);
    EXPECT_STREQ(report.input, "untouched");

    viqr_from_utf8_state state;
    viqr_from_utf8_start(&state, '\\', MODE_VIETNAMESE);
    const unsigned char in[] = {0xFF, 'a', 0xFE};
    unsigned char out[VIQR_FROM_UTF8_OUTPUT_SIZE(3)];
    viqr_utf8_begin_input(&state.scan, "one");
    viqr_from_utf8(&state, in, 2, out);
    viqr_utf8_begin_input(&state.scan, nullptr);
    viqr_from_utf8(&state, in + 2, 1, out);
    EXPECT_EQ(viqr_utf8_take_report(&state.scan, nullptr), 1);  // "one", dropped
    ASSERT_EQ(viqr_utf8_take_report(&state.scan, &report), 1);
    EXPECT_EQ(report.input, nullptr);
    EXPECT_EQ(report.offset, 0u);
    EXPECT_EQ(viqr_utf8_take_report(&state.scan, &report), 0);
}

TEST(CApiUtf8Pointers, LooksLikeUtf8WithoutText) {
    EXPECT_EQ(viqr_looks_like_utf8(nullptr, 4), 0);
    EXPECT_EQ(viqr_looks_like_utf8(nullptr, 0), 0);
}

}  // namespace
