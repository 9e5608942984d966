#include "process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
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

// Runs argv with standard input, output and error on three files of `dir`.
run_result run_with_files(const std::vector<std::string> &argv, const char *file, const std::string &input,
                          const std::string &directory) {
    scratch_dir io;
    const std::string in = io.write("stdin", input);
    const std::string out = io.path() + "/stdout", err = io.path() + "/stderr";

    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (!freopen(in.c_str(), "rb", stdin) || !freopen(out.c_str(), "wb", stdout) ||
            !freopen(err.c_str(), "wb", stderr))
            _exit(125);
        if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(125);
        execv(file, args.data());
        _exit(126);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    run_result r;
    r.out = read_file(out);
    r.err = read_file(err);
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return r;
}

}  // namespace

run_result run_program(const std::string &program, const std::vector<std::string> &args, const std::string &input,
                       const std::string &argv0, const std::string &directory) {
    std::vector<std::string> argv{argv0.empty() ? program : argv0};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_with_files(argv, program.c_str(), input, directory);
}

run_result run_nameless(const std::string &program, const char *argv0, const std::string &input_path) {
    scratch_dir io;
    const std::string err = io.path() + "/stderr";
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = open(input_path.c_str(), O_RDONLY);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || e < 0 || dup2(in, 0) < 0 || dup2(e, 2) < 0) _exit(125);
        char *argv[] = {const_cast<char *>(argv0), nullptr};
        char *envp[] = {nullptr};
        execve(program.c_str(), argv, envp);
        _exit(126);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    run_result r;
    r.err = io.read("stderr");
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return r;
}

run_result run_shell(const std::string &command, const std::string &input) {
    return run_with_files({"sh", "-c", command}, "/bin/sh", input, "");
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

std::string scratch_dir::read(const std::string &name) const { return read_file(path_ + "/" + name); }

std::string all_bytes() {
    std::string bytes(256, '\0');
    for (int b = 0; b < 256; ++b) bytes[b] = static_cast<char>(b);
    return bytes;
}

std::string program_path(const std::string &name) { return std::string(VIQR_PROGRAM_DIR) + "/" + name; }

void PrintTo(const cli_case &c, std::ostream *os) {
    *os << "args " << testing::PrintToString(c.args) << ", input " << testing::PrintToString(c.input);
}

void expect_outcome(const run_result &r, const cli_case &c) {
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.status, c.status);
}
