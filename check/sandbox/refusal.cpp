// Allocations refused at a run's bound: seen by the checker as they happen, so that a run
// whose memory ran out is told so, whatever it printed.
//
// A run's memory is bounded by the whole-run measure (check/sandbox/memory.cpp); each
// process's address space is bounded as well (RLIMIT_AS), by a generous backstop: the
// memory limit plus 8 GiB, room for what runtimes reserve and never touch (a JVM reserves
// gigabytes). A request beyond the backstop fails (malloc returns a null pointer, new
// throws), and the program may well go on and print something else: a failure the kernel
// records nowhere.
//
// Guarantees:
//   - Where the kernel allows a seccomp listener (Linux 5.5 or later, and no listener
//     already on the checker), every mmap and mremap of the run asking for at least 1 MiB
//     waits for the checker: it compares the process's address space (its statm) and the
//     request with the backstop, as the kernel is about to, records a request that will be
//     refused, and lets the call go on unchanged (the kernel itself decides). glibc's
//     malloc, and with it new, ends every failing allocation with such a request (its
//     fallback from the heap maps at least 1 MiB), so a refusal of theirs is always seen.
//     A refusal of a smaller request, from another allocator, goes unseen.
//   - The listener is installed by the run's first process before the program starts, and
//     handed to the checker over the run's report socket; every process of the run is under
//     it. A process that cannot have one (the kernel, or an outer sandbox's listener) runs
//     as before, its refusals unseen.
//   - A request is answered within the watch of the run; it costs the process a round trip
//     to the checker (a few per process start, for the libraries' mappings).
//   - What is recorded is a fact for the judge (Outcome::allocation_refused), never a
//     verdict by itself.
//   - In the wall without namespaces, where Landlock does not guard a file's mode, the same
//     listener takes chmod, fchmodat and fchmodat2 (the system-call filter refuses them
//     where there is no listener). The checker finds the file as the call would, and
//     changes its mode through its own descriptor of it only when it lies in the run's
//     working folder, belongs to the run's user, is a folder or a file of one link, and
//     gains no set-user or set-group ID; the call fails with EPERM otherwise. A linker
//     making its program executable, and CMake, work there as in namespaces.
// The init's part runs between clone and exec: system calls only (see internal.hpp).
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/openat2.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <string>

#include "check/sandbox/internal.hpp"

namespace check {

std::uint64_t address_backstop(std::uint64_t memory) {
    return memory == 0 ? 0 : memory + (std::uint64_t{8} << 30);
}

}  // namespace check

namespace check::sandbox {

namespace {

// The smallest request the checker is asked about: glibc's fallback from the heap maps at
// least this much.
constexpr std::uint32_t kWatched = std::uint32_t{1} << 20;

// The offset of the low and high halves of argument `i` in seccomp_data (x86-64: little
// endian).
constexpr std::uint32_t low_half(unsigned i) {
    return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + std::size_t{8} * i);
}
constexpr std::uint32_t high_half(unsigned i) { return low_half(i) + 4; }

}  // namespace

int install_refusal_listener(bool watches_memory, bool changes_modes) {
    // mmap's length is its second argument, mremap's new length its third; either at
    // least kWatched (its high half not zero, or its low half large enough) asks the
    // checker where its memory is watched. So do chmod, fchmodat and fchmodat2 where the
    // checker changes modes for the run. (A call not watched is compared with a number no
    // call has.) Everything else is left to the other filter.
    const auto nr = static_cast<std::uint32_t>(offsetof(seccomp_data, nr));
    const auto arch = static_cast<std::uint32_t>(offsetof(seccomp_data, arch));
    const std::uint32_t none = ~std::uint32_t{0};
    const std::uint32_t chmod = changes_modes ? SYS_chmod : none;
    const std::uint32_t fchmodat = changes_modes ? SYS_fchmodat : none;
    const std::uint32_t fchmodat2 = changes_modes ? kFchmodat2 : none;
    const std::uint32_t mmap = watches_memory ? SYS_mmap : none;
    const std::uint32_t mremap = watches_memory ? SYS_mremap : none;
    // Jumps count the instructions skipped: ALLOW is instruction 17, USER_NOTIF 18.
    sock_filter prog[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, arch),                      // 0
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),  // 1
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),           // 2: the other filter kills it
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, nr),                 // 3
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, chmod, 13, 0),      // 4
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, fchmodat, 12, 0),   // 5
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, fchmodat2, 11, 0),  // 6
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, mmap, 0, 4),        // 7
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, high_half(1)),       // 8: mmap's length
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 8),           // 9: 4 GiB or more
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, low_half(1)),        // 10
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kWatched, 6, 5),    // 11
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, mremap, 0, 4),      // 12
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, high_half(2)),       // 13: mremap's new length
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 0, 0, 3),           // 14
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, low_half(2)),        // 15
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kWatched, 1, 0),    // 16
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),           // 17
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),      // 18
    };
    sock_fprog fprog{static_cast<unsigned short>(sizeof prog / sizeof prog[0]), prog};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
    const long fd =
        ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &fprog);
    return fd < 0 ? -1 : static_cast<int>(fd);
}

