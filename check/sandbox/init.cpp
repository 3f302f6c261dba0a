// The run's first process (its "init") and the program's own process, from clone to exec.
//
// Guarantees:
//   - The init waits for the starter's word before anything, and dies with its parent from
//     then on; a starter that dies at any point takes it along.
//   - In namespaces, the init is the first process of the run's PID namespace: when it
//     exits, the kernel ends every other process of the run, setsid and double forks
//     included.
//   - Without namespaces, the init is a subreaper: every process of the run that loses its
//     parent becomes its child, and when the program has ended (or the checker asks it to
//     stop) the init kills its children over and over until none is left, then exits. The
//     checker sees the run's end only then.
//   - Where the run's memory is bounded, the init puts itself and so every process of the
//     run under the listener of refused allocations (check/sandbox/refusal.cpp) before the
//     program starts, and hands it to the checker.
//   - The program's process has descriptors 0 to 2 only, a session of its own, default
//     signal dispositions, umask 022, the limits, the unprivileged user when the checker
//     is root, no new privileges, then Landlock and the system-call filter, in that order,
//     right before exec.
// What runs here uses system calls only (see check/sandbox/internal.hpp).
#include <fcntl.h>
#include <linux/sched.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "check/sandbox/internal.hpp"

namespace check::sandbox {

namespace {

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
    if (!p.in_namespaces()) flush_coverage();
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

// The line "U U 1\n" of an identity map, mapping `id` to itself.
void map_line(char* to, std::uint64_t id) {
    char* end = put_number(to, id);
    *end++ = ' ';
    end = put_number(end, id);
    std::memcpy(end, " 1\n", 4);
}

// Maps the init's own user namespace, as a checker that is not root must: only its own
// user and group, after refusing setgroups. Its maps can be written only while its own
// user may trace it, which no process of a run can do yet.
bool map_self(const Plan& p) {
    char uid[64], gid[64];
    map_line(uid, p.outer_uid);
    map_line(gid, p.outer_gid);
    ::prctl(PR_SET_DUMPABLE, 1);
    const bool mapped = write_file("/proc/self/setgroups", "deny") &&
                        write_file("/proc/self/uid_map", uid) &&
                        write_file("/proc/self/gid_map", gid);
    ::prctl(PR_SET_DUMPABLE, 0);
    return mapped;
}

// The program's process ID, and whether a stop was asked, for the stop handler.
volatile pid_t g_program = 0;
volatile sig_atomic_t g_stop = 0;

// What the init does when asked to stop (SIGTERM from the checker, or its parent's death
// without namespaces): the program is killed, and the init goes on to end the others.
void stop_program(int /*signal*/) {
    g_stop = 1;
    if (g_program > 0) ::kill(g_program, SIGKILL);
}

// Kills every child of the init (it is single-threaded); false when /proc cannot list them.
bool kill_children() {
    char path[64] = "/proc/self/task/";
    char* end = put_number(path + 16, static_cast<std::uint64_t>(::getpid()));
    std::memcpy(end, "/children", 10);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    std::uint64_t pid = 0;
    bool digits = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] >= '0' && buffer[i] <= '9') {
                pid = pid * 10 + static_cast<std::uint64_t>(buffer[i] - '0');
                digits = true;
            } else {
                if (digits) ::kill(static_cast<pid_t>(pid), SIGKILL);
                pid = 0;
                digits = false;
            }
        }
    }
    if (digits) ::kill(static_cast<pid_t>(pid), SIGKILL);
    ::close(fd);
    return true;
}

// Ends every process left of the run: each child is killed, which makes its own children
// the init's, until no child is left.
// Each pass kills every child listed, then reaps all that have ended before it lists them
// again, so that a thousand processes cost a few passes, not a thousand.
void end_descendants(pid_t program) {
    ::kill(-program, SIGKILL);  // its process group, at once
    for (;;) {
        kill_children();
        int status = 0;
        bool reaped = false;
        for (;;) {
            const pid_t w = ::waitpid(-1, &status, WNOHANG | __WALL);
            if (w > 0) {
                reaped = true;
                continue;
            }
            if (w < 0 && errno == ECHILD) return;
            break;
        }
        if (!reaped && ::waitpid(-1, &status, __WALL) < 0 && errno == ECHILD) return;
    }
}

// The program's own process: its streams, limits, identity and walls, then exec.
[[noreturn]] void become_program(const Plan& p, int exec_error, bool modes_by_checker) {
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
    if (p.sandboxed() && !restrict_with_landlock(p)) fail("Landlock");
    if (!install_seccomp(p, modes_by_checker)) fail("the system-call filter");
    ::execve(p.executable.c_str(), p.argv.data(), p.envp.data());
    fail("");
    ::_exit(127);
}

// Puts the run under the listener that shows the checker its refused allocations, where
// its memory is bounded, and asks it to change modes, in the wall without namespaces
// (check/sandbox/refusal.cpp), and hands the listener over; where the kernel refuses one,
// the run goes on without. True when the checker changes modes for the run.
bool watch_refusals(const Plan& p) {
    const bool memory = p.memory.rlim_cur != RLIM_INFINITY;
    const bool modes = p.sandboxed() && !p.in_namespaces();
    if (!memory && !modes) return false;
    const int listener = install_refusal_listener(memory, modes);
    if (listener < 0) return false;
    const bool sent = send_listener(p.report_fd, listener);
    ::close(listener);
    return modes && sent;
}

}  // namespace

