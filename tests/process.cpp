#include "process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Root passes permission checks by two capabilities.  A program started by
// root gets every capability of the bounding set and the inheritable set, so
// both lose these two; an ordinary user has neither to lose.
bool drop_permission_override() {
    if (geteuid() != 0) return true;
    for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        data[CAP_TO_INDEX(capability)].inheritable &= ~CAP_TO_MASK(capability);
    return syscall(SYS_capset, &header, data) == 0;
}

int exit_status(int wstatus) { return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus); }

}  // namespace

// Standard streams go through files rather than pipes, so that a child that
// writes much and reads little can never block on the test.
run_result run_process(const std::string &file, const std::vector<std::string> &argv, const process_io &io) {
    scratch_dir streams;
    const std::string in = io.input_path.empty() ? streams.write("stdin", io.input) : io.input_path;
    const std::string out = io.output_path.empty() ? streams.path() + "/stdout" : io.output_path;
    const std::string err = streams.path() + "/stderr";

    // Everything the child needs is made before the fork.
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int fds[3] = {open(in.c_str(), O_RDONLY), open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                            open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
        for (int fd = 0; fd < 3; ++fd)
            if (fds[fd] < 0 || dup2(fds[fd], fd) < 0) _exit(125);
        if (!io.directory.empty() && chdir(io.directory.c_str()) != 0) _exit(125);
        if (io.bound_by_permissions && !drop_permission_override()) _exit(CANNOT_DROP_OVERRIDE);
        execve(file.c_str(), args.data(), environ);
        _exit(126);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    run_result r;
    r.out = io.output_path.empty() ? read_file(out) : "";
    r.err = read_file(err);
    r.status = exit_status(wstatus);
    return r;
}

run_result run_program(const std::string &program, const std::vector<std::string> &args, const std::string &input,
                       const std::string &argv0, const std::string &directory) {
    std::vector<std::string> argv{argv0.empty() ? program : argv0};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(program, argv, {.input = input, .directory = directory});
}

run_result run_bound_by_permissions(const std::string &program, const std::vector<std::string> &args,
                                    const std::string &input, const std::string &argv0,
                                    const std::string &directory) {
    std::vector<std::string> argv{argv0.empty() ? program : argv0};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(program, argv, {.input = input, .directory = directory, .bound_by_permissions = true});
}

std::string permission_denial_unavailable() {
    scratch_dir dir;
    dir.write_unreadable("locked", "secret");
    const run_result r = run_bound_by_permissions("/bin/cat", {"locked"}, "", "cat", dir.path());
    if (r.status == CANNOT_DROP_OVERRIDE) return "this system does not let the tests give up overriding permissions";
    if (r.status == 0) return "a file of mode 000 can still be read here";
    return "";
}

run_result run_shell(const std::string &command, const std::string &input) {
    return run_process("/bin/sh", {"sh", "-c", command}, {.input = input});
}

std::string shell_quote(const std::string &word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

pipeline_result run_pipeline(const std::vector<std::string> &stages, const std::string &input) {
    scratch_dir dir;
    std::string command;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        const std::string n = std::to_string(i);
        if (i > 0) command += " | ";
        command += "{ " + stages[i] + " 2> " + shell_quote(dir.path() + "/err" + n) + "; echo $? > " +
                   shell_quote(dir.path() + "/status" + n) + "; }";
    }
    const run_result shell = run_shell(command, input);
    EXPECT_EQ(shell.err, "") << "the shell running the pipeline";
    pipeline_result r;
    r.out = shell.out;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        run_result stage;
        stage.err = dir.read("err" + std::to_string(i));
        const std::string status = dir.read("status" + std::to_string(i));
        stage.status = status.empty() ? -1 : std::stoi(status);
        r.stages.push_back(stage);
    }
    return r;
}

void expect_clean_stages(const pipeline_result &r) {
    for (std::size_t i = 0; i < r.stages.size(); ++i) {
        EXPECT_EQ(r.stages[i].status, 0) << "stage " << i + 1 << " of the pipeline";
        EXPECT_EQ(r.stages[i].err, "") << "stage " << i + 1 << " of the pipeline";
    }
}

run_result run_under_file_size_limit(const std::string &command, const std::string &path, const std::string &input) {
    return run_shell("trap '' XFSZ; ulimit -f 1; " + command + " > " + shell_quote(path), input);
}

std::size_t file_size_limit() {
    static const std::size_t limit = [] {
        scratch_dir dir;
        run_under_file_size_limit("cat", dir.path() + "/out", std::string(1 << 16, 'x'));
        return dir.read("out").size();
    }();
    return limit;
}

scratch_dir::scratch_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "viqr-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string scratch_dir::write(const std::string &name, const std::string &bytes) const {
    const std::string path = path_ + "/" + name;
    write_file(path, bytes);
    return path;
}

std::string scratch_dir::write_unreadable(const std::string &name, const std::string &bytes) const {
    const std::string path = write(name, bytes);
    std::filesystem::permissions(path, std::filesystem::perms::none);
    return path;
}

std::string scratch_dir::read(const std::string &name) const { return read_file(path_ + "/" + name); }

std::string all_bytes() {
    std::string bytes(256, '\0');
    for (int b = 0; b < 256; ++b) bytes[b] = static_cast<char>(b);
    return bytes;
}

std::string program_path(const std::string &name) { return std::string(VIQR_PROGRAM_DIR) + "/" + name; }

void PrintTo(const cli_case &c, std::ostream *os) {
    // Unique within a table, short enough for ctest, and free of the semicolon
    // that separates names in ctest's lists: the program, its arguments (the
    // first three, each cut to 12 bytes) and its input.
    if (c.program.empty()) {
        *os << "args " << testing::PrintToString(c.args);
    } else {
        *os << c.program << " with " << c.args.size() << (c.args.size() == 1 ? " argument" : " arguments");
        for (std::size_t i = 0; i < c.args.size() && i < 3; ++i) {
            const std::string &a = c.args[i];
            *os << (i == 0 ? " " : ", ") << testing::PrintToString(a.substr(0, 12));
            if (a.size() > 12) *os << " (" << a.size() << " bytes)";
        }
        if (c.args.size() > 3) *os << ", ...";
    }
    *os << ", input " << testing::PrintToString(c.input);
}

void expect_outcome(const run_result &r, const cli_case &c) {
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
}
