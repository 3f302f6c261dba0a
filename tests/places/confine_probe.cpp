// confine_probe CALL
//
// Makes one system call straight (no C library wrapper, which could fall back or retry) and
// prints what the kernel answered: "ok", or the error's name (ENOSYS, EPERM, ...). The test of
// confine (confine_test.sh) runs it under each mode. CALL is one of:
//   clone3          clone3 making a plain child
//   clone           clone making a plain child
//   clone-newuser   clone making a child in a new user namespace
//   clone-high      the same, with bits set in the upper half of the flags' register
//   unshare-newuser unshare of the user namespace
//   unshare-newns   unshare of the mount namespace alone
//   i386-unshare    unshare of the user namespace through the i386 entry (int 0x80);
//                   "no-i386" when this kernel has no such entry
//   no-new-privs    "ok" when no_new_privs is set on this process

#include <linux/sched.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// The name of errno value error, as the test tables write it.
const char* error_name(int error) {
    switch (error) {
    case ENOSYS:
        return "ENOSYS";
    case EPERM:
        return "EPERM";
    case EINVAL:
        return "EINVAL";
    case ENOSPC:
        return "ENOSPC";
    default:
        return strerror(error);
    }
}

// Prints the answer of a call that returned result (-1 with errno on failure).
int answer(long result) {
    std::puts(result < 0 ? error_name(errno) : "ok");
    return 0;
}

// Prints the answer of a clone that returned result: the child (result 0) ends at once, its
// parent reaps it and prints the answer.
int cloned(long result) {
    if (result == 0) {
        _exit(0);
    }
    if (result > 0) {
        waitpid(static_cast<pid_t>(result), nullptr, __WALL);
    }
    return answer(result);
}

// unshare(CLONE_NEWUSER) through the i386 entry; -1 with errno as a C library call would.
long i386_unshare() {
    long result = 310;  // unshare on i386
    // NOLINTNEXTLINE(hicpp-no-assembler): the i386 entry can only be reached this way
    asm volatile("int $0x80" : "+a"(result) : "b"(CLONE_NEWUSER) : "memory");
    if (result < 0) {
        errno = static_cast<int>(-result);
        return -1;
    }
    return result;
}

}  // namespace

// Makes the call named by the only argument and prints its answer (see above).
int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: confine_probe CALL\n", stderr);
        return 2;
    }
    const std::string_view call = argv[1];
    const unsigned long child = SIGCHLD;
    if (call == "clone3") {
        clone_args args{};
        args.exit_signal = SIGCHLD;
        return cloned(syscall(SYS_clone3, &args, sizeof args));
    }
    if (call == "clone") {
        return cloned(syscall(SYS_clone, child, 0, 0, 0, 0));
    }
    if (call == "clone-newuser") {
        return cloned(syscall(SYS_clone, child | CLONE_NEWUSER, 0, 0, 0, 0));
    }
    if (call == "clone-high") {
        return cloned(syscall(SYS_clone, child | CLONE_NEWUSER | (0xffUL << 32U), 0, 0, 0, 0));
    }
    if (call == "unshare-newuser") {
        return answer(syscall(SYS_unshare, CLONE_NEWUSER));
    }
    if (call == "unshare-newns") {
        return answer(syscall(SYS_unshare, CLONE_NEWNS));
    }
    if (call == "i386-unshare") {
        long probe = 20;  // getpid on i386: the entry exists when it answers
        // NOLINTNEXTLINE(hicpp-no-assembler): the i386 entry can only be reached this way
        asm volatile("int $0x80" : "+a"(probe) : : "memory");
        if (probe != getpid()) {
            std::puts("no-i386");
            return 0;
        }
        return answer(i386_unshare());
    }
    if (call == "no-new-privs") {
        std::puts(prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1 ? "ok" : "unset");
        return 0;
    }
    std::fprintf(stderr, "confine_probe: unknown call %s\n", argv[1]);
    return 2;
}
