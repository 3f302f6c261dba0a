// Running a program on a case: a fresh working folder holding the case's files, and a child
// process with its standard streams wired as the case says, stopped at a time limit.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "check/case.hpp"

namespace check {

// A fresh folder under the temporary folder, holding a copy of the case's files/ and what
// its setup script made there. Removed, whatever it holds, when the object goes.
class Scratch {
public:
    // Makes the folder and runs the setup script (within `limit`); throws
    // std::runtime_error, with the script's diagnostics, when either fails.
    Scratch(const Case& c, std::chrono::milliseconds limit);
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    void remove();  // removes the folder and all it holds, whatever their permissions
    std::filesystem::path path_;
};

// What to start: argv[0] is the path of the file executed (no PATH search).
struct Launch {
    std::vector<std::string> argv;
    std::filesystem::path folder;  // the working folder
    std::filesystem::path input;   // empty: standard input is /dev/null
    std::string stdout_to;         // empty: standard output is captured
};

struct Outcome {
    std::string start_error;  // not empty when the program could not be started
    bool finished = false;    // false: stopped at the time limit
    bool signaled = false;    // killed by the signal `code`; otherwise it exited with `code`
    int code = 0;
    std::string out, err;
};

// Runs the program to its end, or kills it (with every process it started in its process
// group) when `limit` has passed. Captures standard output and standard error.
Outcome run(const Launch& launch, std::chrono::milliseconds limit);

// The file that running `name` executes: the name itself made absolute when it holds a
// slash, otherwise the first executable file of that name in a folder of PATH. Throws
// std::runtime_error saying why when there is none.
std::filesystem::path find_executable(const std::string& name);

}  // namespace check
