#include "check/sandbox.hpp"

#include <fcntl.h>
#include <grp.h>
#include <linux/sched.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace check {

namespace {

// ---------------------------------------------------------------------------------------
// Landlock, declared here because the system's header may be older than the kernel.
constexpr std::uint64_t kLlExecute = 1ULL << 0, kLlWriteFile = 1ULL << 1, kLlReadFile = 1ULL << 2,
                        kLlReadDir = 1ULL << 3, kLlTruncate = 1ULL << 14, kLlIoctlDev = 1ULL << 15;
struct LandlockRuleset {
    std::uint64_t handled_access_fs, handled_access_net, scoped;
};
struct __attribute__((packed)) LandlockPathRule {
    std::uint64_t allowed_access;
    std::int32_t parent_fd;
};
constexpr long kLandlockCreate = 444, kLandlockAddRule = 445, kLandlockRestrict = 446;

// The file-system rights Landlock ABI `abi` knows.
std::uint64_t landlock_fs_rights(long abi) {
    std::uint64_t all = (1ULL << 13) - 1;  // ABI 1: execute to make-symlink
    if (abi >= 2) all |= 1ULL << 13;       // refer
    if (abi >= 3) all |= kLlTruncate;
    if (abi >= 5) all |= kLlIoctlDev;
    return all;
}

// ---------------------------------------------------------------------------------------
// What the first process of a run (the "init") and the program's own process do between
// clone and exec. They may be copies of one thread of a threaded process (when the checker
// forks them itself, without the launcher below), so they use system calls only: no
// allocation, no lock, no stdio. Everything they need is prepared first.

struct Mount {
    std::string source;  // a path (or /proc/self/fd/N) to bind, or the file system type
    std::string target;  // absolute, below the new root
    enum Kind { bind_ro, bind_rw, bind_dev, tmpfs_mask } kind = bind_ro;
    dev_t dev = 0;  // when not 0: what the bound path must be (it may have been swapped)
    ino_t ino = 0;
};

struct Plan {
    bool sandboxed = true;
    bool switch_user = false;  // become program_uid() and program_gid()
    uid_t uid = 0;
    gid_t gid = 0;
    std::string root;                // where the new root is mounted
    std::string root_options;        // its tmpfs options
    std::vector<std::string> dirs;   // made below the root, parents first
    std::vector<std::string> files;  // empty files made below the root (mount points)
    std::vector<std::pair<std::string, std::string>> links;  // link, target
    std::vector<Mount> mounts;
    std::string proc;       // where the new /proc goes
    std::vector<int> keep;  // the descriptors the init keeps
    int sync_fd = -1, report_fd = -1, in_fd = -1, out_fd = -1, err_fd = -1;
    std::string executable, folder, stdout_to;
    std::vector<std::string> argv_strings, env_strings;
    std::vector<char*> argv, envp;
    rlimit cpu{}, memory{}, processes{}, file_size{}, open_files{};
    long landlock_abi = 0;
    static constexpr std::size_t kStack = std::size_t{256} * 1024;
    std::unique_ptr<char[]> program_stack = std::make_unique_for_overwrite<char[]>(kStack);
};

// What the init tells the checker, in one write.
struct Report {
    enum Kind : int { failed = 1, started = 2, ended = 3 } kind;
    int value;  // failed: errno; started: the program's process ID; ended: wait status
    char step[96];
    rusage usage;
};

// A raw clone without glibc's fork handlers (they would take locks another thread of the
// checker may hold); 0 in the child.
pid_t raw_clone(std::uint64_t flags,
                int* pidfd) {  // NOLINT(readability-non-const-parameter): the kernel writes it
    clone_args args{};
    args.flags = flags;
    args.pidfd = reinterpret_cast<std::uint64_t>(pidfd);
    args.exit_signal = SIGCHLD;
    return static_cast<pid_t>(::syscall(SYS_clone3, &args, sizeof args));
}

void copy_step(char* to, std::size_t size, const char* a, const char* b) {
    std::size_t n = 0;
    for (const char* s : {a, b})
        for (; s != nullptr && *s != '\0' && n + 1 < size; ++s) to[n++] = *s;
    to[n] = '\0';
}

[[noreturn]] void fail_init(const Plan& p, const char* step, const char* what) {
    Report r{};
    r.kind = Report::failed;
    r.value = errno;
    copy_step(r.step, sizeof r.step, step, what);
    (void)!::write(p.report_fd, &r, sizeof r);
    ::_exit(1);
}

// Closes every descriptor but those of `keep` (sorted).
void close_others(const std::vector<int>& keep) {
    unsigned from = 3;
    for (int fd : keep) {
        if (static_cast<unsigned>(fd) > from)
            ::syscall(SYS_close_range, from, static_cast<unsigned>(fd) - 1, 0);
        from = std::max(from, static_cast<unsigned>(fd) + 1);
    }
    ::syscall(SYS_close_range, from, ~0U, 0);
}

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

// Builds the file system view of the plan and makes it the root.
void enter_view(const Plan& p) {
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        fail_init(p, "making the mounts private", "");
    if (::mount("tmpfs", p.root.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, p.root_options.c_str()))
        fail_init(p, "mounting the new root", "");
    for (const std::string& d : p.dirs)
        if (::mkdir(d.c_str(), 0755) != 0 && errno != EEXIST) fail_init(p, "mkdir ", d.c_str());
    for (const std::string& f : p.files) {
        int fd = ::open(f.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) fail_init(p, "creating ", f.c_str());
        ::close(fd);
    }
    for (const auto& [link, target] : p.links)
        if (::symlink(target.c_str(), link.c_str()) != 0) fail_init(p, "symlink ", link.c_str());
    for (const Mount& m : p.mounts) {
        const char* t = m.target.c_str();
        if (m.kind == Mount::tmpfs_mask) {
            if (::mount("tmpfs", t, "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC | MS_RDONLY,
                        "size=4k,nr_inodes=2,mode=0555") != 0)
                fail_init(p, "hiding ", t);
            continue;
        }
        if (::mount(m.source.c_str(), t, nullptr, MS_BIND | MS_REC, nullptr) != 0)
            fail_init(p, "binding ", t);
        struct stat st {};
        if (m.dev != 0 && (::stat(t, &st) != 0 || st.st_dev != m.dev || st.st_ino != m.ino)) {
            errno = ESTALE;
            fail_init(p, "binding ", m.source.c_str());
        }
        unsigned long flags = MS_REMOUNT | MS_BIND | MS_NOSUID | MS_NODEV | locked_flags(t);
        if (m.kind == Mount::bind_ro) flags |= MS_RDONLY;
        if (m.kind == Mount::bind_dev)
            flags = (flags & ~static_cast<unsigned long>(MS_NODEV)) | MS_NOEXEC;
        if (::mount(nullptr, t, nullptr, flags, nullptr) != 0) fail_init(p, "remounting ", t);
    }
    // A /proc of the new PID namespace, where processes the reader may not trace (the init)
    // are invisible and nothing but the processes is shown; plainer forms where the kernel
    // refuses an option, none at all where it refuses proc.
    const unsigned long proc_flags = MS_NOSUID | MS_NODEV | MS_NOEXEC;
    if (::mount("proc", p.proc.c_str(), "proc", proc_flags, "hidepid=invisible,subset=pid") != 0 &&
        ::mount("proc", p.proc.c_str(), "proc", proc_flags, "hidepid=invisible") != 0 &&
        ::mount("proc", p.proc.c_str(), "proc", proc_flags, "hidepid=2") != 0)
        fail_init(p, "mounting /proc", "");
    if (::mount(nullptr, p.root.c_str(), nullptr,
                MS_REMOUNT | MS_BIND | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr) != 0)
        fail_init(p, "making the new root read-only", "");
    if (::chdir(p.root.c_str()) != 0) fail_init(p, "entering the new root", "");
    if (::syscall(SYS_pivot_root, ".", ".") != 0) fail_init(p, "pivot_root", "");
    if (::umount2(".", MNT_DETACH) != 0) fail_init(p, "leaving the old root", "");
    if (::chdir("/") != 0) fail_init(p, "chdir /", "");
    ::sethostname("sandbox", 7);
}

// Landlock's second wall: read and execute beneath /, everything in the working folder,
// reading and writing /dev's files; no TCP; no signal or abstract socket outside.
bool restrict_with_landlock(const Plan& p) {
    if (p.landlock_abi <= 0) return true;
    const std::uint64_t fs_rights = landlock_fs_rights(p.landlock_abi);
    LandlockRuleset attr{fs_rights, p.landlock_abi >= 4 ? 3ULL : 0ULL,
                         p.landlock_abi >= 6 ? 3ULL : 0ULL};
    std::size_t size = p.landlock_abi >= 6   ? sizeof attr
                       : p.landlock_abi >= 4 ? 2 * sizeof(std::uint64_t)
                                             : sizeof(std::uint64_t);
    int ruleset = static_cast<int>(::syscall(kLandlockCreate, &attr, size, 0));
    if (ruleset < 0) return false;
    const std::uint64_t file_rights = kLlWriteFile | kLlReadFile |
                                      (p.landlock_abi >= 3 ? kLlTruncate : 0) |
                                      (p.landlock_abi >= 5 ? kLlIoctlDev : 0);
    struct Rule {
        const char* path;
        std::uint64_t rights;
    };
    const Rule rules[] = {{"/", kLlExecute | kLlReadFile | kLlReadDir},
                          {p.folder.c_str(), fs_rights},
                          {"/dev/null", file_rights},
                          {"/dev/zero", file_rights},
                          {"/dev/full", file_rights},
                          {"/dev/urandom", file_rights},
                          {"/dev/random", file_rights}};
    for (const Rule& r : rules) {
        int fd = ::open(r.path, O_PATH | O_CLOEXEC);
        if (fd < 0) continue;
        LandlockPathRule rule{r.rights, fd};
        long added = ::syscall(kLandlockAddRule, ruleset, 1, &rule, 0);
        ::close(fd);
        if (added != 0) return false;
    }
    bool done = ::syscall(kLandlockRestrict, ruleset, 0) == 0;
    ::close(ruleset);
    return done;
}

// The program's own process: its streams, limits, identity and walls, then exec.
[[noreturn]] void become_program(const Plan& p, int exec_error) {
    auto fail = [&](const char* step) {
        int e[2] = {errno, 0};
        std::size_t n = 0;
        for (const char* s = step; *s != '\0' && n < 40; ++s) ++n;
        e[1] = static_cast<int>(n);
        (void)!::write(exec_error, e, sizeof e);
        (void)!::write(exec_error, step, n);
        ::_exit(127);
    };
    ::setsid();
    if (::chdir(p.folder.c_str()) != 0) fail("entering the working folder");
    if (::dup2(p.in_fd, 0) < 0 || ::dup2(p.err_fd, 2) < 0) fail("standard streams");
    if (p.stdout_to.empty()) {
        if (::dup2(p.out_fd, 1) < 0) fail("standard output");
    } else {
        int fd = ::open(p.stdout_to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::dup2(fd, 1) < 0) fail("opening the standard output file");
    }
    if (exec_error != 3) {
        if (::dup3(exec_error, 3, O_CLOEXEC) < 0) fail("descriptors");
        exec_error = 3;
    }
    ::syscall(SYS_close_range, 4U, ~0U, 0);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int s = 1; s < NSIG; ++s) ::sigaction(s, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::umask(022);
    const rlimit no_core{0, 0};
    if (::setrlimit(RLIMIT_CORE, &no_core) != 0 || ::setrlimit(RLIMIT_CPU, &p.cpu) != 0 ||
        ::setrlimit(RLIMIT_AS, &p.memory) != 0 || ::setrlimit(RLIMIT_NPROC, &p.processes) != 0 ||
        ::setrlimit(RLIMIT_FSIZE, &p.file_size) != 0 ||
        ::setrlimit(RLIMIT_NOFILE, &p.open_files) != 0)
        fail("setting the limits");
    // The system calls themselves: glibc's wrappers would wait for the checker's other
    // threads, which this process does not have, to change their identity too.
    if (p.switch_user && (::syscall(SYS_setgroups, 0, nullptr) != 0 ||
                          ::syscall(SYS_setresgid, p.gid, p.gid, p.gid) != 0 ||
                          ::syscall(SYS_setresuid, p.uid, p.uid, p.uid) != 0))
        fail("becoming the unprivileged user");
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) fail("no new privileges");
    if (p.sandboxed && !restrict_with_landlock(p)) fail("Landlock");
    ::execve(p.executable.c_str(), p.argv.data(), p.envp.data());
    fail("");
    ::_exit(127);
}

