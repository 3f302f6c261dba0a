// The network of a run in namespaces: a network namespace that no other run shares while it
// runs, taken from a pool so that a run does not pay for making one.
//
// Guarantees:
//   - No two runs that exist at the same time are in one network namespace: a namespace is
//     lent to one run at a time, and given back only once every process of the run has
//     ended (the run's PID namespace ends them all before its init is seen to end).
//   - A namespace given back is lent again only when it holds no socket at all (its
//     /proc/net/unix lists none; the system-call filter allows no other kind); one that
//     still holds one (a socket kept alive by descriptors in flight, say) is dropped, and
//     the next run gets a new namespace. So nothing a run leaves in its namespace, an
//     abstract socket's name included, is seen by a later run.
//   - A run can change nothing of its namespace but its sockets: it has no capability over
//     it (the namespace belongs to the checker's user namespace, the run's own user
//     namespace is a child of that one), and the filter refuses netlink.
//   - Where the pool cannot be had (the checker has no network namespace of its own), each
//     run is made with a new network namespace of its own instead.
// A new namespace cost a run about 0.8 ms (its loopback device, its tables and their
// teardown); lent from the pool, a run pays two setns calls and a read of its socket list.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "check/sandbox/internal.hpp"

namespace check::sandbox {

namespace {

std::mutex g_pool_lock;
std::vector<int>* g_pool = nullptr;  // the empty namespaces waiting for a run; never freed
int g_home = -1;                     // the checker's own network namespace

// The calling thread's network namespace, as a descriptor; -1 when it cannot be opened.
int this_network() { return ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC); }

// A new network namespace, made on the calling thread, which then returns home; -1 when
// the kernel refuses it.
int new_network() {
    if (::unshare(CLONE_NEWNET) != 0) return -1;
    const int made = this_network();
    if (::setns(g_home, CLONE_NEWNET) != 0) {
        // The thread cannot go home: it stays where it is, which holds nothing else.
        if (made >= 0) ::close(made);
        return -1;
    }
    return made;
}

// True when the namespace `fd` holds no socket: the calling thread enters it, reads its
// list of Unix sockets, and returns home.
bool holds_no_socket(int fd) {
    if (::setns(fd, CLONE_NEWNET) != 0) return false;
    const int list = ::open("/proc/thread-self/net/unix", O_RDONLY | O_CLOEXEC);
    const bool home = ::setns(g_home, CLONE_NEWNET) == 0;
    if (list < 0 || !home) {
        if (list >= 0) ::close(list);
        return false;
    }
    // The list is a header line, then a line for each socket.
    char text[512];
    std::size_t got = 0;
    for (ssize_t n = 0; got < sizeof text && (n = ::read(list, text + got, sizeof text - got)) > 0;)
        got += static_cast<std::size_t>(n);
    ::close(list);
    const void* end_of_header = std::memchr(text, '\n', got);
    return end_of_header != nullptr && static_cast<const char*>(end_of_header) + 1 == text + got;
}

}  // namespace

bool pool_networks() {
    if (g_home >= 0) return true;
    if (!shares_network()) return false;
    g_home = this_network();
    if (g_home < 0) return false;
    g_pool = new std::vector<int>();
    return true;
}

int take_network() {
    {
        std::lock_guard<std::mutex> guard(g_pool_lock);
        if (g_pool == nullptr) return -1;
        if (!g_pool->empty()) {
            const int fd = g_pool->back();
            g_pool->pop_back();
            return fd;
        }
    }
    return new_network();
}

void give_back_network(int fd) {
    if (fd < 0) return;
    if (!holds_no_socket(fd)) {
        ::close(fd);
        return;
    }
    std::lock_guard<std::mutex> guard(g_pool_lock);
    g_pool->push_back(fd);
}

bool enter_network(int fd, int& home) {
    home = -1;
    if (fd < 0) return true;
    home = this_network();
    return home >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
}

void leave_network(int home) {
    if (home < 0) return;
    (void)::setns(home, CLONE_NEWNET);
    ::close(home);
}

}  // namespace check::sandbox
