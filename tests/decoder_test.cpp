// The VIQR decoder engine: whole runs through one context with hold on and
// off, the flush of every state, and the life of the three contexts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "seeded_random.h"
#include "viqr.h"

namespace {

constexpr int VIETNAMESE = MODE_VIETNAMESE, ENGLISH = MODE_ENGLISH, LITERAL = MODE_LITERAL;

// Every test leaves all contexts closed for the next one.
class Decoder : public testing::Test {
protected:
    void TearDown() override {
        for (int handle = 0; handle < VIQR_MAX_CONTEXTS; ++handle) {
            int count = 0;
            viqr_close(handle, nullptr, count);
        }
    }

    // Feeds every byte, appending what each call yields; records the state
    // that the last call returned.
    std::string feed(int handle, const std::string &bytes) {
        std::string out;
        for (unsigned char b : bytes) {
            unsigned char area[2] = {0xEE, 0xEE};
            int count = -1;
            last_state = viqr_feed(handle, b, area, count);
            EXPECT_GE(count, 0);
            EXPECT_LE(count, 2);
            out.append(reinterpret_cast<const char *>(area), static_cast<std::size_t>(count));
        }
        return out;
    }

    std::string flush(int handle) {
        unsigned char area[2];
        int count = -1;
        viqr_flush(handle, area, count);
        EXPECT_GE(count, 0);
        return std::string(reinterpret_cast<const char *>(area), static_cast<std::size_t>(count));
    }

    static int state_of(int handle) {
        int state = -1;
        viqr_query(handle, &state, VIQR_PARAM_STATE);
        return state;
    }

    static int open_with_hold(int mode, bool hold, unsigned char composition = '\\') {
        const int handle = viqr_open(mode, composition, 0x08);
        viqr_set(handle, hold ? 1 : 0, VIQR_PARAM_HOLD);
        return handle;
    }