// The first process of the run: builds the view, starts the program, waits for it, reports
// how it ended and exits, which ends every other process of the run.
[[noreturn]] void be_init(const Plan& p) {
    close_others(p.keep);
    ::signal(SIGCHLD, SIG_DFL);  // the launcher ignores it, to reap the inits
    // Killed when its parent dies from here on; a parent that died before cannot say go.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    char go = 0;
    if (::read(p.sync_fd, &go, 1) != 1) ::_exit(1);  // the starter gave up, or died
    ::close(p.sync_fd);
    if (p.sandboxed) enter_view(p);
    int exec_pipe[2];
    if (::pipe2(exec_pipe, O_CLOEXEC) != 0) fail_init(p, "pipe", "");
    // The program's process shares the init's memory until it executes (the init waits for
    // that), as vfork does: nothing is copied.
    struct Start {
        const Plan* plan;
        int exec_error;
    } start{&p, exec_pipe[1]};
    auto program_main = [](void* arg) -> int {
        const auto* s = static_cast<const Start*>(arg);
        ::syscall(SYS_close_range, static_cast<unsigned>(s->plan->report_fd),
                  static_cast<unsigned>(s->plan->report_fd), 0);
        become_program(*s->plan, s->exec_error);
    };
    char* stack_top = p.program_stack.get() + Plan::kStack;
    pid_t program = ::clone(program_main, stack_top, CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
    if (program < 0) fail_init(p, "starting the program", "");
    ::close(exec_pipe[1]);
    ::close(p.in_fd);
    ::close(p.out_fd);
    ::close(p.err_fd);
    Report r{};
    r.kind = Report::started;
    r.value = program;
    (void)!::write(p.report_fd, &r, sizeof r);
    int e[2] = {0, 0};
    ssize_t got = ::read(exec_pipe[0], e, sizeof e);
    if (got == sizeof e) {
        char step[48] = {};
        if (e[1] > 0)
            (void)!::read(exec_pipe[0], step,
                          std::min<std::size_t>(47, static_cast<std::size_t>(e[1])));
        ::waitpid(program, nullptr, 0);
        errno = e[0];
        fail_init(p, step, "");
    }
    int status = 0;
    rusage usage{};
    for (;;) {
        pid_t w = ::wait4(-1, &status, 0, &usage);
        if (w == program) break;
        if (w < 0 && errno != EINTR) ::_exit(1);
    }
    r = Report{};
    r.kind = Report::ended;
    r.value = status;
    r.usage = usage;
    (void)!::write(p.report_fd, &r, sizeof r);
    if (!p.sandboxed) ::kill(-program, SIGKILL);  // its process group, at least
    ::_exit(0);
}

// ---------------------------------------------------------------------------------------
// The checker's side.

bool g_tmpfs = false;

// True once the checker is in a network namespace of its own, with nothing but a loopback
// interface that is down: runs then share it (a new one costs more than the rest of a
// run's sandbox), and still reach nothing.
bool g_own_network = false;

// A pipe whose ends are closed at exec.
void make_pipe(int ends[2]) {
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
}

bool write_file(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

std::string read_small(const char* path) {
    std::ifstream in(path);
    std::string word;
    in >> word;
    return word;
}

// Maps the program's user and group (and, for a root checker, root) into the new user
// namespace of process `pid`.
bool write_maps(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0)
        return write_file(proc + "/uid_map", "0 0 1\n65534 65534 1\n") &&
               write_file(proc + "/gid_map", "0 0 1\n65534 65534 1\n");
    return write_file(proc + "/setgroups", "deny") &&
           write_file(proc + "/uid_map",
                      std::to_string(uid) + " " + std::to_string(uid) + " 1\n") &&
           write_file(proc + "/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1\n");
}

constexpr std::uint64_t kNamespaces =
    CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWPID | CLONE_NEWNET | CLONE_NEWIPC | CLONE_NEWUTS;

// Why the kernel refuses the sandbox, in the words of its settings; "" when it does not.
std::string probe() {
    int sync[2];
    make_pipe(sync);
    int pidfd = -1;
    pid_t child = raw_clone(kNamespaces | CLONE_PIDFD, &pidfd);
    int error = errno;
    if (child == 0) {
        ::close(sync[1]);
        char go = 0;
        if (::read(sync[0], &go, 1) != 1) ::_exit(2);
        ::_exit(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 ? 0 : 1);
    }
    ::close(sync[0]);
    int status = -1;
    if (child > 0) {
        if (write_maps(child)) (void)!::write(sync[1], "g", 1);
        ::close(sync[1]);
        ::waitpid(child, &status, 0);
        ::close(pidfd);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
        error = EPERM;
    } else {
        ::close(sync[1]);
    }
    if (read_small("/proc/sys/kernel/apparmor_restrict_unprivileged_userns") == "1")
        return "AppArmor restricts unprivileged user namespaces "
               "(kernel.apparmor_restrict_unprivileged_userns is 1)";
    if (read_small("/proc/sys/user/max_user_namespaces") == "0")
        return "user namespaces are switched off (user.max_user_namespaces is 0)";
    if (read_small("/proc/sys/kernel/unprivileged_userns_clone") == "0")
        return "unprivileged user namespaces are switched off "
               "(kernel.unprivileged_userns_clone is 0)";
    return std::string("the kernel refuses new namespaces (") + std::strerror(error) + ")";
}

// ---------------------------------------------------------------------------------------
// The launcher: a small process forked from the checker when it is still small and has
// one thread, which starts every run's init. A fork copies the forking process's page
// tables and makes its memory copy-on-write until the child ends, which the init does
// only at the run's end; forked from the checker itself, a run would cost more the more
// memory the checker holds, and its threads would fault on each other's pages. The
// checker sends the launcher a run's plan and the ends of its pipes over a socket; the
// launcher forks the init, writes its user namespace's maps, lets it go, and sends back
// a pidfd for it, through which the checker sees its end and stops it. The launcher
// reaps the inits (they are its children), ends when the checker closes the socket, and
// is killed when the checker dies.

// A plan's fields, in the order they travel to the launcher: `io` is a Wire, which
// writes them, or an Unwire, which fills them back in. One list, so that both sides agree.
template <class P, class IO>
void plan_fields(P& p, IO& io) {
    io(p.sandboxed), io(p.switch_user), io(p.uid), io(p.gid);
    io(p.root), io(p.root_options), io(p.dirs), io(p.files), io(p.links), io(p.mounts), io(p.proc);
    io(p.executable), io(p.folder), io(p.stdout_to), io(p.argv_strings), io(p.env_strings);
    io(p.cpu), io(p.memory), io(p.processes), io(p.file_size), io(p.open_files);
    io(p.landlock_abi);
}

// Writes fields as bytes: numbers as 8 bytes, strings and lists as their length, then
// what they hold.
class Wire {
public:
    template <class T>
    void operator()(const T& v) {
        if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
            const auto n = static_cast<std::uint64_t>(v);
            bytes_.append(reinterpret_cast<const char*>(&n), sizeof n);
        } else {
            (*this)(v.size());
            for (const auto& item : v) (*this)(item);
        }
    }
    void operator()(const std::string& s) {
        (*this)(s.size());
        bytes_ += s;
    }
    void operator()(const std::pair<std::string, std::string>& link) {
        (*this)(link.first), (*this)(link.second);
    }
    void operator()(const Mount& m) {
        (*this)(m.source), (*this)(m.target), (*this)(m.kind), (*this)(m.dev), (*this)(m.ino);
    }
    void operator()(const rlimit& r) { (*this)(r.rlim_cur), (*this)(r.rlim_max); }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// Reads back what a Wire wrote; ok() is false once anything did not fit.
class Unwire {
public:
    Unwire(const char* data, std::size_t size) : at_(data), end_(data + size) {}
    bool ok() const { return ok_; }
    template <class T>
    void operator()(T& v) {
        if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
            std::uint64_t n = 0;
            if (left() < sizeof n) return fail();
            std::memcpy(&n, at_, sizeof n);
            at_ += sizeof n;
            v = static_cast<T>(n);
        } else {
            std::size_t n = 0;
            (*this)(n);
            if (n > left() / sizeof(std::uint64_t)) return fail();  // each takes 8 bytes or more
            v.resize(n);
            for (auto& item : v) (*this)(item);
        }
    }
    void operator()(std::string& s) {
        std::size_t n = 0;
        (*this)(n);
        if (n > left()) return fail();
        s.assign(at_, n);
        at_ += n;
    }
    void operator()(std::pair<std::string, std::string>& link) {
        (*this)(link.first), (*this)(link.second);
    }
    void operator()(Mount& m) {
        std::uint64_t kind = 0;
        (*this)(m.source), (*this)(m.target), (*this)(kind), (*this)(m.dev), (*this)(m.ino);
        if (kind > Mount::tmpfs_mask) return fail();
        m.kind = static_cast<Mount::Kind>(kind);
    }
    void operator()(rlimit& r) { (*this)(r.rlim_cur), (*this)(r.rlim_max); }

private:
    std::size_t left() const { return static_cast<std::size_t>(end_ - at_); }
    void fail() {
        ok_ = false;
        at_ = end_;
    }
    const char* at_;
    const char* end_;
    bool ok_ = true;
};

