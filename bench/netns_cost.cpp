// netns_cost: what a run's network namespace costs a process, as root (or in a user
// namespace of one's own: unshare -r netns_cost). 400 processes are forked and waited for,
// best of five rounds, each way:
//   shared  in the caller's network namespace (runs that share one, as before);
//   pool    in a namespace lent for the process, given back once it ended after a read of
//           its Unix sockets, as the checker's pool does (check/sandbox/network.cpp);
//   new     in a new namespace of its own, made by the process (CLONE_NEWNET).
// Prints the milliseconds per process of each.
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

namespace {

constexpr int kProcesses = 400;

// The calling thread's network namespace, as a descriptor.
int this_network() { return ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC); }

// Milliseconds per process of one round, each process started as `mode` says.
double round_of(int mode, int home, int lent) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kProcesses; ++i) {
        if (mode == 1) (void)::setns(lent, CLONE_NEWNET);
        const pid_t child = ::fork();
        if (child == 0) {
            if (mode == 2) (void)::unshare(CLONE_NEWNET);
            ::_exit(0);
        }
        if (mode == 1) (void)::setns(home, CLONE_NEWNET);
        ::waitpid(child, nullptr, 0);
        if (mode == 1) {  // given back: its sockets listed
            (void)::setns(lent, CLONE_NEWNET);
            const int list = ::open("/proc/thread-self/net/unix", O_RDONLY | O_CLOEXEC);
            if (list >= 0) {
                std::array<char, 512> text{};
                (void)!::read(list, text.data(), text.size());
                ::close(list);
            }
            (void)::setns(home, CLONE_NEWNET);
        }
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return took.count() / kProcesses;
}

}  // namespace

int main() {
    if (::unshare(CLONE_NEWNET) != 0) {
        std::perror("netns_cost: a network namespace (run it as root, or with unshare -r)");
        return 1;
    }
    const int home = this_network();
    if (home < 0 || ::unshare(CLONE_NEWNET) != 0) return 1;
    const int lent = this_network();
    if (lent < 0 || ::setns(home, CLONE_NEWNET) != 0) return 1;
    std::array<double, 3> best{1e9, 1e9, 1e9};
    for (int r = 0; r < 5; ++r)
        for (int mode = 0; mode < 3; ++mode)
            best.at(static_cast<std::size_t>(mode)) =
                std::min(best.at(static_cast<std::size_t>(mode)), round_of(mode, home, lent));
    std::printf("per process: shared %.3f ms, pool %.3f ms (+%.3f), new %.3f ms (+%.3f)\n", best[0],
                best[1], best[1] - best[0], best[2], best[2] - best[0]);
    return 0;
}
