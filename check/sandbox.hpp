// The sandbox: where a program under test runs, and what it can reach from there. Its
// rooms are in check/sandbox/, each listing its own guarantees at its top: the probe of
// what the kernel allows (probe.cpp), the view (view.cpp), Landlock (landlock.cpp), the
// system-call filter (seccomp.cpp), the run's first process (init.cpp), the launcher
// (launcher.cpp), memory and limits (memory.cpp), and the checker's side of a run
// (supervise.cpp).
//
// A run is held by one of three walls, the strongest the machine allows:
//   - `namespaces`: the run has user, PID, mount, network and UTS namespaces of its own
//     (SysV IPC and POSIX message queues, which an IPC namespace would keep apart, are
//     refused by the system-call filter); no other run is in its network namespace while it
//     runs (an empty one is lent from a pool: check/sandbox/network.cpp). It sees the
//     system folders (/usr, /etc, /bin, /sbin,
//     /lib*) read-only, a /dev with null, zero, full, urandom and random only, a /proc of its own
//     PID namespace where the kernel allows one (none in a container that masks the host's /proc:
//     there a program that needs one, Valgrind or one finding its libraries from its own
//     place as java does, runs in the wall without namespaces),
//     the executable and the allowed paths read-only, and its working folder, the only place it can
//     write. No case folder, installed case, collection program (every installed copy:
//     installed_copies()), source or build tree, home folder, host /tmp or host /proc is
//     there. Every process of the run ends with it.
//   - `landlock`: where user namespaces are refused (a hardened kernel, a container's
//     profile, AppArmor's restriction). Landlock (ABI 6 or later) lets the program read
//     only the system folders (less the collection's programs and cases), the executable
//     and the allowed paths, write only its working folder and /dev's files, and no /proc;
//     TCP, signals and abstract sockets outside the run are refused. The system-call filter
//     refuses every socket (socketpair stays), inotify, fallocate and changes of metadata by
//     path, but chmod, which the checker makes for the run in its working folder alone
//     (check/sandbox/refusal.cpp). Names, sizes and times of paths outside can still be
//     read (stat). The run's
//     first process is a subreaper that ends every descendant when the run ends. Without
//     root, its processes share the user's one process limit with the other runs.
//     The working folder, where it is no file system of its own, is measured by the
//     checker, which reopens a folder the run closed to its user.
//   - `none` (--unsandboxed): limits and a subreaper only.
// In both sandboxed walls: a system-call filter refuses tracing, other processes' memory,
// keys, BPF, perf events, userfaultfd, io_uring, SysV and POSIX message IPC, shared memory
// segments, new namespaces, mounts, sockets other than Unix ones, and changes of another
// process's limits, priority, scheduling, processors or I/O priority; standard input is a
// pipe fed by the checker, standard output and error are pipes (or standard output a file
// of the case), and no other descriptor is open. It starts a session of its own without a
// controlling terminal, with a fixed environment (PATH, HOME = the working folder,
// LANG=C.UTF-8), umask 022, default signal dispositions, no new privileges, no core files,
// and the resource limits of `Limits`, its memory counted over all its processes together
// (each process's address space held only to a generous backstop, its refusals seen by the
// checker as they happen).
// When the checker runs as root, the program runs as the unprivileged user and group
// 65534, with no supplementary group. The checker itself is not dumpable and not visible.
// What it does not guard against: faults in the kernel itself, and timing side channels
// (a program can measure how long things take, and share the processor with others).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace check {

// The address space a run may use by default, in MiB; 0 for none. A build whose programs
// carry a sanitizer sets 0: their shadow memory alone reserves terabytes.
#ifndef COLLECTION_CHECK_MEMORY_MIB
#define COLLECTION_CHECK_MEMORY_MIB 512  // NOLINT(cppcoreguidelines-macro-usage): set by the build
#endif

// The resource limits of one run. Sizes in bytes, times in seconds.
struct Limits {
    double wall = 10;  // wall time, kept by the checker
    double cpu = 5;    // processor time of each process
    std::uint64_t memory = std::uint64_t{COLLECTION_CHECK_MEMORY_MIB}
                           << 20;           // memory of all the run's processes; 0: none
    std::uint64_t output = 8ULL << 20;      // per standard stream, kept by the checker
    std::uint64_t file_size = 64ULL << 20;  // the largest file a process may write
    std::uint64_t scratch = 256ULL << 20;   // all the working folder may hold
    unsigned processes = 32;                // processes and threads at once
    unsigned open_files = 64;               // file descriptors of each process
};

// The address space each process of a run may reserve under the memory limit `memory`: a
// generous backstop (the limit plus 8 GiB, room for what runtimes such as a JVM reserve and
// never touch), since the run as a whole is held to `memory` by the measure; 0 for none.
std::uint64_t address_backstop(std::uint64_t memory);