std::string encode(const Plan& p) {
    Wire w;
    plan_fields(p, w);
    return w.bytes();
}

bool decode(const char* data, std::size_t size, Plan& p) {
    Unwire u(data, size);
    plan_fields(p, u);
    if (!u.ok()) return false;
    for (std::string& s : p.argv_strings) p.argv.push_back(s.data());
    p.argv.push_back(nullptr);
    for (std::string& s : p.env_strings) p.envp.push_back(s.data());
    p.envp.push_back(nullptr);
    return true;
}

// The pipe ends a run's init gets, in this order.
constexpr std::size_t kRunFds = 4;  // report, standard input, output, error

// One message over the launcher's socket: `bytes`, with `fds` (at most kRunFds) attached.
bool send_message(int sock, const void* bytes, std::size_t size, const int* fds, std::size_t n) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-const-cast): sendmsg only reads the iovec's bytes
    iovec io{const_cast<void*>(bytes), size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kRunFds)] = {};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    if (n > 0) {
        msg.msg_control = control;
        msg.msg_controllen = CMSG_SPACE(sizeof(int) * n);
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * n);
        std::memcpy(CMSG_DATA(c), fds, sizeof(int) * n);
    }
    ssize_t sent = 0;
    do sent = ::sendmsg(sock, &msg, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(size);
}

