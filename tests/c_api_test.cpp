// The C interface of viqr.h: rows of the decoder, encoder and option tables
// run through the C++ interface and through C code (c_api_calls.c) must give
// the same bytes; then what the C interface adds, null pointers where the C++
// interface has references.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "c_api_calls.h"
#include "viqr.h"

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
    {MODE_VIETNAMESE, true, "a\\", "a\\", STATE_ESCAPE},
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

}  // namespace
