// The output room viqr(3) promises, read from the manual's OUTPUT SIZES
// table: it must be exactly what the macros of viqr.h give, and a caller who
// allocates exactly that much must never see a byte written past it (the
// sanitizer build turns such a write into a failure).
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "viqr.h"

namespace {

// The room for one function, as the manual gives it, with the typed reader
// off and on.
struct manual_room {
    std::string off, on;
};

// The rows of the table between its heading line and the end of the block.
std::map<std::string, manual_room> read_manual_table() {
    std::ifstream manual(VIQR_MANUAL);
    std::map<std::string, manual_room> rows;
    std::string line;
    bool in_section = false, in_table = false;
    while (std::getline(manual, line)) {
        if (line.rfind(".SH", 0) == 0) in_section = line == ".SH OUTPUT SIZES";
        if (!in_section) continue;
        if (line.rfind("function ", 0) == 0) {
            in_table = true;
            continue;
        }
        if (!in_table) continue;
        if (line.rfind(".", 0) == 0) break;
        std::istringstream words(line);
        std::string name;
        manual_room room;
        words >> name >> room.off >> room.on;
        rows[name] = room;
    }
    return rows;
}

// Evaluates the manual's arithmetic: numbers, "length", + and * and
// parentheses, with * binding tighter.
class expression {
public:
    expression(const std::string &text, std::size_t length) : text_(text), length_(length) {}
    std::size_t value() {
        const std::size_t v = sum();
        if (at_ != text_.size()) throw std::invalid_argument("unexpected \"" + text_.substr(at_) + "\" in " + text_);
        return v;
    }

private:
    std::size_t sum() {
        std::size_t v = product();
        while (take('+')) v += product();
        return v;
    }
    std::size_t product() {
        std::size_t v = factor();
        while (take('*')) v *= factor();
        return v;
    }
    std::size_t factor() {
        if (take('(')) {
            const std::size_t v = sum();
            if (!take(')')) throw std::invalid_argument("unbalanced parentheses in " + text_);
            return v;
        }
        if (text_.compare(at_, 6, "length") == 0) {
            at_ += 6;
            return length_;
        }
        if (at_ == text_.size() || !std::isdigit(static_cast<unsigned char>(text_[at_])))
            throw std::invalid_argument("no number at \"" + text_.substr(at_) + "\" in " + text_);
        std::size_t v = 0;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])))
            v = 10 * v + static_cast<std::size_t>(text_[at_++] - '0');
        return v;
    }
    bool take(char c) {
        if (at_ == text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }

    const std::string &text_;
    std::size_t length_;
    std::size_t at_ = 0;
};

std::size_t evaluate(const std::string &text, std::size_t length) { return expression(text, length).value(); }

// What the header gives each function for `length` bytes of input, typed
// reader off and on.
using header_room = std::function<std::size_t(std::size_t length, bool typed)>;

const std::map<std::string, header_room> header_rooms = {
    {"viqr_feed", [](std::size_t, bool) { return std::size_t{2}; }},
    {"viqr_feed_chunk",
     [](std::size_t n, bool typed) { return typed ? VIQR_TYPED_OUTPUT_SIZE(n) : VIQR_DECODER_OUTPUT_SIZE(n); }},
    {"viqr_flush", [](std::size_t, bool typed) { return typed ? VIQR_TYPED_OUTPUT_SIZE(0) : std::size_t{2}; }},
    {"viqr_close", [](std::size_t, bool typed) { return typed ? VIQR_TYPED_OUTPUT_SIZE(0) : std::size_t{2}; }},
    {"viqr_viscii_to_viqr", [](std::size_t n, bool) { return VIQR_ENCODER_OUTPUT_SIZE(n); }},
    {"viqr_from_utf8", [](std::size_t n, bool) { return VIQR_FROM_UTF8_OUTPUT_SIZE(n); }},
    {"viqr_from_utf8_finish", [](std::size_t, bool) { return VIQR_FROM_UTF8_OUTPUT_SIZE(0); }},
    {"viqr_to_utf8", [](std::size_t n, bool) { return VIQR_TO_UTF8_OUTPUT_SIZE(n); }},
    {"viqr_to_utf8_finish", [](std::size_t, bool) { return VIQR_TO_UTF8_OUTPUT_SIZE(0); }},
};

TEST(OutputSizes, TheManualStatesExactlyTheHeadersSizes) {
    const std::map<std::string, manual_room> manual = read_manual_table();
    ASSERT_EQ(manual.size(), header_rooms.size()) << "the manual's table should have one row per function";
    for (const auto &[name, room] : header_rooms) {
        SCOPED_TRACE(name);
        ASSERT_EQ(manual.count(name), 1u) << "no row in the manual";
        for (std::size_t length : {0u, 1u, 2u, 24u, 1000u, 128u * 1024u}) {
            EXPECT_EQ(evaluate(manual.at(name).off, length), room(length, false)) << "typed off, length " << length;
            EXPECT_EQ(evaluate(manual.at(name).on, length), room(length, true)) << "typed on, length " << length;
        }
    }
}

// ---------------------------------------------------------------------------
// Conversions into exactly the room the manual gives.

const std::map<std::string, manual_room> manual = read_manual_table();

// A heap area of exactly the manual's room, so that the sanitizers see a byte
// written past it.
std::unique_ptr<unsigned char[]> room_for(const std::string &function, bool typed, std::size_t length,
                                          std::size_t &size) {
    const manual_room &room = manual.at(function);
    size = evaluate(typed ? room.on : room.off, length);
    return std::unique_ptr<unsigned char[]>(new unsigned char[size]);
}

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }

