// toneup: converts 7-bit VIQR text to 8-bit VISCII.
#include <iterator>

#include "composition_warning.h"
#include "fileio.h"
#include "frontend.h"
#include "hints.h"
#include "input_loop.h"
#include "utf8_front.h"
#include "viqr.h"

namespace {

using namespace viqr::cli;

constexpr const char *usage_lines[] = {
    "Usage: toneup [-com <c>] [-v|-m|-l] [-u] [-t] [7-bit input file(s)]\n",
    "              -com: <c> specifies the composition character, default is \"\\\"\n",
    "              -v: sets the initial state to Vietnamese\n",
    "              -m: sets the initial state to English\n",
    "              -l: sets the initial state to Literal\n",
    "              -u: writes UTF-8 instead of VISCII\n",
    "              -t: reads VIQR as people type it, without escapes\n",
    "              --help: writes this text, --version: the version\n",
    "\n",
    "Purpose: Converts from 7-bit VIQR to 8-bit VISCII\n",
    "Version: VISCII & VIQR 1.1\n",
};
constexpr usage_text usage_of_toneup{"toneup", usage_lines, std::size(usage_lines)};

// VIQR to VISCII through one decoder context, every input one text.  The
// flush at the end writes a letter or escape still held: it belongs to the
// text read so far, also when an input could not be opened or read.
class viscii_conversion final : public converter {
public:
    viscii_conversion(const char *program, int context) : context_(context), hint_(program, "reads and writes UTF-8") {}
    void begin(const char *name) override { hint_.begin(name); }
    std::size_t convert(const unsigned char *chunk, std::size_t length, unsigned char *out) override {
        hint_.look(chunk, length);
        return viqr_feed_chunk(context_, chunk, length, out);
    }
    std::size_t finish(unsigned char *out) override {
        int count = 0;
        viqr_flush(context_, out, count);
        return static_cast<std::size_t>(count);
    }

private:
    int context_;
    utf8_input_hint hint_;
};

}  // namespace

int main(int argc, char **argv) {
    const char *program = program_name(argc, argv, "toneup");
    refuse_unrunnable_implementation(program);
    unsigned char composition_char = DEFAULT_COMPOSITION_CHAR;
    unsigned char overstrike_char = DEFAULT_OVERSTRIKE_CHAR;
    int mode = MODE_VIETNAMESE;
    int utf8 = 0;
    int typed = 0;

    viqr_parse_options(argc, argv, composition_char, overstrike_char);
    const flag flags[] = {
        {"Ll", &mode, MODE_LITERAL, nullptr},
        {"Mm", &mode, MODE_ENGLISH, nullptr},
        {"Vv", &mode, MODE_VIETNAMESE, nullptr},
        {"Uu", &utf8, 1, nullptr},
        {"Tt", &typed, 1, nullptr},
    };
    const int first_name = read_flags(argc, argv, program, {flags, std::size(flags)}, usage_of_toneup);
    if (utf8 && !composition_char_suits_utf8(program, composition_char)) return 1;
    warn_about_composition_char(program, composition_char);

    // The first context of the process: always free.
    const int context = viqr_open(mode, composition_char, overstrike_char);
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    if (typed) viqr_set(context, 1, VIQR_PARAM_TYPED);
    const int name_count = argc > first_name ? argc - first_name : 0;
    if (utf8) return run_viqr_to_utf8(program, argv + first_name, name_count, context);
    hint_utf8_terminal(program);

    viscii_conversion conversion(program, context);
    return convert_inputs(program, argv + first_name, name_count, conversion);
}
