#include "check/case.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace check {

bool read_file(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

std::string without_line_feed(std::string text) {
    if (text.ends_with('\n')) text.pop_back();
    return text;
}

std::optional<Kind> parse_kind(const std::string& text) {
    const std::string word = without_line_feed(text);
    if (word == "exercise") return Kind::exercise;
    if (word == "collection") return Kind::collection;
    return std::nullopt;
}

const char* kind_name(Kind kind) { return kind == Kind::exercise ? "exercise" : "collection"; }

namespace {

// The text of an optional file of the case, or nothing when the case has no such file.
std::optional<std::string> optional_file(const fs::path& path) {
    std::string text;
    if (!read_file(path, text)) return std::nullopt;
    return text;
}

}  // namespace

std::optional<int> parse_status(const std::string& text) {
    const std::string digits = without_line_feed(text);
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    int value = std::stoi(digits);
    if (value > 255) return std::nullopt;
    return value;
}

Case load_case(const fs::path& folder) {
    Case c;
    c.folder = folder;
    c.name = folder.filename().string();
    std::string text;
    std::optional<Kind> kind;
    if (read_file(folder / "kind", text)) kind = parse_kind(text);
    if (!kind)
        throw std::runtime_error((folder / "kind").string() +
                                 ": missing, or not the one word exercise or collection");
    c.kind = *kind;
    c.input = optional_file(folder / "input");
    c.output = optional_file(folder / "output");
    c.error = optional_file(folder / "stderr");
    if (read_file(folder / "status", text)) {
        std::optional<int> status = parse_status(text);
        if (!status)
            throw std::runtime_error((folder / "status").string() +
                                     ": not an exit status from 0 to 255");
        c.status = *status;
    }
    c.status_open = fs::exists(folder / "status-open");
    if (read_file(folder / "args", text)) {
        std::istringstream lines(text);
        for (std::string arg; std::getline(lines, arg);) c.args.push_back(arg);
    }
    if (read_file(folder / "stdout-to", text)) c.stdout_to = without_line_feed(text);
    return c;
}

std::vector<Case> load_cases(const fs::path& program_folder) {
    std::vector<Case> cases;
    for (const auto& entry : fs::directory_iterator(program_folder))
        if (entry.is_directory()) cases.push_back(load_case(entry.path()));
    std::sort(cases.begin(), cases.end(),
              [](const Case& a, const Case& b) { return a.name < b.name; });
    return cases;
}

}  // namespace check
