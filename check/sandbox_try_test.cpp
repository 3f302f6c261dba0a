// sandbox-try: the program that check/sandbox_test.cpp runs in each wall. It tries what its
// arguments name, one attempt after another, each in a process of its own (so that one
// attempt never changes the next), and prints one line per attempt: the attempt's name and
// "ok" when the kernel let it through, "refused" when it did not. With "hold", it holds
// memory instead, in processes of its own, and prints nothing. With "blocks", it mallocs
// blocks of MIB MiB, COUNT of them (0: until one is refused), each filled or left untouched;
// it prints "malloc failed" and exits 3 when one is refused, "held N MiB" and exits 0 when
// all were given.
//
//   sandbox-try write PATH | read PATH | chmod PATH | setuid PATH | sockfile PATH | kill PID |
//               ptrace PID | signal-parent | socket inet|udp|inet6|netlink|unix |
//               abstract NAME | socketpair | shm | memfd | unshare | prlimit PID |
//               setpriority PID | affinity PID | inotify PATH | fallocate PATH ...
//   (a PID of 0: the attempt's own process)
//   sandbox-try hold PROCESSES MIB SECONDS
//   sandbox-try blocks MIB COUNT touched|untouched
//
// It ends with _exit: in a coverage build its counts could not be written from inside a
// sandbox anyway, and they are no part of the checker's.
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/netlink.h>
#include <sched.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

pid_t g_grandparent = 0;  // the program's own parent, which every attempt's child has above it

// A socket of the family and type named, closed at once; true when it could be made.
bool make_socket(const std::string& kind) {
    int family = AF_UNIX, type = SOCK_STREAM, protocol = 0;
    if (kind == "inet") family = AF_INET;
    if (kind == "udp") family = AF_INET, type = SOCK_DGRAM;
    if (kind == "inet6") family = AF_INET6;
    if (kind == "netlink") family = AF_NETLINK, type = SOCK_RAW, protocol = NETLINK_SOCK_DIAG;
    const int fd = ::socket(family, type, protocol);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

// Binds (file) or connects (abstract) a Unix stream socket at `name`; true when it could.
bool unix_socket(const std::string& name, bool abstract) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t skip = abstract ? 1 : 0;  // an abstract name starts with a NUL byte
    if (name.size() + skip >= sizeof address.sun_path) return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    std::memcpy(address.sun_path + skip, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + skip +
                                               name.size() + (abstract ? 0 : 1));
    const auto* any = reinterpret_cast<const sockaddr*>(&address);
    const bool done = abstract ? ::connect(fd, any, length) == 0 : ::bind(fd, any, length) == 0;
    ::close(fd);
    return done;
}

// Makes one attempt, named `what` with its argument `arg`; true when it went through.
bool attempt(const std::string& what, const std::string& arg) {
    if (what == "write") {
        const int fd = ::open(arg.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool written = fd >= 0 && ::write(fd, "x", 1) == 1;
        if (fd >= 0) ::close(fd);
        return written;
    }
    if (what == "read") {
        const int fd = ::open(arg.c_str(), O_RDONLY | O_CLOEXEC);
        char byte = 0;
        const bool read = fd >= 0 && ::read(fd, &byte, 1) >= 0;
        if (fd >= 0) ::close(fd);
        return read;
    }
    if (what == "chmod") return ::chmod(arg.c_str(), 0666) == 0;
    if (what == "setuid") return ::chmod(arg.c_str(), 04755) == 0;
    if (what == "sockfile") return unix_socket(arg, false);
    if (what == "abstract") return unix_socket(arg, true);
    if (what == "kill") return ::kill(static_cast<pid_t>(std::atol(arg.c_str())), SIGTERM) == 0;
    if (what == "ptrace") {
        const auto pid = static_cast<pid_t>(std::atol(arg.c_str()));
        if (::ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) != 0) return false;
        ::ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
        return true;
    }
    // The attempt runs in a child of the program, whose parent is the run's first process.
    if (what == "signal-parent") return ::kill(g_grandparent, SIGCONT) == 0;
    if (what == "socket") return make_socket(arg);
    if (what == "shm") {
        const int id = ::shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600);
        if (id >= 0) ::shmctl(id, IPC_RMID, nullptr);
        return id >= 0;
    }
    if (what == "memfd") {
        const int fd = ::memfd_create("sandbox-try", MFD_CLOEXEC);
        if (fd >= 0) ::close(fd);
        return fd >= 0;
    }
    if (what == "unshare") return ::unshare(CLONE_NEWUSER) == 0;
    if (what == "socketpair") {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return false;
        ::close(ends[0]);
        ::close(ends[1]);
        return true;
    }
    // Another process's limits, priority and processors, each change harmless to it.
    const auto pid = static_cast<pid_t>(std::atol(arg.c_str()));
    if (what == "prlimit") {
        const rlimit none{0, 0};
        return ::prlimit(pid, RLIMIT_CORE, &none, nullptr) == 0;
    }
    if (what == "setpriority") return ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), 19) == 0;
    if (what == "affinity") {
        cpu_set_t cpus;
        if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0) return false;
        return ::sched_setaffinity(pid, sizeof cpus, &cpus) == 0;
    }
    if (what == "inotify") {
        const int fd = ::inotify_init1(IN_CLOEXEC);
        const bool watched = fd >= 0 && ::inotify_add_watch(fd, arg.c_str(), IN_CREATE) >= 0;
        if (fd >= 0) ::close(fd);
        return watched;
    }
    if (what == "fallocate") {
        const int fd = ::open(arg.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        const bool reserved = fd >= 0 && ::fallocate(fd, 0, 0, 1 << 20) == 0;
        if (fd >= 0) ::close(fd);
        return reserved;
    }
    return false;
}

