// tonedown: converts 8-bit VISCII text to 7-bit VIQR.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "credits.h"
#include "encoder.h"
#include "fileio.h"
#include "utf8_front.h"
#include "viqr.h"

namespace {

constexpr std::size_t CHUNK_SIZE = 1023;

unsigned char input_buffer[CHUNK_SIZE];
unsigned char output_buffer[encoder_output_size(CHUNK_SIZE)];

[[noreturn]] void usage() {
    std::fputs("Usage: tonedown [-com <c>] [-m|-v] [-u] [8-bit input file(s)]\n", stderr);
    std::fputs("              -com: <c> specifies the composition character, default is \"\\\"\n", stderr);
    std::fputs("              -m: specifies English mode output\n", stderr);
    std::fputs("              -v: specifies Vietnamese mode output (default)\n", stderr);
    std::fputs("              -u: reads UTF-8 instead of VISCII\n", stderr);
    std::fputs("\n", stderr);
    std::fputs("Purpose: Converts from 8-bit VISCII to 7-bit VIQR\n", stderr);
    std::fputs("Version: VISCII & VIQR 1.1\n", stderr);
    std::fputs(VIQR_TOOLS_AUTHOR_LINE, stderr);
    std::fputs(VIQR_TOOLS_MAKER_LINE, stderr);
    std::exit(1);
}

// Reads the leading "-x" flags; returns the index of the first file name.
int read_flags(int argc, char **argv, const char *program, int &mode, bool &utf8) {
    int index = 1;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        switch (argv[index][1]) {
        case 'L':
        case 'l':
            std::fprintf(stderr, "%s: conversion to LITERAL not suported.\n", program);
            usage();
        case 'M':
        case 'm':
            mode = MODE_ENGLISH;
            break;
        case 'V':
        case 'v':
            mode = MODE_VIETNAMESE;
            break;
        case 'U':
        case 'u':
            utf8 = true;
            break;
        default:
            std::fprintf(stderr, "%s: unknown option \"%s\"\n", program, argv[index]);
            usage();
        }
    }
    return index;
}

// The first two bytes of the output switch a VIQR reader into the mode used.
bool announce_mode(unsigned char composition_char, int mode) {
    std::printf(mode == MODE_ENGLISH ? "%cM" : "%cV", composition_char);
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

}  // namespace

int main(int argc, char **argv) {
    // Started without an argument vector (which Linux turns into one empty
    // argument), the program still needs a name for its messages.
    const char *program = argc > 0 && argv[0][0] != '\0' ? argv[0] : "tonedown";
    unsigned char composition_char = DEFAULT_COMPOSITION_CHAR;
    unsigned char overstrike_char = 0;  // -bs is accepted and has no effect here
    int mode = MODE_VIETNAMESE;
    bool utf8 = false;

    viqr_parse_options(argc, argv, composition_char, overstrike_char);
    const int first_name = read_flags(argc, argv, program, mode, utf8);

    if (!announce_mode(composition_char, mode)) {
        report_write_failure(program, errno);
        return 1;
    }

    const int name_count = argc > first_name ? argc - first_name : 0;
    if (utf8)
        return run_utf8_to_viqr(program, argv + first_name, name_count, composition_char, mode);

    encoder_history history;
    utf8_input_hint hint(program);
    auto convert = [&](const unsigned char *chunk, std::size_t length) {
        hint.look(chunk, length);
        const std::size_t n = viscii_to_viqr(chunk, length, output_buffer, composition_char, mode, history);
        if (write_all(STDOUT_FILENO, output_buffer, n)) return true;
        report_write_failure(program, errno);
        return false;
    };
    const inputs_status status = convert_inputs(program, argv + first_name, name_count, input_buffer, CHUNK_SIZE,
                                                convert, [&](const char *name) { hint.begin(name); });
    return status == inputs_status::complete ? 0 : 1;
}