// Receives one message into `buffer` and the descriptors attached to it (close-on-exec);
// its size, or -1 at the end of the socket or when it does not fit.
ssize_t receive_message(int sock,
                        char* buffer,  // NOLINT(readability-non-const-parameter): recvmsg fills it
                        std::size_t size, std::vector<int>& fds) {
    iovec io{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * kRunFds)] = {};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t got = 0;
    do got = ::recvmsg(sock, &msg, MSG_CMSG_CLOEXEC);
    while (got < 0 && errno == EINTR);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS)
            for (std::size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
                int fd = -1;
                std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
                fds.push_back(fd);
            }
    if (got > 0 && (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0) return -1;
    return got;
}

// What the launcher answers: the init's process ID, or -1 and the error; its pidfd attached.
struct Started {
    pid_t pid;
    int error;
};

// The largest plan sent, well within a socket's default send buffer; a larger one (a case
// with huge arguments) is started by the checker itself.
constexpr std::size_t kPlanBytes = std::size_t{128} << 10;

// Starts the init of the plan (whose descriptors are set) as a child of the calling
// process, maps its user namespace and lets it go; its pidfd, or -1 with errno set.
int start_init(Plan& plan) {
    int sync[2];
    if (::pipe2(sync, O_CLOEXEC) != 0) return -1;
    plan.sync_fd = sync[0];
    plan.keep = {sync[0], plan.report_fd, plan.in_fd, plan.out_fd, plan.err_fd};
    std::sort(plan.keep.begin(), plan.keep.end());
    int pidfd = -1;
    const std::uint64_t namespaces =
        g_own_network ? kNamespaces & ~std::uint64_t{CLONE_NEWNET} : kNamespaces;
    pid_t init = raw_clone((plan.sandboxed ? namespaces : 0) | CLONE_PIDFD, &pidfd);
    if (init == 0) be_init(plan);
    const int error = errno;
    ::close(sync[0]);
    if (init > 0 && (!plan.sandboxed || write_maps(init))) (void)!::write(sync[1], "g", 1);
    ::close(sync[1]);  // unless it got "g", the init gives up
    errno = error;
    return init < 0 ? -1 : pidfd;
}