std::string repeated(const std::string &s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += s;
    return out;
}

std::string every_byte() {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    return all;
}

// Texts that make the decoder write much: a word the typed reader changes,
// marks that each change a letter, escapes, Literal text, a word longer than
// the typed reader keeps back, and every byte.
const std::vector<std::string> viqr_texts = {
    "Nguye^~nNguye^~nNguye^~n",
    repeated("a^'", 40),
    repeated("\\a", 40) + "\\L" + repeated("\\x", 40),
    repeated("Nguye^~n", 30),
    repeated("o+", 200),
    every_byte() + every_byte(),
};

class ExactRoom : public testing::TestWithParam<bool> {
protected:
    void TearDown() override {
        for (int handle = 0; handle < VIQR_MAX_CONTEXTS; ++handle) viqr_close(handle, nullptr, nullptr);
    }
};

TEST_P(ExactRoom, DecoderWritesWithinIt) {
    const bool typed = GetParam();
    for (int mode : {VIQR_MODE_VIETNAMESE, VIQR_MODE_ENGLISH, VIQR_MODE_LITERAL}) {
        for (int hold : {0, 1}) {
            for (const std::string &text : viqr_texts) {
                SCOPED_TRACE(testing::Message() << "mode " << mode << ", hold " << hold << ", "
                                                << testing::PrintToString(text.substr(0, 24)));
                const int handle = viqr_open(mode, '\\', 0x08);
                viqr_set(handle, hold, VIQR_PARAM_HOLD);
                viqr_set(handle, typed, VIQR_PARAM_TYPED);
                std::size_t size = 0;
                auto out = room_for("viqr_feed_chunk", typed, text.size(), size);
                EXPECT_LE(viqr_feed_chunk(handle, bytes(text), text.size(), out.get()), size);
                int count = 0;
                auto flushed = room_for("viqr_flush", typed, 0, size);
                viqr_flush(handle, flushed.get(), &count);
                EXPECT_LE(static_cast<std::size_t>(count), size);
                // The same text ended by a close instead of a flush.
                viqr_feed_chunk(handle, bytes(text), text.size(), out.get());
                auto closed = room_for("viqr_close", typed, 0, size);
                viqr_close(handle, closed.get(), &count);
                EXPECT_LE(static_cast<std::size_t>(count), size);
            }
        }
    }
}

TEST_P(ExactRoom, SingleBytesWriteWithinIt) {
    const bool typed = GetParam();
    const int handle = viqr_open(VIQR_MODE_VIETNAMESE, '\\', 0x08);
    viqr_set(handle, typed, VIQR_PARAM_TYPED);
    std::size_t size = 0;
    auto out = room_for("viqr_feed", typed, 1, size);
    for (const std::string &text : viqr_texts) {
        for (unsigned char b : text) {
            int count = 0;
            viqr_feed(handle, b, out.get(), &count);
            EXPECT_LE(static_cast<std::size_t>(count), size);
        }
    }
}

TEST_P(ExactRoom, ToUtf8WritesWithinIt) {
    const bool typed = GetParam();
    for (const std::string &text : viqr_texts) {
        SCOPED_TRACE(testing::PrintToString(text.substr(0, 24)));
        const int context = viqr_open(VIQR_MODE_VIETNAMESE, '\\', 0x08);
        viqr_set(context, 1, VIQR_PARAM_HOLD);
        viqr_set(context, typed, VIQR_PARAM_TYPED);
        viqr_to_utf8_state state;
        viqr_to_utf8_start(&state, context);
        std::size_t size = 0;
        auto out = room_for("viqr_to_utf8", typed, text.size(), size);
        EXPECT_LE(viqr_to_utf8(&state, bytes(text), text.size(), out.get()), size);
        auto finished = room_for("viqr_to_utf8_finish", typed, 0, size);
        EXPECT_LE(viqr_to_utf8_finish(&state, finished.get()), size);
        viqr_close(context, nullptr, nullptr);
    }
}

TEST_P(ExactRoom, EncoderAndFromUtf8WriteWithinIt) {
    const bool typed = GetParam();  // neither reads it: the two columns agree
    const std::string texts[] = {every_byte(), repeated("\xE1\xBB\x87\xCC\x81", 50), repeated("e\xCC\x82\xCC\x83", 50),
                                 repeated("\xE1\xBA", 3)};
    for (const std::string &text : texts) {
        for (int mode : {VIQR_MODE_VIETNAMESE, VIQR_MODE_ENGLISH}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", " << testing::PrintToString(text.substr(0, 12)));
            std::size_t size = 0;
            auto encoded = room_for("viqr_viscii_to_viqr", typed, text.size(), size);
            EXPECT_LE(viqr_viscii_to_viqr(bytes(text), text.size(), encoded.get(), '\\', mode, nullptr), size);

            viqr_from_utf8_state state;
            viqr_from_utf8_start(&state, '\\', mode);
            auto out = room_for("viqr_from_utf8", typed, text.size(), size);
            EXPECT_LE(viqr_from_utf8(&state, bytes(text), text.size(), out.get()), size);
            auto finished = room_for("viqr_from_utf8_finish", typed, 0, size);
            EXPECT_LE(viqr_from_utf8_finish(&state, finished.get()), size);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TypedReader, ExactRoom, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) { return info.param ? "On" : "Off"; });

}  // namespace
