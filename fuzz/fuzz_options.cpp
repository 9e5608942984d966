// Fuzzes the option pre-parser with argument vectors made from the input: any
// count, empty strings, "-com" and "-bs" anywhere, values with and without a
// backslash.  Every call is checked against a plain model of the pre-parser:
// what stays in the vector and in which order, the two characters, the bytes
// written to standard error, and that nothing else of the caller changes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "viqr.h"

namespace {

// Arbitrary bytes up to the first 0x00, which would end the argument anyway.
std::string c_string(std::string bytes) { return bytes.substr(0, bytes.find('\0')); }

// One argument, kind chosen by the input.  The words the pre-parser must take
// and the near misses it must leave alone come up often; everything else is
// arbitrary bytes.
std::string make_argument(FuzzedDataProvider &data) {
    static const char *const words[] = {"-com", "-bs", "", "-comx", "-COM", "--com", "-b", "-bsx", "-v", "-m", "-"};
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        return words[data.ConsumeIntegralInRange<std::size_t>(0, std::size(words) - 1)];
    case 1:
        return "\\" + c_string(data.ConsumeRandomLengthString(16));  // an octal value, or an attempt at one
    default:
        return c_string(data.ConsumeRandomLengthString(16));
    }
}

// The target of "\<octal>" as the formatted-input pattern "\%o" reads it, or
// false when no number follows.  Only the last digits of a long run matter to
// the low eight bits, so a long run is cut to its last ten digits first: the
// library's reading of the pattern does not overflow on any length.
bool octal_value(const std::string &value, unsigned char &target) {
    std::size_t p = 1;
    while (p < value.size() && (value[p] == ' ' || (value[p] >= '\t' && value[p] <= '\r'))) ++p;
    if (p < value.size() && (value[p] == '+' || value[p] == '-')) ++p;
    std::size_t end = p;
    while (end < value.size() && value[end] >= '0' && value[end] <= '7') ++end;
    std::string shortened = value;
    if (end - p > 10) shortened = value.substr(0, p) + value.substr(end - 10);
    unsigned number = 0;
    if (std::sscanf(shortened.c_str(), "\\%o", &number) != 1) return false;
    target = static_cast<unsigned char>(number & 0xFFu);
    return true;
}

struct model_result {
    std::vector<std::size_t> kept;  // indices into the original vector
    unsigned char composition_char;
    unsigned char overstrike_char;
    std::string message;
};

model_result model(const std::vector<std::string> &args, unsigned char composition_char,
                   unsigned char overstrike_char) {
    model_result m{{}, composition_char, overstrike_char, ""};
    const std::size_t count = args.size();
    if (count > 0) m.kept.push_back(0);
    for (std::size_t i = 1; i < count;) {
        unsigned char *target = args[i] == "-com" ? &m.composition_char
                                : args[i] == "-bs" ? &m.overstrike_char
                                                   : nullptr;
        if (target == nullptr) {
            m.kept.push_back(i++);
            continue;
        }
        if (i + 1 == count) {
            m.message += "usage: " + args[i] + " [char|\\octal]\n";
            ++i;
            continue;
        }
        const std::string &value = args[i + 1];
        if (value.empty())
            *target = 0;
        else if (value[0] == '\\')
            octal_value(value, *target);
        else
            *target = static_cast<unsigned char>(value[0]);
        i += 2;
    }
    return m;
}

// The two characters with guard bytes around them: the pre-parser may write
// one byte of each and nothing beside it.
struct guarded_chars {
    unsigned char before[8];
    unsigned char composition_char;
    unsigned char between[8];
    unsigned char overstrike_char;
    unsigned char after[8];
};

bool guards_intact(const guarded_chars &g, unsigned char fill) {
    for (std::size_t i = 0; i < 8; ++i)
        if (g.before[i] != fill || g.between[i] != fill || g.after[i] != fill) return false;
    return true;
}

// Standard error, for the length of one call, goes to a memory buffer so that
// the messages can be compared; the sanitizers write to descriptor 2 directly
// and are not affected.
class captured_stderr {
public:
    captured_stderr() : saved_(stderr), stream_(fmemopen(buffer_, sizeof buffer_, "w")) {
        check(stream_ != nullptr, "fmemopen failed");
        stderr = stream_;
    }
    ~captured_stderr() { restore(); }
    std::string text() {
        std::fflush(stream_);
        return std::string(buffer_, static_cast<std::size_t>(std::ftell(stream_)));
    }
    void restore() {
        if (stream_ == nullptr) return;
        std::fclose(stream_);
        stream_ = nullptr;
        stderr = saved_;
    }

private:
    char buffer_[1 << 16];
    FILE *saved_;
    FILE *stream_;
};

// An argument vector with each string and the vector in blocks of exactly
// their size, so that a read or write past either is caught.
struct exact_argv {
    explicit exact_argv(const std::vector<std::string> &args) : argv(std::make_unique<char *[]>(args.size() + 1)) {
        for (std::size_t i = 0; i < args.size(); ++i) {
            strings.push_back(std::make_unique<char[]>(args[i].size() + 1));
            std::memcpy(strings.back().get(), args[i].c_str(), args[i].size() + 1);
            argv[i] = strings.back().get();
        }
        argv[args.size()] = nullptr;
    }
    std::vector<std::unique_ptr<char[]>> strings;
    std::unique_ptr<char *[]> argv;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const unsigned char fill = data.ConsumeIntegral<unsigned char>();
    const unsigned char initial_com = data.ConsumeIntegral<unsigned char>();
    const unsigned char initial_bs = data.ConsumeIntegral<unsigned char>();
    std::vector<std::string> args;
    while (data.remaining_bytes() > 0 && args.size() < 64) args.push_back(make_argument(data));

    const exact_argv vector(args);
    const std::vector<std::unique_ptr<char[]>> &strings = vector.strings;
    const std::unique_ptr<char *[]> &argv = vector.argv;

    guarded_chars chars;
    std::memset(&chars, fill, sizeof chars);
    chars.composition_char = initial_com;
    chars.overstrike_char = initial_bs;

    int argc = static_cast<int>(args.size());
    std::string message;
    {
        captured_stderr err;
        viqr_parse_options(argc, argv.get(), chars.composition_char, chars.overstrike_char);
        message = err.text();
    }

    const model_result expected = model(args, initial_com, initial_bs);
    check(argc >= 0 && static_cast<std::size_t>(argc) == expected.kept.size(), "wrong count");
    for (std::size_t i = 0; i < expected.kept.size(); ++i)
        check(argv[i] == strings[expected.kept[i]].get(), "wrong entry kept, or out of order");
    check(argv[argc] == nullptr, "no null pointer after the last entry");
    check(chars.composition_char == expected.composition_char, "wrong composition character");
    check(chars.overstrike_char == expected.overstrike_char, "wrong overstrike character");
    check(guards_intact(chars, fill), "wrote beside a character");
    check(message == expected.message, "wrong message on standard error");
    for (std::size_t i = 0; i < args.size(); ++i)
        check(args[i] == strings[i].get(), "an argument string changed");
    return 0;
}
