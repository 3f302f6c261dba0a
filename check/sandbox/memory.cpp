// Memory and limits of a run as a whole.
//
// Guarantees:
//   - `--memory` bounds all the processes of a run together: the checker measures the run
//     as a whole every 10 ms: the anonymous and shared memory of every process below the
//     run's first process (threads' children included), and stops the run with the verdict
//     memory-limit as soon as the sum passes the bound. Between two measures a run can
//     overshoot by what it touches in 10 ms. Each process's address space (RLIMIT_AS) is
//     held only to a generous backstop, the bound plus 8 GiB (address_backstop()), so that
//     what is reserved and never touched (a JVM's heap) costs nothing; a request past it
//     is refused, and seen (check/sandbox/refusal.cpp).
//   - The peak reported is the largest sum measured, or the largest process's own peak
//     when that is larger (a run shorter than one measure is measured by its end).
//   - SysV and POSIX shared memory and memfds, which no per-process limit counts, are
//     refused by the system-call filter.
//   - A measure reads at most a bounded number of processes, so that a fork bomb cannot
//     make the checker's own time grow without end.
//   - Where a working folder cannot be a file system of its own (the wall without
//     namespaces, for a user who is not root), the checker measures what it holds at the
//     same pace, and stops the run when it passes its limit or holds more than 16,384
//     entries; between two measures a run can overshoot by what it writes in 10 ms (the
//     system-call filter refuses fallocate there, which would reserve blocks at once). A
//     folder the run closed to its own user is opened again by the checker, its owner, and
//     measured all the same, and so is every file the run removed while one of its
//     processes holds it open (at most 4,096 processes read).
//   - What a run stopped at its wall time was doing is read from the states of its threads
//     (R: running or waiting for a processor, whatever the machine's load) and their
//     context switches, not from the processor time it got.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "check/sandbox/internal.hpp"

namespace check::sandbox {

namespace {

// Reads the small file at `path` into `buffer` (NUL-terminated); its length, or 0.
std::size_t slurp(const char* path, char* buffer, std::size_t size) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::size_t got = 0;
    while (got + 1 < size) {
        const ssize_t n = ::read(fd, buffer + got, size - 1 - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    buffer[got] = '\0';
    return got;
}

// The number after `key` in a /proc status text, or 0.
std::uint64_t field(const char* text, const char* key) {
    const char* at = std::strstr(text, key);
    if (at == nullptr) return 0;
    at += std::strlen(key);
    while (*at == ' ' || *at == '\t') ++at;
    std::uint64_t n = 0;
    while (*at >= '0' && *at <= '9') n = n * 10 + static_cast<std::uint64_t>(*at++ - '0');
    return n;
}

// Appends the children of every thread of `pid` to `out`.
void children_of(pid_t pid, std::vector<pid_t>& out) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr) return;
    char buffer[8192];
    // cppcheck-suppress readdirCalled ; one stream, read by one thread
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_name[0] < '0' || d->d_name[0] > '9') continue;
        const std::string path = tasks + "/" + d->d_name + "/children";
        if (slurp(path.c_str(), buffer, sizeof buffer) == 0) continue;
        const char* at = buffer;
        while (*at != '\0') {
            while (*at == ' ' || *at == '\n') ++at;
            if (*at < '0' || *at > '9') break;
            pid_t child = 0;
            while (*at >= '0' && *at <= '9') child = child * 10 + (*at++ - '0');
            out.push_back(child);
        }
    }
    ::closedir(dir);
}

}  // namespace

std::uint64_t memory_below(pid_t init, unsigned most) {
    std::vector<pid_t> todo;
    children_of(init, todo);
    std::uint64_t kib = 0;
    unsigned seen = 0;
    char status[4096];
    while (!todo.empty() && seen < most) {
        const pid_t pid = todo.back();
        todo.pop_back();
        ++seen;
        const std::string path = "/proc/" + std::to_string(pid) + "/status";
        if (slurp(path.c_str(), status, sizeof status) == 0) continue;
        kib += field(status, "RssAnon:") + field(status, "RssShmem:");
        children_of(pid, todo);
    }
    return kib;
}

double processor_below(pid_t init, unsigned most) {
    std::vector<pid_t> todo{init};
    const auto tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
    double seconds = 0;
    unsigned seen = 0;
    char stat[4096];
    while (!todo.empty() && seen < most) {
        const pid_t pid = todo.back();
        todo.pop_back();
        ++seen;
        const std::string path = "/proc/" + std::to_string(pid) + "/stat";
        if (slurp(path.c_str(), stat, sizeof stat) == 0) continue;
        // After the name, which may hold anything but ends at the last ')': the state is
        // field 3, utime, stime, cutime and cstime fields 14 to 17.
        const char* at = std::strrchr(stat, ')');
        if (at == nullptr) continue;
        ++at;
        std::uint64_t ticks = 0;
        for (int f = 3; f <= 17 && *at != '\0'; ++f) {
            while (*at == ' ') ++at;
            std::uint64_t n = 0;
            while (*at >= '0' && *at <= '9') n = n * 10 + static_cast<std::uint64_t>(*at++ - '0');
            while (*at != ' ' && *at != '\0') ++at;
            if (f >= 14) ticks += n;
        }
        seconds += static_cast<double>(ticks) / tick;
        children_of(pid, todo);
    }
    return seconds;
}

