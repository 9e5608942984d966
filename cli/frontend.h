// What the three programs share on the command line: the name their messages
// are headed by, the loop over leading "-x" flags, the arguments every program
// answers alike (--help, --version, "-" and "--"), and the usage text.
#pragma once

#include <cstddef>

namespace viqr::cli {

// The name messages are headed by: the program as typed (argv[0]), or
// `fallback` when it was started without one (Linux then passes one empty
// argument).
const char *program_name(int argc, char **argv, const char *fallback);

// A usage text: the program's own lines, each ending in a newline, followed
// by the author and licence lines every program shares.  `program` is the
// program's own name, which --version reports whatever name it was run under.
struct usage_text {
    const char *program;
    const char *const *lines;
    std::size_t count;
};

// Writes the usage text to standard error and exits with status 1.
[[noreturn]] void usage(const usage_text &text);

// "--help" writes the usage text to standard output, "--version" one line
// "<program> (<project>) <version>, <licence line>", "--implementation" the
// name of the implementation the conversions run (see VIQR_IMPLEMENTATION in
// the manual pages); each then exits with
// status 0, or with status 1 after reporting a failed write.  Any other
// argument returns.
void answer_help_or_version(const char *argument, const char *program, const usage_text &text);

// Ends the program with a message and status 1 when VIQR_IMPLEMENTATION
// names an implementation of the conversions that this build lacks or this
// processor cannot run.
void refuse_unrunnable_implementation(const char *program);

// One leading flag: any of `letters` as the second byte of the argument
// stores `value` in `*target`; a flag with a `refusal` prints
// "<program>: <refusal>\n" and the usage text instead.
struct flag {
    const char *letters;
    int *target;
    int value;
    const char *refusal;
};

struct flag_table {
    const flag *flags;
    std::size_t count;
};

// Reads the leading arguments that begin with "-", each by its second byte,
// and returns the index of the first file name.  "--help" and "--version" are
// answered (see answer_help_or_version); a lone "-" is the first file name
// (standard input); "--" ends the flags and is itself skipped, so that the
// arguments after it are file names whatever they begin with.  Any other
// argument that no flag takes ends the program with
// "<program>: unknown option "<argument>"", the usage text and status 1.
int read_flags(int argc, char **argv, const char *program, const flag_table &flags, const usage_text &text);

// True when `argument` is spelled like a flag that the last read_flags would
// have taken ("--help" and "--version" included), so that an input file of
// that name is most likely a flag put after a file name.
bool spelled_like_a_flag(const char *argument);

}  // namespace viqr::cli
