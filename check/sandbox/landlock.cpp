// Landlock: the kernel's own access control for unprivileged processes, the second wall of
// a run in namespaces and the first of a run without them.
//
// Guarantees (where the kernel has the ABI named):
//   - In namespaces (ABI 1 or later): the program reads and executes beneath its view's
//     root, writes only in its working folder and on /dev's files.
//   - Without namespaces: the program reads and executes only the system folders, less every
//     hidden path beneath them (the cases, the collection's own programs), the executable
//     and the allowed paths; it writes only in its working folder and on /dev's files, and
//     makes no socket file there, so that no run can offer another a path to connect to.
//     Nothing else of the machine, /proc and /tmp included, can be opened.
//   - ABI 4 or later: no TCP bind or connect.
//   - ABI 6 or later: no signal to a process outside the run, and no connection to an
//     abstract Unix socket made outside it.
//   - Always: no tracing of a process outside the run (Landlock's own rule).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

#include "check/sandbox/internal.hpp"

namespace fs = std::filesystem;

namespace check::sandbox {

namespace {

// Declared here because the system's header may be older than the kernel.
constexpr std::uint64_t kExecute = 1ULL << 0, kWriteFile = 1ULL << 1, kReadFile = 1ULL << 2,
                        kReadDir = 1ULL << 3, kMakeChar = 1ULL << 6, kMakeSock = 1ULL << 9,
                        kMakeBlock = 1ULL << 11, kTruncate = 1ULL << 14, kIoctlDev = 1ULL << 15;
constexpr std::uint64_t kReadOnly = kExecute | kReadFile | kReadDir;
struct Ruleset {
    std::uint64_t handled_access_fs, handled_access_net, scoped;
};
struct __attribute__((packed)) PathRule {
    std::uint64_t allowed_access;
    std::int32_t parent_fd;
};
constexpr long kCreate = 444, kAddRule = 445, kRestrict = 446;

// The file-system rights Landlock ABI `abi` knows.
std::uint64_t fs_rights(long abi) {
    std::uint64_t all = (1ULL << 13) - 1;  // ABI 1: execute to make-symlink
    if (abi >= 2) all |= 1ULL << 13;       // refer
    if (abi >= 3) all |= kTruncate;
    if (abi >= 5) all |= kIoctlDev;
    return all;
}

// The rights a rule on a file (not a folder) may hold.
std::uint64_t file_rights(long abi) {
    return kExecute | kWriteFile | kReadFile | (abi >= 3 ? kTruncate : 0) |
           (abi >= 5 ? kIoctlDev : 0);
}

// Grants `rights` on `path`, less every hidden path beneath it: a folder holding one is
// granted entry by entry instead, and a link only when what it names is not hidden.
void grant_except(std::vector<Grant>& grants, const fs::path& path, std::uint64_t rights,
                  const std::vector<fs::path>& hidden, long abi) {
    bool holds = false;
    for (const fs::path& h : hidden) {
        if (beneath(path, h)) return;  // hidden itself
        holds = holds || beneath(h, path);
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISLNK(st.st_mode)) {
        // A link is granted as what it names, unless that is hidden.
        std::error_code ec;
        const fs::path target = fs::canonical(path, ec);
        if (ec || ::stat(target.c_str(), &st) != 0) return;
        for (const fs::path& h : hidden)
            if (beneath(target, h) || (S_ISDIR(st.st_mode) && beneath(h, target))) return;
    }
    if (!S_ISDIR(st.st_mode)) {
        grants.push_back({path.string(), rights & file_rights(abi)});
        return;
    }
    if (!holds) {
        grants.push_back({path.string(), rights});
        return;
    }
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> names;
    // cppcheck-suppress readdirCalled ; one stream, read by one thread
    while (const dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    // The folder's own listing, without what its entries hold.
    grants.push_back({path.string(), kReadDir});
    for (const std::string& name : names) grant_except(grants, path / name, rights, hidden, abi);
}

}  // namespace

long landlock_abi() {
    static const long abi = [] {
        long v = ::syscall(kCreate, nullptr, 0, 1U);
        return v < 0 ? 0L : v;
    }();
    return abi;
}

void plan_landlock(Plan& plan, const fs::path& executable, const Containment& c) {
    const long abi = plan.landlock_abi;
    if (abi <= 0) return;
    const std::uint64_t all = fs_rights(abi);
    const std::uint64_t device = file_rights(abi) & ~kExecute;
    if (plan.in_namespaces()) {
        plan.grants = {{"/", kReadOnly}, {plan.folder, all}};
    } else {
        std::vector<fs::path> hidden;
        for (const fs::path& h : hidden_paths())
            if (h != executable &&
                std::find(c.allowed.begin(), c.allowed.end(), h) == c.allowed.end())
                hidden.push_back(h);
        // The system folders' rules are the same for every run (the hidden paths are known
        // before the first): found once, since a folder holding a hidden path is read
        // entry by entry.
        static const std::vector<Grant> system = [&] {
            std::vector<Grant> g;
            std::vector<fs::path> all = hidden_paths();
            for (const std::string& f : system_entries().folders)
                grant_except(g, f, kReadOnly, all, abi);
            return g;
        }();
        if (hidden.size() != hidden_paths().size()) {  // one checked or allowed by its name
            for (const std::string& f : system_entries().folders)
                grant_except(plan.grants, f, kReadOnly, hidden, abi);
        } else {
            plan.grants = system;
        }
        // A system link (/bin -> usr/bin) needs no rule: what it names is granted.
        grant_except(plan.grants, executable, kExecute | kReadFile, {}, abi);
        for (const fs::path& a : c.allowed) grant_except(plan.grants, a, kReadOnly, hidden, abi);
        plan.grants.push_back({plan.folder, all & ~(kMakeSock | kMakeChar | kMakeBlock)});
        // The program's own /proc folder alone, opened by the program's process itself.
        if (c.needs_proc) plan.grants.push_back({"/proc/self", kReadFile | kReadDir});
    }
    for (const char* d : {"/dev/null", "/dev/zero", "/dev/full", "/dev/urandom", "/dev/random"})
        plan.grants.push_back({d, device});
}

bool restrict_with_landlock(const Plan& p) {
    const long abi = p.landlock_abi;
    if (abi <= 0) return true;
    Ruleset attr{fs_rights(abi), abi >= 4 ? 3ULL : 0ULL, abi >= 6 ? 3ULL : 0ULL};
    const std::size_t size = abi >= 6   ? sizeof attr
                             : abi >= 4 ? 2 * sizeof(std::uint64_t)
                                        : sizeof(std::uint64_t);
    const int ruleset = static_cast<int>(::syscall(kCreate, &attr, size, 0));
    if (ruleset < 0) return false;
    for (const Grant& g : p.grants) {
        const int fd = ::open(g.path.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0) continue;
        PathRule rule{g.rights, fd};
        const long added = ::syscall(kAddRule, ruleset, 1, &rule, 0);
        ::close(fd);
        if (added != 0) {
            ::close(ruleset);
            return false;
        }
    }
    const bool done = ::syscall(kRestrict, ruleset, 0) == 0;
    ::close(ruleset);
    return done;
}

}  // namespace check::sandbox