// True when the attempt takes an argument.
bool takes_argument(const std::string& what) {
    return what != "shm" && what != "memfd" && what != "unshare" && what != "signal-parent" &&
           what != "socketpair";
}

// Forks `processes` processes that each touch `mib` MiB and sleep `seconds`; waits for them.
[[noreturn]] void hold(int processes, std::size_t mib, unsigned seconds) {
    for (int i = 0; i < processes; ++i)
        if (::fork() == 0) {
            try {
                const std::vector<char> memory(mib << 20, 1);  // every page touched
                ::sleep(seconds);
                ::_exit(memory[mib] == 1 ? 0 : 4);
            } catch (const std::bad_alloc&) {
                ::_exit(3);
            }
        }
    int failed = 0;
    for (int status = 0; ::wait(&status) > 0;)
        failed += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
    ::_exit(failed == 0 ? 0 : 1);
}

// Mallocs `count` blocks of `mib` MiB (0: without end), touching each when `touched`.
[[noreturn]] void blocks(std::size_t mib, long count, bool touched) {
    std::size_t held = 0;
    static char* volatile last = nullptr;  // each block escapes: none is optimised away
    for (long i = 0; count == 0 || i < count; ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-no-malloc): as a C student's program does
        auto* block = static_cast<char*>(std::malloc(mib << 20));
        if (block == nullptr) {
            (void)!::write(1, "malloc failed\n", 14);
            ::_exit(3);
        }
        if (touched) std::memset(block, 1, mib << 20);
        last = block;
        held += mib;
    }
    const std::string line = "held " + std::to_string(held) + " MiB\n";
    (void)!::write(1, line.data(), line.size());
    ::_exit(last != nullptr || held == 0 ? 0 : 4);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "blocks")
        blocks(static_cast<std::size_t>(std::atol(argv[2])), std::atol(argv[3]),
               std::string(argv[4]) == "touched");
    if (argc == 5 && std::string(argv[1]) == "hold")
        hold(std::atoi(argv[2]), static_cast<std::size_t>(std::atol(argv[3])),
             static_cast<unsigned>(std::atoi(argv[4])));
    g_grandparent = ::getppid();
    std::string lines;
    for (int i = 1; i < argc; ++i) {
        const std::string what = argv[i];
        const std::string arg = takes_argument(what) && i + 1 < argc ? argv[++i] : "";
        const pid_t child = ::fork();
        if (child == 0) ::_exit(attempt(what, arg) ? 0 : 1);
        int status = 0;
        const bool ok = child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                        WEXITSTATUS(status) == 0;
        lines += what + (ok ? " ok\n" : " refused\n");
    }
    (void)!::write(1, lines.data(), lines.size());
    ::_exit(0);
}