namespace {

// The threads below `init` (not `init` itself, which only waits): how many were in state R,
// and their voluntary and involuntary context switches together; at most `most` threads.
struct Glance {
    unsigned threads = 0, running = 0;
    std::uint64_t voluntary = 0, involuntary = 0;
};
Glance glance_below(pid_t init, unsigned most) {
    Glance g;
    std::vector<pid_t> todo;
    children_of(init, todo);
    char text[4096];
    while (!todo.empty() && g.threads < most) {
        const pid_t pid = todo.back();
        todo.pop_back();
        const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
        if (DIR* dir = ::opendir(tasks.c_str())) {
            // cppcheck-suppress readdirCalled ; one stream, read by one thread
            while (const dirent* d = ::readdir(dir)) {
                if (d->d_name[0] < '0' || d->d_name[0] > '9' || g.threads >= most) continue;
                ++g.threads;
                const std::string task = tasks + "/" + d->d_name;
                // The state follows the name, which ends at the last ')'.
                if (slurp((task + "/stat").c_str(), text, sizeof text) != 0)
                    if (const char* at = std::strrchr(text, ')'); at != nullptr && at[1] == ' ')
                        g.running += at[2] == 'R' ? 1 : 0;
                if (slurp((task + "/status").c_str(), text, sizeof text) != 0) {
                    g.voluntary += field(text, "\nvoluntary_ctxt_switches:");
                    g.involuntary += field(text, "nonvoluntary_ctxt_switches:");
                }
            }
            ::closedir(dir);
        }
        children_of(pid, todo);
    }
    return g;
}

}  // namespace

Outcome::Doing doing_below(pid_t init, unsigned most) {
    const Glance before = glance_below(init, most);
    const timespec pause{0, 20'000'000};
    ::nanosleep(&pause, nullptr);
    const Glance after = glance_below(init, most);
    if (before.threads == 0 && after.threads == 0) return Outcome::Doing::unknown;
    // A thread that is runnable is in state R even when a loaded machine gives it no
    // processor; one switched out only by the scheduler, never of its own accord, was
    // running between the glances.
    const bool preempted_only =
        after.involuntary > before.involuntary && after.voluntary <= before.voluntary;
    return before.running + after.running > 0 || preempted_only ? Outcome::Doing::running
                                                                : Outcome::Doing::waiting;
}

// ---- The working folder's measure -----------------------------------------------------

namespace {

// A descriptor to read the folder `name` of `parent` (never a link), which the checker
// opens again for itself when the run has closed it to its user: the folder's owner (the
// checker's user, or root) gives itself back the right to read and enter it, on the very
// folder opened (through its descriptor), so that a link swapped in is never changed.
int open_folder(int parent, const char* name) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parent, name, flags);
    if (fd >= 0 || errno != EACCES) return fd;
    const int path = ::openat(parent, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (path < 0) return -1;
    struct stat st {};
    char self[64] = "/proc/self/fd/";
    put_number(self + 14, static_cast<std::uint64_t>(path));
    if (::fstat(path, &st) == 0 && ::chmod(self, (st.st_mode & 07777) | S_IRWXU) == 0)
        fd = ::openat(path, ".", flags);
    ::close(path);
    return fd;
}

}  // namespace

std::uint64_t folder_bytes(const std::filesystem::path& folder, unsigned most) {
    // Folders still to read, by their path below `folder`; every entry counts toward `most`,
    // so that what is held stays bounded whatever the run made.
    std::vector<std::string> todo{"."};
    const int top = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) return 0;
    std::uint64_t bytes = 0;
    unsigned seen = 0;
    while (!todo.empty()) {
        const std::string at = std::move(todo.back());
        todo.pop_back();
        const int fd = open_folder(top, at.c_str());
        DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
        if (dir == nullptr) {
            if (fd >= 0) ::close(fd);
            continue;
        }
        // cppcheck-suppress readdirCalled ; one stream, read by one thread
        while (const dirent* d = ::readdir(dir)) {
            if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
            if (++seen > most) {
                ::closedir(dir);
                ::close(top);
                return ~std::uint64_t{0};
            }
            struct stat st {};
            if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            bytes += static_cast<std::uint64_t>(st.st_blocks) * 512;
            if (S_ISDIR(st.st_mode)) todo.push_back(at + "/" + d->d_name);
        }
        ::closedir(dir);
    }
    ::close(top);
    return bytes;
}

std::uint64_t removed_bytes_below(pid_t init, dev_t device, unsigned most) {
    std::vector<pid_t> todo;
    children_of(init, todo);
    std::vector<ino_t> counted;  // a file open twice counts once
    std::uint64_t bytes = 0;
    unsigned seen = 0;
    while (!todo.empty() && seen < most) {
        const pid_t pid = todo.back();
        todo.pop_back();
        ++seen;
        const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
        if (DIR* dir = ::opendir(fds.c_str())) {
            // cppcheck-suppress readdirCalled ; one stream, read by one thread
            while (const dirent* d = ::readdir(dir)) {
                struct stat st {};
                if (d->d_name[0] == '.' || ::fstatat(::dirfd(dir), d->d_name, &st, 0) != 0)
                    continue;
                if (!S_ISREG(st.st_mode) || st.st_nlink != 0 || st.st_dev != device ||
                    std::find(counted.begin(), counted.end(), st.st_ino) != counted.end())
                    continue;
                counted.push_back(st.st_ino);
                bytes += static_cast<std::uint64_t>(st.st_blocks) * 512;
            }
            ::closedir(dir);
        }
        children_of(pid, todo);
    }
    return bytes;
}

}  // namespace check::sandbox