bool send_listener(int report_fd, int listener) {
    Report r{};
    r.kind = Report::listening;
    iovec io{&r, sizeof r};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(c), &listener, sizeof listener);
    ssize_t sent = 0;
    do sent = ::sendmsg(report_fd, &msg, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof r);
}

ssize_t receive_report(int report_fd,
                       char* buffer,  // NOLINT(readability-non-const-parameter): recvmsg fills it
                       std::size_t size, int& listener) {
    iovec io{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t got = 0;
    do got = ::recvmsg(report_fd, &msg, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    while (got < 0 && errno == EINTR);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        for (std::size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            if (listener < 0)
                listener = fd;  // the first is the run's listener; no other is sent
            else
                ::close(fd);
        }
    }
    return got;
}

namespace {

// The pages of [from, from + length) that process `pid` has mapped already, in bytes (a
// mapping at a fixed address replaces them, and the kernel counts only the rest); 0 when
// its map cannot be read.
std::uint64_t mapped_within(long pid, std::uint64_t from, std::uint64_t length) {
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::uint64_t bytes = 0;
    const std::uint64_t to = from + length;
    for (std::string line; std::getline(maps, line);) {
        std::uint64_t start = 0, end = 0;
        const std::size_t dash = line.find('-');
        if (dash == std::string::npos) continue;
        try {
            start = std::stoull(line.substr(0, dash), nullptr, 16);
            end = std::stoull(line.substr(dash + 1), nullptr, 16);
        } catch (const std::exception&) {
            continue;
        }
        const std::uint64_t a = std::max(start, from), b = std::min(end, to);
        if (a < b) bytes += b - a;
    }
    return bytes;
}

// The address space of process `pid` now, in bytes; 0 when it cannot be read.
std::uint64_t address_space_of(long pid) {
    char path[48] = "/proc/";
    std::memcpy(put_number(path + 6, static_cast<std::uint64_t>(pid)), "/statm", 7);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char text[64];
    const ssize_t got = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    std::uint64_t pages = 0;
    for (ssize_t i = 0; i < got && text[i] >= '0' && text[i] <= '9'; ++i)
        pages = pages * 10 + static_cast<std::uint64_t>(text[i] - '0');
    return pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
}

// The buffers of one notification and its answer, as large as the kernel's own.
struct NotifySizes {
    std::size_t request = sizeof(seccomp_notif), response = sizeof(seccomp_notif_resp);
    NotifySizes() {
        seccomp_notif_sizes sizes{};
        if (::syscall(SYS_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &sizes) == 0) {
            request = std::max<std::size_t>(request, sizes.seccomp_notif);
            response = std::max<std::size_t>(response, sizes.seccomp_notif_resp);
        }
    }
};

// The path at `address` in process `pid`'s memory, read a page at a time so that a path
// ending just before an unmapped page is read whole; false when it cannot be read or is
// longer than PATH_MAX.
bool path_of(long pid, std::uint64_t address, std::string& path) {
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    path.clear();
    char chunk[4096] = {};
    while (path.size() < PATH_MAX) {
        const std::uint64_t length =
            std::min<std::uint64_t>(sizeof chunk, page - (address + path.size()) % page);
        iovec local{chunk, length};
        // An address of the other process, never dereferenced here.
        iovec remote{reinterpret_cast<void*>(  // NOLINT(performance-no-int-to-ptr)
                         address + path.size()),
                     length};
        const ssize_t got = ::process_vm_readv(static_cast<pid_t>(pid), &local, 1, &remote, 1, 0);
        if (got <= 0) return false;
        const char* end =
            static_cast<const char*>(std::memchr(chunk, '\0', static_cast<std::size_t>(got)));
        if (end != nullptr) {
            path.append(chunk, static_cast<std::size_t>(end - chunk));
            return true;
        }
        path.append(chunk, static_cast<std::size_t>(got));
    }
    return false;
}

// Changes a file's mode for a run in the wall without namespaces, where Landlock does not
// guard a file's metadata and the system-call filter leaves chmod, fchmodat and fchmodat2
// to the checker (their request `d`, of process `pid`). The file is found as the call
// would find it (from the process's working folder or the folder its descriptor names,
// symbolic links followed) and changed only when it lies in the run's working folder,
// belongs to the run's user, is a folder or a file of one link, and the mode asks for no
// set-user or set-group ID; through the checker's own descriptor of it, so that a path
// changed meanwhile changes nothing else. 0, or the error the call returns.
int change_mode(int listener, const seccomp_notif& request, const Watch& w) {
    const seccomp_data& d = request.data;
    const long pid = static_cast<long>(request.pid);
    const bool at = d.nr != SYS_chmod;
    const auto folder_fd = at ? static_cast<int>(d.args[0]) : AT_FDCWD;
    const std::uint64_t mode = d.args[at ? 2 : 1] & 07777;   // the kernel reads no more
    if (d.nr == kFchmodat2 && d.args[3] != 0) return EPERM;  // no link itself, no descriptor
    if ((mode & (S_ISUID | S_ISGID)) != 0) return EPERM;
    std::string path;
    if (!path_of(pid, d.args[at ? 1 : 0], path)) return EFAULT;
    if (path.empty()) return ENOENT;
    const std::string base = "/proc/" + std::to_string(pid) +
                             (folder_fd == AT_FDCWD ? "/cwd" : "/fd/" + std::to_string(folder_fd));
    const int from = ::open(base.c_str(), O_PATH | O_CLOEXEC);
    if (from < 0) return EBADF;
    // What was read belongs to the process that asked only if its request is still there.
    if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_ID_VALID, &request.id) != 0) {
        ::close(from);
        return ESRCH;
    }
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, from, path.c_str(), &how, sizeof how);
    const int error = errno;
    ::close(from);
    if (fd < 0) return error;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    char where[PATH_MAX + 1];
    const ssize_t n = ::readlink(self.c_str(), where, PATH_MAX);
    const std::string found(where, static_cast<std::size_t>(std::max<ssize_t>(0, n)));
    struct stat st {};
    const bool inside = n > 0 && (found == w.folder || found.rfind(w.folder + "/", 0) == 0);
    const bool own = ::fstat(static_cast<int>(fd), &st) == 0 && st.st_uid == w.owner &&
                     (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink == 1));
    const int result = !inside || !own
                           ? EPERM
                           : (::chmod(self.c_str(), static_cast<mode_t>(mode)) == 0 ? 0 : errno);
    ::close(static_cast<int>(fd));
    return result;
}

}  // namespace

