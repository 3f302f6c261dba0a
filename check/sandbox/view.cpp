// The view: the file system a run in namespaces sees, built by its first process in the
// run's own mount namespace and made its root.
//
// Guarantees:
//   - The view holds the system folders (/usr, /etc, and /bin, /sbin, /lib* as the host has
//     them: a link where it has a link), read-only and without set-user-ID or devices; a
//     /dev with null, zero, full, urandom and random only; the executable and the allowed
//     paths read-only; the working folder read-write; and a /proc of the run's own PID
//     namespace showing nothing but its processes, where the kernel allows one (a
//     container that masks the host's /proc refuses it: then there is no /proc at all).
//   - Every bound path is checked to be the file seen when the plan was made (device and
//     inode), so that a path swapped in between is never bound.
//   - The hidden paths (the cases, the collection's own programs) are masked wherever a
//     visible path holds them: folders by an empty read-only file system, files by an empty
//     read-only file, never executable. The executable under test itself, and an allowed
//     path named as it is, are not masked.
//   - The new root is read-only; the old root is detached from the run.
//   - The part every view shares (the system folders with their masks, and /dev) is built
//     once by the checker, read-only and private, and each run binds it whole; a run whose
//     executable or allowed path is a hidden path of a system folder, or that would mask
//     other hidden paths there than the shared part does, builds its whole view itself.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <stdexcept>

#include "check/sandbox/internal.hpp"

namespace fs = std::filesystem;

