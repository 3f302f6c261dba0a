#include "tests/robustness/cases.hpp"

#include "tests/read_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace robustness {

using tests::read_file;
std::vector<Case> load_cases(const std::string& program) {
    std::vector<Case> cases;
    fs::path root = fs::path(TRANSCRIPTS_DIR) / program;
    if (!fs::exists(root)) return cases;
    for (const auto& entry : fs::directory_iterator(root)) {
        if (!entry.is_directory()) continue;
        Case c;
        c.program = program;
        c.name = entry.path().filename().string();
        c.folder = entry.path();
        read_file(c.folder / "input", c.input);
        bool compared = read_file(c.folder / "output", c.output);
        std::string text;
        if (read_file(c.folder / "status", text)) c.status = std::atoi(text.c_str());
        if (read_file(c.folder / "args", text)) {
            std::istringstream lines(text);
            for (std::string arg; std::getline(lines, arg);) c.args.push_back(arg);
        }
        c.valid =
            compared && !fs::exists(c.folder / "stderr") && !fs::exists(c.folder / "stdout-to");
        cases.push_back(std::move(c));
    }
    std::sort(cases.begin(), cases.end(),
              [](const Case& a, const Case& b) { return a.name < b.name; });
    return cases;
}

WorkFolder::WorkFolder(const Case& c) : previous_(fs::current_path()) {
    std::string pattern = (fs::temp_directory_path() / "robustness.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    if (fs::exists(c.folder / "files"))
        fs::copy(c.folder / "files", path_,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    if (fs::exists(c.folder / "setup")) {
        std::string command = "cd '" + path_.string() + "' && CASE_DIR='" + c.folder.string() +
                              "' bash '" + (c.folder / "setup").string() + "'";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("setup failed: " + c.name);
    }
    fs::current_path(path_);
}

WorkFolder::~WorkFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

}  // namespace robustness
