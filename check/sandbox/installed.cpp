// The copies of the collection installed where every run could reach them: the system
// folders, which both walls show read-only. The checker hides the programs and the cases
// beside itself; these are the others (a package's, a copy under /usr/local, a copy of an
// install bound over a system folder).
//
// Guarantees:
//   - Found by name, wherever a run would look: each program of the collection in the
//     folders of programs (/usr/bin, /usr/sbin, /usr/games and the same under /usr/local,
//     and /bin and /sbin where they are folders, not links), and the installed cases
//     (share/console-collection under /usr and /usr/local).
//   - Below /usr/local, where copies are put by hand, every file named as a program in a
//     folder named bin, sbin or games, and every folder named console-collection, at any
//     depth up to 8; at most 20,000 entries are read, so that the search stays bounded.
//   - A link is hidden with what it names.
// Not found: a copy under another name or in another folder of /usr (a run that execs it
// gets the collection's answers); /opt, home folders and /tmp are no part of any view.
#include <sys/stat.h>

#include <algorithm>
#include <system_error>

#include "check/sandbox.hpp"

namespace fs = std::filesystem;

namespace check {

namespace {

// Adds `path` and, when it is a link, what it names, to `found`.
void add_with_target(std::vector<fs::path>& found, const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    found.push_back(path);
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const fs::path target = fs::canonical(path, ec);
        if (!ec) found.push_back(target);
    }
}

// True when `name` is one of `names`.
bool named(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::vector<fs::path> installed_copies(const std::vector<std::string>& names) {
    std::vector<fs::path> found;
    std::vector<fs::path> programs;
    for (const char* prefix : {"/usr", "/usr/local"}) {
        for (const char* folder : {"bin", "sbin", "games"})
            programs.push_back(fs::path(prefix) / folder);
        add_with_target(found, fs::path(prefix) / "share/console-collection");
    }
    for (const char* top : {"/bin", "/sbin"}) {
        struct stat st {};
        if (::lstat(top, &st) == 0 && S_ISDIR(st.st_mode)) programs.emplace_back(top);
    }
    for (const fs::path& folder : programs)
        for (const std::string& name : names) add_with_target(found, folder / name);
    // Below /usr/local, by hand: at any depth, within bounds.
    std::error_code ec;
    unsigned seen = 0;
    constexpr unsigned kMostEntries = 20000;
    constexpr int kDeepest = 8;
    for (auto it = fs::recursive_directory_iterator(
             "/usr/local", fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator() && ++seen <= kMostEntries;
         it.increment(ec)) {
        const fs::path& p = it->path();
        const std::string name = p.filename().string();
        const std::string parent = p.parent_path().filename().string();
        std::error_code kind;  // an entry gone meanwhile is neither
        const bool link = it->is_symlink(kind);
        if (name == "console-collection" && it->is_directory(kind)) {
            add_with_target(found, p);
            it.disable_recursion_pending();
        } else if (named(names, name) &&
                   (parent == "bin" || parent == "sbin" || parent == "games") &&
                   (link || it->is_regular_file(kind))) {
            add_with_target(found, p);
        }
        if (it.depth() >= kDeepest) it.disable_recursion_pending();
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

}  // namespace check
