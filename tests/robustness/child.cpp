#include "tests/robustness/child.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace robustness {

std::string binary(const std::string& program) { return std::string(BIN_DIR) + "/" + program; }

Argv::Argv(const std::string& program, const std::vector<std::string>& args)
    : words_{binary(program)} {
    words_.insert(words_.end(), args.begin(), args.end());
    for (std::string& w : words_) pointers_.push_back(w.data());
    pointers_.push_back(nullptr);
}

Ended launch(const Launch& l) {
    int err_pipe[2];
    if (::pipe(err_pipe) != 0) return {};
    Argv argv(l.program, l.args);

    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(l.in >= 0 ? l.in : null, 0);
        ::dup2(l.out >= 0 ? l.out : null, 1);
        ::dup2(err_pipe[1], 2);
        ::close(err_pipe[0]);
        ::close(err_pipe[1]);
        ::signal(SIGPIPE, l.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        if (l.memory_limit > 0) {
            rlimit limit{static_cast<rlim_t>(l.memory_limit), static_cast<rlim_t>(l.memory_limit)};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (l.file_limit > 0) {
            rlimit limit{static_cast<rlim_t>(l.file_limit), static_cast<rlim_t>(l.file_limit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execv(argv.path(), argv.get());
        ::_exit(127);
    }
    ::close(err_pipe[1]);
    if (l.while_running) l.while_running(pid);

    Ended e;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<long>(l.seconds * 1000));
    int wait_status = 0;
    for (;;) {
        pollfd p{err_pipe[0], POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) {
            char chunk[4096];
            ssize_t n = ::read(err_pipe[0], chunk, sizeof chunk);
            if (n > 0) e.err.append(chunk, static_cast<std::size_t>(n));
        }
        pid_t done = ::waitpid(pid, &wait_status, WNOHANG);
        if (done == pid) {
            e.finished = true;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &wait_status, 0);
            break;
        }
    }
    for (;;) {  // what is left on standard error
        char chunk[4096];
        ssize_t n = ::read(err_pipe[0], chunk, sizeof chunk);
        if (n <= 0) break;
        e.err.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(err_pipe[0]);
    e.signaled = WIFSIGNALED(wait_status);
    e.status = e.signaled ? WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
    return e;
}

}  // namespace robustness
