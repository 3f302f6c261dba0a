// Drives a real child process over pipes, as an expect-style client would: each prompt
// must be readable before the answer to it is written.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

struct Child {
    pid_t pid = -1;
    int in = -1;   // the child's standard input
    int out = -1;  // the child's standard output
    int err = -1;  // the child's standard error
};

Child start(const char* stdout_path = nullptr) {
    int in[2], out[2], err[2];
    EXPECT_EQ(::pipe(in), 0);
    EXPECT_EQ(::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        if (stdout_path != nullptr)
            ::dup2(::open(stdout_path, O_WRONLY), 1);
        else
            ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        ::execl(PROMPT_PROBE, PROMPT_PROBE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    return Child{pid, in[1], out[0], err[0]};
}

// Reads from `fd` until `text` has arrived, the pipe closes, or two seconds pass.
std::string read_until(int fd, const std::string& text) {
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (got.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char chunk[256];
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        got.append(chunk, static_cast<std::size_t>(n));
    }
    return got;
}

void answer(const Child& c, const char* text) {
    ASSERT_EQ(::write(c.in, text, std::strlen(text)), static_cast<ssize_t>(std::strlen(text)));
}

int finish(Child& c) {
    if (c.in >= 0) ::close(c.in);
    int status = 0;
    ::waitpid(c.pid, &status, 0);
    ::close(c.out);
    ::close(c.err);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Flush, EveryPromptArrivesBeforeTheProgramWaitsForItsAnswer) {
    Child c = start();
    EXPECT_EQ(read_until(c.out, "first number :"), "first number :");
    answer(c, "3\n");
    EXPECT_EQ(read_until(c.out, "second number :"), "second number :");
    answer(c, "4\n");
    ::close(c.in);
    c.in = -1;
    EXPECT_EQ(read_until(c.out, "never"), "sum 7");
    EXPECT_EQ(finish(c), 0);
}

TEST(Flush, EndOfInputAtAPromptShowsThePromptThenEndsWithStatusOne) {
    Child c = start();
    EXPECT_EQ(read_until(c.out, "first number :"), "first number :");
    ::close(c.in);
    c.in = -1;
    EXPECT_EQ(read_until(c.err, "\n"), "prompt_probe: unexpected end of input\n");
    EXPECT_EQ(read_until(c.out, "never"), "");
    EXPECT_EQ(finish(c), 1);
}

TEST(Flush, RefusedInputIsADiagnosticAndTheSameReadIsTriedAgain) {
    Child c = start();
    EXPECT_EQ(read_until(c.out, ":"), "first number :");
    answer(c, "x\n");
    EXPECT_EQ(read_until(c.err, "\n"), "prompt_probe: please enter a whole number (got \"x\")\n");
    answer(c, "5 6\n");
    ::close(c.in);
    c.in = -1;
    EXPECT_EQ(read_until(c.out, "never"), "second number :sum 11");
    EXPECT_EQ(finish(c), 0);
}

TEST(Flush, OutputThatCannotBeWrittenIsAWriteErrorAndStatusOne) {
    Child c = start("/dev/full");
    answer(c, "1 2\n");
    ::close(c.in);
    c.in = -1;
    EXPECT_EQ(read_until(c.err, "never"), "prompt_probe: write error: No space left on device\n");
    EXPECT_EQ(finish(c), 1);
}

}  // namespace