[[noreturn]] void be_launcher(int sock) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Nothing open but the socket, above the standard streams, which are /dev/null: a
    // descriptor received later never takes a standard stream's number.
    int moved = ::fcntl(sock, F_DUPFD_CLOEXEC, 10);
    if (moved < 0) ::_exit(1);
    ::syscall(SYS_close_range, 0U, static_cast<unsigned>(moved) - 1, 0);
    ::syscall(SYS_close_range, static_cast<unsigned>(moved) + 1, ~0U, 0);
    sock = moved;
    for (int fd = 0; fd < 3; ++fd)
        if (::open("/dev/null", O_RDWR) != fd) ::_exit(1);
    ::signal(SIGCHLD, SIG_IGN);  // the inits are reaped as they end
    std::unique_ptr<char[]> buffer = std::make_unique_for_overwrite<char[]>(kPlanBytes);
    for (;;) {
        std::vector<int> fds;
        ssize_t got = receive_message(sock, buffer.get(), kPlanBytes, fds);
        if (got <= 0) ::_exit(0);  // the checker has gone
        Started answer{-1, EPROTO};
        int pidfd = -1;
        {
            Plan plan;
            if (fds.size() == kRunFds &&
                decode(buffer.get(), static_cast<std::size_t>(got), plan)) {
                plan.report_fd = fds[0];
                plan.in_fd = fds[1];
                plan.out_fd = fds[2];
                plan.err_fd = fds[3];
                pidfd = start_init(plan);
                answer = pidfd < 0 ? Started{-1, errno} : Started{0, 0};
            }
        }
        for (int fd : fds) ::close(fd);
        if (!send_message(sock, &answer, sizeof answer, &pidfd, pidfd < 0 ? 0 : 1)) ::_exit(1);
        if (pidfd >= 0) ::close(pidfd);
    }
}

