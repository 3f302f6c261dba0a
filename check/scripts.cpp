#include "check/scripts.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <sstream>

#include "check/judge.hpp"
#include "check/sandbox.hpp"

namespace fs = std::filesystem;

namespace check {

namespace {

// The folders of the system that every run sees, read-only.
constexpr std::array<const char*, 8> kSystemFolders = {"/usr", "/etc",   "/bin",   "/sbin",
                                                       "/lib", "/lib32", "/lib64", "/libx32"};
// The folders of the run's PATH.
constexpr std::array<const char*, 3> kRunPath = {"/usr/local/bin", "/usr/bin", "/bin"};

// True when `path` (absolute) lies in a system folder the run sees.
bool in_system(const fs::path& path) {
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(path, ec);
    return std::any_of(kSystemFolders.begin(), kSystemFolders.end(),
                       [&](const char* f) { return beneath(ec ? path : real, f); });
}

// The executable file `name` in one of `folders`, or an empty path.
fs::path found_in(const std::string& name, const std::vector<std::string>& folders) {
    for (const std::string& f : folders) {
        fs::path p = fs::path(f) / name;
        if (!f.empty() && ::access(p.c_str(), X_OK) == 0) return p;
    }
    return {};
}

// The folders of this machine's PATH.
std::vector<std::string> host_path() {
    std::vector<std::string> folders;
    const char* path = std::getenv("PATH");  // NOLINT(concurrency-mt-unsafe): only read
    std::istringstream parts(path ? path : "");
    for (std::string f; std::getline(parts, f, ':');) folders.push_back(f);
    return folders;
}

// True when the user runs go as may read the folder `folder` and reach it from the root:
// always when it is the checker's own user; otherwise only when the folder and every folder
// above it let others in.
bool reachable(const fs::path& folder) {
    if (program_uid() == ::getuid()) return true;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || (st.st_mode & 0005) != 0005) return false;
    for (fs::path up = folder.parent_path(); up != up.parent_path(); up = up.parent_path())
        if (::stat(up.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) return false;
    return true;
}

}  // namespace

std::optional<std::string> interpreter_line(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::array<char, 256> head{};
    ssize_t n = 0;
    do {
        n = ::read(fd, head.data(), head.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 2 || head[0] != '#' || head[1] != '!') return std::nullopt;
    const std::string text(head.data(), static_cast<std::size_t>(n));
    const std::size_t end = text.find('\n');
    return text.substr(2, end == std::string::npos ? std::string::npos : end - 2);
}

std::string interpreter_trouble(const std::string& line) {
    if (line.find('\r') != std::string::npos)
        return "  its first line, #!" + visible_text(line.substr(0, line.find('\r')), Shown::name) +
               ", ends with a carriage return: the file was saved with Windows line ends "
               "(CRLF), and the system looks for an interpreter whose name ends with \\r; save "
               "it with Unix line ends (dos2unix FILE, or sed -i 's/\\r$//' FILE)\n";
    std::istringstream words(line);
    std::string interpreter, word;
    words >> interpreter;
    if (interpreter.empty()) return "  its #! line names no interpreter\n";
    const std::string name = fs::path(interpreter).filename().string();
    if (interpreter[0] != '/')
        return "  its #! line names the interpreter " + visible_text(interpreter, Shown::name) +
               " by a relative path, which the run looks for in its working folder: name it by "
               "its absolute path, or #!/usr/bin/env " +
               visible_text(name, Shown::name) + "\n";
    if (::access(interpreter.c_str(), X_OK) != 0) {
        std::string said = "  its #! line names the interpreter " +
                           visible_text(interpreter, Shown::name) +
                           ", which this machine does not have";
        const fs::path other = found_in(name, host_path());
        if (!other.empty())
            said += "; it has " + visible_text(other.string(), Shown::name) + " (#!" +
                    visible_text(other.string(), Shown::name) + ", or #!/usr/bin/env " +
                    visible_text(name, Shown::name) + ")";
        return said + "\n";
    }
    if (!in_system(interpreter))
        return "  its interpreter " + visible_text(interpreter, Shown::name) +
               " lies outside the system folders the run sees: --allow " +
               visible_text(fs::path(interpreter).parent_path().string(), Shown::name) +
               " makes its folder visible\n";
    if (name != "env") return "";
    while (words >> word && word.starts_with("-")) {
    }
    if (word.empty()) return "";
    const std::vector<std::string> run_path(kRunPath.begin(), kRunPath.end());
    if (!found_in(word, run_path).empty()) return "";
    std::string said = "  its #! line asks env for " + visible_text(word, Shown::name) +
                       ", which no folder of the run's PATH (/usr/local/bin, /usr/bin, /bin) "
                       "holds";
    const fs::path other = found_in(word, host_path());
    if (!other.empty())
        said += "; this machine has " + visible_text(other.string(), Shown::name) +
                ": name it in the #! line, and --allow " +
                visible_text(other.parent_path().string(), Shown::name);
    return said + "\n";
}

fs::path script_folder(const fs::path& script, const std::vector<fs::path>& hidden,
                       std::string& why_not) {
    why_not.clear();
    fs::path folder = script.parent_path();
    if (folder.empty() || in_system(folder)) return {};
    for (const fs::path& h : hidden)
        if (!h.empty() && beneath(folder, h)) return {};
    std::error_code ec;
    const fs::path temporary = fs::weakly_canonical(fs::temp_directory_path(ec), ec);
    if (!temporary.empty() && beneath(temporary, folder)) {
        why_not = "it holds the temporary folder, where the runs' working folders are";
        return {};
    }
    const char* home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe): only read
    const fs::path home_folder = home && *home ? fs::weakly_canonical(home, ec) : fs::path();
    if (!home_folder.empty() && home_folder != "/" && beneath(home_folder, folder)) {
        why_not = folder == home_folder ? "it is your home folder" : "it holds your home folder";
        return {};
    }
    if (!reachable(folder)) {
        why_not = "the user runs go as (" + std::to_string(program_uid()) +
                  ") may not read it or a folder above it";
        return {};
    }
    return folder;
}

bool looks_for_a_file(const std::string& err) {
    const std::array<const char*, 9> words = {
        "No module named", "ModuleNotFoundError", "ImportError",  "No such file or directory",
        "can't open file", "cannot open",         "Can't locate", "cannot load such file",
        "not found"};
    return std::any_of(words.begin(), words.end(),
                       [&](const char* w) { return err.find(w) != std::string::npos; });
}

}  // namespace check
