// The system-call filter of a sandboxed run, in either wall: what the program and every
// process it starts may never ask the kernel for, whatever the rest of the sandbox allows.
//
// Guarantees (on x86-64; a program of another architecture or of the x32 ABI is killed):
//   - No tracing and no reading or writing of another process's memory (ptrace,
//     process_vm_readv and process_vm_writev).
//   - No key, BPF program, perf event, userfaultfd or io_uring, each a way around the
//     limits or into other processes' data.
//   - No SysV shared memory, semaphore or message queue, and no POSIX message queue or
//     memfd: memory outside every limit of the run and shared between runs. (The runs
//     have no IPC namespace of their own: this is what keeps them apart.)
//   - No new namespace (clone or unshare with CLONE_NEW*; clone3, whose flags a filter
//     cannot read, answers ENOSYS so that the C library falls back to clone), no setns, no
//     mount of any kind, no kernel module, no kernel log.
//   - No socket but a Unix one: no network, and no netlink socket that would list other
//     runs' sockets.
//   - No change of another process's limits, priority, scheduling, processors or I/O
//     priority (prlimit64, setpriority, sched_set*, ioprio_set, migrate_pages, move_pages):
//     only the caller's own (process ID 0), or its process group's; never a user's all. A
//     filter cannot know the caller's own process or thread ID: naming itself by it (as
//     pthread_setaffinity_np does) is refused too.
//     Without namespaces every process of the program's user is otherwise within reach.
//   - Without namespaces, no socket at all (socketpair stays): Landlock does not guard a
//     path socket's connect (an ssh agent, a session bus) nor an abstract name's bind, which
//     another run would see. No inotify (a neighbouring working folder's file names), and
//     no fallocate (EOPNOTSUPP), which would reserve a working folder's blocks faster than
//     the checker measures them.
//   - Without namespaces, where Landlock does not guard a file's metadata: no change of
//     mode, owner, times or extended attributes by path (chmod, chown, utimes, setxattr and
//     their kin), so that nothing outside the working folder can be changed that way; the
//     forms that take a descriptor act only on files Landlock let the program open. Where
//     the run's listener is there (check/sandbox/refusal.cpp), chmod, fchmodat and
//     fchmodat2 are left to it: the checker changes the mode of the run's own files in its
//     working folder (a build's linker making its program executable), and of nothing else.
// A refused call fails with EPERM (EAFNOSUPPORT for a socket of another family, EACCES for
// a socket without namespaces, EOPNOTSUPP for fallocate); the program goes on.
// A build whose programs carry a sanitizer lets them trace (LeakSanitizer stops its own
// threads with ptrace at exit); Landlock and the namespaces still keep any process outside
// the run out of reach.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <vector>

#include "check/sandbox/internal.hpp"