// gcc's own routine in a coverage build; absent (null) in any other.
extern "C" void __gcov_dump() __attribute__((weak));  // NOLINT(bugprone-reserved-identifier)

void flush_coverage() {
    if (__gcov_dump != nullptr) __gcov_dump();
}

pid_t raw_clone(std::uint64_t flags, int* pidfd, bool clone3) {
    if (clone3) {
        clone_args args{};
        args.flags = flags;
        args.pidfd = reinterpret_cast<std::uint64_t>(pidfd);
        args.exit_signal = SIGCHLD;
        const auto pid = static_cast<pid_t>(::syscall(SYS_clone3, &args, sizeof args));
        if (pid >= 0 || errno != ENOSYS) return pid;
    }
    // clone(flags, stack, parent_tid, child_tid, tls) on x86-64; with CLONE_PIDFD the
    // pidfd is written where parent_tid points.
    return static_cast<pid_t>(::syscall(SYS_clone, flags | SIGCHLD, nullptr, pidfd, nullptr, 0));
}

bool write_file(const char* path, const char* text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const std::size_t n = std::strlen(text);
    const bool ok = ::write(fd, text, n) == static_cast<ssize_t>(n);
    ::close(fd);
    return ok;
}

std::string read_small(const char* path) {
    std::ifstream in(path);
    std::string word;
    in >> word;
    return word;
}

char* put_number(char* to, std::uint64_t n) {
    char digits[24];
    std::size_t k = 0;
    do digits[k++] = static_cast<char>('0' + n % 10);
    while ((n /= 10) != 0);
    while (k > 0) *to++ = digits[--k];
    *to = '\0';
    return to;
}

[[noreturn]] void be_init(const Plan& p) {
    close_others(p.keep);
    ::signal(SIGCHLD, SIG_DFL);  // the launcher ignores it, to reap the inits
    // Without namespaces, its parent's death is a request to stop: the init ends the run's
    // processes itself. In them, the kernel does, and the init is simply killed.
    ::prctl(PR_SET_PDEATHSIG, p.in_namespaces() ? SIGKILL : SIGTERM);
    if (!p.in_namespaces()) {
        struct sigaction stop {};
        stop.sa_handler = stop_program;
        ::sigaction(SIGTERM, &stop, nullptr);
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    }
    char go = 0;
    if (::read(p.sync_fd, &go, 1) != 1) ::_exit(1);  // the starter gave up, or died
    ::close(p.sync_fd);
    if (p.own_maps && !map_self(p)) fail_init(p, "mapping the run's users", "");
    if (p.in_namespaces()) {
        flush_coverage();  // the build tree is out of sight from here on
        const char* step = "";
        const char* what = "";
        if (!enter_view(p, step, what)) fail_init(p, step, what);
    }
    const bool modes_by_checker = watch_refusals(p);
    int exec_pipe[2];
    if (::pipe2(exec_pipe, O_CLOEXEC) != 0) fail_init(p, "pipe", "");
    // The program's process shares the init's memory until it executes (the init waits for
    // that), as vfork does: nothing is copied.
    struct Start {
        const Plan* plan;
        int exec_error;
        bool modes_by_checker;
    } start{&p, exec_pipe[1], modes_by_checker};
    auto program_main = [](void* arg) -> int {
        const auto* s = static_cast<const Start*>(arg);
        ::syscall(SYS_close_range, static_cast<unsigned>(s->plan->report_fd),
                  static_cast<unsigned>(s->plan->report_fd), 0);
        become_program(*s->plan, s->exec_error, s->modes_by_checker);
    };
    char* stack_top = p.program_stack.get() + Plan::kStack;
    const pid_t program =
        ::clone(program_main, stack_top, CLONE_VM | CLONE_VFORK | SIGCHLD, &start);
    if (program < 0) fail_init(p, "starting the program", "");
    g_program = program;
    if (g_stop != 0) ::kill(program, SIGKILL);  // asked before the program was there
    ::close(exec_pipe[1]);
    ::close(p.in_fd);
    ::close(p.out_fd);
    ::close(p.err_fd);
    Report r{};
    r.kind = Report::started;
    r.value = program;
    (void)!::write(p.report_fd, &r, sizeof r);
    int e[2] = {0, 0};
    ssize_t got = 0;
    do got = ::read(exec_pipe[0], e, sizeof e);
    while (got < 0 && errno == EINTR);
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
        const pid_t w = ::wait4(-1, &status, 0, &usage);
        if (w == program) break;
        if (w < 0 && errno != EINTR) ::_exit(1);
    }
    r = Report{};
    r.kind = Report::ended;
    r.value = status;
    r.usage = usage;
    (void)!::write(p.report_fd, &r, sizeof r);
    if (!p.in_namespaces()) {
        end_descendants(program);
        flush_coverage();  // the program's process shared this memory: its counts too
    }
    ::_exit(0);
}

}  // namespace check::sandbox
