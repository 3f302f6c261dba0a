#include "tests/robustness/cases.hpp"

#include "check/case.hpp"

namespace fs = std::filesystem;

namespace robustness {

namespace {

// The case as the collection-check loader reads it.
check::Case full_case(const Case& c) { return check::load_case(c.folder); }

}  // namespace

std::vector<Case> load_cases(const std::string& program) {
    std::vector<Case> cases;
    fs::path root = fs::path(TRANSCRIPTS_DIR) / program;
    if (!fs::exists(root)) return cases;
    for (const check::Case& full : check::load_cases(root)) {
        Case c;
        c.program = program;
        c.name = full.name;
        c.folder = full.folder;
        c.input = full.input.value_or("");
        c.output = full.output.value_or("");
        c.status = full.status;
        c.args = full.args;
        c.valid = full.output && !full.error && full.stdout_to.empty();
        cases.push_back(std::move(c));
    }
    return cases;
}

WorkFolder::WorkFolder(const Case& c)
    : scratch_(full_case(c), std::chrono::seconds(60)), previous_(fs::current_path()) {
    fs::current_path(scratch_.path());
}

WorkFolder::~WorkFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

}  // namespace robustness
