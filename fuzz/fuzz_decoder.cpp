// Fuzzes the VIQR decoder engine with calls of viqr_open, viqr_feed,
// viqr_feed_chunk, viqr_set, viqr_query, viqr_flush and viqr_close interleaved
// as the input dictates:
// every mode, hold on and off, any composition and overstrike characters,
// handles and values that are not valid.  Checks on every call:
// - an invalid handle (never opened, closed, out of range) changes nothing:
//   viqr_feed returns -1 with a count of 0, viqr_query leaves its destination
//   alone, viqr_flush and viqr_close leave the count alone;
// - viqr_open hands out the lowest free handle, and -1 for a mode that is not
//   one of the three or when all contexts are in use;
// - counts are 0 to 2 and writes stay inside an area of two bytes (two a byte
//   for viqr_feed_chunk); states are 0 to 5, and what viqr_feed returns is
//   what viqr_query then reports;
// - viqr_set changes exactly the parameter its selector names (a state only to
//   a mode: that mode, or the one the composition character selects when it
//   is itself a mode letter) and viqr_query reports it back, writing only
//   that parameter's size.
// At the end of an input every context it opened is closed, so that inputs do
// not depend on one another; then each context's calls are replayed on a
// context of its own, a byte at a time, which must give the same results:
// contexts are independent of one another, and viqr_feed_chunk does what
// viqr_feed does for each of its bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "viqr.h"

namespace {

constexpr unsigned char UNTOUCHED = 0xA5;
constexpr int UNTOUCHED_COUNT = 0x5A5A;

// One call on an open context and what it gave, for the replay.
struct call {
    enum kind_t { feed, flush, flush_discarding, set } kind;
    std::string in;   // the bytes fed, one by viqr_feed or a chunk
    int value;        // the value set
    int selector;     // viqr_set only
    int state;        // the state after feeding
    std::string out;  // what the call wrote
};

struct context_log {
    int mode;
    unsigned char composition_char;
    unsigned char overstrike_char;
    std::vector<call> calls;
};

// The output area of every call: exactly two bytes, so that a write past it
// is caught.
struct output_area {
    std::unique_ptr<unsigned char[]> bytes = std::make_unique<unsigned char[]>(2);
    void reset() { std::memset(bytes.get(), UNTOUCHED, 2); }
};

// The selectors this target draws: every bit but VIQR_PARAM_TYPED, whose
// reader works on chunks and has its own tests.  Without it, a selector of
// that bit alone names nothing here.
int drawn_selector(FuzzedDataProvider &data) { return data.ConsumeIntegral<unsigned char>() & ~VIQR_PARAM_TYPED; }

int first_bit(int selector) {
    for (int bit : {VIQR_PARAM_STATE, VIQR_PARAM_COMPOSE_CHAR, VIQR_PARAM_OVERSTRIKE_CHAR, VIQR_PARAM_HOLD})
        if (selector & bit) return bit;
    return 0;
}

struct parameters {
    int state;
    unsigned char composition_char, overstrike_char, hold;
};

// Reads one parameter into a destination with guard bytes after it; checks
// that exactly `size` bytes were written.
template <class T>
T query(int handle, int selector) {
    unsigned char destination[sizeof(T) + 8];
    std::memset(destination, UNTOUCHED, sizeof destination);
    viqr_query(handle, destination, selector);
    for (std::size_t i = sizeof(T); i < sizeof destination; ++i)
        check(destination[i] == UNTOUCHED, "viqr_query wrote past its parameter");
    T value;
    std::memcpy(&value, destination, sizeof value);
    return value;
}

parameters query_all(int handle) {
    parameters p{query<int>(handle, VIQR_PARAM_STATE), query<unsigned char>(handle, VIQR_PARAM_COMPOSE_CHAR),
                 query<unsigned char>(handle, VIQR_PARAM_OVERSTRIKE_CHAR),
                 query<unsigned char>(handle, VIQR_PARAM_HOLD)};
    check(p.state >= 0 && p.state <= STATE_HOLDING, "a state outside 0..5");
    return p;
}

bool query_leaves_destination_alone(int handle, int selector) {
    unsigned char destination[16];
    std::memset(destination, UNTOUCHED, sizeof destination);
    viqr_query(handle, destination, selector);
    for (unsigned char b : destination)
        if (b != UNTOUCHED) return false;
    return true;
}

class engine_driver {
public:
    explicit engine_driver(FuzzedDataProvider &data) : data_(data) {}