namespace check::sandbox {

namespace {

// The calls refused outright.
constexpr long kRefused[] = {
    SYS_ptrace,
    SYS_process_vm_readv,
    SYS_process_vm_writev,
    SYS_keyctl,
    SYS_add_key,
    SYS_request_key,
    SYS_bpf,
    SYS_perf_event_open,
    SYS_userfaultfd,
    SYS_io_uring_setup,
    SYS_io_uring_enter,
    SYS_io_uring_register,
    SYS_shmget,
    SYS_shmat,
    SYS_shmctl,
    SYS_semget,
    SYS_semop,
    SYS_semctl,
    SYS_semtimedop,
    SYS_msgget,
    SYS_msgsnd,
    SYS_msgrcv,
    SYS_msgctl,
    SYS_mq_open,
    SYS_mq_unlink,
    SYS_memfd_create,
    SYS_memfd_secret,
    SYS_unshare,
    SYS_setns,
    SYS_mount,
    SYS_umount2,
    SYS_pivot_root,
    SYS_open_tree,
    SYS_move_mount,
    SYS_fsopen,
    SYS_fsconfig,
    SYS_fsmount,
    SYS_fspick,
    SYS_mount_setattr,
    SYS_init_module,
    SYS_finit_module,
    SYS_delete_module,
    SYS_kexec_load,
    SYS_kexec_file_load,
    SYS_syslog,
    SYS_acct,
    SYS_swapon,
    SYS_swapoff,
    SYS_reboot,
    SYS_quotactl,
    SYS_open_by_handle_at,
    SYS_name_to_handle_at,
    SYS_fanotify_init,
    SYS_lookup_dcookie,
    SYS_vhangup,
    SYS_iopl,
    SYS_ioperm,
};

// The calls refused as well without namespaces: a file's metadata changed by its path.
constexpr long kRefusedByPath[] = {
    SYS_chmod,     SYS_fchmodat,    kFchmodat2,       SYS_chown,     SYS_lchown,
    SYS_fchownat,  SYS_utime,       SYS_utimes,       SYS_futimesat, SYS_setxattr,
    SYS_lsetxattr, SYS_removexattr, SYS_lremovexattr,
};

// Whether the programs may trace their own processes: only a sanitizer build sets it.
#ifndef COLLECTION_CHECK_TRACING
#define COLLECTION_CHECK_TRACING 0  // NOLINT(cppcoreguidelines-macro-usage): set by the build
#endif
constexpr int kTracing = COLLECTION_CHECK_TRACING;

// The namespace flags of clone.
constexpr unsigned kNewNamespaces = 0x7E020080U;  // CLONE_NEW{NS,CGROUP,UTS,IPC,USER,PID,NET,TIME}

constexpr std::uint32_t errno_ret(int e) {
    return SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(e) & SECCOMP_RET_DATA);
}

sock_filter stmt(std::uint16_t code, std::uint32_t k) { return BPF_STMT(code, k); }
sock_filter jump(std::uint16_t code, std::uint32_t k, std::uint8_t t, std::uint8_t f) {
    return BPF_JUMP(code, k, t, f);
}

// The filter's program for a wall with namespaces or without; built once, before any run.
// Emits a search over the sorted numbers `calls`: EPERM for each of them, ALLOW for any
// other. A tree, not a chain: the kernel runs the filter for every system-call number when
// it attaches it, and a chain of tests made that cost a quarter of a millisecond a run.
void search(std::vector<sock_filter>& p, const std::vector<std::uint32_t>& calls, std::size_t from,
            std::size_t to) {
    if (to - from == 1) {
        p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, calls[from], 0, 1));
        p.push_back(stmt(BPF_RET | BPF_K, errno_ret(EPERM)));
        p.push_back(stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        return;
    }
    const std::size_t middle = from + (to - from) / 2;
    const std::size_t at = p.size();
    p.push_back(jump(BPF_JMP | BPF_JGE | BPF_K, calls[middle], 0, 0));
    search(p, calls, from, middle);
    // Each half holds at most 3 instructions a number: within a jump's 255.
    p[at].jt = static_cast<std::uint8_t>(p.size() - at - 1);
    search(p, calls, middle, to);
}

// ---- Other processes' attributes, and what lies outside the run -----------------------
// Without namespaces, every process of the program's user is within reach of the calls
// that change a process's limits, priority or processor; in namespaces only the run's own
// are (the others have no process ID there), so the rule is the same in both walls. Each
// block below leaves the call's number in the accumulator when the call is not its own.

// Emits: the call `nr` is allowed only when its argument at `who` (its low word: a process
// ID or a "who" of 0 means the caller, or the caller's process group) is 0 and, when
// `which` is set, its argument at `which` is below `which_below` (a process or a process
// group, not a user); EPERM otherwise.
void caller_only(std::vector<sock_filter>& p, long nr, std::uint32_t who,
                 const std::uint32_t* which = nullptr, std::uint32_t which_below = 0) {
    const std::uint8_t body = which == nullptr ? 4 : 6;
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, body));
    p.push_back(stmt(BPF_LD | BPF_W | BPF_ABS, who));
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, which == nullptr ? 1 : 3));
    if (which != nullptr) {
        p.push_back(stmt(BPF_LD | BPF_W | BPF_ABS, *which));
        p.push_back(jump(BPF_JMP | BPF_JGE | BPF_K, which_below, 1, 0));
    }
    p.push_back(stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    p.push_back(stmt(BPF_RET | BPF_K, errno_ret(EPERM)));
}

// A process's limits, priority, scheduling, processor and I/O priority are changed only for
// the caller itself (or its process group, which a run's program starts as its own).
// Reading them (getpriority, sched_getaffinity, ioprio_get, prlimit64 with pid 0) is left.
void keep_to_own_processes(std::vector<sock_filter>& p, std::uint32_t arg0, std::uint32_t arg1) {
    for (long nr : {SYS_prlimit64, SYS_sched_setaffinity, SYS_sched_setscheduler,
                    SYS_sched_setparam, SYS_sched_setattr, SYS_migrate_pages, SYS_move_pages})
        caller_only(p, nr, arg0);
    // setpriority(which, who, nice): PRIO_PROCESS (0) or PRIO_PGRP (1), never PRIO_USER.
    caller_only(p, SYS_setpriority, arg1, &arg0, 2);
    // ioprio_set(which, who, ioprio): IOPRIO_WHO_PROCESS (1) or _PGRP (2), never _USER.
    caller_only(p, SYS_ioprio_set, arg1, &arg0, 3);
}

