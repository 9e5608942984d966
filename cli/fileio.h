// Descriptor I/O shared by the three programs: reads and writes that survive
// signals and short writes, and the messages that report their failures.
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace viqr::cli {

// read(2), retried while a signal interrupts it.
ssize_t read_retrying(int fd, void *buffer, std::size_t size);

// Writes all `size` bytes, continuing after short writes and retrying after
// signals.  Returns false with errno set when a write fails.
bool write_all(int fd, const void *buffer, std::size_t size);

// "<program>: can't read "<name>": <strerror>"
void report_read_failure(const char *program, const char *name, int error);
// "<program>: can't write "standard output": <strerror>"
void report_write_failure(const char *program, int error);
// "<program>: can't write "<name>": <strerror>"
void report_write_failure_to(const char *program, const char *name, int error);
// "<program>: can't open file "<name>": <strerror>"
void report_open_failure(const char *program, const char *name, int error);

// open(name, O_RDONLY) for an input file; a directory is refused here with
// EISDIR, as cat refuses it, rather than failing at the first read.
int open_input_file(const char *name);

// A lone "-" where a file name may stand: standard input, or in the output
// position of tonefix standard output.
inline bool names_standard_stream(const char *name) { return name[0] == '-' && name[1] == '\0'; }

// What read failures name when the input is standard input.
inline constexpr const char STANDARD_INPUT_NAME[] = "standard input";

// Chunk size of every program: as large as cat's, so that a filter in a
// pipeline makes few system calls; pipes and terminals still hand over what
// they have at once.
inline constexpr std::size_t CHUNK_SIZE = 128 * 1024;

// Outcome of reading every input of a converter.
enum class inputs_status { complete, open_failed, read_failed, write_failed };

// What convert_inputs calls by default before each input: nothing.
struct no_input_begins {
    void operator()(const char *) const {}
};

// Reads each named input in turn (standard input for a name "-", and when there
// are no names) in chunks of at most `size` bytes and hands every chunk to
// `convert(chunk, n)`, which returns false when writing its result failed (it
// reports that itself).  Before the first chunk of each input it calls
// `begin(name)`, with the name that messages use for that input.  An input
// that cannot be opened (a directory included) or read is reported here, and
// reading stops.
template <class Convert, class Begin = no_input_begins>
inputs_status convert_inputs(const char *program, char *const *names, int name_count, unsigned char *buffer,
                             std::size_t size, Convert convert, Begin begin = {});

}  // namespace viqr::cli

#include "fileio_inputs.h"