// Whether programs run sandboxed by default: a coverage build sets false.
#ifndef COLLECTION_CHECK_SANDBOXED
#define COLLECTION_CHECK_SANDBOXED true  // NOLINT(cppcoreguidelines-macro-usage): set by the build
#endif

// The walls that can hold a run, strongest first (see the top of this file).
enum class Wall { namespaces, landlock, none };

// The wall's name as the options and the results say it.
const char* wall_name(Wall w);

// How programs are contained.
struct Containment {
    bool sandboxed = COLLECTION_CHECK_SANDBOXED;  // false: limits and a subreaper only
    std::vector<std::filesystem::path> allowed;   // more paths visible read-only
    bool landlock_only = false;    // the namespace-free wall, even where namespaces work
    bool weaker_landlock = false;  // the namespace-free wall on a Landlock older than ABI 6
    unsigned jobs = 1;             // runs at once: the processes of a user are shared
    bool needs_proc = false;       // the program reads its own /proc/self (Valgrind does)
};

// What one run is: the file executed, its arguments (argv[0] included), its working
// folder, the bytes of its standard input and where its standard output goes.
struct Program {
    std::filesystem::path executable;  // absolute
    std::vector<std::string> argv;
    std::filesystem::path folder;  // the working folder, absolute
    std::string input;
    std::string stdout_to;         // empty: standard output is captured
    std::vector<std::string> env;  // added to the fixed environment
};

// How a run ended, as the checker saw it.
struct Outcome {
    enum class End {
        not_started,   // `start_error` says why
        exited,        // `code` is the exit status
        signaled,      // `code` is the signal
        wall_limit,    // stopped at the wall time limit
        output_limit,  // stopped when a stream passed the output limit
        memory_limit,  // stopped when its processes together passed the memory limit
    };
    End end = End::not_started;
    int code = 0;
    std::string start_error;
    std::string out, err;  // what reached the pipes, at most the output limit each
    double wall_seconds = 0, cpu_seconds = 0;
    long max_rss_kib = 0;                   // the peak of its processes' memory together, measured
    bool out_cut = false, err_cut = false;  // a stream passed the output limit
    bool folder_cut = false;  // the working folder passed its limit (where it is measured)
    // A process of the run asked for memory that its address-space backstop refused (seen
    // by the checker as it happened: check/sandbox/refusal.cpp): the largest request and
    // the address space its process held then, in bytes.
    bool allocation_refused = false;
    std::uint64_t refused_bytes = 0, refused_held_bytes = 0;

    // What a run stopped at a limit was doing just before, from its threads' states and
    // context switches (not its processor share, which depends on the machine's load):
    // running (a loop, or a slow start), waiting (in a sleep, for a child, for a pipe).
    enum class Doing { unknown, running, waiting };
    Doing doing = Doing::unknown;
    std::size_t input_taken = 0;  // bytes of the input the program took from its pipe
};

// Makes the checker ready to contain programs; call once, before any thread starts. Sets
// the checker not dumpable and ignores SIGPIPE. With `c.sandboxed`, probes what the kernel
// allows, chooses the strongest wall (the namespace-free one with `c.landlock_only`), puts
// the checker in a mount namespace of its own where working folders can be size-limited
// file systems when it may, and returns why no wall can be had when none can, with the
// remedy (nothing when all is well).
// Then starts the launcher, a small process that forks every run from then on, so that a
// run costs the same however much memory the checker holds (without it, as before
// prepare() or once it is gone, the checker forks runs itself).
std::optional<std::string> prepare(const Containment& c);

// The wall that holds the runs, once prepare() has chosen it.
Wall current_wall();

// What each wall guarantees, which one this machine allows and which one holds the runs,
// in lines for a person; probes the kernel when prepare() has not.
std::string describe_walls();

// True when working folders are file systems of their own, limited to `Limits::scratch`.
bool scratch_is_tmpfs();

// The checker's own folder under the temporary folder, made when first asked for and
// removed when the checker exits; where working folders go when scratch_is_tmpfs().
const std::string& run_folder();

// True when `path` is `folder` or lies beneath it (both absolute and canonical).
bool beneath(const std::filesystem::path& path, const std::filesystem::path& folder);

// The user and group a program runs as: the checker's own, or 65534 when it runs as root.
uid_t program_uid();
gid_t program_gid();

// Paths hidden inside every view wherever a visible path holds them (the cases). Filled
// before the first run.
std::vector<std::filesystem::path>& hidden_paths();

// The copies of the collection's programs (named `names`) and cases installed in the
// system folders every run sees, wherever the checker itself is: to be hidden as well
// (check/sandbox/installed.cpp says where it looks).
std::vector<std::filesystem::path> installed_copies(const std::vector<std::string>& names);

// Runs the program contained as `c` says, within `limits`, and waits for its end.
Outcome run_contained(const Program& p, const Limits& limits, const Containment& c);

}  // namespace check