bool answer_request(int listener, const Watch& watch, Refusal& seen) {
    static const NotifySizes sizes;
    alignas(seccomp_notif) char request_bytes[256] = {};
    alignas(seccomp_notif_resp) char response_bytes[256] = {};
    if (sizes.request > sizeof request_bytes || sizes.response > sizeof response_bytes)
        return false;  // a kernel whose notifications outgrew these: not watched
    auto* request = reinterpret_cast<seccomp_notif*>(request_bytes);
    if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, request) != 0)
        return errno == EINTR || errno == ENOENT;  // ENOENT: its process has gone
    const seccomp_data& d = request->data;
    auto* response = reinterpret_cast<seccomp_notif_resp*>(response_bytes);
    response->id = request->id;
    if (d.nr == SYS_chmod || d.nr == SYS_fchmodat || d.nr == kFchmodat2) {
        const int error = watch.folder.empty() ? EPERM : change_mode(listener, *request, watch);
        response->error = -error;
        response->val = 0;
        return ::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, response) == 0 || errno == ENOENT ||
               errno == EINTR;
    }
    const std::uint64_t backstop = watch.backstop == 0 ? ~std::uint64_t{0} : watch.backstop;
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    std::uint64_t asked = 0;
    if (d.nr == SYS_mmap)
        asked = d.args[1];
    else if (d.nr == SYS_mremap && d.args[2] > d.args[1])
        asked = d.args[2] - d.args[1];
    asked = asked > ~std::uint64_t{0} - page ? asked : (asked + page - 1) / page * page;
    const long pid = static_cast<long>(request->pid);
    std::uint64_t held = asked > 0 ? address_space_of(pid) : 0;
    if (asked > 0 && held + asked > backstop && d.nr == SYS_mmap && (d.args[3] & MAP_FIXED) != 0)
        held -= std::min(held, mapped_within(pid, d.args[0], asked));
    // What was read belongs to the process that asked only if its request is still there.
    if (asked > 0 && held + asked > backstop &&
        ::ioctl(listener, SECCOMP_IOCTL_NOTIF_ID_VALID, &request->id) == 0) {
        seen.refused = true;
        seen.largest = std::max(seen.largest, asked);
        seen.held = std::max(seen.held, held);
    }
    response->flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
    // ENOENT: its process has gone meanwhile.
    return ::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, response) == 0 || errno == ENOENT ||
           errno == EINTR;
}

}  // namespace check::sandbox
