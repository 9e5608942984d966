// Descriptor I/O shared by the three programs: reads and writes that survive
// signals and short writes, and the messages that report their failures.
#pragma once

#include <cstddef>
#include <sys/types.h>
#include <unistd.h>

#include "buffer_sizes.h"

namespace viqr::cli {

// read(2), retried while a signal interrupts it.
ssize_t read_retrying(int fd, void *buffer, std::size_t size);

// Writes all `size` bytes, continuing after short writes and retrying after
// signals.  Returns false with errno set when a write fails.
bool write_all(int fd, const void *buffer, std::size_t size);

// Where a program writes its text: a descriptor, and the name its failures
// are reported under.
struct output_file {
    int fd;
    const char *name;
};
inline constexpr output_file STANDARD_OUTPUT = {STDOUT_FILENO, "standard output"};

// Writes all `length` bytes to `output`; a failure is reported ("can't write
// "<name>"") and returns false.
bool write_output(const char *program, const output_file &output, const unsigned char *bytes, std::size_t length);

// "<program>: can't read "<name>": <strerror>"
void report_read_failure(const char *program, const char *name, int error);
// "<program>: can't write "standard output": <strerror>"
void report_write_failure(const char *program, int error);
// "<program>: can't write "<name>": <strerror>"
void report_write_failure(const char *program, const char *name, int error);
// "<program>: can't open file "<name>": <strerror>", and when the name is
// spelled like one of the program's flags, " (options must come before file
// names)": a flag after a file name is taken as a file.
void report_open_failure(const char *program, const char *name, int error);

// True when `fd` reads the regular file that standard output writes to.
// Converting it would read back what was just written, and appending to it
// would grow it without end, so the programs refuse such an input, as cat does.
bool is_standard_output_file(int fd);
// "<program>: "<name>": input file is output file"
void report_input_is_output(const char *program, const char *name);

// open(name, O_RDONLY) for an input file; a directory is refused here with
// EISDIR, as cat refuses it, rather than failing at the first read.
int open_input_file(const char *name);

// A lone "-" where a file name may stand: standard input, or in the output
// position of tonefix standard output.
inline bool names_standard_stream(const char *name) { return name[0] == '-' && name[1] == '\0'; }

// What read failures name when the input is standard input.
inline constexpr const char STANDARD_INPUT_NAME[] = "standard input";

}  // namespace viqr::cli

