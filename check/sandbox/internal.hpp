// What the sandbox's rooms share: the plan of one run, as the checker makes it and the run's
// first process (its "init") carries it out, and the few system-call helpers they all use.
//
// The init and the program's process may be copies of one thread of a threaded process
// (when the checker forks them itself, without the launcher), so what runs in them between
// clone and exec uses system calls only: no allocation, no lock, no stdio. Everything they
// need is in the plan, prepared first.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "check/sandbox.hpp"

namespace check::sandbox {

// One entry of a run's view.
struct Mount {
    std::string source;  // a path to bind, or empty for a mask
    std::string target;  // absolute, below the new root
    // piece: a part of the view's template (source), bound with all it holds and its own
    // flags, read-only already.
    enum Kind { bind_ro, bind_rw, bind_dev, tmpfs_mask, file_mask, piece } kind = bind_ro;
    dev_t dev = 0;  // when not 0: what the bound path must be (it may have been swapped)
    ino_t ino = 0;
};

// The system entries every view holds: a link where the host has a link, a read-only bind
// where it has a folder.
struct System {
    std::vector<std::pair<std::string, std::string>> links;  // "/bin" -> "usr/bin"
    std::vector<std::string> folders;                        // "/usr", "/etc"
};
const System& system_entries();

// True when `path` lies in one of the system folders.
bool in_system(const std::filesystem::path& path);

// A path Landlock lets the program reach, and how.
struct Grant {
    std::string path;
    std::uint64_t rights = 0;
};

// Everything one run is, from the view to the program's arguments.
struct Plan {
    int wall = static_cast<int>(Wall::namespaces);  // the wall that holds the run
    bool switch_user = false;                       // become `uid` and `gid`
    bool own_maps = false;  // the init writes its own user namespace's maps (not root)
    bool clone3 = true;     // clone3 is there; otherwise clone
    uid_t uid = 0, gid = 0;
    uid_t outer_uid = 0;  // the checker's user and group, mapped into the run's namespace
    gid_t outer_gid = 0;
    std::uint64_t namespaces = 0;    // the CLONE_NEW* flags of the run
    std::string root;                // where the new root is mounted
    std::string root_options;        // its tmpfs options
    std::vector<std::string> dirs;   // made below the root, parents first
    std::vector<std::string> files;  // empty files made below the root (mount points)
    std::vector<std::pair<std::string, std::string>> links;  // link, target
    std::vector<Mount> mounts;
    std::string proc;           // where the run's own /proc goes; empty: none
    std::vector<Grant> grants;  // Landlock's rules, in the program's own view
    long landlock_abi = 0;      // 0: no Landlock
    std::vector<int> keep;      // the descriptors the init keeps
    int sync_fd = -1, report_fd = -1, in_fd = -1, out_fd = -1, err_fd = -1;
    int net_fd = -1;  // the network namespace lent to the run; -1: CLONE_NEWNET, or none
    std::string executable, folder, stdout_to;
    std::vector<std::string> argv_strings, env_strings;
    std::vector<char*> argv, envp;
    rlimit cpu{}, memory{}, processes{}, file_size{}, open_files{};
    static constexpr std::size_t kStack = std::size_t{256} * 1024;
    std::unique_ptr<char[]> program_stack = std::make_unique_for_overwrite<char[]>(kStack);