// The launcher's socket, or -1 where runs are forked from the checker itself; requests
// are made one at a time.
int g_launcher = -1;
std::mutex g_launcher_lock;

void start_launcher() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return;
    int pidfd = -1;
    pid_t pid = raw_clone(CLONE_PIDFD, &pidfd);
    if (pid == 0) be_launcher(ends[1]);
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        return;
    }
    ::close(pidfd);
    g_launcher = ends[0];
}

// Asks the launcher to start the plan's init with these descriptors; its pidfd, or -1
// with `error` set (0 when the launcher is gone or the plan too large for it: then the
// checker starts the run itself).
int launch(const Plan& plan, const int (&fds)[kRunFds], int& error) {
    error = 0;
    const std::string bytes = encode(plan);
    if (bytes.size() > kPlanBytes) return -1;
    std::lock_guard<std::mutex> lock(g_launcher_lock);
    if (g_launcher < 0) return -1;
    Started answer{-1, 0};
    std::vector<int> got;
    if (!send_message(g_launcher, bytes.data(), bytes.size(), fds, kRunFds) ||
        receive_message(g_launcher, reinterpret_cast<char*>(&answer), sizeof answer, got) !=
            static_cast<ssize_t>(sizeof answer)) {
        for (int fd : got) ::close(fd);
        ::close(g_launcher);
        g_launcher = -1;
        return -1;
    }
    if (answer.pid < 0 || got.size() != 1) {
        for (int fd : got) ::close(fd);
        error = answer.error != 0 ? answer.error : EPROTO;
        return -1;
    }
    return got[0];
}

// Puts the checker in mount and network namespaces of its own (and, unless it is root, a
// user namespace mapping it to itself), where it may mount the working folders' file
// systems and has no network to share with the runs.
bool own_namespaces() {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) return false;
    } else {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0) return false;
        if (!write_file("/proc/self/setgroups", "deny") ||
            !write_file("/proc/self/uid_map",
                        std::to_string(uid) + " " + std::to_string(uid) + " 1\n") ||
            !write_file("/proc/self/gid_map",
                        std::to_string(gid) + " " + std::to_string(gid) + " 1\n"))
            return false;
    }
    g_own_network = true;
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0;
}

// The system entries every view holds: a link where the host has a link, a read-only bind
// where it has a folder.
struct System {
    std::vector<std::pair<std::string, std::string>> links;  // "/bin" -> "usr/bin"
    std::vector<std::string> folders;                        // "/usr", "/etc"
};

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

// The checker's own folder under the temporary folder, a small file system of its own when
// the checker has its own mount namespace (then it is gone with the checker, whatever
// happens, but for the empty folder), holding the working folders and "root", where every
// run mounts its new root.
std::string* g_run_folder = nullptr;

