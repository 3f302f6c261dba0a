// The probe: what the kernel allows this process, found once before any run, and the
// wall chosen from it.
//
// Guarantees:
//   - A wall is chosen only from what a real trial showed: a process made with the run's
//     namespaces that mapped its users, made its mounts private and (for /proc) mounted a
//     /proc of its own. Nothing is inferred from settings alone.
//   - Where user namespaces are refused, the reason names the real cause (AppArmor's
//     restriction, a sysctl, a container's seccomp profile) and its remedy; a kernel that
//     did not refuse is never blamed.
//   - The namespace-free wall is chosen without asking only where Landlock has ABI 6 or
//     later (signals and abstract sockets kept within the run); otherwise the checker
//     refuses and names the option that accepts the weaker wall.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "check/sandbox/internal.hpp"

namespace check::sandbox {

namespace {

bool g_own_network = false;

}  // namespace

bool map_from_outside(pid_t pid) {
    char path[64] = "/proc/";
    char* end = put_number(path + 6, static_cast<std::uint64_t>(pid));
    std::strcpy(end, "/uid_map");
    if (!write_file(path, "0 0 1\n65534 65534 1\n")) return false;
    std::strcpy(end, "/gid_map");
    return write_file(path, "0 0 1\n65534 65534 1\n");
}

namespace {

// True when this process runs under a seccomp filter (a container engine's profile).
bool filtered() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Seccomp:", 0) == 0) return line.find('2') != std::string::npos;
    return false;
}

// True when this process seems to run in a container.
bool in_container() {
    struct stat st {};
    return ::stat("/.dockerenv", &st) == 0 || ::stat("/run/.containerenv", &st) == 0 ||
           !read_small("/run/systemd/container").empty();
}

// Why user namespaces were refused with `error`, in the words of the setting that refuses
// them, and what lifts it.
std::string refusal_of(int error) {
    if (read_small("/proc/sys/kernel/apparmor_restrict_unprivileged_userns") == "1")
        return "AppArmor restricts unprivileged user namespaces "
               "(kernel.apparmor_restrict_unprivileged_userns is 1); the package's AppArmor "
               "profile lifts it for the checker alone (apparmor_parser -r "
               "/etc/apparmor.d/collection-check)";
    if (read_small("/proc/sys/user/max_user_namespaces") == "0")
        return "user namespaces are switched off (user.max_user_namespaces is 0; "
               "sysctl -w user.max_user_namespaces=15000 switches them on)";
    if (read_small("/proc/sys/kernel/unprivileged_userns_clone") == "0")
        return "unprivileged user namespaces are switched off "
               "(kernel.unprivileged_userns_clone is 0; sysctl -w "
               "kernel.unprivileged_userns_clone=1 switches them on)";
    if (filtered() || in_container() || error == ENOSYS)
        return std::string("a seccomp profile refuses new namespaces (") + std::strerror(error) +
               "), as container engines' default profiles do; a container started with "
               "--security-opt seccomp=unconfined --security-opt apparmor=unconfined lifts it";
    return std::string("the kernel refuses new namespaces (") + std::strerror(error) + ")";
}

// What the trial process does: maps itself where it must, makes its mounts private and
// tries a /proc of its own. Exits 0 with a /proc, 3 without one, 1 or 2 when refused.
[[noreturn]] void trial(int sync, bool own_maps, uid_t uid, gid_t gid) {
    char go = 0;
    if (::read(sync, &go, 1) != 1) ::_exit(2);
    if (own_maps) {
        char map[64];
        char* end = put_number(map, uid);
        *end++ = ' ';
        end = put_number(end, uid);
        std::strcpy(end, " 1\n");
        ::prctl(PR_SET_DUMPABLE, 1);
        bool mapped =
            write_file("/proc/self/setgroups", "deny") && write_file("/proc/self/uid_map", map);
        end = put_number(map, gid);
        *end++ = ' ';
        end = put_number(end, gid);
        std::strcpy(end, " 1\n");
        mapped = mapped && write_file("/proc/self/gid_map", map);
        ::prctl(PR_SET_DUMPABLE, 0);
        if (!mapped) ::_exit(1);
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ::_exit(1);
    const unsigned long flags = MS_NOSUID | MS_NODEV | MS_NOEXEC;
    if (::mount("proc", "/proc", "proc", flags, "hidepid=invisible,subset=pid") != 0) ::_exit(3);
    ::_exit(0);
}

// One trial of the run's namespaces; false with `error` set when the kernel refused them.
bool try_namespaces(Facts& f, int& error) {
    int sync[2];
    if (::pipe2(sync, O_CLOEXEC) != 0) {
        error = errno;
        return false;
    }
    const bool root = ::geteuid() == 0;
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    int pidfd = -1;
    pid_t child = raw_clone(kNamespaces | CLONE_PIDFD, &pidfd, true);
    if (child < 0 && errno == ENOSYS) {
        f.clone3 = false;
        child = raw_clone(kNamespaces | CLONE_PIDFD, &pidfd, false);
    }
    if (child == 0) {
        ::close(sync[1]);
        trial(sync[0], !root, uid, gid);
    }
    error = errno;
    ::close(sync[0]);
    if (child < 0) {
        ::close(sync[1]);
        return false;
    }
    if (!root || map_from_outside(child)) (void)!::write(sync[1], "g", 1);
    ::close(sync[1]);
    int status = -1;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(pidfd);
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3)) {
        f.fresh_proc = WEXITSTATUS(status) == 0;
        return true;
    }
    error = EPERM;
    return false;
}

}  // namespace

Facts& facts() {
    static Facts f;
    return f;
}

void probe() {
    static bool probed = false;
    if (probed) return;
    probed = true;
    Facts& f = facts();
    f.landlock_abi = landlock_abi();
    int error = 0;
    f.user_namespaces = try_namespaces(f, error);
    if (!f.user_namespaces) f.refusal = refusal_of(error);
}

bool own_namespaces() {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) return false;
    } else {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0) return false;
        // Its own maps can be written only while it may be traced by its own user.
        const int dumpable = ::prctl(PR_GET_DUMPABLE);
        ::prctl(PR_SET_DUMPABLE, 1);
        const std::string u = std::to_string(uid) + " " + std::to_string(uid) + " 1\n";
        const std::string g = std::to_string(gid) + " " + std::to_string(gid) + " 1\n";
        const bool mapped = write_file("/proc/self/setgroups", "deny") &&
                            write_file("/proc/self/uid_map", u.c_str()) &&
                            write_file("/proc/self/gid_map", g.c_str());
        ::prctl(PR_SET_DUMPABLE, dumpable);
        if (!mapped) return false;
    }
    g_own_network = true;
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_SLAVE, nullptr) == 0;
}

bool shares_network() { return g_own_network; }

}  // namespace check::sandbox