    int last_state = -1;
};

struct run_case {
    int mode;
    bool hold;
    std::string input, output;
    int end_state;  // after the flush
};

void PrintTo(const run_case &c, std::ostream *os) {
    *os << "mode " << c.mode << (c.hold ? " hold on " : " hold off ") << testing::PrintToString(c.input);
}

const run_case run_cases[] = {
    {VIETNAMESE, true, "Vie^.t Nam", "Vi\xAEt Nam", VIETNAMESE},
    {VIETNAMESE, false, "Vie^.t Nam", "Vie\x08\xEA\x08\xAEt Nam", VIETNAMESE},
    {VIETNAMESE, true, "a^'", "\xA4", VIETNAMESE},
    {VIETNAMESE, false, "a^'", "a\x08\xE2\x08\xA4", VIETNAMESE},
    {VIETNAMESE, true, "dd", "\xF0", VIETNAMESE},
    {VIETNAMESE, false, "DD", "D\x08\xD0", VIETNAMESE},
    {VIETNAMESE, true, "ddd", "\xF0" "d", VIETNAMESE},
    {VIETNAMESE, true, "ae'", "a\xE9", VIETNAMESE},
    {VIETNAMESE, true, "u+o+'", "\xDF\xBE", VIETNAMESE},
    {VIETNAMESE, true, "a\\'", "a'", VIETNAMESE},
    {VIETNAMESE, true, "\\\\", "\\", VIETNAMESE},
    {VIETNAMESE, true, "\\x", "x", VIETNAMESE},
    {VIETNAMESE, true, "i^", "i^", VIETNAMESE},
    {VIETNAMESE, false, "i^", "i^", VIETNAMESE},  // no overstrike for a mark that cannot join
    {VIETNAMESE, true, "a\\Mb", "ab", ENGLISH},
    {VIETNAMESE, true, "\\La'", "a'", LITERAL},
    {VIETNAMESE, true, "a", "a", VIETNAMESE},
    {VIETNAMESE, true, "a\\", "a\\", VIETNAMESE},
    {VIETNAMESE, true, "a\\a'", "a\xE1", VIETNAMESE},  // an escaped letter starts afresh and takes marks
    {VIETNAMESE, false, "\\ae'", "ae\x08\xE9", VIETNAMESE},
    {VIETNAMESE, true, "a\\v'", "a'", VIETNAMESE},  // a mode letter in either case
    // A mode switch ends the letter before it, with hold on or off alike.
    {VIETNAMESE, true, "a\\Lxyz\\V'", "axyz'", VIETNAMESE},
    {VIETNAMESE, false, "a\\Lxyz\\V'", "axyz'", VIETNAMESE},
    {VIETNAMESE, true, "a\\V'", "a'", VIETNAMESE},
    {VIETNAMESE, false, "a\\V'", "a'", VIETNAMESE},
    {VIETNAMESE, false, "a^\\M\\V'", "a\x08\xE2'", VIETNAMESE},
    {VIETNAMESE, false, "D\\vd", "Dd", VIETNAMESE},
    {VIETNAMESE, true, std::string("a\0'", 3), std::string("a\0'", 3), VIETNAMESE},
    {VIETNAMESE, true, "Ba\xC2'", "Ba\x84", VIETNAMESE},  // a VISCII shaped vowel takes a tone
    {ENGLISH, true, "a'", "a'", ENGLISH},
    {ENGLISH, true, "\\a'", "\xE1", ENGLISH},
    {ENGLISH, false, "\\a'", "\xE1", ENGLISH},
    {ENGLISH, true, "\\ye^~n", "y\xADn", ENGLISH},
    {ENGLISH, false, "\\ye^~n", "y\xADn", ENGLISH},
    {ENGLISH, true, "\\a'e'", "\xE1" "e'", ENGLISH},
    {ENGLISH, true, "\\ae'", "a\xE9", ENGLISH},
    {ENGLISH, false, "\\ae'", "a\xE9", ENGLISH},
    {ENGLISH, true, "\\n", "n", ENGLISH},
    {ENGLISH, true, "\\Va'", "\xE1", VIETNAMESE},
    {ENGLISH, true, "\\a^\\Ma", "\xE2" "a", ENGLISH},  // a mode switch ends a run of composing
    {ENGLISH, true, "\\\\", "\\", ENGLISH},
    {ENGLISH, true, "\\a\\\\", "a\\", ENGLISH},
    {LITERAL, true, "\\a'", "\\a'", LITERAL},
    {LITERAL, true, "\\\\", "\\\\", LITERAL},
    {LITERAL, true, "\\Va'", "\xE1", VIETNAMESE},
    {LITERAL, true, "\\ma'", "a'", ENGLISH},
    {LITERAL, true, "\\", "\\", LITERAL},  // once, and Literal again
    {LITERAL, true, "a\\", "a\\", LITERAL},
};

class DecoderRuns : public Decoder, public testing::WithParamInterface<run_case> {};

TEST_P(DecoderRuns, WriteTheseBytes) {
    const run_case &c = GetParam();
    const int handle = open_with_hold(c.mode, c.hold);
    ASSERT_EQ(handle, 0);
    std::string out = feed(handle, c.input);
    out += flush(handle);
    EXPECT_EQ(out, c.output);
    EXPECT_EQ(state_of(handle), c.end_state);
}

TEST_P(DecoderRuns, WriteTheSameBytesFedAsOneChunk) {
    const run_case &c = GetParam();
    const int handle = open_with_hold(c.mode, c.hold);
    std::string out(2 * c.input.size(), '\0');
    out.resize(viqr_feed_chunk(handle, reinterpret_cast<const unsigned char *>(c.input.data()), c.input.size(),
                               reinterpret_cast<unsigned char *>(out.data())));
    out += flush(handle);
    EXPECT_EQ(out, c.output);
    EXPECT_EQ(state_of(handle), c.end_state);
}

INSTANTIATE_TEST_SUITE_P(WorkedExamples, DecoderRuns, testing::ValuesIn(run_cases));

// The flush of each state: what it writes and where it leaves the context.
struct flush_case {
    int mode;
    std::string input;
    int state_before;
    std::string written;
    int state_after;
};

void PrintTo(const flush_case &c, std::ostream *os) {
    *os << "mode " << c.mode << " " << testing::PrintToString(c.input);
}

const flush_case flush_cases[] = {
    {VIETNAMESE, "", VIETNAMESE, "", VIETNAMESE},
    {ENGLISH, "", ENGLISH, "", ENGLISH},
    {LITERAL, "", LITERAL, "", LITERAL},
    {VIETNAMESE, "ab", VIETNAMESE, "", VIETNAMESE},
    {VIETNAMESE, "\\", STATE_ESCAPE, "\\", VIETNAMESE},
    {ENGLISH, "\\", STATE_ESCAPE, "\\", ENGLISH},
    {LITERAL, "\\", STATE_LITERAL_ESCAPE, "\\", LITERAL},
    {VIETNAMESE, "a", STATE_HOLDING, "a", VIETNAMESE},
    {VIETNAMESE, "o+", STATE_HOLDING, "\xBD", VIETNAMESE},
    {ENGLISH, "\\a", STATE_HOLDING, "a", ENGLISH},
    {ENGLISH, "\\u+", STATE_HOLDING, "\xDF", ENGLISH},
};

class DecoderFlush : public Decoder, public testing::WithParamInterface<flush_case> {};

TEST_P(DecoderFlush, WritesWhatIsHeldAndSettlesTheState) {
    const flush_case &c = GetParam();
    const int handle = open_with_hold(c.mode, true);
    feed(handle, c.input);
    EXPECT_EQ(last_state, c.input.empty() ? -1 : c.state_before);
    EXPECT_EQ(state_of(handle), c.state_before);
    EXPECT_EQ(flush(handle), c.written);
    EXPECT_EQ(state_of(handle), c.state_after);
    // Whatever was held is gone: the next letter stands alone.
    if (c.state_after == VIETNAMESE) {
        EXPECT_EQ(feed(handle, "'") + flush(handle), "'");
    }
}

TEST_P(DecoderFlush, WithNoAreaDropsWhatIsHeld) {
    const flush_case &c = GetParam();
    const int handle = open_with_hold(c.mode, true);
    feed(handle, c.input);
    int count = 77;
    viqr_flush(handle, nullptr, count);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(state_of(handle), c.state_after);
}

INSTANTIATE_TEST_SUITE_P(EveryState, DecoderFlush, testing::ValuesIn(flush_cases));

// Feeding another context between every two bytes changes nothing: each
// context holds its own letter, escape and mode.
TEST_F(Decoder, ContextsKeepWhatTheyHoldToThemselves) {
    const std::string input = "Tie^'ng \\MVie^.t: \\ddu+o+`ng, \\Vtie^'ng Vie^.t \\L\\a' \\Vdda^'t";
    const int whole = open_with_hold(VIETNAMESE, true);
    const int split = open_with_hold(VIETNAMESE, true);
    const std::string expected = feed(whole, input) + flush(whole);
    std::string interleaved;
    for (std::size_t i = 0; i < input.size(); ++i) {
        interleaved += feed(split, input.substr(i, 1));
        feed(whole, "xa^");  // the other context's letters do not leak in
    }
    interleaved += flush(split);
    EXPECT_EQ(interleaved, expected);
    EXPECT_EQ(expected, "Ti\xAAng Vie^.t: \xF0u+o+`ng, ti\xAAng Vi\xAEt \\a' \xF0\xA4t");
}

TEST_F(Decoder, ThreeContextsOpenAndAFourthIsRefused) {
    EXPECT_EQ(viqr_open(VIETNAMESE, '\\', 8), 0);
    EXPECT_EQ(viqr_open(ENGLISH, '#', 8), 1);
    EXPECT_EQ(viqr_open(LITERAL, '\\', 8), 2);
    EXPECT_EQ(viqr_open(VIETNAMESE, '\\', 8), -1);
    EXPECT_EQ(state_of(1), ENGLISH);  // the refusal changed nothing

    unsigned char area[2];
    int count = -1;
    viqr_close(1, area, count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(viqr_open(VIETNAMESE, '\\', 8), 1);
    EXPECT_EQ(state_of(1), VIETNAMESE);
    unsigned char composition = 0;
    viqr_query(1, &composition, VIQR_PARAM_COMPOSE_CHAR);
    EXPECT_EQ(composition, '\\');
}

// A context handed out again is a new one, whatever its last user left in
// it: hold off, nothing held, no escape pending, the mode and characters it
// is opened with.
TEST_F(Decoder, AReopenedContextKeepsNothingOfItsLastUser) {
    const std::string last_uses[] = {"", "a^", "\\", "#a", "\\M#", "#L#"};
    for (const std::string &last_use : last_uses) {
        SCOPED_TRACE(testing::PrintToString(last_use));
        const int before = open_with_hold(ENGLISH, true, '#');
        viqr_set(before, '*', VIQR_PARAM_OVERSTRIKE_CHAR);
        feed(before, last_use);
        int count = 0;
        viqr_close(before, nullptr, count);

        const int again = viqr_open(VIETNAMESE, '\\', 0x08);
        ASSERT_EQ(again, before);
        unsigned char hold = 0xEE;
        viqr_query(again, &hold, VIQR_PARAM_HOLD);
        EXPECT_EQ(hold, 0);
        EXPECT_EQ(state_of(again), VIETNAMESE);
        // Hold off: the letter is written at once and overstruck by its mark.
        EXPECT_EQ(feed(again, "a'#a") + flush(again), "a\x08\xE1#a");
        viqr_close(again, nullptr, count);
    }
}

TEST_F(Decoder, CloseFlushesWhatIsHeld) {
    const int handle = open_with_hold(VIETNAMESE, true);
    feed(handle, "a^");
    unsigned char area[2];
    int count = -1;
    viqr_close(handle, area, count);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(area[0], 0xE2);
    EXPECT_EQ(state_of(handle), -1);  // closed: the query writes nothing
}

TEST_F(Decoder, QueryReportsEachParameter) {
    const int handle = viqr_open(ENGLISH, '#', 0x7F);
    viqr_set(handle, 1, VIQR_PARAM_HOLD);
    int state = -1;
    unsigned char byte = 0;
    viqr_query(handle, &state, VIQR_PARAM_STATE);
    EXPECT_EQ(state, ENGLISH);
    viqr_query(handle, &byte, VIQR_PARAM_COMPOSE_CHAR);
    EXPECT_EQ(byte, '#');
    viqr_query(handle, &byte, VIQR_PARAM_OVERSTRIKE_CHAR);
    EXPECT_EQ(byte, 0x7F);
    viqr_query(handle, &byte, VIQR_PARAM_HOLD);
    EXPECT_EQ(byte, 1);
    // The lowest bit decides; a selector without any known bit does nothing
    // (16 selects the typed reader).
    viqr_query(handle, &byte, VIQR_PARAM_COMPOSE_CHAR | VIQR_PARAM_HOLD);
    EXPECT_EQ(byte, '#');
    unsigned char untouched[4] = {1, 2, 3, 4};
    viqr_query(handle, untouched, 0);
    viqr_query(handle, untouched, 32);
    EXPECT_EQ(untouched[0], 1);
    EXPECT_EQ(untouched[3], 4);
    // The query of the state writes a whole 32-bit integer.
    unsigned char wide[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    viqr_query(handle, wide, VIQR_PARAM_STATE | VIQR_PARAM_HOLD);
    int copied;
    std::memcpy(&copied, wide, sizeof copied);
    EXPECT_EQ(copied, ENGLISH);
}

TEST_F(Decoder, SetChangesEachParameter) {
    const int handle = open_with_hold(VIETNAMESE, false);
    viqr_set(handle, '#', VIQR_PARAM_COMPOSE_CHAR);
    EXPECT_EQ(feed(handle, "#\\#'"), "\\'");
    viqr_set(handle, 0x100 | '*', VIQR_PARAM_OVERSTRIKE_CHAR);  // the low byte
    EXPECT_EQ(feed(handle, "a'"), "a*\xE1");
    viqr_set(handle, 0x100, VIQR_PARAM_HOLD);  // low byte 0: still off
    EXPECT_EQ(feed(handle, "e'"), "e*\xE9");
    viqr_set(handle, 2, VIQR_PARAM_HOLD);
    EXPECT_EQ(feed(handle, "e'"), "\xE9");
    // Several bits: the lowest decides.
    viqr_set(handle, ENGLISH, VIQR_PARAM_STATE | VIQR_PARAM_COMPOSE_CHAR);
    EXPECT_EQ(state_of(handle), ENGLISH);
    EXPECT_EQ(feed(handle, "#a^"), "");
    EXPECT_EQ(flush(handle), "\xE2");
}

TEST_F(Decoder, SettingTheStateDiscardsWhatIsHeldOrPending) {
    const int handle = open_with_hold(VIETNAMESE, true);
    feed(handle, "a^");
    viqr_set(handle, VIETNAMESE, VIQR_PARAM_STATE);
    EXPECT_EQ(state_of(handle), VIETNAMESE);
    EXPECT_EQ(feed(handle, "'") + flush(handle), "'");

    feed(handle, "\\");
    viqr_set(handle, LITERAL, VIQR_PARAM_STATE);
    EXPECT_EQ(feed(handle, "a'") + flush(handle), "a'");
}

// Setting the state drops the letter under way, whatever the hold and
// whichever mode is set: nothing fed afterwards joins it.
struct set_state_case {
    bool hold;
    std::string before;
    int state;
    std::string after, output;  // output of `after` and the flush
};

const set_state_case set_state_cases[] = {
    {true, "a", LITERAL, "\\V'", "'"},
    {false, "a", LITERAL, "\\V'", "'"},
    {true, "a", ENGLISH, "\\V'", "'"},
    {false, "a", VIETNAMESE, "'", "'"},
    {false, "a^", VIETNAMESE, "'", "'"},
    {true, "d", VIETNAMESE, "d", "d"},
};

TEST_F(Decoder, SettingTheStateEndsTheLetterUnderWay) {
    for (const set_state_case &c : set_state_cases) {
        SCOPED_TRACE(testing::Message() << "hold " << c.hold << ", " << testing::PrintToString(c.before)
                                        << ", state " << c.state);
        const int handle = open_with_hold(VIETNAMESE, c.hold);
        feed(handle, c.before);
        viqr_set(handle, c.state, VIQR_PARAM_STATE);
        std::string output = feed(handle, c.after);
        output += flush(handle);
        EXPECT_EQ(output, c.output);
        int count = 0;
        viqr_close(handle, nullptr, count);
    }
}

// Setting the state leaves the context in that mode with nothing held or
// pending, whatever the composition character is: a mode letter, a letter or
// a mark included.
TEST_F(Decoder, SettingTheStateEndsInThatMode) {
    for (int mode : {VIETNAMESE, ENGLISH, LITERAL}) {
        for (unsigned char composition : {'V', 'v', 'M', 'm', 'L', 'l', 'a', 'd', '\'', '^', '\xE1', '#'}) {
            const int handle = open_with_hold(ENGLISH, true, composition);
            feed(handle, std::string(1, char(composition)) + "a");
            viqr_set(handle, mode, VIQR_PARAM_STATE);
            EXPECT_EQ(state_of(handle), mode) << "mode " << mode << ", composition " << composition;
            TearDown();
        }
    }
}

TEST_F(Decoder, HandlesThatAreNotOpenContextsDoNothing) {
    const int open = open_with_hold(VIETNAMESE, true);
    feed(open, "a");
    for (int handle : {-1, 1, 2, 3, 1000}) {
        SCOPED_TRACE(handle);
        unsigned char area[2] = {0xEE, 0xEE};
        int count = 5;
        EXPECT_EQ(viqr_feed(handle, 'x', area, count), -1);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(area[0], 0xEE);
        count = 5;
        viqr_flush(handle, area, count);
        viqr_close(handle, area, count);
        EXPECT_EQ(count, 5);
        EXPECT_EQ(area[0], 0xEE);
        int state = 99;
        viqr_query(handle, &state, VIQR_PARAM_STATE);
        EXPECT_EQ(state, 99);
        viqr_set(handle, ENGLISH, VIQR_PARAM_STATE);
    }
    // The open context went untouched by all of that.
    EXPECT_EQ(state_of(open), STATE_HOLDING);
    EXPECT_EQ(feed(open, "'"), "\xE1");
}

TEST_F(Decoder, AClosedHandleIsNoLongerOpen) {
    const int handle = viqr_open(ENGLISH, '\\', 8);
    int count = 0;
    viqr_close(handle, nullptr, count);
    unsigned char area[2];
    EXPECT_EQ(viqr_feed(handle, 'x', area, count), -1);
    EXPECT_EQ(count, 0);
}

TEST_F(Decoder, OpeningWithAStateThatIsNoModeTakesNoContext) {
    for (int mode : {-1, STATE_ESCAPE, STATE_LITERAL_ESCAPE, STATE_HOLDING, 6, 1 << 20})
        EXPECT_EQ(viqr_open(mode, '\\', 8), -1) << mode;
    EXPECT_EQ(viqr_open(VIETNAMESE, '\\', 8), 0);
    EXPECT_EQ(viqr_open(VIETNAMESE, '\\', 8), 1);
    EXPECT_EQ(viqr_open(VIETNAMESE, '\\', 8), 2);
}

TEST_F(Decoder, SettingAStateThatIsNoModeChangesNothing) {
    const int handle = open_with_hold(VIETNAMESE, true);
    feed(handle, "a");
    for (int value : {-1, STATE_ESCAPE, STATE_LITERAL_ESCAPE, STATE_HOLDING, 6}) {
        viqr_set(handle, value, VIQR_PARAM_STATE);
        EXPECT_EQ(state_of(handle), STATE_HOLDING) << value;
    }
    EXPECT_EQ(feed(handle, "'"), "\xE1");  // the held letter survived
}

// viqr_feed_chunk takes its own short cut through Vietnamese text with hold
// on; whatever the bytes, the settings and the cuts between chunks, it must
// write what viqr_feed writes byte by byte and leave the context in the same
// state.  The bytes are drawn mostly from letters, marks, mode letters and the
// composition characters, where the two could part ways.
TEST_F(Decoder, FeedingAChunkWritesWhatFeedingEachByteWrites) {
    const std::string alphabet = "aAeEiIoOuUyYdDbn ('^+`?~.\\#vVmMlL\xE2\xC2\xE1\xD0\x08\0";
    std::mt19937 random = seeded_random(12345);
    auto next = [&random](unsigned bound) { return below(random, bound); };
    for (int round = 0; round < 50000; ++round) {
        std::string input;
        const unsigned length = next(40);
        for (unsigned i = 0; i < length; ++i)
            input += next(8) == 0 ? static_cast<char>(next(256)) : alphabet[next(static_cast<unsigned>(alphabet.size()))];
        const int mode = static_cast<int>(next(3));
        const bool hold = next(4) != 0;
        const unsigned char composition = "\\#a'V^(d"[next(8)];

        const int by_byte = open_with_hold(mode, hold, composition);
        const int by_chunk = open_with_hold(mode, hold, composition);
        std::string expected = feed(by_byte, input);
        const int expected_state = state_of(by_byte);
        expected += flush(by_byte);

        std::string got;
        for (std::size_t start = 0; start < input.size();) {
            const std::size_t n = std::min<std::size_t>(input.size() - start, 1 + next(12));
            std::string area(2 * n, '\0');
            area.resize(viqr_feed_chunk(by_chunk, reinterpret_cast<const unsigned char *>(input.data()) + start, n,
                                        reinterpret_cast<unsigned char *>(area.data())));
            got += area;
            start += n;
        }
        EXPECT_EQ(state_of(by_chunk), expected_state) << testing::PrintToString(input);
        got += flush(by_chunk);
        ASSERT_EQ(got, expected) << "mode " << mode << ", hold " << hold << ", composition " << composition
                                 << ", input " << testing::PrintToString(input);
        TearDown();
    }
}

TEST_F(Decoder, FeedingAChunkToAHandleThatIsNotOpenWritesNothing) {
    const unsigned char in[] = "a'";
    unsigned char out[4] = {};
    EXPECT_EQ(viqr_feed_chunk(0, in, 2, out), 0u);
    EXPECT_EQ(viqr_feed_chunk(-1, in, 2, out), 0u);
    EXPECT_EQ(viqr_feed_chunk(VIQR_MAX_CONTEXTS, in, 2, out), 0u);
}

}  // namespace
