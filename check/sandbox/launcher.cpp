// The launcher: a small process, started before the checker grows, that forks every run's
// init.
//
// Guarantees:
//   - A run costs the same however much memory the checker holds, and runs side by side
//     never fault on each other's pages: the launcher, not the checker, is the inits' parent.
//   - A plan travels as bytes; one list of its fields serves the encoder and the decoder,
//     and the decoder refuses lengths beyond the bytes received and unknown kinds.
//   - The launcher keeps nothing open but its socket and /dev/null, ends when the checker
//     closes the socket, and is killed when the checker dies. Where it is gone, or a plan
//     is too large for its socket, the checker starts the run itself.
#include <fcntl.h>
#include <linux/sched.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "check/sandbox/internal.hpp"

namespace check::sandbox {

namespace {

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
    io(p.wall), io(p.switch_user), io(p.own_maps), io(p.clone3), io(p.uid), io(p.gid);
    io(p.outer_uid), io(p.outer_gid), io(p.namespaces);
    io(p.root), io(p.root_options), io(p.dirs), io(p.files), io(p.links), io(p.mounts), io(p.proc);
    io(p.grants), io(p.landlock_abi);
    io(p.executable), io(p.folder), io(p.stdout_to), io(p.argv_strings), io(p.env_strings);
    io(p.cpu), io(p.memory), io(p.processes), io(p.file_size), io(p.open_files);
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
    void operator()(const Grant& g) { (*this)(g.path), (*this)(g.rights); }
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
        if (kind > Mount::piece) return fail();
        m.kind = static_cast<Mount::Kind>(kind);
    }
    void operator()(rlimit& r) { (*this)(r.rlim_cur), (*this)(r.rlim_max); }
    void operator()(Grant& g) { (*this)(g.path), (*this)(g.rights); }

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

}  // namespace

int start_init(Plan& plan) {
    int sync[2];
    if (::pipe2(sync, O_CLOEXEC) != 0) return -1;
    plan.sync_fd = sync[0];
    plan.keep = {sync[0], plan.report_fd, plan.in_fd, plan.out_fd, plan.err_fd};
    std::sort(plan.keep.begin(), plan.keep.end());
    int pidfd = -1;
    // The init is made in the network namespace lent to the run, and the caller goes back.
    int home = -1;
    if (!enter_network(plan.net_fd, home)) {
        const int refused = errno;
        leave_network(home);
        ::close(sync[0]);
        ::close(sync[1]);
        errno = refused;
        return -1;
    }
    const pid_t init = raw_clone(plan.namespaces | CLONE_PIDFD, &pidfd, plan.clone3);
    if (init == 0) be_init(plan);
    const int error = errno;
    leave_network(home);
    ::close(sync[0]);
    bool ready = init > 0;
    // A root checker maps the run's users from the outside; any other maps its own.
    if (ready && plan.namespaces != 0 && !plan.own_maps) ready = map_from_outside(init);
    if (ready) (void)!::write(sync[1], "g", 1);
    ::close(sync[1]);  // unless it got "g", the init gives up
    errno = error;
    return init < 0 ? -1 : pidfd;
}

namespace {

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
        if (got <= 0) {  // the checker has gone
            flush_coverage();
            ::_exit(0);
        }
        Started answer{-1, EPROTO};
        int pidfd = -1;
        {
            Plan plan;
            if ((fds.size() == kRunFds || fds.size() == kRunFds - 1) &&
                decode(buffer.get(), static_cast<std::size_t>(got), plan)) {
                plan.report_fd = fds[0];
                plan.in_fd = fds[1];
                plan.out_fd = fds[2];
                plan.err_fd = fds[3];
                plan.net_fd = fds.size() == kRunFds ? fds[4] : -1;
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

}  // namespace

void start_launcher() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return;
    int pidfd = -1;
    pid_t pid = raw_clone(CLONE_PIDFD, &pidfd, facts().clone3);
    if (pid == 0) be_launcher(ends[1]);
    ::close(ends[1]);
    if (pid < 0) {
        ::close(ends[0]);
        return;
    }
    ::close(pidfd);
    g_launcher = ends[0];
}

int launch(const Plan& plan, const int (&fds)[kRunFds], int& error) {
    error = 0;
    const std::string bytes = encode(plan);
    if (bytes.size() > kPlanBytes) return -1;
    std::lock_guard<std::mutex> lock(g_launcher_lock);
    if (g_launcher < 0) return -1;
    Started answer{-1, 0};
    std::vector<int> got;
    const std::size_t n = fds[kRunFds - 1] < 0 ? kRunFds - 1 : kRunFds;
    if (!send_message(g_launcher, bytes.data(), bytes.size(), fds, n) ||
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

}  // namespace check::sandbox
