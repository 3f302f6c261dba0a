#include "check/case.hpp"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

namespace {

// Reads the open file `fd` (closed here) as a case's file must be: a regular file, at most
// kMaxCaseFile bytes.
bool read_open_file(int fd, const fs::path& path, std::string& text) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw std::runtime_error(path.string() + ": not a regular file");
    }
    std::string all;
    char chunk[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) {
        if (all.size() + static_cast<std::size_t>(got) > kMaxCaseFile) {
            ::close(fd);
            throw std::runtime_error(path.string() + ": larger than a case's file may be");
        }
        all.append(chunk, static_cast<std::size_t>(got));
    }
    const int error = errno;
    ::close(fd);
    if (got < 0) throw std::runtime_error(path.string() + ": " + std::strerror(error));
    text = std::move(all);
    return true;
}

}  // namespace

bool read_case_file(const fs::path& path, std::string& text) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return false;
        throw std::runtime_error(
            path.string() + ": " +
            (errno == ELOOP ? "a symbolic link, not a file" : std::strerror(errno)));
    }
    return read_open_file(fd, path, text);
}

bool read_beneath(const fs::path& folder, const std::string& path, std::string& text) {
    int dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) throw std::runtime_error(folder.string() + ": " + std::strerror(errno));
    open_how how{};
    how.flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    int fd = static_cast<int>(::syscall(SYS_openat2, dir, path.c_str(), &how, sizeof how));
    const int error = errno;
    ::close(dir);
    if (fd < 0) {
        if (error == ENOENT) return false;
        throw std::runtime_error(path + ": " +
                                 (error == ELOOP || error == EXDEV
                                      ? "reached through a symbolic link"
                                      : std::strerror(error)));
    }
    return read_open_file(fd, folder / path, text);
}

const char* kind_name(Kind kind) { return kind == Kind::exercise ? "exercise" : "collection"; }

std::optional<Compare> parse_compare(const std::string& text) {
    const std::string word = without_line_feed(text);
    for (Compare c : {Compare::exact, Compare::blanks, Compare::checker})
        if (word == compare_name(c)) return c;
    return std::nullopt;
}

const char* compare_name(Compare compare) {
    switch (compare) {
    case Compare::exact:
        return "exact";
    case Compare::blanks:
        return "blanks";
    case Compare::checker:
        return "checker";
    }
    return "exact";  // GCOVR_EXCL_LINE: every value is named above
}

namespace {

// The text of an optional file of the case, or nothing when the case has no such file.
std::optional<std::string> optional_file(const fs::path& path) {
    std::string text;
    if (!read_case_file(path, text)) return std::nullopt;
    return text;
}

// The entries below `folder` (files/ or after/), parents first, in name order; only
// regular files when `files_only`. Throws for anything a case may not hold there.
std::vector<Entry> load_entries(const fs::path& folder, bool files_only) {
    std::vector<Entry> entries;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return entries;
    if (!S_ISDIR(st.st_mode)) throw std::runtime_error(folder.string() + ": not a folder");
    std::vector<fs::path> found;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it)
        found.push_back(it->path());
    std::sort(found.begin(), found.end());
    for (const fs::path& path : found) {
        if (::lstat(path.c_str(), &st) != 0)
            throw std::runtime_error(path.string() + ": " + std::strerror(errno));
        Entry e;
        e.path = fs::relative(path, folder).generic_string();
        e.mode = st.st_mode & 07777;
        if (S_ISDIR(st.st_mode)) {
            e.type = Entry::Type::folder;
        } else if (S_ISLNK(st.st_mode)) {
            e.type = Entry::Type::link;
            e.content = fs::read_symlink(path).string();
        } else if (S_ISREG(st.st_mode)) {
            read_case_file(path, e.content);
        } else {
            throw std::runtime_error(path.string() + ": not a regular file");
        }
        if (files_only && e.type == Entry::Type::link)
            throw std::runtime_error(path.string() + ": a symbolic link, not a file");
        if (!files_only || e.type == Entry::Type::file) entries.push_back(std::move(e));
    }
    return entries;
}

// Checks the case's `checker` file against its comparison: with "compare checker", an
// executable regular file, not a link; otherwise, none at all (a checker that would never
// run is a mistake the teacher wants to hear of). Throws std::runtime_error naming it.
void check_checker(const fs::path& folder, const Case& c) {
    const fs::path checker = folder / "checker";
    struct stat st {};
    const bool present = ::lstat(checker.c_str(), &st) == 0;
    if (c.compare != Compare::checker) {
        if (present)
            throw std::runtime_error(checker.string() +
                                     ": a checker, but the case's compare file does not say "
                                     "checker");
        return;
    }
    if (!present)
        throw std::runtime_error(checker.string() +
                                 ": missing, and the case's compare file says checker");
    if (!S_ISREG(st.st_mode))
        throw std::runtime_error(checker.string() + (S_ISLNK(st.st_mode)
                                                         ? ": a symbolic link, not a file"
                                                         : ": not a regular file"));
    if ((st.st_mode & S_IXUSR) == 0)
        throw std::runtime_error(checker.string() + ": not executable (chmod +x it)");
    if (!c.stdout_to.empty())
        throw std::runtime_error(checker.string() +
                                 ": a checker needs the standard output, which stdout-to sends "
                                 "elsewhere");
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
    if (read_case_file(folder / "kind", text)) kind = parse_kind(text);
    if (!kind)
        throw std::runtime_error((folder / "kind").string() +
                                 ": missing, or not the one word exercise or collection");
    c.kind = *kind;
    c.input = optional_file(folder / "input");
    c.output = optional_file(folder / "output");
    c.error = optional_file(folder / "stderr");
    if (read_case_file(folder / "status", text)) {
        std::optional<int> status = parse_status(text);
        if (!status)
            throw std::runtime_error((folder / "status").string() +
                                     ": not an exit status from 0 to 255");
        c.status = *status;
    }
    c.status_open = fs::exists(folder / "status-open");
    if (read_case_file(folder / "args", text)) {
        std::istringstream lines(text);
        for (std::string arg; std::getline(lines, arg);) c.args.push_back(arg);
    }
    if (read_case_file(folder / "stdout-to", text)) c.stdout_to = without_line_feed(text);
    if (read_case_file(folder / "points", text)) {
        const std::string digits = without_line_feed(text);
        if (digits.empty() || digits.size() > 4 ||
            digits.find_first_not_of("0123456789") != std::string::npos || std::stoi(digits) > 1000)
            throw std::runtime_error((folder / "points").string() +
                                     ": not a whole number of points from 0 to 1000");
        c.points = static_cast<unsigned>(std::stoi(digits));
    }
    if (read_case_file(folder / "visibility", text)) {
        const std::string word = without_line_feed(text);
        if (word != "visible" && word != "hidden")
            throw std::runtime_error((folder / "visibility").string() +
                                     ": not the one word visible or hidden");
        c.hidden = word == "hidden";
    }
    if (read_case_file(folder / "compare", text)) {
        std::optional<Compare> compare = parse_compare(text);
        if (!compare)
            throw std::runtime_error((folder / "compare").string() +
                                     ": not the one word exact, blanks or checker");
        c.compare = *compare;
    }
    check_checker(folder, c);
    c.files = load_entries(folder / "files", false);
    c.after = load_entries(folder / "after", true);
    struct stat st {};
    c.has_setup = ::lstat((folder / "setup").c_str(), &st) == 0;
    if (c.has_setup && !S_ISREG(st.st_mode))
        throw std::runtime_error((folder / "setup").string() + ": not a regular file");
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
