// toneup: converts 7-bit VIQR text to 8-bit VISCII.
#include <cerrno>
#include <iterator>
#include <unistd.h>

#include "composition_warning.h"
#include "fileio.h"
#include "frontend.h"
#include "hints.h"
#include "utf8_front.h"
#include "viqr.h"

namespace {

using namespace viqr::cli;

// A context yields at most two bytes for each byte fed, and the typed reader
// may add what it kept back from the chunk before.
constexpr std::size_t OUTPUT_SIZE = viqr_typed_room(CHUNK_SIZE);
constexpr std::size_t FLUSH_SIZE = viqr_typed_room(0);

unsigned char input_buffer[CHUNK_SIZE];
unsigned char output_buffer[OUTPUT_SIZE];

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

}  // namespace

int main(int argc, char **argv) {
    const char *program = program_name(argc, argv, "toneup");
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

    utf8_input_hint hint(program, "reads and writes UTF-8");
    auto convert = [&](const unsigned char *chunk, std::size_t length) {
        hint.look(chunk, length);
        const std::size_t n = viqr_feed_chunk(context, chunk, length, output_buffer);
        return write_output(program, output_buffer, n);
    };
    const inputs_status status =
        convert_inputs(program, argv + first_name, name_count, input_buffer, CHUNK_SIZE, convert, [&](const char *name) {
            hint.begin(name);
            return true;
        });

    // A letter or escape still held belongs to the text read so far, also when
    // an input could not be opened or read.  After a failed write standard
    // output is no use any more.
    if (status == inputs_status::write_failed) return 1;
    static unsigned char flush_buffer[FLUSH_SIZE];
    int count = 0;
    viqr_flush(context, flush_buffer, count);
    const bool flushed = write_output(program, flush_buffer, static_cast<std::size_t>(count));
    return status == inputs_status::complete && flushed ? 0 : 1;
}
