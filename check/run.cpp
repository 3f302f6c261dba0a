#include "check/run.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace fs = std::filesystem;

namespace check {

namespace {

// Writes an entry of files/ below `folder`.
void lay(const fs::path& folder, const Entry& e) {
    const fs::path at = folder / e.path;
    if (e.type == Entry::Type::folder) {
        if (::mkdir(at.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::runtime_error(e.path + ": " + std::strerror(errno));
        return;  // its mode is set once what it holds is there
    }
    if (e.type == Entry::Type::link) {
        if (::symlink(e.content.c_str(), at.c_str()) != 0)
            throw std::runtime_error(e.path + ": " + std::strerror(errno));
        return;
    }
    int fd = ::open(at.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error(e.path + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < e.content.size()) {
        ssize_t put = ::write(fd, e.content.data() + done, e.content.size() - done);
        if (put <= 0) {
            ::close(fd);
            throw std::runtime_error(e.path + ": " + std::strerror(errno));
        }
        done += static_cast<std::size_t>(put);
    }
    ::fchmod(fd, e.mode);
    ::close(fd);
}

// Gives everything below `folder` (links themselves, not what they name) to the program's
// user, so that a program that does not run as the checker's user can work on it.
void give_to_program(const fs::path& folder) {
    const uid_t uid = program_uid();
    const gid_t gid = program_gid();
    ::lchown(folder.c_str(), uid, gid);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        ::lchown(it->path().c_str(), uid, gid);
}

}  // namespace

Scratch::Scratch(const Case& c, std::chrono::milliseconds limit, const Limits& limits) {
    // In the checker's own folder, which the program's user can reach whatever the wall.
    static std::atomic<unsigned long> made{0};
    const std::string pattern = run_folder() + "/" + std::to_string(++made);
    if (::mkdir(pattern.c_str(), 0700) != 0)
        throw std::runtime_error(pattern + ": " + std::strerror(errno));
    path_ = pattern;
    try {
        if (scratch_is_tmpfs()) {
            const std::string options =
                "size=" + std::to_string(limits.scratch) + ",nr_inodes=16384,mode=0755";
            if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) !=
                0)
                throw std::runtime_error(pattern +
                                         ": mounting its file system: " + std::strerror(errno));
            mounted_ = true;
        }
        for (const Entry& e : c.files) lay(path_, e);
        // A folder's mode last, deepest first: a folder without write permission is filled.
        std::vector<const Entry*> folders;
        for (const Entry& e : c.files)
            if (e.type == Entry::Type::folder) folders.push_back(&e);
        std::reverse(folders.begin(), folders.end());
        for (const Entry* e : folders) ::chmod((path_ / e->path).c_str(), e->mode);
        if (c.has_setup) {
            Program setup;
            setup.executable = find_executable("bash");
            setup.argv = {setup.executable.string(), (c.folder / "setup").string()};
            setup.folder = path_;
            setup.env = {"CASE_DIR=" + c.folder.string()};
            Limits generous;
            generous.wall = std::chrono::duration<double>(limit).count();
            generous.cpu = generous.wall;
            generous.memory = 1ULL << 40;
            generous.file_size = limits.scratch;
            generous.processes = 256;
            generous.open_files = 1024;
            Containment outside;
            outside.sandboxed = false;
            Outcome o = run_contained(setup, generous, outside);
            if (o.end != Outcome::End::exited || o.code != 0)
                throw std::runtime_error("the case's setup script failed: " + o.err +
                                         o.start_error);
        }
        if (::geteuid() != program_uid()) give_to_program(path_);
    } catch (...) {
        remove();
        throw;
    }
}

Scratch::~Scratch() { remove(); }

std::string Scratch::remove() {
    if (removed_) return "";
    removed_ = true;
    if (mounted_) {
        if (::umount2(path_.c_str(), MNT_DETACH) != 0)
            return path_.string() + ": " + std::strerror(errno);
        if (::rmdir(path_.c_str()) != 0) return path_.string() + ": " + std::strerror(errno);
        return "";
    }
    return remove_tree(path_);
}

std::string remove_tree(const fs::path& folder) {
    // A walk with descriptors, never through a link: each level keeps its descriptor while
    // few are open, and finds its parent again through ".." when it has given it up.
    struct Level {
        int fd;
        std::string name;  // its name in its parent
    };
    constexpr std::size_t kOpenLevels = 32;
    auto failure = [&](const std::string& what) {
        return folder.string() + ": " + what + ": " + std::strerror(errno);
    };
    ::chmod(folder.c_str(), 0700);
    int top = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (top < 0) return errno == ENOENT ? "" : failure("opening it");
    std::vector<Level> levels{{top, ""}};
    std::string error;
    while (!levels.empty()) {
        int fd = levels.back().fd;
        int listing = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
        if (dir == nullptr) {
            if (listing >= 0) ::close(listing);
            error = failure("reading a folder");
            break;
        }
        bool descended = false;
        // cppcheck-suppress readdirCalled ; each walk reads a stream of its own
        while (const dirent* d = ::readdir(dir)) {
            const std::string name = d->d_name;
            if (name == "." || name == "..") continue;
            if (::unlinkat(fd, name.c_str(), 0) == 0) continue;
            if (errno == EACCES || errno == EPERM) {
                ::fchmod(fd, 0700);
                if (::unlinkat(fd, name.c_str(), 0) == 0) continue;
            }
            if (errno != EISDIR && errno != EPERM && errno != EACCES) continue;
            if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) == 0) continue;
            ::fchmodat(fd, name.c_str(), 0700, 0);
            int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) continue;
            ::fchmod(sub, 0700);
            levels.push_back({sub, name});
            if (levels.size() > kOpenLevels) {
                Level& old = levels[levels.size() - 1 - kOpenLevels];
                if (old.fd >= 0) ::close(old.fd);
                old.fd = -1;
            }
            descended = true;
            break;
        }
        ::closedir(dir);
        if (descended) continue;
        Level done = levels.back();
        levels.pop_back();
        if (levels.empty()) {
            ::close(done.fd);
            break;
        }
        if (levels.back().fd < 0)
            levels.back().fd = ::openat(done.fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(done.fd);
        if (levels.back().fd < 0) {
            error = failure("going back up");
            break;
        }
        if (::unlinkat(levels.back().fd, done.name.c_str(), AT_REMOVEDIR) != 0) {
            error = failure("removing " + done.name);
            break;
        }
    }
    for (const Level& l : levels)
        if (l.fd >= 0) ::close(l.fd);
    if (error.empty() && ::rmdir(folder.c_str()) != 0 && errno != ENOENT)
        error = failure("removing it");
    return error;
}

Outcome run_case(const Case& c, const std::vector<std::string>& command, const Scratch& scratch,
                 const Limits& limits, const Containment& containment,
                 const std::vector<std::string>& env) {
    Program p;
    p.env = env;
    p.executable = command.at(0);
    p.argv = command;
    p.argv.insert(p.argv.end(), c.args.begin(), c.args.end());
    p.folder = scratch.path();
    p.stdout_to = c.stdout_to;
    p.input = c.input.value_or("");
    return run_contained(p, limits, containment);
}

fs::path find_executable(const std::string& name) {
    auto usable = [](const fs::path& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) {
        fs::path p = fs::absolute(name);
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0)
            throw std::runtime_error(name + ": " + std::strerror(errno));
        if (!usable(p)) throw std::runtime_error(name + ": not an executable file");
        return p;
    }
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t from = 0;
    while (true) {
        std::size_t to = folders.find(':', from);
        std::string folder = folders.substr(from, to == std::string::npos ? to : to - from);
        fs::path p = fs::current_path() / folder / name;  // an empty folder is the current one
        if (usable(p)) return p;
        if (to == std::string::npos) break;
        from = to + 1;
    }
    throw std::runtime_error(name + ": not found in any folder of PATH");
}

}  // namespace check
