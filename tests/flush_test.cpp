// Drives a real child process over pipes, as an expect-style client would: each prompt
// must be readable before the answer to it is written.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

struct Child {
    pid_t pid = -1;
    int in = -1;   // the child's standard input
    int out = -1;  // the child's standard output
    int err = -1;  // the child's standard error
};

enum class Sigpipe { Default, Ignored, Blocked };

struct Options {
    const char* stdin_path = nullptr;   // standard input from this file instead of a pipe
    const char* stdout_path = nullptr;  // standard output to this file instead of a pipe
    bool stdout_closed = false;         // no standard output at all
    bool stdout_socket = false;         // standard output a socket instead of a pipe
    bool merged = false;                // standard error into the standard output pipe
    Sigpipe sigpipe = Sigpipe::Default;
};

Child start(const Options& o = {}) {
    int in[2], out[2], err[2];
    EXPECT_EQ(::pipe(in), 0);
    EXPECT_EQ(o.stdout_socket ? ::socketpair(AF_UNIX, SOCK_STREAM, 0, out) : ::pipe(out), 0);
    EXPECT_EQ(::pipe(err), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(o.stdin_path != nullptr ? ::open(o.stdin_path, O_RDONLY) : in[0], 0);
        ::dup2(o.stdout_path != nullptr ? ::open(o.stdout_path, O_WRONLY) : out[1], 1);
        ::dup2(o.merged ? out[1] : err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        if (o.stdout_closed) ::close(1);
        ::signal(SIGPIPE, o.sigpipe == Sigpipe::Ignored ? SIG_IGN : SIG_DFL);
        sigset_t blocked;
        sigemptyset(&blocked);
        if (o.sigpipe == Sigpipe::Blocked) sigaddset(&blocked, SIGPIPE);
        ::sigprocmask(SIG_SETMASK, &blocked, nullptr);
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

// Closes the child's standard input (unless `keep_input`), waits at most `seconds` for it to
// end and returns its exit status, 128 + the signal that ended it, or -1 when it was still
// running (it is killed then).
int finish(Child& c, bool keep_input = false, double seconds = 10) {
    if (c.in >= 0 && !keep_input) ::close(c.in);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    bool ended = false;
    while (!(ended = ::waitpid(c.pid, &status, WNOHANG) == c.pid) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!ended) {
        ::kill(c.pid, SIGKILL);
        ::waitpid(c.pid, &status, 0);
    }
    if (c.in >= 0 && keep_input) ::close(c.in);
    if (c.out >= 0) ::close(c.out);
    ::close(c.err);
    if (!ended) return -1;
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
    Child c = start({.stdout_path = "/dev/full"});
    answer(c, "1 2\n");
    ::close(c.in);
    c.in = -1;
    EXPECT_EQ(read_until(c.err, "never"), "prompt_probe: write error: No space left on device\n");
    EXPECT_EQ(finish(c), 1);
}

TEST(Flush, NoStandardOutputAtAllIsAWriteError) {
    Child c = start({.stdout_closed = true});
    answer(c, "1 2\n");
    ::close(c.in);
    c.in = -1;
    EXPECT_EQ(read_until(c.err, "never"), "prompt_probe: write error: Bad file descriptor\n");
    EXPECT_EQ(finish(c), 1);
}

TEST(Flush, AMergedLogShowsEachPromptBeforeTheDiagnosticThatAnswersIt) {
    // The second prompt is still in the output buffer when "x" is refused: no read waits
    // between them, so only the flush before the diagnostic puts them in order.
    Child c = start({.merged = true});
    answer(c, "1\nx\n2\n");
    ::close(c.in);
    c.in = -1;
    EXPECT_EQ(read_until(c.out, "never"), "first number :second number :"
                                          "prompt_probe: please enter a whole number (got \"x\")\n"
                                          "sum 3");
    EXPECT_EQ(finish(c), 0);
}

TEST(Flush, AnInputThatCannotBeReadIsADiagnosticWithItsReason) {
    Child c = start({.stdin_path = "/"});  // read(2) of a folder fails with EISDIR
    EXPECT_EQ(read_until(c.err, "\n"), "prompt_probe: standard input: Is a directory\n");
    EXPECT_EQ(read_until(c.out, "never"), "first number :");
    EXPECT_EQ(finish(c), 1);
}

// `prompt_probe | head -c 14` at a terminal: the reader of the output goes away while the
// program waits for input that never comes. It must end at once, as a write would end it.
TEST(Flush, OutputWhoseReaderGoesWhileTheProgramWaitsEndsItAtOnce) {
    struct Case {
        Sigpipe sigpipe;
        bool socket;
        int status;
        std::string err;
    };
    const std::string broken = "prompt_probe: write error: Broken pipe\n";
    const Case cases[] = {
        {Sigpipe::Default, false, 128 + SIGPIPE, ""}, {Sigpipe::Ignored, false, 1, broken},
        {Sigpipe::Blocked, false, 1, broken},         {Sigpipe::Default, true, 128 + SIGPIPE, ""},
        {Sigpipe::Ignored, true, 1, broken},
    };
    for (const Case& k : cases) {
        Child c = start({.stdout_socket = k.socket, .sigpipe = k.sigpipe});
        EXPECT_EQ(read_until(c.out, "first number :"), "first number :");
        ::close(c.out);
        c.out = -1;
        EXPECT_EQ(read_until(c.err, "\n"), k.err);  // returns early when the pipe closes
        EXPECT_EQ(finish(c, true, 1), k.status)
            << static_cast<int>(k.sigpipe) << (k.socket ? " on a socket" : "");
    }
}

}  // namespace
