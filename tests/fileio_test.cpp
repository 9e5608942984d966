// The reads and writes of the three programs under signals: an interval timer
// interrupts them every millisecond, its handler installed without
// SA_RESTART, so that a blocked read or write fails with EINTR or returns
// short.  The helpers must carry on until every byte is through.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fileio.h"

namespace {

using viqr::cli::read_retrying;
using viqr::cli::write_all;

volatile sig_atomic_t interruptions = 0;

// The other end of the test's pipe waits for a byte here, which the handler
// writes at the tenth interruption: by then the call under test has been
// interrupted while it waited, however the processes were scheduled.
int go_descriptor = -1;
constexpr int INTERRUPTIONS_BEFORE_GO = 10;

void count_interruption(int) {
    interruptions = interruptions + 1;
    if (interruptions == INTERRUPTIONS_BEFORE_GO && write(go_descriptor, "g", 1) != 1) _exit(3);
}

// SIGALRM every millisecond while it lives.
class interrupting_timer {
public:
    explicit interrupting_timer(int go) {
        interruptions = 0;
        go_descriptor = go;
        struct sigaction action {};
        action.sa_handler = count_interruption;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: the system call is interrupted
        sigaction(SIGALRM, &action, &previous_);
        const itimerval every_millisecond{{0, 1000}, {0, 1000}};
        setitimer(ITIMER_REAL, &every_millisecond, nullptr);
    }
    ~interrupting_timer() {
        const itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous_, nullptr);
    }
    interrupting_timer(const interrupting_timer &) = delete;
    interrupting_timer &operator=(const interrupting_timer &) = delete;

private:
    struct sigaction previous_;
};

// Blocks until the handler says go.
void wait_for_go(int go) {
    char byte;
    while (read(go, &byte, 1) < 0) {
    }
}

// Says go in any case once the call under test has returned, so that the
// other process never waits for ever when the call gave up early.
void say_go(int go) { EXPECT_EQ(write(go, "g", 1), 1); }

// Bytes that show where they stand, so that bytes out of place are seen.
std::string numbered_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

int exit_status_of(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A read that blocks until a writer hands over its bytes, which it does only
// after the read has been interrupted ten times.
TEST(FileIo, AReadInterruptedBySignalsWaitsForTheBytes) {
    int data_pipe[2], go_pipe[2];
    ASSERT_EQ(pipe(data_pipe), 0);
    ASSERT_EQ(pipe(go_pipe), 0);
    const std::string message = "the bytes at last";
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        close(data_pipe[0]);
        wait_for_go(go_pipe[0]);
        _exit(write(data_pipe[1], message.data(), message.size()) == ssize_t(message.size()) ? 0 : 1);
    }
    close(data_pipe[1]);
    char buffer[64];
    ssize_t n;
    {
        interrupting_timer timer(go_pipe[1]);
        n = read_retrying(data_pipe[0], buffer, sizeof buffer);
    }
    const int error = errno;
    say_go(go_pipe[1]);
    EXPECT_GE(interruptions, INTERRUPTIONS_BEFORE_GO);
    ASSERT_EQ(n, ssize_t(message.size())) << std::strerror(error);
    EXPECT_EQ(std::string(buffer, message.size()), message);
    EXPECT_EQ(exit_status_of(writer), 0);
}

// A megabyte into a pipe whose reader starts only after ten interruptions:
// the writes block on the full pipe and are interrupted, some before any byte
// went through (EINTR), some after part of the buffer did (a short write).
TEST(FileIo, AWriteInterruptedBySignalsDeliversEveryByteInOrder) {
    int data_pipe[2], go_pipe[2];
    ASSERT_EQ(pipe(data_pipe), 0);
    ASSERT_EQ(pipe(go_pipe), 0);
    const std::string data = numbered_bytes(1 << 20);
    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        close(data_pipe[1]);
        wait_for_go(go_pipe[0]);
        std::string received;
        char buffer[4096];
        for (ssize_t n; (n = read(data_pipe[0], buffer, sizeof buffer)) > 0;) received.append(buffer, std::size_t(n));
        _exit(received == data ? 0 : 1);
    }
    close(data_pipe[0]);
    bool written;
    {
        interrupting_timer timer(go_pipe[1]);
        written = write_all(data_pipe[1], data.data(), data.size());
    }
    const int error = errno;
    say_go(go_pipe[1]);
    close(data_pipe[1]);
    EXPECT_GE(interruptions, INTERRUPTIONS_BEFORE_GO);
    EXPECT_TRUE(written) << std::strerror(error);
    EXPECT_EQ(exit_status_of(reader), 0) << "the reader did not get every byte in order";
}

}  // namespace
