// toneconv: converts Vietnamese text between encodings, like iconv, and says
// what it could not convert exactly.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "credits.h"
#include "detected_input.h"
#include "encoding_kinds.h"
#include "fileio.h"
#include "input_loop.h"
#include "frontend.h"
#include "viqr.h"

namespace {

using namespace viqr::cli;

constexpr const char *usage_lines[] = {
    "Usage: toneconv [-f FROM] [-t TO] [-o OUTPUT] [-c] [-m] [input file(s)]\n",
    "       toneconv --detect [input file(s)]\n",
    "       toneconv -l\n",
    "              -f FROM: the encoding of the input, default auto (each input detected)\n",
    "              -t TO: the encoding of the output, default utf-8\n",
    "              -o OUTPUT: writes to the file OUTPUT instead of standard output\n",
    "              -c: accepts substitutes for what the output cannot hold (exit status 0)\n",
    "              -m: writes VIQR in English mode\n",
    "              -l: lists the encodings\n",
    "              --detect: names the encoding of each input\n",
    "\n",
    "Purpose: Converts Vietnamese text between encodings\n",
    "Version: " VIQR_TOOLS_NAME " " VIQR_TOOLS_VERSION "\n",
};
constexpr usage_text usage_of_toneconv{"toneconv", usage_lines, std::size(usage_lines)};

// The name of -f that detects each input's encoding.
constexpr const char AUTO[] = "auto";

struct options {
    const char *from = AUTO;
    const char *to = "utf-8";
    const char *output = nullptr;
    bool accept_substitutes = false;
    bool english = false;
    bool list = false;
    bool detect = false;
    std::vector<char *> inputs;
};

// The value of an option that takes one: the rest of the argument ("-futf-8")
// or the next argument.
const char *option_value(int argc, char **argv, int &index, const char *program) {
    const char *argument = argv[index];
    if (argument[2] != '\0') return argument + 2;
    if (index + 1 < argc) return argv[++index];
    std::fprintf(stderr, "%s: option \"%s\" needs a value\n", program, argument);
    usage(usage_of_toneconv);
}

// Options may stand anywhere before "--"; every other argument is an input.
options read_options(int argc, char **argv, const char *program) {
    options o;
    bool only_inputs = false;
    for (int i = 1; i < argc; ++i) {
        char *argument = argv[i];
        if (only_inputs || argument[0] != '-' || names_standard_stream(argument)) {
            o.inputs.push_back(argument);
            continue;
        }
        if (std::strcmp(argument, "--") == 0) {
            only_inputs = true;
            continue;
        }
        answer_help_or_version(argument, program, usage_of_toneconv);
        if (std::strcmp(argument, "--detect") == 0) {
            o.detect = true;
            continue;
        }
        switch (argument[1]) {
        case 'f': o.from = option_value(argc, argv, i, program); continue;
        case 't': o.to = option_value(argc, argv, i, program); continue;
        case 'o': o.output = option_value(argc, argv, i, program); continue;
        default: break;
        }
        if (argument[2] == '\0' && std::strchr("cml", argument[1]) != nullptr) {
            o.accept_substitutes |= argument[1] == 'c';
            o.english |= argument[1] == 'm';
            o.list |= argument[1] == 'l';
            continue;
        }
        std::fprintf(stderr, "%s: unknown option \"%s\"\n", program, argument);
        usage(usage_of_toneconv);
    }
    return o;
}

// One line per encoding, the descriptions in a column after the longest name.
int list_encodings(const char *program) {
    int width = 0;
    for (int e = 0; e < viqr_encoding_count(); ++e)
        width = std::max(width, static_cast<int>(std::strlen(viqr_encoding_name(e))));
    for (int e = 0; e < viqr_encoding_count(); ++e) {
        std::printf("%-*s  %s", width, viqr_encoding_name(e), viqr_encoding_description(e));
        if (*viqr_encoding_aliases(e) != '\0') std::printf(" (also %s)", viqr_encoding_aliases(e));
        std::printf("\n");
    }
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    report_write_failure(program, errno);
    return 1;
}

// The encoding `name` stands for, or -1 after saying why it will not do.
int find_encoding(const char *program, const char *name, bool writing) {
    const int e = viqr_encoding_lookup(name);
    if (e < 0) {
        std::fprintf(stderr, "%s: unknown encoding \"%s\" (%s -l lists them)\n", program, name, program);
        return -1;
    }
    if (writing ? !viqr_encoding_can_write(e) : !viqr_encoding_can_read(e)) {
        std::fprintf(stderr, "%s: %s can only be %s\n", program, viqr_encoding_name(e), writing ? "read" : "written");
        return -1;
    }
    return e;
}

// A character as a message shows it: itself in quotes when it prints, its
// code point otherwise.
void print_character(unsigned long cp) {
    const bool prints = cp >= 0x20 && cp != 0x7F && !(cp >= 0x80 && cp < 0xA0) && !(cp >= 0x300 && cp < 0x370);
    if (!prints) {
        std::fprintf(stderr, "U+%04lX", cp);
        return;
    }
    unsigned char utf8[4];
    int n;
    if (cp < 0x80) {
        utf8[0] = static_cast<unsigned char>(cp);
        n = 1;
    } else if (cp < 0x800) {
        utf8[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        utf8[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 2;
    } else if (cp < 0x10000) {
        utf8[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        utf8[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        utf8[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 3;
    } else {
        utf8[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        utf8[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        utf8[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        utf8[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        n = 4;
    }
    std::fputc('"', stderr);
    std::fwrite(utf8, 1, static_cast<std::size_t>(n), stderr);
    std::fputc('"', stderr);
}

const char *substitutes_in_words(int substitutes) {
    if (substitutes == VIQR_SUBSTITUTE_LOWERCASE) return "lowercase";
    if (substitutes == VIQR_SUBSTITUTE_QUESTION_MARK) return "\"?\"";
    return "lowercase or \"?\"";
}

// Says once what the input `name` lost; returns whether it lost anything.
bool report_losses(const char *program, const char *name, const viqr_converter &converter, int from, int to) {
    viqr_loss_report r;
    if (!viqr_convert_losses(converter, r)) return false;
    if (r.undefined != 0) {
        char source[64];
        if (reads_unicode(from))
            std::snprintf(source, sizeof source, "valid UTF-8");
        else
            std::snprintf(source, sizeof source, "defined in %s", viqr_encoding_name(from));
        std::fprintf(stderr, "%s: \"%s\": %llu byte%s not %s (first 0x%02X at byte offset %llu); written as %s\n",
                     program, name, r.undefined, r.undefined == 1 ? " is" : "s are", source, r.undefined_byte,
                     r.undefined_offset, r.undefined_substitute == '?' ? "\"?\"" : "U+FFFD");
    }
    if (r.unwritable != 0) {
        std::fprintf(stderr, "%s: \"%s\": %llu character%s cannot be written in %s (first ", program, name,
                     r.unwritable, r.unwritable == 1 ? "" : "s", viqr_encoding_name(to));
        print_character(r.unwritable_first);
        std::fprintf(stderr, " at line %llu, column %llu); written as %s\n", r.unwritable_line, r.unwritable_column,
                     substitutes_in_words(r.substitutes));
    }
    return true;
}

// Refuses to write over an input: the output would be truncated before it
// is read.
bool output_is_an_input(const char *program, const options &o) {
    struct stat output;
    if (o.output == nullptr || stat(o.output, &output) != 0) return false;
    for (const char *input : o.inputs) {
        struct stat status;
        if (names_standard_stream(input)) {
            if (fstat(STDIN_FILENO, &status) != 0) continue;
        } else if (stat(input, &status) != 0) {
            continue;
        }
        if (status.st_dev == output.st_dev && status.st_ino == output.st_ino && S_ISREG(status.st_mode)) {
            std::fprintf(stderr, "%s: \"%s\" is both an input and the output\n", program, o.output);
            return true;
        }
    }
    return false;
}

// What toneconv's conversions share: the converter running, and the report
// of what each input lost.
class reported_conversion : public converter {
public:
    reported_conversion(const char *program, int to) : program_(program), to_(to) {}
    std::size_t convert(const unsigned char *chunk, std::size_t length, unsigned char *out) override {
        return viqr_convert(converter_, chunk, length, out);
    }
    bool lost() const { return lost_; }

protected:
    // The input now read: its name, and the converter and encoding it is read with.
    void begin_reading(const char *name, viqr_converter *converter, int from) {
        name_ = name;
        converter_ = converter;
        from_ = from;
        viqr_convert_begin_input(converter_);
    }

    // Says what the input being read lost, once.
    void report_losses_of_input() {
        if (name_ != nullptr) lost_ |= report_losses(program_, name_, *converter_, from_, to_);
        name_ = nullptr;
    }

    const char *program_;
    int to_;
    viqr_converter *converter_ = nullptr;

private:
    int from_ = 0;
    const char *name_ = nullptr;
    bool lost_ = false;
};

// Whether text in `encoding` is UTF-8, ASCII included: the Unicode forms,
// NCR, VIQR (which keeps characters beyond ASCII as they are) and the
// mojibake repairs.  The others are tables of bytes.
bool is_read_from_utf8(int encoding) {
    const char *name = viqr_encoding_name(encoding);
    const std::size_t length = std::strlen(name);
    constexpr std::size_t SUFFIX = sizeof "-as-cp1252" - 1;
    return reads_unicode(encoding) || (length > SUFFIX && std::strcmp(name + length - SUFFIX, "-as-cp1252") == 0);
}

// Whether the start of an input plainly is not in `encoding`: invalid UTF-8
// for an encoding read from UTF-8, whole UTF-8 characters beyond ASCII for a
// table of bytes.  Cheap enough for every input: no detection.
bool plainly_not_in(int encoding, const unsigned char *start, std::size_t length) {
    const bool utf8 = viqr_looks_like_utf8(start, length) != 0;
    if (!is_read_from_utf8(encoding)) return utf8;
    return !utf8 && std::any_of(start, start + length, [](unsigned char b) { return b >= 0x80; });
}

// -f named: one converter, every input one text, as cat would join them.  A
// character cut at the end of one input is finished by the next, so what an
// input lost is known when the next begins, and after the finish.  When the
// first block of an input plainly is not in the encoding named, a hint names
// what detection takes it for; the conversion goes on as asked.
class named_conversion final : public reported_conversion {
public:
    named_conversion(const char *program, viqr_converter &converter, int from, int to)
        : reported_conversion(program, to), named_(converter), from_(from) {}
    void begin(const char *name) override {
        report_losses_of_input();
        begin_reading(name, &named_, from_);
        hint_name_ = name;
    }
    std::size_t convert(const unsigned char *chunk, std::size_t length, unsigned char *out) override {
        if (hint_name_ != nullptr) hint_at_another_encoding(chunk, length);
        return reported_conversion::convert(chunk, length, out);
    }
    std::size_t finish(unsigned char *out) override { return viqr_convert_finish(&named_, out); }
    void after(const unsigned char *chunk, std::size_t) override {
        if (chunk == nullptr) report_losses_of_input();
    }

private:
    void hint_at_another_encoding(const unsigned char *block, std::size_t length) {
        const char *name = hint_name_;
        hint_name_ = nullptr;
        if (!plainly_not_in(from_, block, length)) return;
        viqr_detection verdict{VIQR_DETECT_UNKNOWN, 0};
        viqr_detect(block, length, &verdict, 1);
        if (verdict.encoding < 0 || verdict.encoding == from_) return;
        const char *likely = viqr_encoding_name(verdict.encoding);
        std::fprintf(stderr, "%s: \"%s\" looks like %s, not %s; try -f %s or -f auto\n", program_, name, likely,
                     viqr_encoding_name(from_), likely);
    }

    viqr_converter &named_;
    int from_;
    const char *hint_name_ = nullptr;  // the input whose first block is still to come
};

// -f auto: each input is detected on its own and converted from what it is
// found to be, with a converter of its own, finished at its end.  An input
// whose encoding cannot be told is not converted (the run fails, and a
// message says how to name it); the others are.
class detected_conversion final : public reported_conversion {
public:
    detected_conversion(const char *program, int to, const char *to_name, int flags)
        : reported_conversion(program, to), to_name_(to_name), flags_(flags) {}
    ~detected_conversion() override { viqr_converter_close(converter_); }

    input_start start(int fd, const char *name) override {
        input_ = {};
        if (!detect_input(program_, fd, name, input_)) return {input_start::next::stop};
        if (input_.unknown() && !input_.empty()) {
            report_unknown(program_, name, input_);
            return {input_start::next::skip};
        }
        const int from = encoding_to_read(input_);
        viqr_converter *converter = viqr_converter_open(from, to_, flags_);
        if (converter == nullptr) {
            std::fprintf(stderr, "%s: can't convert from %s to %s: %s\n", program_, viqr_encoding_name(from), to_name_,
                         std::strerror(errno));
            return {input_start::next::stop};
        }
        begin_reading(name, converter, from);
        return {input_start::next::read, input_.start.data(), input_.start.size(), input_.at_end};
    }
    std::size_t end_input(unsigned char *out) override { return viqr_convert_finish(converter_, out); }
    void input_ended() override {
        report_losses_of_input();
        viqr_converter_close(converter_);
        converter_ = nullptr;
    }
    std::size_t finish(unsigned char *) override { return 0; }

private:
    const char *to_name_;
    int flags_;
    detected_input input_;
};

// toneconv --detect: a line for each input, and no text.
class detection_report final : public converter {
public:
    explicit detection_report(const char *program) : program_(program) {}
    input_start start(int fd, const char *name) override {
        detected_input input;
        if (!detect_input(program_, fd, name, input)) return {input_start::next::stop};
        print_detection(name, input);
        return {input.unknown() ? input_start::next::skip : input_start::next::read, nullptr, 0, true};
    }
    std::size_t convert(const unsigned char *, std::size_t, unsigned char *) override { return 0; }
    std::size_t finish(unsigned char *) override { return 0; }
    bool only_reports() const override { return true; }

private:
    const char *program_;
};

int open_output(const char *program, const char *name) {
    if (name == nullptr) return STDOUT_FILENO;
    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) report_open_failure(program, name, errno);
    return fd;
}

bool names_auto(const char *name) { return strcasecmp(name, AUTO) == 0; }

int convert_inputs_of(const char *program, const options &o, converter &conversion, const output_file &output) {
    return convert_inputs(program, o.inputs.data(), static_cast<int>(o.inputs.size()), conversion, nullptr, output);
}

// Status 1 when an input could not be read or its encoding cannot be told.
int report_detections(const char *program, const options &o) {
    detection_report report(program);
    const int status = convert_inputs_of(program, o, report, STANDARD_OUTPUT);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report_write_failure(program, errno);
        return 1;
    }
    return status;
}

// Converts the inputs with `conversion` into `output`: 0, or 1 after a
// failure or, without -c, a loss.
int convert_all(const char *program, const options &o, reported_conversion &conversion, const output_file &output) {
    const int status = convert_inputs_of(program, o, conversion, output);
    return status != 0 || (conversion.lost() && !o.accept_substitutes) ? 1 : 0;
}

int convert_detected(const char *program, const options &o, int to, int flags, const output_file &output) {
    detected_conversion conversion(program, to, o.to, flags);
    return convert_all(program, o, conversion, output);
}

int convert_named(const char *program, const options &o, viqr_converter &named, int from, int to,
                  const output_file &output) {
    named_conversion conversion(program, named, from, to);
    return convert_all(program, o, conversion, output);
}

}  // namespace

int main(int argc, char **argv) {
    const char *program = program_name(argc, argv, "toneconv");
    const options o = read_options(argc, argv, program);
    if (o.list) return list_encodings(program);
    if (o.detect) return report_detections(program, o);

    const bool automatic = names_auto(o.from);
    const int from = automatic ? 0 : find_encoding(program, o.from, false);
    const int to = find_encoding(program, o.to, true);
    if (from < 0 || to < 0 || output_is_an_input(program, o)) return 1;
    const int flags = o.english ? VIQR_CONVERT_ENGLISH_MODE : 0;
    viqr_converter *named = automatic ? nullptr : viqr_converter_open(from, to, flags);
    if (!automatic && named == nullptr) {
        std::fprintf(stderr, "%s: can't convert from %s to %s: %s\n", program, o.from, o.to, std::strerror(errno));
        return 1;
    }
    const int fd = open_output(program, o.output);
    if (fd < 0) return 1;
    const output_file output{fd, o.output != nullptr ? o.output : STANDARD_OUTPUT.name};
    int status = automatic ? convert_detected(program, o, to, flags, output)
                           : convert_named(program, o, *named, from, to, output);
    viqr_converter_close(named);
    if (o.output != nullptr && close(fd) != 0) {
        report_write_failure(program, output.name, errno);
        status = 1;
    }
    return status;
}
