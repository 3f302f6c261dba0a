// The transcript cases as the robustness drivers read them (the folder format is that of
// check/case.hpp, read by the same loader).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "check/run.hpp"

namespace robustness {

struct Case {
    std::string program;
    std::string name;
    std::filesystem::path folder;
    std::string input;
    std::string output;
    int status = 0;
    std::vector<std::string> args;
    // Valid input: no diagnostic is expected and standard output is compared, so every
    // read of the session takes what it is given at the first try.
    bool valid = false;
};

// The cases of one program, in name order.
std::vector<Case> load_cases(const std::string& program);

// A fresh working folder holding a case's files (after its setup script), made the current
// folder for as long as the object lives.
class WorkFolder {
public:
    explicit WorkFolder(const Case& c);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const std::filesystem::path& path() const { return scratch_.path(); }

private:
    check::Scratch scratch_;
    std::filesystem::path previous_;
};

}  // namespace robustness
