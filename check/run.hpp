// Running a program on a case: a fresh working folder holding the case's files, then one
// contained run of the program (check/sandbox.hpp) with the case's streams and arguments.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "check/case.hpp"
#include "check/sandbox.hpp"

namespace check {

// A fresh folder in the checker's run folder, holding a copy of the case's files/ and what
// its setup script made there; a file system of its own, limited in size, where the sandbox
// allows it. Removed, whatever it holds, when the object goes.
class Scratch {
public:
    // Makes the folder and runs the setup script (within `limit`); throws
    // std::runtime_error, with the script's diagnostics, when either fails.
    Scratch(const Case& c, std::chrono::milliseconds limit, const Limits& limits = Limits());
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Removes the folder now; what kept it from going, or "" when it went.
    std::string remove();

private:
    std::filesystem::path path_;
    bool mounted_ = false;
    bool removed_ = false;
};

// Removes the folder and all it holds, whatever their permissions and however deep; what
// kept something from going, or "" when all went.
std::string remove_tree(const std::filesystem::path& folder);

// Runs the program `command` (its file first, then its arguments) on case `c` in `scratch`,
// with `env` added to the sandbox's fixed environment.
Outcome run_case(const Case& c, const std::vector<std::string>& command, const Scratch& scratch,
                 const Limits& limits, const Containment& containment,
                 const std::vector<std::string>& env = {});

// The file that running `name` executes: the name itself made absolute when it holds a
// slash, otherwise the first executable file of that name in a folder of PATH. Throws
// std::runtime_error saying why when there is none.
std::filesystem::path find_executable(const std::string& name);

}  // namespace check
