#include "frontend.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "credits.h"
#include "fileio.h"
#include "implementation.h"

namespace viqr::cli {

const char *program_name(int argc, char **argv, const char *fallback) {
    return argc > 0 && argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : fallback;
}

namespace {

void write_usage(const usage_text &text, std::FILE *stream) {
    for (std::size_t i = 0; i < text.count; ++i) std::fputs(text.lines[i], stream);
    std::fputs(VIQR_TOOLS_AUTHOR_LINE, stream);
    std::fputs(VIQR_TOOLS_MAKER_LINE, stream);
}

// What was asked for is on standard output: a failed write (a full disk, a
// closed descriptor) must not pass for success.
[[noreturn]] void exit_after_answer(const char *program) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        report_write_failure(program, errno);
        std::exit(1);
    }
    std::exit(0);
}

const flag *find_flag(const flag_table &flags, char letter) {
    if (letter == '\0') return nullptr;
    for (std::size_t i = 0; i < flags.count; ++i)
        if (std::strchr(flags.flags[i].letters, letter) != nullptr) return &flags.flags[i];
    return nullptr;
}

// The flags of the program, kept by read_flags for spelled_like_a_flag; none
// once "--" has said that what follows are file names.
flag_table known_flags{nullptr, 0};
bool flags_ended_by_double_dash = false;

bool is_help_or_version(const char *argument) {
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "--version") == 0;
}

}  // namespace

void refuse_unrunnable_implementation(const char *program) {
    char problem[160];
    if (!viqr::detail::implementation_request_fails(problem, sizeof problem)) return;
    std::fprintf(stderr, "%s: %s\n", program, problem);
    std::exit(1);
}

void usage(const usage_text &text) {
    write_usage(text, stderr);
    std::exit(1);
}

void answer_help_or_version(const char *argument, const char *program, const usage_text &text) {
    if (std::strcmp(argument, "--help") == 0) {
        write_usage(text, stdout);
        exit_after_answer(program);
    }
    if (std::strcmp(argument, "--version") == 0) {
        std::printf("%s (%s) %s, %s\n", text.program, VIQR_TOOLS_NAME, VIQR_TOOLS_VERSION, VIQR_TOOLS_LICENCE_LINE);
        exit_after_answer(program);
    }
    if (std::strcmp(argument, "--implementation") == 0) {
        std::printf("%s\n", viqr::detail::active_implementation().name);
        exit_after_answer(program);
    }
}

int read_flags(int argc, char **argv, const char *program, const flag_table &flags, const usage_text &text) {
    known_flags = flags;
    int index = 1;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        const char *argument = argv[index];
        if (names_standard_stream(argument)) break;
        if (std::strcmp(argument, "--") == 0) {
            flags_ended_by_double_dash = true;
            return index + 1;
        }
        answer_help_or_version(argument, program, text);
        const flag *f = find_flag(flags, argument[1]);
        if (f == nullptr) {
            std::fprintf(stderr, "%s: unknown option \"%s\"\n", program, argument);
            usage(text);
        }
        if (f->refusal != nullptr) {
            std::fprintf(stderr, "%s: %s\n", program, f->refusal);
            usage(text);
        }
        *f->target = f->value;
    }
    return index;
}

}  // namespace viqr::cli

namespace viqr::cli {

bool spelled_like_a_flag(const char *argument) {
    if (argument[0] != '-' || names_standard_stream(argument) || flags_ended_by_double_dash) return false;
    return is_help_or_version(argument) || find_flag(known_flags, argument[1]) != nullptr;
}

}  // namespace viqr::cli