// Without namespaces the run shares the machine's network namespace and file system, and
// Landlock guards neither a path socket's connect, nor an abstract socket's bind, nor
// watches: no socket is made at all (socket() fails; socketpair(), whose two ends stay in
// the process, works), so nothing outside the run is connected to and no name is bound
// that another run could see. No inotify watch (a neighbouring folder's file names), and
// no fallocate, which reserves a file's blocks at once, faster than the working folder is
// measured (EOPNOTSUPP: the C library's posix_fallocate then writes the blocks itself).
void keep_to_own_run(std::vector<sock_filter>& p) {
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 1));
    p.push_back(stmt(BPF_RET | BPF_K, errno_ret(EACCES)));
    for (long nr : {SYS_inotify_init, SYS_inotify_init1, SYS_inotify_add_watch}) {
        p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(nr), 0, 1));
        p.push_back(stmt(BPF_RET | BPF_K, errno_ret(EPERM)));
    }
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_fallocate, 0, 1));
    p.push_back(stmt(BPF_RET | BPF_K, errno_ret(EOPNOTSUPP)));
}

// ---- The filter as a whole -------------------------------------------------------------

// `modes_by_checker`: without namespaces, chmod and its kin are left to the listener of
// the run, whose checker changes a mode only in the run's working folder.
std::vector<sock_filter> build(bool without_namespaces, bool modes_by_checker) {
    std::vector<sock_filter> p;
    const auto nr = static_cast<std::uint32_t>(offsetof(seccomp_data, nr));
    const auto arch = static_cast<std::uint32_t>(offsetof(seccomp_data, arch));
    const auto arg0 = static_cast<std::uint32_t>(offsetof(seccomp_data, args));
    const auto arg1 = static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8);
    p.push_back(stmt(BPF_LD | BPF_W | BPF_ABS, arch));
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
    p.push_back(stmt(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
    p.push_back(stmt(BPF_LD | BPF_W | BPF_ABS, nr));
    p.push_back(jump(BPF_JMP | BPF_JGE | BPF_K, 0x40000000U, 0, 1));  // x32
    p.push_back(stmt(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
    // The calls whose arguments decide, first.
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone3, 0, 1));
    p.push_back(stmt(BPF_RET | BPF_K, errno_ret(ENOSYS)));
    // clone: its flags are the first argument.
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 0, 4));
    p.push_back(stmt(BPF_LD | BPF_W | BPF_ABS, arg0));
    p.push_back(jump(BPF_JMP | BPF_JSET | BPF_K, kNewNamespaces, 0, 1));
    p.push_back(stmt(BPF_RET | BPF_K, errno_ret(EPERM)));
    p.push_back(stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    keep_to_own_processes(p, arg0, arg1);
    if (without_namespaces) keep_to_own_run(p);
    // socket: Unix ones only.
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 4));
    p.push_back(stmt(BPF_LD | BPF_W | BPF_ABS, arg0));
    p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, AF_UNIX, 1, 0));
    p.push_back(stmt(BPF_RET | BPF_K, errno_ret(EAFNOSUPPORT)));
    p.push_back(stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    if (without_namespaces) {
        // utimensat: allowed on a descriptor alone (its path null).
        p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_utimensat, 0, 6));
        p.push_back(stmt(BPF_LD | BPF_W | BPF_ABS, arg1));
        p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3));
        p.push_back(stmt(BPF_LD | BPF_W | BPF_ABS, arg1 + 4));
        p.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 1));
        p.push_back(stmt(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        p.push_back(stmt(BPF_RET | BPF_K, errno_ret(EPERM)));
    }
    std::vector<std::uint32_t> calls;
    for (long call : kRefused)
        if (kTracing == 0 || call != SYS_ptrace) calls.push_back(static_cast<std::uint32_t>(call));
    const auto changes_mode = [](long call) {
        return call == SYS_chmod || call == SYS_fchmodat || call == kFchmodat2;
    };
    if (without_namespaces)
        for (long call : kRefusedByPath)
            if (!modes_by_checker || !changes_mode(call))
                calls.push_back(static_cast<std::uint32_t>(call));
    std::sort(calls.begin(), calls.end());
    calls.erase(std::unique(calls.begin(), calls.end()), calls.end());
    search(p, calls, 0, calls.size());
    return p;
}

const std::vector<sock_filter>& program(bool without_namespaces, bool modes_by_checker) {
    static const std::vector<sock_filter> with = build(false, false), without = build(true, false),
                                          without_modes = build(true, true);
    if (!without_namespaces) return with;
    return modes_by_checker ? without_modes : without;
}

}  // namespace

void prepare_seccomp() { (void)program(false, false); }

bool install_seccomp(const Plan& p, bool modes_by_checker) {
    if (!p.sandboxed()) return true;
    const std::vector<sock_filter>& prog = program(!p.in_namespaces(), modes_by_checker);
    sock_fprog fprog{static_cast<unsigned short>(prog.size()),
                     const_cast<sock_filter*>(prog.data())};  // NOLINT: the kernel only reads it
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog, 0, 0) == 0;
}

}  // namespace check::sandbox