    void run() {
        for (int h = 0; h < VIQR_MAX_CONTEXTS; ++h)
            check(query_leaves_destination_alone(h, VIQR_PARAM_STATE), "a context left open by an earlier input");
        while (data_.remaining_bytes() > 0) step();
        for (int h = 0; h < VIQR_MAX_CONTEXTS; ++h)
            if (log_of_[h] >= 0) settle(h, data_.ConsumeBool(), true);
        replay_each_context();
    }

private:
    void step() {
        const int op = data_.ConsumeIntegralInRange<int>(0, 9);
        switch (op) {
        case 0:
            open();
            break;
        case 1:
            set();
            break;
        case 2:
            query_one();
            break;
        case 3:
        case 4: {
            const int h = handle();
            const bool into_area = data_.ConsumeBool();
            settle(h, into_area, op == 4);
            break;
        }
        case 5:
        case 6: {
            const int h = handle();
            feed_chunk(h, data_.ConsumeBytesAsString(data_.ConsumeIntegralInRange<std::size_t>(0, 64)));
            break;
        }
        default: {  // feeding is what most of an input should do
            const int h = handle();
            for (int n = data_.ConsumeIntegralInRange<int>(1, 16); n > 0 && data_.remaining_bytes() > 0; --n)
                feed(h, data_.ConsumeIntegral<unsigned char>());
        }
        }
    }

    // Mostly valid handles, sometimes not.
    int handle() {
        static const int handles[] = {0, 1, 2, 0, 1, 2, -1, 3, INT_MIN, INT_MAX};
        return data_.PickValueInArray(handles);
    }

    bool is_open(int handle) const { return handle >= 0 && handle < VIQR_MAX_CONTEXTS && log_of_[handle] >= 0; }

    void open() {
        static const int modes[] = {MODE_VIETNAMESE, MODE_ENGLISH, MODE_LITERAL, MODE_VIETNAMESE, MODE_ENGLISH,
                                    MODE_LITERAL,    -1,           STATE_ESCAPE, STATE_HOLDING,   INT_MIN};
        const int mode = data_.PickValueInArray(modes);
        const auto composition_char = data_.ConsumeIntegral<unsigned char>();
        const auto overstrike_char = data_.ConsumeIntegral<unsigned char>();
        int expected = -1;
        if (mode >= MODE_VIETNAMESE && mode <= MODE_LITERAL)
            for (int h = VIQR_MAX_CONTEXTS - 1; h >= 0; --h)
                if (!is_open(h)) expected = h;
        const int h = viqr_open(mode, composition_char, overstrike_char);
        check(h == expected, "viqr_open did not hand out the lowest free context, or opened one for a non-mode");
        if (h < 0) return;
        const parameters p = query_all(h);
        check(p.state == mode && p.composition_char == composition_char && p.overstrike_char == overstrike_char &&
                  p.hold == 0,
              "a new context does not have the parameters it was opened with");
        log_of_[h] = static_cast<int>(logs_.size());
        logs_.push_back({mode, composition_char, overstrike_char, {}});
    }

    void feed(int h, unsigned char byte) {
        area_.reset();
        int count = UNTOUCHED_COUNT;
        const int state = viqr_feed(h, byte, area_.bytes.get(), count);
        if (!is_open(h)) {
            check(state == -1 && count == 0, "viqr_feed on an invalid handle did not return -1 with count 0");
            check(area_.bytes[0] == UNTOUCHED && area_.bytes[1] == UNTOUCHED, "viqr_feed wrote for an invalid handle");
            return;
        }
        check(count >= 0 && count <= 2, "viqr_feed count outside 0..2");
        check(state >= 0 && state <= STATE_HOLDING, "viqr_feed returned a state outside 0..5");
        check(query<int>(h, VIQR_PARAM_STATE) == state, "viqr_feed returned another state than the context's");
        record(h, {call::feed, std::string(1, static_cast<char>(byte)), 0, 0, state, written(count)});
    }

    // Input and output each in a block of exactly its size.
    void feed_chunk(int h, const std::string &bytes) {
        auto in = std::make_unique<unsigned char[]>(bytes.size() + 1);  // never empty, so never null
        std::memcpy(in.get(), bytes.data(), bytes.size());
        const std::size_t room = 2 * bytes.size();
        auto out = std::make_unique<unsigned char[]>(room + 1);
        std::memset(out.get(), UNTOUCHED, room + 1);
        const std::size_t n = viqr_feed_chunk(h, in.get(), bytes.size(), out.get());
        check(n <= room, "viqr_feed_chunk wrote more than two bytes a byte");
        check(out[room] == UNTOUCHED, "viqr_feed_chunk wrote past its area");
        if (!is_open(h)) {
            check(n == 0 && (room == 0 || out[0] == UNTOUCHED), "viqr_feed_chunk wrote for an invalid handle");
            return;
        }
        const int state = query<int>(h, VIQR_PARAM_STATE);
        check(state >= 0 && state <= STATE_HOLDING, "viqr_feed_chunk left a state outside 0..5");
        record(h, {call::feed, bytes, 0, 0, state, std::string(out.get(), out.get() + n)});
    }

    std::string written(int count) const {
        return std::string(area_.bytes.get(), area_.bytes.get() + (count > 0 ? count : 0));
    }

