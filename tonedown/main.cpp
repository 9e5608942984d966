// tonedown: converts 8-bit VISCII text to 7-bit VIQR.
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
    "Usage: tonedown [-com <c>] [-m|-v] [-u] [8-bit input file(s)]\n",
    "              -com: <c> specifies the composition character, default is \"\\\"\n",
    "              -m: specifies English mode output\n",
    "              -v: specifies Vietnamese mode output (default)\n",
    "              -u: reads UTF-8 instead of VISCII\n",
    "              --help: writes this text, --version: the version\n",
    "\n",
    "Purpose: Converts from 8-bit VISCII to 7-bit VIQR\n",
    "Version: VISCII & VIQR 1.1\n",
};
constexpr usage_text usage_of_tonedown{"tonedown", usage_lines, std::size(usage_lines)};

// VISCII to VIQR, every input one text.
class viscii_conversion final : public converter {
public:
    viscii_conversion(const char *program, unsigned char composition_char, int mode)
        : composition_char_(composition_char), mode_(mode), hint_(program, "reads UTF-8") {}
    void begin(const char *name) override { hint_.begin(name); }
    std::size_t convert(const unsigned char *chunk, std::size_t length, unsigned char *out) override {
        hint_.look(chunk, length);
        return viscii_to_viqr(chunk, length, out, composition_char_, mode_, history_);
    }
    std::size_t finish(unsigned char *) override { return 0; }

private:
    unsigned char composition_char_;
    int mode_;
    viqr_encoder_history history_;
    utf8_input_hint hint_;
};

}  // namespace

int main(int argc, char **argv) {
    const char *program = program_name(argc, argv, "tonedown");
    refuse_unrunnable_implementation(program);
    unsigned char composition_char = DEFAULT_COMPOSITION_CHAR;
    unsigned char overstrike_char = 0;  // -bs is accepted and has no effect here
    int mode = MODE_VIETNAMESE;
    int utf8 = 0;

    viqr_parse_options(argc, argv, composition_char, overstrike_char);
    const flag flags[] = {
        {"Ll", &mode, MODE_LITERAL, "conversion to LITERAL not suported."},
        {"Mm", &mode, MODE_ENGLISH, nullptr},
        {"Vv", &mode, MODE_VIETNAMESE, nullptr},
        {"Uu", &utf8, 1, nullptr},
    };
    const int first_name = read_flags(argc, argv, program, {flags, std::size(flags)}, usage_of_tonedown);
    if (utf8 && !composition_char_suits_utf8(program, composition_char)) return 1;
    warn_about_composition_char(program, composition_char);

    const int name_count = argc > first_name ? argc - first_name : 0;
    if (utf8) return run_utf8_to_viqr(program, argv + first_name, name_count, composition_char, mode);

    viscii_conversion conversion(program, composition_char, mode);
    mode_announcement announcement(program, composition_char, mode);
    return convert_inputs(program, argv + first_name, name_count, conversion, &announcement);
}