// Makes the run folder; called once, through make_run_folder.
std::string* new_run_folder() {
    std::string pattern = (fs::temp_directory_path() / "collection-check.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(pattern + ": " + std::strerror(errno));
    if (g_tmpfs && ::mount("tmpfs", pattern.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                           "size=512m,nr_inodes=1048576,mode=0711") != 0) {
        ::rmdir(pattern.c_str());
        throw std::runtime_error(pattern + ": mounting its file system: " + std::strerror(errno));
    }
    if (::mkdir((pattern + "/root").c_str(), 0700) != 0)
        throw std::runtime_error(pattern + "/root: " + std::strerror(errno));
    g_run_folder = new std::string(pattern);  // never destroyed: it is removed at exit
    std::atexit([] {
        ::rmdir((*g_run_folder + "/root").c_str());
        if (g_tmpfs) ::umount2(g_run_folder->c_str(), MNT_DETACH);
        ::rmdir(g_run_folder->c_str());
    });
    return g_run_folder;
}

const std::string& make_run_folder() {
    static std::string* const folder = new_run_folder();  // made once, whatever the threads
    return *folder;
}

long landlock_abi() {
    static const long abi = [] {
        long v = ::syscall(kLandlockCreate, nullptr, 0, 1U);
        return v < 0 ? 0L : v;
    }();
    return abi;
}

rlimit limit_of(std::uint64_t soft, std::uint64_t hard) {
    return rlimit{static_cast<rlim_t>(soft), static_cast<rlim_t>(hard)};
}

// The plan of one run: the view, the descriptors and the program.
void fill_plan(Plan& plan, const Program& p, const Limits& limits, const Containment& c) {
    plan.sandboxed = c.sandboxed;
    plan.switch_user = c.sandboxed && ::geteuid() == 0;
    plan.uid = program_uid();
    plan.gid = program_gid();
    plan.executable = p.executable.string();
    plan.folder = p.folder.string();
    plan.stdout_to = p.stdout_to;
    plan.argv_strings = p.argv;
    plan.env_strings = {"PATH=/usr/local/bin:/usr/bin:/bin", "HOME=" + plan.folder, "LANG=C.UTF-8"};
    plan.env_strings.insert(plan.env_strings.end(), p.env.begin(), p.env.end());
    for (std::string& s : plan.argv_strings) plan.argv.push_back(s.data());
    plan.argv.push_back(nullptr);
    for (std::string& s : plan.env_strings) plan.envp.push_back(s.data());
    plan.envp.push_back(nullptr);
    const auto cpu = static_cast<std::uint64_t>(std::max(1.0, limits.cpu + 0.999));
    plan.cpu = limit_of(cpu, cpu + 1);
    plan.memory = limits.memory == 0 ? rlimit{RLIM_INFINITY, RLIM_INFINITY}
                                     : limit_of(limits.memory, limits.memory);
    // The init counts against the limit too when it is the same user as the program.
    const unsigned extra = plan.switch_user ? 0 : 1;
    plan.processes = limit_of(limits.processes + extra, limits.processes + extra);
    plan.file_size = limit_of(limits.file_size, limits.file_size);
    plan.open_files = limit_of(limits.open_files, limits.open_files);
    if (!c.sandboxed) return;

    plan.landlock_abi = landlock_abi();
    const std::string root = make_run_folder() + "/root";
    plan.root = root;
    plan.root_options = "size=1m,nr_inodes=4096,mode=0755";
    const System& sys = system_entries();
    std::set<std::string> made;
    for (const auto& [link, target] : sys.links) plan.links.emplace_back(root + link, target);
    auto visible = [&](const fs::path& path) {
        return std::any_of(sys.folders.begin(), sys.folders.end(),
                           [&](const std::string& f) { return beneath(path, f); });
    };
    for (const std::string& f : sys.folders) {
        plan.dirs.push_back(root + f);
        made.insert(root + f);
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
    // The executable where it really is: a path through a link of the view (/bin/sh) is
    // found through that link once the real file is there.
    std::error_code ec;
    fs::path executable = fs::canonical(p.executable, ec);
    if (ec) executable = p.executable;
    if (!visible(executable)) bind(executable, Mount::bind_ro);
    for (const fs::path& a : c.allowed)
        if (!visible(a)) bind(a, Mount::bind_ro);
    bind(p.folder, Mount::bind_rw);
    plan.dirs.push_back(root + "/dev");
    plan.dirs.push_back(root + "/proc");
    for (const char* d : {"null", "zero", "full", "urandom", "random"}) {
        std::string host = std::string("/dev/") + d;
        if (::access(host.c_str(), F_OK) != 0) continue;
        plan.files.push_back(root + host);
        plan.mounts.push_back({host, root + host, Mount::bind_dev});
    }
    for (const char* fd : {"stdin", "stdout", "stderr"}) {
        std::string n = std::to_string(fd[3] == 'i' ? 0 : fd[3] == 'o' ? 1 : 2);
        plan.links.emplace_back(root + "/dev/" + fd, "/proc/self/fd/" + n);
    }
    plan.links.emplace_back(root + "/dev/fd", "/proc/self/fd");
    plan.proc = root + "/proc";
    // The cases stay out of sight wherever a visible path holds them.
    for (const fs::path& hidden : hidden_paths()) {
        bool shown = visible(hidden);
        for (const fs::path& a : c.allowed) shown = shown || beneath(hidden, a);
        struct stat st {};
        if (shown && ::stat(hidden.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            plan.mounts.push_back({"", root + hidden.string(), Mount::tmpfs_mask});
    }
}

// Waits for the run's end (the init's), feeding standard input and reading both streams;
// stops it at the wall time or output limit.
void supervise(Outcome& o, int pidfd, int in, int out, int err, int report, const Program& p,
               const Limits& limits, bool sandboxed, bool own_child) {
    const auto started = Clock::now();
    const auto deadline = started + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(limits.wall));
    std::size_t fed = 0;
    std::string reports;
    std::string* sinks[] = {&o.out, &o.err};
    int streams[] = {out, err};
    bool* cut[] = {&o.out_cut, &o.err_cut};
    if (p.input.empty()) {
        ::close(in);
        in = -1;
    }
    bool running = true;
    char chunk[65536];
    auto read_stream = [&](int i) {  // false when the stream passed the limit
        for (;;) {
            ssize_t got = ::read(streams[i], chunk, sizeof chunk);
            if (got <= 0) {
                if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                    ::close(streams[i]);
                    streams[i] = -1;
                }
                return true;
            }
            std::size_t room =
                limits.output - std::min<std::size_t>(limits.output, sinks[i]->size());
            sinks[i]->append(chunk, std::min<std::size_t>(room, static_cast<std::size_t>(got)));
            if (static_cast<std::size_t>(got) > room) {
                *cut[i] = true;
                return false;
            }
        }
    };
    while (running) {
        pollfd fds[5] = {{pidfd, POLLIN, 0},
                         {streams[0], POLLIN, 0},
                         {streams[1], POLLIN, 0},
                         {report, POLLIN, 0},
                         {in, POLLOUT, 0}};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        int wait = static_cast<int>(std::max<long>(0, left.count() + 1));
        int ready = ::poll(fds, 5, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0 && Clock::now() >= deadline) {
            o.end = Outcome::End::wall_limit;
            break;
        }
        for (int i = 0; i < 2; ++i)
            if (streams[i] >= 0 && fds[i + 1].revents != 0 && !read_stream(i)) {
                o.end = Outcome::End::output_limit;
                running = false;
            }
        if (!running) break;
        if (report >= 0 && fds[3].revents != 0) {
            ssize_t got = ::read(report, chunk, sizeof chunk);
            if (got > 0)
                reports.append(chunk, static_cast<std::size_t>(got));
            else {
                ::close(report);
                report = -1;
            }
        }
        if (in >= 0 && fds[4].revents != 0) {
            ssize_t put = ::write(in, p.input.data() + fed, p.input.size() - fed);
            if (put > 0) fed += static_cast<std::size_t>(put);
            if ((put < 0 && errno != EAGAIN && errno != EINTR) || fed == p.input.size()) {
                ::close(in);
                in = -1;
            }
        }
        if (fds[0].revents != 0) running = false;
    }
    const bool stopped = o.end == Outcome::End::wall_limit || o.end == Outcome::End::output_limit;
    if (stopped) {
        if (!sandboxed && reports.size() >= sizeof(Report)) {
            Report r{};
            std::memcpy(&r, reports.data(), sizeof r);
            if (r.kind == Report::started && r.value > 0) ::kill(-r.value, SIGKILL);
        }
        ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
    }
    if (own_child) {
        siginfo_t info{};
        ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info, WEXITED);
    } else if (stopped) {  // the launcher's child: its pidfd is readable once it has ended
        pollfd end{pidfd, POLLIN, 0};
        while (::poll(&end, 1, -1) < 0 && errno == EINTR) {
        }
    }
    o.wall_seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (in >= 0) ::close(in);
    // Every writer has ended: what is left in the pipes is all there is.
    for (int i = 0; i < 2; ++i)
        if (streams[i] >= 0) {
            if (!stopped && !read_stream(i)) o.end = Outcome::End::output_limit;
            if (streams[i] >= 0) ::close(streams[i]);
        }
    if (report >= 0) {
        ssize_t got = 0;
        while ((got = ::read(report, chunk, sizeof chunk)) > 0)
            reports.append(chunk, static_cast<std::size_t>(got));
        ::close(report);
    }
    bool started_seen = false;
    for (std::size_t at = 0; at + sizeof(Report) <= reports.size(); at += sizeof(Report)) {
        Report r{};
        std::memcpy(&r, reports.data() + at, sizeof r);
        if (r.kind == Report::failed) {
            o.end = Outcome::End::not_started;
            o.start_error = r.step[0] != '\0' ? std::string(r.step) + ": " + std::strerror(r.value)
                                              : std::strerror(r.value);
        } else if (r.kind == Report::started) {
            started_seen = true;
        } else if (r.kind == Report::ended) {
            o.cpu_seconds =
                static_cast<double>(r.usage.ru_utime.tv_sec + r.usage.ru_stime.tv_sec) +
                static_cast<double>(r.usage.ru_utime.tv_usec + r.usage.ru_stime.tv_usec) / 1e6;
            o.max_rss_kib = r.usage.ru_maxrss;  // NOLINT(cppcoreguidelines-pro-type-union-access):
                                                // rusage's own field
            if (!stopped) {
                if (WIFSIGNALED(r.value)) {
                    o.end = Outcome::End::signaled;
                    o.code = WTERMSIG(r.value);
                } else {
                    o.end = o.end == Outcome::End::output_limit ? o.end : Outcome::End::exited;
                    o.code = WEXITSTATUS(r.value);
                }
            }
        }
    }
    if (!stopped && o.end == Outcome::End::not_started && o.start_error.empty())
        o.start_error = started_seen ? "the process watching the program was killed"
                                     : "the sandbox ended before the program started";
}

}  // namespace

