// The checker's side of a run: choosing the wall, making each run's plan, starting it
// (through the launcher) and watching it to its end.
//
// Guarantees:
//   - The wall is chosen once, by prepare(), from what the probe found; every run of the
//     checker is held by it.
//   - A run is watched without sleeping: the checker polls the run's end, its streams, its
//     report and its input together, measures its memory every 10 ms, and stops it at the
//     wall time, the output limit or the memory limit. It answers the run's large memory
//     requests as they come (check/sandbox/refusal.cpp) and records those refused.
//   - Its end is seen only once every process of the run has ended: in namespaces the
//     kernel ends them with the init; without, the init ends them before it exits (asked
//     with SIGTERM, then killed after a grace when it does not).
//   - The checker's own memory stays bounded: it keeps at most the output limit of each
//     stream.
//   - Every run says how many bytes of its input it took from the pipe (the checker keeps a
//     read end to count what is left there); a run stopped at its wall time says what its
//     threads were doing just before, from their states, not their processor share.
//   - As root, a program that only its owner may run is run from a private copy that the
//     unprivileged user may execute; the copy is gone with the checker.
#include <fcntl.h>
#include <linux/sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "check/sandbox/internal.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace check {

namespace {

using namespace sandbox;  // NOLINT(google-build-using-namespace): the sandbox's own rooms

bool g_tmpfs = false;
Wall g_wall = Wall::none;

// The checker's own folder under the temporary folder, a small file system of its own when
// the checker has its own mount namespace (then it is gone with the checker, whatever
// happens, but for the empty folder), holding the working folders, "root", where every
// run mounts its new root, and "programs", private copies of executables.
std::string* g_run_folder = nullptr;
std::vector<std::string>* g_copies = nullptr;  // the copies made, removed at exit

// True when every folder above `path` lets others in.
bool open_above(const fs::path& path) {
    for (fs::path up = path; up != up.parent_path(); up = up.parent_path()) {
        struct stat st {};
        if (::stat(up.c_str(), &st) != 0 || (st.st_mode & S_IXOTH) == 0) return false;
    }
    return true;
}

// Makes the run folder; called once, through make_run_folder. A root checker's runs without
// namespaces reach it through the host's folders as user 65534: where the temporary
// folder is closed to others, it goes in /tmp.
std::string* new_run_folder() {
    fs::path temporary = fs::temp_directory_path();
    if (::geteuid() == 0 && !open_above(temporary)) temporary = "/tmp";
    std::string pattern = (temporary / "collection-check.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(pattern + ": " + std::strerror(errno));
    if (g_tmpfs && ::mount("tmpfs", pattern.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                           "size=512m,nr_inodes=1048576,mode=0711") != 0) {
        ::rmdir(pattern.c_str());
        throw std::runtime_error(pattern + ": mounting its file system: " + std::strerror(errno));
    }
    ::chmod(pattern.c_str(), 0711);
    if (::mkdir((pattern + "/root").c_str(), 0700) != 0)
        throw std::runtime_error(pattern + "/root: " + std::strerror(errno));
    g_run_folder = new std::string(pattern);  // never destroyed: it is removed at exit
    g_copies = new std::vector<std::string>();
    std::atexit([] {
        for (const std::string& copy : *g_copies) ::unlink(copy.c_str());
        ::rmdir((*g_run_folder + "/programs").c_str());
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

rlimit limit_of(std::uint64_t soft, std::uint64_t hard) {
    return rlimit{static_cast<rlim_t>(soft), static_cast<rlim_t>(hard)};
}

// The processes whose real user is `uid` now (RLIMIT_NPROC counts them all where the run
// has no user namespace of its own).
unsigned processes_of(uid_t uid) {
    unsigned n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        const std::string name = e.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream status(e.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("Uid:", 0) == 0) {
                std::istringstream words(line.substr(4));
                unsigned long real = 0;
                words >> real;
                if (real == uid) ++n;
                break;
            }
    }
    return n;
}

// processes_of(uid), counted again when the last count is more than a second old: the
// user's other work comes and goes while a class is graded, and a count costs some
// milliseconds on a busy machine.
unsigned recent_processes_of(uid_t uid) {
    static std::mutex lock;
    static std::map<uid_t, std::pair<std::chrono::steady_clock::time_point, unsigned>> counts;
    const std::lock_guard<std::mutex> guard(lock);
    const auto now = std::chrono::steady_clock::now();
    auto found = counts.find(uid);
    if (found == counts.end() || now - found->second.first > std::chrono::seconds(1))
        found = counts.insert_or_assign(uid, std::pair{now, processes_of(uid)}).first;
    return found->second.second;
}

// The file to execute for `path`: itself, or, where a root checker's program user could
// not run it (its mode, or a folder above it it cannot enter), a private copy it can.
fs::path runnable(const fs::path& path, bool switch_user, bool in_namespaces) {
    if (!switch_user) return path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return path;
    // A file no one may execute is only read (a script's module, a data file): readable
    // by all, it is kept where it is, so that its path still names it.
    bool open_to_all =
        (st.st_mode & 0111) == 0 ? (st.st_mode & 0004) != 0 : (st.st_mode & 0005) == 0005;
    // Without namespaces, it is reached through the host's folders, which must let all in.
    for (fs::path up = path.parent_path(); open_to_all && !in_namespaces && up != up.parent_path();
         up = up.parent_path())
        open_to_all = ::stat(up.c_str(), &st) == 0 && (st.st_mode & S_IXOTH) != 0;
    if (::stat(path.c_str(), &st) != 0) return path;
    if (open_to_all) return path;
    static std::mutex lock;
    static std::map<std::pair<dev_t, ino_t>, std::pair<timespec, std::string>> copies;
    std::lock_guard<std::mutex> guard(lock);
    auto& known = copies[{st.st_dev, st.st_ino}];
    if (!known.second.empty() && known.first.tv_sec == st.st_mtim.tv_sec &&
        known.first.tv_nsec == st.st_mtim.tv_nsec)
        return known.second;
    const std::string folder = make_run_folder() + "/programs";
    ::mkdir(folder.c_str(), 0711);
    const std::string copy =
        folder + "/" + std::to_string(g_copies->size()) + "-" + path.filename().string();
    const int from = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) return path;
    const int to = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = to >= 0;
    char chunk[65536];
    for (ssize_t got = 0; ok && (got = ::read(from, chunk, sizeof chunk)) > 0;)
        ok = ::write(to, chunk, static_cast<std::size_t>(got)) == got;
    ::close(from);
    if (to >= 0) {
        // The program's group may read and run it; no other user of the machine can.
        ok = ::fchown(to, 0, program_gid()) == 0 && ::fchmod(to, 0550) == 0 && ok;
        ::close(to);
        g_copies->push_back(copy);
    }
    if (!ok) return path;
    known = {st.st_mtim, copy};
    return copy;
}

// True when `path` is a dynamically linked program that finds its libraries from its own
// place ("$ORIGIN" in its run path, as java does): the loader reads /proc/self/exe for that.
// Read once for each file (its first 64 KiB, where the loader's strings lie).
bool finds_libraries_from_its_place(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    static std::mutex lock;
    static std::map<std::pair<dev_t, ino_t>, std::pair<timespec, bool>> known;
    std::lock_guard<std::mutex> guard(lock);
    auto found = known.find({st.st_dev, st.st_ino});
    if (found != known.end() && found->second.first.tv_sec == st.st_mtim.tv_sec &&
        found->second.first.tv_nsec == st.st_mtim.tv_nsec)
        return found->second.second;
    std::string head(std::size_t{64} << 10, '\0');
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    ssize_t got = fd < 0 ? 0 : ::read(fd, head.data(), head.size());
    if (fd >= 0) ::close(fd);
    head.resize(static_cast<std::size_t>(std::max<ssize_t>(0, got)));
    const bool origin =
        head.rfind("\x7f"
                   "ELF",
                   0) == 0 &&
        (head.find("$ORIGIN") != std::string::npos || head.find("${ORIGIN}") != std::string::npos);
    if (known.size() < 1024) known[{st.st_dev, st.st_ino}] = {st.st_mtim, origin};
    return origin;
}

// The plan of one run: the view or the Landlock rules, the descriptors and the program.
void fill_plan(Plan& plan, const Program& p, const Limits& limits, const Containment& c) {
    plan.wall = static_cast<int>(c.sandboxed ? g_wall : Wall::none);
    std::error_code ec;
    fs::path executable = fs::canonical(p.executable, ec);
    if (ec) executable = p.executable;
    // A program that must read its own /proc, where the namespaces can have none (a
    // container), runs in the wall without them, which can lend it its own; so does one
    // whose libraries are found from its own place (java), which needs /proc/self/exe.
    if (plan.in_namespaces() && !facts().fresh_proc && facts().landlock_abi >= 6 &&
        (c.needs_proc || finds_libraries_from_its_place(executable)))
        plan.wall = static_cast<int>(Wall::landlock);
    const bool root = ::geteuid() == 0;
    plan.switch_user = plan.sandboxed() && root;
    plan.uid = program_uid();
    plan.gid = program_gid();
    plan.outer_uid = ::geteuid();
    plan.outer_gid = ::getegid();
    plan.clone3 = facts().clone3;
    if (plan.in_namespaces()) {
        // A network namespace of its own: lent from the pool, or made with the run.
        plan.namespaces = kNamespaces;
        plan.own_maps = !root;
    }
    executable = runnable(executable, plan.switch_user, plan.in_namespaces());
    plan.executable = executable.string();
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
    // The run is held by the measure; each process's address space by a generous backstop.
    const std::uint64_t backstop = address_backstop(limits.memory);
    plan.memory =
        backstop == 0 ? rlimit{RLIM_INFINITY, RLIM_INFINITY} : limit_of(backstop, backstop);
    // The processes the program may have: in namespaces, those of its user there (the init
    // counts when it is that user); without, every process of its user on the machine
    // counts, so those the user has as the run starts (counted at most a second before),
    // each parallel run's share, and room for the user's other work that starts meanwhile
    // (a build, a test next to this one): a bomb is still held, and no run fails to fork
    // because its user's shell began a pipeline.
    constexpr unsigned kOtherWork = 64;
    unsigned processes = limits.processes + (plan.switch_user ? 0 : 1);
    if (plan.sandboxed() && !plan.in_namespaces())
        processes =
            recent_processes_of(plan.uid) + limits.processes * std::max(1U, c.jobs) + kOtherWork;
    if (!plan.sandboxed())
        processes = limits.processes + recent_processes_of(::getuid()) + kOtherWork;
    plan.processes = limit_of(processes, processes);
    plan.file_size = limit_of(limits.file_size, limits.file_size);
    plan.open_files = limit_of(limits.open_files, limits.open_files);
    if (!plan.sandboxed()) return;
    plan.landlock_abi = facts().landlock_abi;
    // The allowed files the program's user could not reach are given as copies too, and
    // the words of the command that name them name the copies (Valgrind's program).
    Containment reachable = c;
    for (fs::path& a : reachable.allowed) {
        const fs::path copy = runnable(a, plan.switch_user, plan.in_namespaces());
        if (copy == a) continue;
        for (std::string& word : plan.argv_strings)
            if (word == a.string()) word = copy.string();
        a = copy;
    }
    plan.argv.clear();
    for (std::string& s : plan.argv_strings) plan.argv.push_back(s.data());
    plan.argv.push_back(nullptr);
    if (plan.in_namespaces()) plan_view(plan, executable, reachable, facts().fresh_proc);
    plan_landlock(plan, executable, reachable);
}

// The process ID behind a pidfd, or 0.
pid_t pid_of(int pidfd) {
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(pidfd));
    for (std::string line; std::getline(info, line);)
        if (line.rfind("Pid:", 0) == 0) return static_cast<pid_t>(std::atol(line.c_str() + 4));
    return 0;
}

// Waits until the pidfd's process has ended, at most `grace`; true when it has.
bool ended_within(int pidfd, std::chrono::milliseconds grace) {
    const auto until = Clock::now() + grace;
    for (;;) {
        pollfd end{pidfd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        const int ready = ::poll(&end, 1, static_cast<int>(std::max<long>(0, left)));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

constexpr auto kSample = std::chrono::milliseconds(10);  // how often memory is measured
constexpr unsigned kMostMeasured = 4096;                 // processes read in one measure
constexpr unsigned kMostEntries = 16384;  // entries a measured working folder may hold

// Waits for the run's end (the init's), feeding standard input and reading both streams;
// stops it at the wall time, output limit or memory limit.
void supervise(Outcome& o, int pidfd, int in, int out, int err, int report, const Program& p,
               const Limits& limits, const Plan& plan, bool own_child) {
    const auto started = Clock::now();
    const auto deadline = started + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(limits.wall));
    auto next_sample = started + kSample;
    const pid_t init = limits.memory != 0 ? pid_of(pidfd) : 0;
    // A working folder that is no file system of its own is measured.
    const bool measure_folder = plan.sandboxed() && !g_tmpfs;
    // ... with the files the run removed but holds open there.
    struct stat folder_st {};
    const pid_t run_init = measure_folder ? pid_of(pidfd) : 0;
    const dev_t folder_device =
        measure_folder && ::stat(p.folder.c_str(), &folder_st) == 0 ? folder_st.st_dev : 0;
    const bool sampling = init > 0 || measure_folder;
    std::uint64_t peak_kib = 0;
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
    int listener = -1;  // the run's seccomp listener, once the init has sent it
    Refusal refusal;
    Watch watch;
    watch.backstop = plan.memory.rlim_cur;
    watch.owner = plan.uid;
    if (plan.sandboxed() && !plan.in_namespaces()) {
        std::error_code ec;
        watch.folder = fs::canonical(p.folder, ec).string();
    }
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
        pollfd fds[6] = {{pidfd, POLLIN, 0},  {streams[0], POLLIN, 0}, {streams[1], POLLIN, 0},
                         {report, POLLIN, 0}, {in, POLLOUT, 0},        {listener, POLLIN, 0}};
        const auto now = Clock::now();
        const auto wake = sampling ? std::min(deadline, next_sample) : deadline;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now);
        int wait = static_cast<int>(std::max<long>(0, left.count() + 1));
        int ready = ::poll(fds, 6, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (sampling && Clock::now() >= next_sample) {
            next_sample = Clock::now() + kSample;
            const std::uint64_t kib = init > 0 ? memory_below(init, kMostMeasured) : 0;
            peak_kib = std::max(peak_kib, kib);
            if (init > 0 && kib * 1024 > limits.memory) {
                o.end = Outcome::End::memory_limit;
                break;
            }
            if (measure_folder &&
                folder_bytes(p.folder, kMostEntries) +
                        (run_init > 0 ? removed_bytes_below(run_init, folder_device, kMostMeasured)
                                      : 0) >
                    limits.scratch) {
                o.end = Outcome::End::output_limit;
                o.folder_cut = true;
                break;
            }
        }
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
            ssize_t got = receive_report(report, chunk, sizeof chunk, listener);
            if (got > 0)
                reports.append(chunk, static_cast<std::size_t>(got));
            else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                ::close(report);
                report = -1;
            }
        }
        if (listener >= 0 && fds[5].revents != 0 &&
            ((fds[5].revents & POLLIN) == 0 || !answer_request(listener, watch, refusal))) {
            ::close(listener);  // every process of the run has gone, or it cannot be used
            listener = -1;
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
    const bool stopped = o.end == Outcome::End::wall_limit || o.end == Outcome::End::output_limit ||
                         o.end == Outcome::End::memory_limit;
    if (stopped) {
        // A run stopped reports no usage of its own: its processes' time is read before
        // they go, so that a stopped run still says whether it was using the processor.
        const pid_t first = init > 0 ? init : pid_of(pidfd);
        if (first > 0) o.cpu_seconds = processor_below(first, kMostMeasured);
        if (first > 0 && o.end == Outcome::End::wall_limit)
            o.doing = doing_below(first, kMostMeasured);
        // In namespaces, the init's death ends the run; without, the init ends it, asked.
        const bool asked = !plan.in_namespaces() &&
                           ::syscall(SYS_pidfd_send_signal, pidfd, SIGTERM, nullptr, 0) == 0 &&
                           ended_within(pidfd, std::chrono::seconds(30));
        if (!asked) ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
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
    o.input_taken = fed;  // put in the pipe: run_contained() takes off what is left there
    // Every writer has ended: what is left in the pipes is all there is.
    for (int i = 0; i < 2; ++i)
        if (streams[i] >= 0) {
            if (!stopped && !read_stream(i)) o.end = Outcome::End::output_limit;
            if (streams[i] >= 0) ::close(streams[i]);
        }
    if (report >= 0) {
        ssize_t got = 0;
        while ((got = receive_report(report, chunk, sizeof chunk, listener)) > 0)
            reports.append(chunk, static_cast<std::size_t>(got));
        ::close(report);
    }
    if (listener >= 0) ::close(listener);
    o.allocation_refused = refusal.refused;
    o.refused_bytes = refusal.largest;
    o.refused_held_bytes = refusal.held;
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
            o.cpu_seconds = std::max(
                o.cpu_seconds,
                static_cast<double>(r.usage.ru_utime.tv_sec + r.usage.ru_stime.tv_sec) +
                    static_cast<double>(r.usage.ru_utime.tv_usec + r.usage.ru_stime.tv_usec) / 1e6);
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
    o.max_rss_kib = std::max<long>(o.max_rss_kib, static_cast<long>(peak_kib));
    if (!stopped && o.end == Outcome::End::not_started && o.start_error.empty())
        o.start_error = started_seen ? "the process watching the program was killed"
                                     : "the sandbox ended before the program started";
}

// Why no wall can hold a run here, with the remedies; "" when one can.
std::string no_wall(const Containment& c) {
    const Facts& f = facts();
    std::string why =
        c.landlock_only ? std::string("the namespace-free wall was asked for") : f.refusal;
    if (f.landlock_abi == 0)
        return why + "; and the kernel has no Landlock for a wall without namespaces";
    return why + "; and its Landlock (ABI " + std::to_string(f.landlock_abi) +
           ", 6 needed) cannot keep signals and abstract sockets within a run "
           "(--weaker-wall accepts that)";
}

}  // namespace

const char* wall_name(Wall w) {
    switch (w) {
    case Wall::namespaces:
        return "namespaces";
    case Wall::landlock:
        return "landlock";
    case Wall::none:
        break;
    }
    return "none";
}

std::vector<fs::path>& hidden_paths() {
    static std::vector<fs::path> paths;
    return paths;
}

bool beneath(const fs::path& path, const fs::path& folder) {
    auto [f, p] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return f == folder.end();
}

uid_t program_uid() { return ::geteuid() == 0 ? 65534 : ::geteuid(); }
gid_t program_gid() { return ::geteuid() == 0 ? 65534 : ::getegid(); }

bool scratch_is_tmpfs() { return g_tmpfs; }

const std::string& run_folder() { return make_run_folder(); }

Wall current_wall() { return g_wall; }

std::string describe_walls() {
    probe();
    const Facts& f = facts();
    const bool ns = f.user_namespaces;
    const bool ll = f.landlock_abi >= 6;
    std::string t;
    t += "The walls that can hold a run, strongest first:\n";
    t += "  namespaces  ";
    t += ns ? std::string("available") + (f.fresh_proc ? "" : ", without a /proc of its own")
            : "refused: " + f.refusal;
    t += "\n    The run has user, PID, mount, network and UTS namespaces of its own; no other\n"
         "    run is in its network namespace while it runs, so runs side by side see none\n"
         "    of each other's sockets. It sees the system folders read-only (less every\n"
         "    installed copy of the collection), its executable, the allowed paths and its\n"
         "    working folder, the only place it can write; no case, home, /tmp or other run.\n"
         "    Every process of the run ends with it. Landlock and the system-call filter\n"
         "    hold as well.\n";
    t += "  landlock    ";
    t += f.landlock_abi == 0 ? std::string("refused: the kernel has no Landlock")
         : ll                ? "available (Landlock ABI " + std::to_string(f.landlock_abi) + ")"
                             : "weaker here (Landlock ABI " + std::to_string(f.landlock_abi) +
                    ": signals and abstract sockets not kept within a run; --weaker-wall)";
    t += "\n    For kernels and containers that refuse user namespaces. Landlock lets the\n"
         "    program read only the system folders (less the collection's programs and\n"
         "    cases), its executable and the allowed paths, write only its working folder,\n"
         "    open no /proc, connect no TCP, and signal no process outside the run; a\n"
         "    subreaper ends every process of the run with it. The system-call filter holds\n"
         "    as well, and here refuses every socket (socketpair works), inotify watches,\n"
         "    fallocate and changes of owner or times by path; a change of mode by path\n"
         "    (a linker's, CMake's) is made by the checker, for the run's own files in its\n"
         "    working folder alone. Paths outside can still be looked up and stat'ed. As\n"
         "    root, the program runs as user 65534; otherwise its processes share one\n"
         "    limit with every process of the user.\n";
    t += "  none        --unsandboxed: the limits and a subreaper only\n";
    t += "The system-call filter, in both walls, refuses tracing, other processes' memory,\n"
         "keys, BPF, perf events, userfaultfd, io_uring, SysV IPC, POSIX message queues,\n"
         "memfds, new namespaces, mounts, any socket but a Unix one, and any change of\n"
         "another process's limits, priority, scheduling, processors or I/O priority.\n";
    t += "Memory: the run's processes together, measured by the checker every 10 ms; each\n"
         "process's address space held to --memory plus 8 GiB, its refusals seen.\n";
    const Wall chosen = g_wall != Wall::none ? g_wall
                        : ns                 ? Wall::namespaces
                        : ll                 ? Wall::landlock
                                             : Wall::none;
    t += std::string("Working folders: ") +
         (ns || ::geteuid() == 0 ? "file systems of their own, each limited in size\n"
                                 : "folders of the temporary folder, measured every 10 ms\n");
    t += std::string("Here, runs are held by: ") + wall_name(chosen) + "\n";
    return t;
}

std::optional<std::string> prepare(const Containment& c) {
    ::signal(SIGPIPE, SIG_IGN);
    g_wall = Wall::none;
    if (c.sandboxed) {
        probe();  // while the checker may still be traced by its user: the trial maps itself
        const Facts& f = facts();
        if (f.user_namespaces && !c.landlock_only)
            g_wall = Wall::namespaces;
        else if (f.landlock_abi >= 6 || (f.landlock_abi > 0 && c.weaker_landlock))
            g_wall = Wall::landlock;
        else {
            ::prctl(PR_SET_DUMPABLE, 0);
            return no_wall(c);
        }
        g_tmpfs = (f.user_namespaces || ::geteuid() == 0) && own_namespaces();
        if (g_wall == Wall::namespaces) pool_networks();
        if (g_wall == Wall::namespaces && g_tmpfs) build_view_template(f.fresh_proc);
        prepare_seccomp();
    }
    ::prctl(PR_SET_DUMPABLE, 0);
    start_launcher();
    return std::nullopt;
}

Outcome run_contained(const Program& p, const Limits& limits, const Containment& c) {
    Outcome o;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, report[2] = {-1, -1};
    // The report is a socket: the init sends the listener of refused allocations over it.
    for (int* ends : {in, out, err, report})
        if ((ends == report ? ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends)
                            : ::pipe2(ends, O_CLOEXEC)) != 0) {
            const int error = errno;
            for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1], report[0], report[1]})
                if (fd >= 0) ::close(fd);
            throw std::runtime_error(std::string("pipe: ") + std::strerror(error));
        }
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
    // The run's own network namespace, lent for the run's life.
    if (plan.in_namespaces()) {
        plan.net_fd = take_network();
        if (plan.net_fd >= 0) plan.namespaces &= ~std::uint64_t{CLONE_NEWNET};
    }
    // A read end of the input's pipe kept, to tell at the end how much of it the run took.
    const int input_left = ::fcntl(in[0], F_DUPFD_CLOEXEC, 0);
    const int theirs[kRunFds] = {report[1], in[0], out[1], err[1], plan.net_fd};
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
        if (input_left >= 0) ::close(input_left);
        close_ours();
        give_back_network(plan.net_fd);  // no process of the run is in it
        o.start_error = std::string("the sandbox could not be made: ") + std::strerror(error);
        return o;
    }
    supervise(o, pidfd, in[1], out[0], err[0], report[0], p, limits, plan, own_child);
    ::close(pidfd);
    // Every process of the run has ended with its init (its PID namespace's first process).
    give_back_network(plan.net_fd);
    int left = 0;
    if (input_left >= 0 && ::ioctl(input_left, FIONREAD, &left) == 0)
        o.input_taken -= std::min(o.input_taken, static_cast<std::size_t>(std::max(left, 0)));
    if (input_left >= 0) ::close(input_left);
    return o;
}

}  // namespace check
