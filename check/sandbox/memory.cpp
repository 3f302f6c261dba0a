// Memory and limits of a run as a whole.
//
// Guarantees:
//   - `--memory` bounds all the processes of a run together. Each process is held to the
//     bound alone by its address-space limit (RLIMIT_AS), and the checker measures the run
//     as a whole every 10 ms: the anonymous and shared memory of every process below the
//     run's first process (threads' children included), and stops the run with the verdict
//     memory-limit as soon as the sum passes the bound. Between two measures a run can
//     overshoot by what it touches in 10 ms, and never by more than its processes' own
//     bounds together (--processes times --memory).
//   - The peak reported is the largest sum measured, or the largest process's own peak
//     when that is larger (a run shorter than one measure is measured by its end).
//   - SysV and POSIX shared memory and memfds, which no per-process limit counts, are
//     refused by the system-call filter.
//   - A measure reads at most a bounded number of processes, so that a fork bomb cannot
//     make the checker's own time grow without end.
//   - Where a working folder cannot be a file system of its own (the wall without
//     namespaces, for a user who is not root), the checker measures what it holds at the
//     same pace, and stops the run when it passes its limit or holds more than 16,384
//     entries; between two measures a run can overshoot by what it writes in 10 ms.
//   - What a run stopped at its wall time was doing is read from the states of its threads
//     (R: running or waiting for a processor, whatever the machine's load) and their
//     context switches, not from the processor time it got.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

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

std::uint64_t folder_bytes(const std::filesystem::path& folder, unsigned most) {
    std::uint64_t bytes = 0;
    unsigned seen = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(
             folder, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (++seen > most) return ~std::uint64_t{0};
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) == 0)
            bytes += static_cast<std::uint64_t>(st.st_blocks) * 512;
    }
    return bytes;
}

}  // namespace check::sandbox