std::vector<fs::path>& hidden_paths() {
    static std::vector<fs::path> paths;
    return paths;
}

// True when `path` is `folder` or lies beneath it.
bool beneath(const fs::path& path, const fs::path& folder) {
    auto [f, p] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return f == folder.end();
}

uid_t program_uid() { return ::geteuid() == 0 ? 65534 : ::geteuid(); }
gid_t program_gid() { return ::geteuid() == 0 ? 65534 : ::getegid(); }

bool scratch_is_tmpfs() { return g_tmpfs; }

const std::string& run_folder() { return make_run_folder(); }

std::optional<std::string> prepare(const Containment& c) {
    ::prctl(PR_SET_DUMPABLE, 0);
    ::signal(SIGPIPE, SIG_IGN);
    if (c.sandboxed) {
        std::string refusal = probe();
        if (!refusal.empty()) return refusal;
        g_tmpfs = own_namespaces();
    }
    start_launcher();
    return std::nullopt;
}

Outcome run_contained(const Program& p, const Limits& limits, const Containment& c) {
    Outcome o;
    int in[2], out[2], err[2], report[2];
    make_pipe(in);
    make_pipe(out);
    make_pipe(err);
    make_pipe(report);
    for (int fd : {in[1], out[0], err[0], report[0]}) ::fcntl(fd, F_SETFL, O_NONBLOCK);
    auto close_theirs = [&] {
        for (int fd : {in[0], out[1], err[1], report[1]}) ::close(fd);
    };
    auto close_ours = [&] {
        for (int fd : {in[1], out[0], err[0], report[0]}) ::close(fd);
    };
    Plan plan;
    try {
        fill_plan(plan, p, limits, c);
    } catch (const std::exception& e) {
        close_theirs();
        close_ours();
        o.start_error = e.what();
        return o;
    }
    const int theirs[kRunFds] = {report[1], in[0], out[1], err[1]};
    int error = 0;
    int pidfd = launch(plan, theirs, error);
    const bool own_child = pidfd < 0 && error == 0;  // no launcher: the checker forks
    if (own_child) {
        plan.report_fd = report[1];
        plan.in_fd = in[0];
        plan.out_fd = out[1];
        plan.err_fd = err[1];
        pidfd = start_init(plan);
        error = errno;
    }
    close_theirs();
    if (pidfd < 0) {
        close_ours();
        o.start_error = std::string("the sandbox could not be made: ") + std::strerror(error);
        return o;
    }
    supervise(o, pidfd, in[1], out[0], err[0], report[0], p, limits, c.sandboxed, own_child);
    ::close(pidfd);
    return o;
}

}  // namespace check