    bool sandboxed() const { return wall != static_cast<int>(Wall::none); }
    bool in_namespaces() const { return wall == static_cast<int>(Wall::namespaces); }
};

// What the init tells the checker, in one write.
struct Report {
    // listening: the run's seccomp listener is attached (check/sandbox/refusal.cpp)
    enum Kind : int { failed = 1, started = 2, ended = 3, listening = 4 } kind;
    int value;  // failed: errno; started: the program's process ID; ended: wait status
    char step[96];
    rusage usage;
};

// The namespaces of a sandboxed run: user, mount, PID, network and UTS. No IPC namespace:
// the system-call filter refuses every SysV IPC call and POSIX message queue, all an IPC
// namespace would keep apart, and making one cost a run about 40 microseconds.
constexpr std::uint64_t kNamespaces = 0x10000000 /* CLONE_NEWUSER */ | 0x00020000 /* NEWNS */ |
                                      0x20000000 /* NEWPID */ | 0x40000000 /* NEWNET */ |
                                      0x04000000 /* NEWUTS */;

// A raw clone without glibc's fork handlers (they would take locks another thread of the
// checker may hold), through clone3 or, where a seccomp profile refuses it, clone; 0 in the
// child. `pidfd` receives the child's pidfd.
pid_t raw_clone(std::uint64_t flags, int* pidfd, bool clone3);

// Writes a coverage build's counts of this process so far (a process that ends with _exit
// or exec would lose them); nothing in any other build. Called only where the build tree
// can still be reached.
void flush_coverage();

// Writes `text` to the file `path` (which must exist); false when it could not.
bool write_file(const char* path, const char* text);

// The first word of a small file, or "" when it cannot be read.
std::string read_small(const char* path);

// Writes `n` as decimal digits into `to` (at least 24 bytes), with no allocation; its end.
char* put_number(char* to, std::uint64_t n);

// The first process of a run: builds the view, starts the program, waits for it, reports
// how it ended, ends every other process of the run and exits (check/sandbox/init.cpp).
[[noreturn]] void be_init(const Plan& p);

// Builds the plan's view and makes it the root (check/sandbox/view.cpp); false with errno
// set and `step` naming what failed.
bool enter_view(const Plan& p, const char*& step, const char*& what);

// Builds, in the checker's own mount namespace, the part every run's view shares (the
// system folders, /dev and the masks over hidden paths within them), once and read-only,
// so that a run binds it whole rather than mount by mount (check/sandbox/view.cpp). Where it
// cannot be built, each run builds its whole view itself.
void build_view_template(bool with_proc);

// Fills the view part of a plan: the system folders, the executable, the allowed paths,
// the working folder, /dev, /proc and the masks over hidden paths (check/sandbox/view.cpp).
void plan_view(Plan& plan, const std::filesystem::path& executable, const Containment& c,
               bool with_proc);

// Fills the plan's Landlock rules for its wall (check/sandbox/landlock.cpp).
void plan_landlock(Plan& plan, const std::filesystem::path& executable, const Containment& c);

// The Landlock ABI the kernel offers; 0 without Landlock.
long landlock_abi();

// Restricts the calling process with the plan's Landlock rules; false when it could not.
bool restrict_with_landlock(const Plan& p);

// Installs the seccomp filter of a sandboxed run on the calling process (after
// PR_SET_NO_NEW_PRIVS); `modes_by_checker` where the run's listener changes modes for it
// (install_refusal_listener). False when it could not (check/sandbox/seccomp.cpp).
bool install_seccomp(const Plan& p, bool modes_by_checker);

// What the kernel allows this process, probed once by prepare() (check/sandbox/probe.cpp).
struct Facts {
    bool clone3 = true;            // clone3 is there (a container's profile may refuse it)
    bool user_namespaces = false;  // a run can have namespaces of its own
    bool fresh_proc = false;       // a run can mount a /proc of its own
    std::string refusal;           // why user namespaces are refused, with the remedy
    long landlock_abi = 0;
};
Facts& facts();

// Probes the kernel and fills facts().
void probe();

// Maps root and the program's user and group 65534 into the new user namespace of process
// `pid`, from the outside, as a root checker does; false when it could not.
bool map_from_outside(pid_t pid);

// Builds the system-call filter once, before any run (check/sandbox/seccomp.cpp).
void prepare_seccomp();

// Starts the init of the plan (whose descriptors are set) as a child of the calling
// process, maps its user namespace and lets it go; its pidfd, or
// -1 with errno set (check/sandbox/launcher.cpp).
int start_init(Plan& plan);

// The descriptors a run's init is started with, in this order: the pipe ends of its report,
// standard input, output and error, and the network namespace lent to it (-1: none; then
// only the first four travel).
constexpr std::size_t kRunFds = 5;

// Starts the launcher, which forks every run from then on.
void start_launcher();

// Asks the launcher to start the plan's init with these descriptors; its pidfd, or -1
// with `error` set (0 when the launcher is gone or the plan too large for it: then the
// caller starts the run itself).
int launch(const Plan& plan, const int (&fds)[kRunFds], int& error);

// The memory of every process below process `init` together, in KiB (their own anonymous
// and shared pages, not the files they map); at most `most` processes are counted
// (check/sandbox/memory.cpp).
std::uint64_t memory_below(pid_t init, unsigned most);

// The processor time of process `init` and every process below it, in seconds, with what
// their reaped children used; at most `most` processes are counted (check/sandbox/memory.cpp).
double processor_below(pid_t init, unsigned most);

// What the threads below process `init` were doing, glanced at twice 20 ms apart: running
// (one was in state R, runnable whether or not it had a processor, or was only switched out
// by the scheduler), waiting (all asleep), or unknown (none seen); at most `most` threads
// are read (check/sandbox/memory.cpp).
Outcome::Doing doing_below(pid_t init, unsigned most);

// What the folder holds on disk, in bytes, links not followed; all ones when it holds more
// than `most` entries (check/sandbox/memory.cpp).
std::uint64_t folder_bytes(const std::filesystem::path& folder, unsigned most);

// What the files removed but still held open by the processes below process `init` hold on
// the file system `device`, in bytes (each file once); at most `most` processes are read
// (check/sandbox/memory.cpp).
std::uint64_t removed_bytes_below(pid_t init, dev_t device, unsigned most);

// Allocations refused at a run's bound (check/sandbox/refusal.cpp).

// Installs on the calling process (the init, before the program starts) the filter that
// asks the checker about every mmap and mremap of 1 MiB or more; its listener, or -1 where
// the kernel refuses one. Sets no new privileges. System calls only.
// Where `changes_modes` (the wall without namespaces), chmod, fchmodat and fchmodat2 ask
// the checker too, which changes the mode itself when the file is the run's own; mmap and
// mremap ask only where `watches_memory` (the run's memory is bounded).
int install_refusal_listener(bool watches_memory, bool changes_modes);

// Sends the listener over the run's report socket (a Report of kind `listening`); false
// when it could not. System calls only.
bool send_listener(int report_fd, int listener);

// Receives one report into `buffer` (the report socket is not blocking); its size, 0 at
// the end, -1 when none is there. A listener attached is put in `listener` when that is
// still -1, and closed otherwise.
ssize_t receive_report(int report_fd, char* buffer, std::size_t size, int& listener);

// What the checker saw of a run's refused requests.
struct Refusal {
    bool refused = false;       // a request that the backstop refuses was made
    std::uint64_t largest = 0;  // the largest such request, in bytes
    std::uint64_t held = 0;     // the address space its process held then, in bytes
};

// fchmodat2's number, which older headers lack.
constexpr std::uint32_t kFchmodat2 = 452;

// What the checker answers a run's requests with.
struct Watch {
    std::uint64_t backstop = 0;  // each process's address space, in bytes
    std::string folder;          // the run's working folder, symbolic links resolved; empty
                                 // where no mode is changed for the run
    uid_t owner = 0;             // the run's user
};

// Receives one request from the listener. An allocation is recorded in `seen` when the
// backstop refuses it, and goes on unchanged; a change of mode is made by the checker
// where `watch` allows it, or refused. False when the listener is no longer usable.
bool answer_request(int listener, const Watch& watch, Refusal& seen);

// Puts the checker in mount and network namespaces of its own; true when it is there.
bool own_namespaces();

// True once the checker is in a network namespace of its own.
bool shares_network();

// Sets up the pool of network namespaces that runs in namespaces are lent, once the checker
// is in a network namespace of its own; false where it cannot (then each run makes its own
// with CLONE_NEWNET) (check/sandbox/network.cpp).
bool pool_networks();

// A network namespace no run is in and that holds no socket, for one run; -1 when none can be
// had (the pool is not set up, or the kernel refuses a new one).
int take_network();

// Gives back the namespace `fd` once every process of its run has ended: it is lent again
// only when it holds no socket, and closed otherwise.
void give_back_network(int fd);

// Moves the calling thread into the network namespace `fd` (nothing when -1), keeping where
// it was in `home`; false when it could not.
bool enter_network(int fd, int& home);

// Moves the calling thread back to `home` after enter_network, and closes it.
void leave_network(int home);

}  // namespace check::sandbox
