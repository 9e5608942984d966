// Runs a built program the way a shell would and captures everything it does:
// standard output and standard error as bytes, and the exit status.
#pragma once

#include <iterator>
#include <ostream>
#include <string>
#include <vector>

struct run_result {
    std::string out;
    std::string err;
    int status = -1;   // exit status, or 128 + signal number when killed
};

// Where a child's standard streams come from and go to, and where it runs.
struct process_io {
    std::string input = "";         // bytes on standard input
    std::string input_path = "";    // when not empty, this file (or folder) is standard input instead
    std::string output_path = "";   // when not empty, standard output goes here and is not captured
    std::string directory = "";     // the child's working directory when not empty
    bool bound_by_permissions = false;  // the child cannot override file permissions, even as root
};

// The one way the tests start a process: executes `file` with exactly the
// argument vector `argv` (which may be empty, so that the program gets no name
// at all) and the environment of the test, and waits for it.
run_result run_process(const std::string &file, const std::vector<std::string> &argv, const process_io &io = {});

// Runs `program` with `args` (argv[0] is `program` unless `argv0` is given),
// feeding `input` on standard input.  The child's working directory is
// `directory` when it is not empty.
run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       const std::string &input = "", const std::string &argv0 = "",
                       const std::string &directory = "");

// Runs `command` with /bin/sh -c, for redirections such as ">&-" or ">/dev/full".
run_result run_shell(const std::string &command, const std::string &input = "");

// `word` as one word of a shell command line, whatever bytes it holds.
std::string shell_quote(const std::string &word);

// What a pipeline did: the last stage's standard output, and the standard
// error and exit status of every stage in order (their `out` stays empty).
struct pipeline_result {
    std::string out;
    std::vector<run_result> stages;
};

// Runs the shell commands `stages` joined by pipes (`input` goes to the first),
// keeping each stage's standard error and status apart, so that a test can
// see a failure anywhere in the pipeline and not only in its last program.
pipeline_result run_pipeline(const std::vector<std::string> &stages, const std::string &input = "");

// Checks that every stage of a pipeline ended with status 0 and said nothing.
void expect_clean_stages(const pipeline_result &r);

// Runs `command` with /bin/sh, standard output going to the file `path`, under
// a file size limit of one block (ulimit -f 1) with SIGXFSZ ignored: a write
// that reaches past the limit is cut short, and the next one fails with EFBIG.
run_result run_under_file_size_limit(const std::string &command, const std::string &path,
                                     const std::string &input = "");

// How many bytes that limit lets into a file, as cat finds it.
std::size_t file_size_limit();

// One run of a program as a table row: its arguments and standard input, and
// what it must write on standard output and standard error, and its status.
// `program` names the program when one table holds rows for several.
struct cli_case {
    std::vector<std::string> args;
    std::string input;
    std::string out;
    std::string err;
    int status;
    std::string program = "";
};

// Shows a failing row as its arguments and input rather than raw memory; a
// row that names its program is shown by its number of arguments, which may
// be thousands.
void PrintTo(const cli_case &c, std::ostream *os);

// The rows of a table with their program column filled in.
template <std::size_t N>
std::vector<cli_case> rows_of(const std::string &program, const cli_case (&table)[N]) {
    std::vector<cli_case> rows(std::begin(table), std::end(table));
    for (cli_case &row : rows) row.program = program;
    return rows;
}

// Checks the three outcomes of a run against a row.
void expect_outcome(const run_result &r, const cli_case &c);

// A fresh, empty folder under the system's temporary folder, removed with its
// contents when the object goes away.
// As run_program, but the program cannot override file permissions, even when
// the tests run as root: the child gives up CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH for good before it starts the program.  Status
// CANNOT_DROP_OVERRIDE when this system does not let it.
run_result run_bound_by_permissions(const std::string &program, const std::vector<std::string> &args,
                                    const std::string &input = "", const std::string &argv0 = "",
                                    const std::string &directory = "");
inline constexpr int CANNOT_DROP_OVERRIDE = 124;

// Empty when run_bound_by_permissions really is refused a file of mode 000
// here; otherwise the reason why not, for a test to skip with.
std::string permission_denial_unavailable();

class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;
    const std::string &path() const { return path_; }
    // Writes `bytes` to the file `name` inside the folder; returns its path.
    std::string write(const std::string &name, const std::string &bytes) const;
    std::string read(const std::string &name) const;
    // As write, then takes away every permission (mode 000).
    std::string write_unreadable(const std::string &name, const std::string &bytes) const;

private:
    std::string path_;
};

// Every byte value in order, 0x00 to 0xFF.
std::string all_bytes();

// Where the build put the programs.
std::string program_path(const std::string &name);