namespace check::sandbox {

namespace {

// The flags a bind mount must keep when it is made read-only in a user namespace.
unsigned long locked_flags(const char* path) {
    struct statfs st {};
    unsigned long flags = 0;
    if (::statfs(path, &st) != 0) return flags;
    if (st.f_flags & ST_NOEXEC) flags |= MS_NOEXEC;
    if (st.f_flags & ST_NOATIME) flags |= MS_NOATIME;
    if (st.f_flags & ST_NODIRATIME) flags |= MS_NODIRATIME;
    if (st.f_flags & ST_RELATIME) flags |= MS_RELATIME;
    return flags;
}

// The path's parent folders from the top down, each once, into `dirs` (below `root`).
void add_parents(const fs::path& path, const std::string& root, std::vector<std::string>& dirs,
                 std::set<std::string>& made) {
    fs::path at;
    for (auto it = path.begin(); it != path.end(); ++it) {
        if (std::next(it) == path.end()) break;
        at /= *it;
        if (at == "/") continue;
        std::string d = root + at.string();
        if (made.insert(d).second) dirs.push_back(d);
    }
}

// The view's shared part: where it is mounted ("" when it could not be built), and the
// hidden paths of the system folders it masks.
struct Template {
    std::string at;
    std::vector<std::string> masked;
};
Template& view_template() {
    static Template t;
    return t;
}

// The hidden paths that lie in a system folder and are there to mask, in the order of
// hidden_paths().
std::vector<std::string> hidden_in_system() {
    std::vector<std::string> paths;
    for (const fs::path& hidden : hidden_paths()) {
        struct stat st {};
        if (in_system(hidden) && ::stat(hidden.c_str(), &st) == 0) paths.push_back(hidden.string());
    }
    return paths;
}

// Binds `source` at `target` and remounts it with `flags` added (MS_RDONLY and kin), keeping
// the flags a user namespace locks; false when either fails.
bool bind_with(const std::string& source, const std::string& target, unsigned long flags) {
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return false;
    const unsigned long all =
        (MS_REMOUNT | MS_BIND | MS_NOSUID | MS_NODEV | locked_flags(target.c_str()) | flags);
    return ::mount(nullptr, target.c_str(), nullptr, all, nullptr) == 0;
}

// Builds the shared part at `at`, as enter_view builds the same entries; false when a step
// failed (what was mounted is left for the caller to detach).
bool build_template(const std::string& at, bool with_proc, const std::vector<std::string>& masked) {
    if (::mkdir(at.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                "size=1m,nr_inodes=4096,mode=0755") != 0)
        return false;
    const System& sys = system_entries();
    for (const std::string& f : sys.folders)
        if (::mkdir((at + f).c_str(), 0755) != 0 || !bind_with(f, at + f, MS_RDONLY)) return false;
    const std::string dev = at + "/dev";
    if (::mkdir(dev.c_str(), 0755) != 0) return false;
    auto empty_file = [](const std::string& path) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    };
    for (const char* d : {"null", "zero", "full", "urandom", "random"}) {
        const std::string host = std::string("/dev/") + d;
        if (::access(host.c_str(), F_OK) != 0) continue;
        const unsigned long flags = MS_NOEXEC;
        if (!empty_file(at + host) ||
            ::mount(host.c_str(), (at + host).c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            return false;
        const unsigned long all =
            (MS_REMOUNT | MS_BIND | MS_NOSUID | locked_flags((at + host).c_str()) | flags) &
            ~static_cast<unsigned long>(MS_NODEV);
        if (::mount(nullptr, (at + host).c_str(), nullptr, all, nullptr) != 0) return false;
    }
    if (with_proc) {
        for (const char* fd : {"stdin", "stdout", "stderr"}) {
            const std::string n = std::to_string(fd[3] == 'i' ? 0 : fd[3] == 'o' ? 1 : 2);
            if (::symlink(("/proc/self/fd/" + n).c_str(), (dev + "/" + fd).c_str()) != 0)
                return false;
        }
        if (::symlink("/proc/self/fd", (dev + "/fd").c_str()) != 0) return false;
    }
    const std::string empty = dev + "/.hidden";
    if (!empty_file(empty)) return false;
    for (const std::string& hidden : masked) {
        struct stat st {};
        if (::stat(hidden.c_str(), &st) != 0) return false;
        const std::string t = at + hidden;
        if (S_ISDIR(st.st_mode)) {
            if (::mount("tmpfs", t.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC | MS_RDONLY,
                        "size=4k,nr_inodes=2,mode=0555") != 0)
                return false;
        } else if (!bind_with(empty, t, MS_RDONLY | MS_NOEXEC)) {
            return false;
        }
    }
    // Read-only, and private: nothing mounted on the host later reaches it.
    return ::mount(nullptr, at.c_str(), nullptr,
                   MS_REMOUNT | MS_BIND | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) == 0 &&
           ::mount(nullptr, at.c_str(), nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

}  // namespace

void build_view_template(bool with_proc) {
    Template& t = view_template();
    if (!t.at.empty()) return;
    const std::string at = run_folder() + "/view";
    const std::vector<std::string> masked = hidden_in_system();
    if (build_template(at, with_proc, masked)) {
        t.at = at;
        t.masked = masked;
        return;
    }
    ::umount2(at.c_str(), MNT_DETACH);
    ::rmdir(at.c_str());
}

const System& system_entries() {
    static const System s = [] {
        System s;
        for (const char* entry :
             {"/usr", "/etc", "/bin", "/sbin", "/lib", "/lib32", "/lib64", "/libx32"}) {
            struct stat st {};
            if (::lstat(entry, &st) != 0) continue;
            if (S_ISLNK(st.st_mode)) {
                std::error_code ec;
                fs::path target = fs::read_symlink(entry, ec);
                if (!ec) s.links.emplace_back(entry, target.string());
            } else if (S_ISDIR(st.st_mode)) {
                s.folders.emplace_back(entry);
            }
        }
        return s;
    }();
    return s;
}

bool in_system(const fs::path& path) {
    const System& sys = system_entries();
    return std::any_of(sys.folders.begin(), sys.folders.end(),
                       [&](const std::string& f) { return beneath(path, f); });
}

bool enter_view(const Plan& p, const char*& step, const char*& what) {
    what = "";
    auto failed = [&](const char* s, const char* w = "") {
        step = s;
        what = w;
        return false;
    };
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed("making the mounts private");
    if (::mount("tmpfs", p.root.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, p.root_options.c_str()))
        return failed("mounting the new root");
    for (const std::string& d : p.dirs)
        if (::mkdir(d.c_str(), 0755) != 0 && errno != EEXIST) return failed("mkdir ", d.c_str());
    for (const std::string& f : p.files) {
        int fd = ::open(f.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0444);
        if (fd < 0) return failed("creating ", f.c_str());
        ::close(fd);
    }
    for (const auto& [link, target] : p.links)
        if (::symlink(target.c_str(), link.c_str()) != 0) return failed("symlink ", link.c_str());
    for (const Mount& m : p.mounts) {
        const char* t = m.target.c_str();
        if (m.kind == Mount::tmpfs_mask) {
            if (::mount("tmpfs", t, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC | MS_RDONLY,
                        "size=4k,nr_inodes=2,mode=0555") != 0)
                return failed("hiding ", t);
            continue;
        }
        if (::mount(m.source.c_str(), t, nullptr, MS_BIND | MS_REC, nullptr) != 0)
            return failed("binding ", t);
        if (m.kind == Mount::piece) continue;  // read-only already, flags and all
        if (m.kind != Mount::file_mask) {
            struct stat st {};
            if (m.dev != 0 && (::stat(t, &st) != 0 || st.st_dev != m.dev || st.st_ino != m.ino)) {
                errno = ESTALE;
                return failed("binding ", m.source.c_str());
            }
        }
        unsigned long flags = MS_REMOUNT | MS_BIND | MS_NOSUID | MS_NODEV | locked_flags(t);
        if (m.kind == Mount::bind_ro) flags |= MS_RDONLY;
        if (m.kind == Mount::file_mask) flags |= MS_RDONLY | MS_NOEXEC;
        if (m.kind == Mount::bind_dev)
            flags = (flags & ~static_cast<unsigned long>(MS_NODEV)) | MS_NOEXEC;
        if (::mount(nullptr, t, nullptr, flags, nullptr) != 0) return failed("remounting ", t);
    }
    // A /proc of the new PID namespace, where processes the reader may not trace (the init)
    // are invisible and nothing but the processes is shown; none where the kernel refuses
    // that form (an older kernel's /proc would show the network's sockets and more).
    if (!p.proc.empty() && ::mount("proc", p.proc.c_str(), "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                                   "hidepid=invisible,subset=pid") != 0)
        return failed("mounting /proc");
    if (::mount(nullptr, p.root.c_str(), nullptr,
                MS_REMOUNT | MS_BIND | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) != 0)
        return failed("making the new root read-only");
    if (::chdir(p.root.c_str()) != 0) return failed("entering the new root");
    if (::syscall(SYS_pivot_root, ".", ".") != 0) return failed("pivot_root");
    if (::umount2(".", MNT_DETACH) != 0) return failed("leaving the old root");
    if (::chdir("/") != 0) return failed("chdir /");
    ::sethostname("sandbox", 7);
    return true;
}

void plan_view(Plan& plan, const fs::path& executable, const Containment& c, bool with_proc) {
    const std::string root = run_folder() + "/root";
    plan.root = root;
    plan.root_options = "size=1m,nr_inodes=4096,mode=0755";
    const System& sys = system_entries();
    // The shared part serves where it masks just what this run's view must mask there.
    const Template& shared = view_template();
    bool whole = !shared.at.empty() && hidden_in_system() == shared.masked;
    for (const std::string& hidden : shared.masked) {
        whole = whole && hidden != executable.string();
        for (const fs::path& a : c.allowed) whole = whole && hidden != a.string();
    }
    std::set<std::string> made;
    for (const auto& [link, target] : sys.links) plan.links.emplace_back(root + link, target);
    for (const std::string& f : sys.folders) {
        plan.dirs.push_back(root + f);
        made.insert(root + f);
        if (whole)
            plan.mounts.push_back({shared.at + f, root + f, Mount::piece});
        else
            plan.mounts.push_back({f, root + f, Mount::bind_ro});
    }
    // What the command line makes visible: the executable and the allowed paths,
    // read-only; the working folder, read-write. Each must still be the file seen now when
    // it is bound.
    auto bind = [&](const fs::path& path, Mount::Kind kind) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            throw std::runtime_error(path.string() + ": " + std::strerror(errno));
        add_parents(path, root, plan.dirs, made);
        const std::string target = root + path.string();
        if (S_ISDIR(st.st_mode)) {
            if (made.insert(target).second) plan.dirs.push_back(target);
        } else {
            plan.files.push_back(target);
        }
        plan.mounts.push_back({path.string(), target, kind, st.st_dev, st.st_ino});
    };
    if (!in_system(executable)) bind(executable, Mount::bind_ro);
    for (const fs::path& a : c.allowed)
        if (!in_system(a)) bind(a, Mount::bind_ro);
    bind(plan.folder, Mount::bind_rw);
    plan.dirs.push_back(root + "/dev");
    if (whole) plan.mounts.push_back({shared.at + "/dev", root + "/dev", Mount::piece});
    for (const char* d : {"null", "zero", "full", "urandom", "random"}) {
        if (whole) break;
        std::string host = std::string("/dev/") + d;
        if (::access(host.c_str(), F_OK) != 0) continue;
        plan.files.push_back(root + host);
        plan.mounts.push_back({host, root + host, Mount::bind_dev});
    }
    if (with_proc) {
        plan.dirs.push_back(root + "/proc");
        plan.proc = root + "/proc";
    }
    for (const char* fd : {"stdin", "stdout", "stderr"}) {
        if (whole || !with_proc) break;
        std::string n = std::to_string(fd[3] == 'i' ? 0 : fd[3] == 'o' ? 1 : 2);
        plan.links.emplace_back(root + "/dev/" + fd, "/proc/self/fd/" + n);
    }
    if (with_proc && !whole) plan.links.emplace_back(root + "/dev/fd", "/proc/self/fd");
    // The hidden paths stay out of sight wherever a visible path holds them (in the system
    // folders, the shared part masks them already). The shared part's /dev holds the empty
    // file the masks bind.
    const std::string empty = root + "/dev/.hidden";
    bool empty_made = whole;
    for (const fs::path& hidden : hidden_paths()) {
        bool shown = !whole && in_system(hidden);
        bool named = hidden == executable;
        for (const fs::path& a : c.allowed) {
            shown = shown || beneath(hidden, a);
            named = named || hidden == a;
        }
        struct stat st {};
        if (!shown || named || ::stat(hidden.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            plan.mounts.push_back({"", root + hidden.string(), Mount::tmpfs_mask});
        } else {
            if (!empty_made) plan.files.push_back(empty);
            empty_made = true;
            plan.mounts.push_back({empty, root + hidden.string(), Mount::file_mask});
        }
    }
}

}  // namespace check::sandbox
