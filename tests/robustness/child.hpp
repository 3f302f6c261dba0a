// Starting a built program as a child process, for the drivers that need a real process:
// real file descriptors, a real terminal, resource limits.
#pragma once

#include <sys/resource.h>

#include <functional>
#include <string>
#include <vector>

namespace robustness {

// The path of a built program.
std::string binary(const std::string& program);

// The argument vector that starts a built program: its path, then `args`.
class Argv {
public:
    Argv(const std::string& program, const std::vector<std::string>& args);
    ~Argv() = default;
    Argv(const Argv&) = delete;
    Argv& operator=(const Argv&) = delete;
    const char* path() const { return words_.front().c_str(); }
    char** get() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

struct Ended {
    bool finished = false;  // false: it was still running at the deadline and was killed
    bool signaled = false;
    int status = 0;   // exit status, or the signal's number when signaled
    std::string err;  // what it wrote on standard error
};

struct Launch {
    std::string program;
    std::vector<std::string> args;  // after the program's name
    int in = -1;                    // standard input (-1: /dev/null)
    int out = -1;                   // standard output (-1: /dev/null)
    bool ignore_sigpipe = false;
    long memory_limit = 0;  // RLIMIT_AS in bytes, 0 for none
    long file_limit = 0;    // RLIMIT_FSIZE in bytes, 0 for none
    double seconds = 10;    // deadline
    // Called in the parent once the child runs, for example to feed its input; the child's
    // pid is passed.
    std::function<void(int pid)> while_running;
};

// Runs the program in the current folder and waits for it to end, or kills it at the deadline.
Ended launch(const Launch& l);

}  // namespace robustness
