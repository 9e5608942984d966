// toneup: converts 7-bit VIQR text to 8-bit VISCII.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "credits.h"
#include "fileio.h"
#include "viqr.h"

namespace {

constexpr std::size_t CHUNK_SIZE = 1024;
// A context yields at most two bytes for each byte fed; the typed reader may
// add what it kept back from the chunk before.
constexpr std::size_t OUTPUT_SIZE = viqr_typed_room(CHUNK_SIZE);
constexpr std::size_t FLUSH_SIZE = viqr_typed_room(0);

unsigned char input_buffer[CHUNK_SIZE];
unsigned char output_buffer[OUTPUT_SIZE];

[[noreturn]] void usage() {
    std::fputs("Usage: toneup [-com <c>] [-v|-m|-l] [7-bit input file(s)]\n", stderr);
    std::fputs("              -com: <c> specifies the composition character, default is \"\\\"\n", stderr);
    std::fputs("              -v: sets the initial state to Vietnamese\n", stderr);
    std::fputs("              -m: sets the initial state to English\n", stderr);
    std::fputs("              -l: sets the initial state to Literal\n", stderr);
    std::fputs("              -t: reads VIQR as people type it, without escapes\n", stderr);
    std::fputs("\n", stderr);
    std::fputs("Purpose: Converts from 7-bit VIQR to 8-bit VISCII\n", stderr);
    std::fputs("Version: VISCII & VIQR 1.1\n", stderr);
    std::fputs(VIQR_TOOLS_AUTHOR_LINE, stderr);
    std::fputs(VIQR_TOOLS_MAKER_LINE, stderr);
    std::exit(1);
}

// Reads the leading "-x" flags; returns the index of the first file name.
int read_flags(int argc, char **argv, const char *program, int &mode, bool &typed) {
    int index = 1;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        switch (argv[index][1]) {
        case 'L':
        case 'l':
            mode = MODE_LITERAL;
            break;
        case 'M':
        case 'm':
            mode = MODE_ENGLISH;
            break;
        case 'V':
        case 'v':
            mode = MODE_VIETNAMESE;
            break;
        case 't':
            typed = true;
            break;
        default:
            std::fprintf(stderr, "%s: unknown option \"%s\"\n", program, argv[index]);
            usage();
        }
    }
    return index;
}

bool write_output(const char *program, const unsigned char *bytes, std::size_t length) {
    if (write_all(STDOUT_FILENO, bytes, length)) return true;
    report_write_failure(program, errno);
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    // Started without an argument vector (which Linux turns into one empty
    // argument), the program still needs a name for its messages.
    const char *program = argc > 0 && argv[0][0] != '\0' ? argv[0] : "toneup";
    unsigned char composition_char = DEFAULT_COMPOSITION_CHAR;
    unsigned char overstrike_char = DEFAULT_OVERSTRIKE_CHAR;
    int mode = MODE_VIETNAMESE;
    bool typed = false;

    viqr_parse_options(argc, argv, composition_char, overstrike_char);
    const int first_name = read_flags(argc, argv, program, mode, typed);

    // The first context of the process: always free.
    const int context = viqr_open(mode, composition_char, overstrike_char);
    viqr_set(context, 1, VIQR_PARAM_HOLD);
    if (typed) viqr_set(context, 1, VIQR_PARAM_TYPED);

    auto convert = [&](const unsigned char *chunk, std::size_t length) {
        const std::size_t n = viqr_feed_chunk(context, chunk, length, output_buffer);
        return write_output(program, output_buffer, n);
    };
    const int name_count = argc > first_name ? argc - first_name : 0;
    const inputs_status status =
        convert_inputs(program, argv + first_name, name_count, input_buffer, CHUNK_SIZE, convert);

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