    // viqr_flush, or viqr_close when `closing`.  With `into_area` false the
    // output area is null: nothing is delivered and the count stays as it was.
    void settle(int h, bool into_area, bool closing) {
        area_.reset();
        unsigned char *out = into_area ? area_.bytes.get() : nullptr;
        int count = UNTOUCHED_COUNT;
        if (closing)
            viqr_close(h, out, count);
        else
            viqr_flush(h, out, count);
        if (!is_open(h) || !into_area) {
            check(count == UNTOUCHED_COUNT, "the count changed without an output area or an open context");
            check(area_.bytes[0] == UNTOUCHED && area_.bytes[1] == UNTOUCHED, "wrote without an open context");
            if (!is_open(h)) return;
        } else {
            check(count >= 0 && count <= 2, "flush count outside 0..2");
        }
        record(h, {into_area ? call::flush : call::flush_discarding, "", 0, 0, 0, into_area ? written(count) : ""});
        if (closing) {
            check(query_leaves_destination_alone(h, VIQR_PARAM_STATE), "a closed context still answers");
            log_of_[h] = -1;
        } else {
            query_all(h);
        }
    }

    void set() {
        static const int values[] = {0, 1, 2, 3, 5, -1, 0x15C, INT_MIN, INT_MAX};
        const int h = handle();
        const int value = data_.ConsumeBool() ? data_.PickValueInArray(values) : data_.ConsumeIntegral<int>();
        const int selector = drawn_selector(data_);
        if (!is_open(h)) {
            viqr_set(h, value, selector);
            return;
        }
        const parameters before = query_all(h);
        viqr_set(h, value, selector);
        const parameters after = query_all(h);
        parameters expected = before;
        const auto low_byte = static_cast<unsigned char>(value);
        switch (first_bit(selector)) {
        case VIQR_PARAM_STATE:
            // That mode, whatever the composition character is: the flush
            // that follows leaves the context with nothing held or pending.
            if (value >= MODE_VIETNAMESE && value <= MODE_LITERAL) expected.state = value;
            break;
        case VIQR_PARAM_COMPOSE_CHAR:
            expected.composition_char = low_byte;
            break;
        case VIQR_PARAM_OVERSTRIKE_CHAR:
            expected.overstrike_char = low_byte;
            break;
        case VIQR_PARAM_HOLD:
            expected.hold = low_byte;
            break;
        }
        if (after.state != expected.state || after.composition_char != expected.composition_char ||
            after.overstrike_char != expected.overstrike_char || after.hold != expected.hold) {
            std::fprintf(stderr, "viqr_set(%d, %d, %d): state %d -> %d, composition 0x%02X -> 0x%02X\n", h, value,
                         selector, before.state, after.state, before.composition_char, after.composition_char);
            fail("viqr_set changed something other than its selector names, or not that");
        }
        record(h, {call::set, "", value, selector, 0, ""});
    }

    void query_one() {
        const int h = handle();
        const int selector = drawn_selector(data_);
        if (!is_open(h) || first_bit(selector) == 0) {
            check(query_leaves_destination_alone(h, selector), "viqr_query wrote without an open context or a selector");
            return;
        }
        const parameters p = query_all(h);
        switch (first_bit(selector)) {
        case VIQR_PARAM_STATE:
            check(query<int>(h, selector) == p.state, "the lowest bit of the selector did not decide");
            break;
        case VIQR_PARAM_COMPOSE_CHAR:
            check(query<unsigned char>(h, selector) == p.composition_char, "the lowest bit of the selector did not decide");
            break;
        case VIQR_PARAM_OVERSTRIKE_CHAR:
            check(query<unsigned char>(h, selector) == p.overstrike_char, "the lowest bit of the selector did not decide");
            break;
        case VIQR_PARAM_HOLD:
            check(query<unsigned char>(h, selector) == p.hold, "the lowest bit of the selector did not decide");
            break;
        }
    }

    void record(int h, const call &c) { logs_[static_cast<std::size_t>(log_of_[h])].calls.push_back(c); }

    // Each context's calls again, on a context alone in the engine.
    void replay_each_context() {
        for (const context_log &log : logs_) {
            const int h = viqr_open(log.mode, log.composition_char, log.overstrike_char);
            check(h == 0, "no free context for the replay");
            for (const call &c : log.calls) {
                area_.reset();
                int count = 0;
                switch (c.kind) {
                case call::feed: {
                    std::string out;
                    int state = 0;
                    for (char b : c.in) {
                        state = viqr_feed(h, static_cast<unsigned char>(b), area_.bytes.get(), count);
                        out += written(count);
                    }
                    if (c.in.empty()) state = query<int>(h, VIQR_PARAM_STATE);
                    check(state == c.state && out == c.out,
                          "a context fed beside others, or a chunk at a time, gave other results than alone a byte "
                          "at a time");
                    break;
                }
                case call::flush:
                case call::flush_discarding: {
                    viqr_flush(h, c.kind == call::flush ? area_.bytes.get() : nullptr, count);
                    check((c.kind == call::flush ? written(count) : "") == c.out,
                          "a context flushed beside others gave other results than alone");
                    break;
                }
                case call::set:
                    viqr_set(h, c.value, c.selector);
                    break;
                }
            }
            int count = 0;
            viqr_close(h, nullptr, count);
        }
    }

    FuzzedDataProvider &data_;
    output_area area_;
    int log_of_[VIQR_MAX_CONTEXTS] = {-1, -1, -1};  // index into logs_ of each open context
    std::vector<context_log> logs_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    engine_driver(data).run();
    return 0;
}
