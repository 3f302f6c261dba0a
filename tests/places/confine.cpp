// confine MODE -- COMMAND [ARG...]
//
// Runs COMMAND under a seccomp filter that refuses what the places collection-check is used
// in refuse, so that the tests can run the checker there on an ordinary machine
// (tests/places/run_places.sh):
//
//   --container  clone3 answers ENOSYS, as Docker's and Podman's default seccomp profiles
//                answer it (they cannot look into clone3's arguments, which lie in memory,
//                so they refuse it whole and let the C library fall back to clone).
//   --no-userns  clone3 answers ENOSYS as above, and clone and unshare answer EPERM when
//                their flags hold CLONE_NEWUSER, as hardened kernels, AppArmor's and
//                container engines' profiles refuse new user namespaces. Every other clone
//                and unshare goes through.
//
// The filter is a classic BPF program written by hand (no libseccomp). It knows three system
// call tables: x86_64, x32 (the x86_64 table with bit 30 set in the number) and i386 (the
// int 0x80 entry, with its own numbers), so that a program cannot step around it by entering
// the kernel another way. A call from any other architecture kills the process: none can
// occur on an x86_64 machine, and a filter that let one through would not be what it claims.
//
// PR_SET_NO_NEW_PRIVS is set first (the kernel requires it of a process without
// CAP_SYS_ADMIN, and a container's processes run with it too), then the filter, then COMMAND
// is run with execvp. The filter holds for COMMAND and everything it starts.
// Exit status: COMMAND's; 2 for a usage error; 126 when the filter cannot be installed; 127
// when COMMAND cannot be run.

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace {

// The system call numbers the filter looks at, per table.
struct Table {
    std::uint32_t arch;     // seccomp_data.arch of a call through this table
    std::uint32_t clone;    // clone: its flags are its first argument on both tables
    std::uint32_t unshare;  // unshare: its flags are its first argument
    std::uint32_t clone3;   // clone3: its flags lie in memory, out of the filter's sight
};
constexpr Table x86_64_table{AUDIT_ARCH_X86_64, 56, 272, 435};
constexpr Table i386_table{AUDIT_ARCH_I386, 120, 310, 435};
constexpr std::uint32_t x32_bit = 0x40000000U;  // set in the number of a call from an x32 program

// What the filter refuses.
enum class Mode { container, no_userns };

// A BPF program under construction: instructions, and jumps to labels placed later.
class Program {
public:
    // Appends a statement (an instruction that does not jump).
    void statement(std::uint16_t code, std::uint32_t k) {
        code_.push_back(sock_filter{code, 0, 0, k});
    }

    // Appends a conditional jump: to label on_true when the test holds, on to on_false when
    // not; a label of -1 means the next instruction.
    void jump(std::uint16_t code, std::uint32_t k, int on_true, int on_false) {
        const auto at = code_.size();
        code_.push_back(sock_filter{code, 0, 0, k});
        if (on_true >= 0) {
            fixups_.push_back(Fixup{at, true, on_true});
        }
        if (on_false >= 0) {
            fixups_.push_back(Fixup{at, false, on_false});
        }
    }

    // A new label, not placed yet.
    int label() {
        labels_.push_back(-1);
        return static_cast<int>(labels_.size() - 1);
    }

    // Places label at the next instruction.
    void place(int label) {
        labels_[static_cast<std::size_t>(label)] = static_cast<int>(code_.size());
    }

    // The finished program, every jump resolved. Jumps only go forward and this program is
    // far shorter than a jump's reach (255), which is checked all the same.
    std::vector<sock_filter> finish() {
        for (const auto& fixup : fixups_) {
            const int target = labels_[static_cast<std::size_t>(fixup.label)];
            const int offset = target - static_cast<int>(fixup.at) - 1;
            if (target < 0 || offset < 0 || offset > 255) {
                return {};
            }
            auto& instruction = code_[fixup.at];
            (fixup.on_true ? instruction.jt : instruction.jf) = static_cast<std::uint8_t>(offset);
        }
        return code_;
    }

private:
    struct Fixup {
        std::size_t at;  // the jump's index
        bool on_true;    // the true or the false branch
        int label;
    };
    std::vector<sock_filter> code_;
    std::vector<Fixup> fixups_;
    std::vector<int> labels_;
};

// The filter for mode: per table, clone3 → ENOSYS; in no_userns, clone and unshare go to the
// flag test; everything else is allowed; an unknown architecture is killed.
std::vector<sock_filter> filter(Mode mode) {
    Program p;
    const int i386 = p.label();
    const int kill = p.label();
    const int allow = p.label();
    const int enosys = p.label();
    const int flags = p.label();
    const int eperm = p.label();

    // The number of a call, after the architecture has been checked; x32's bit is dropped
    // on x86_64 (its clone, unshare and clone3 share x86_64's numbers).
    const auto calls = [&](const Table& table, bool x32) {
        p.statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
        if (x32) {
            p.statement(BPF_ALU | BPF_AND | BPF_K, ~x32_bit);
        }
        p.jump(BPF_JMP | BPF_JEQ | BPF_K, table.clone3, enosys, -1);
        if (mode == Mode::no_userns) {
            p.jump(BPF_JMP | BPF_JEQ | BPF_K, table.clone, flags, -1);
            p.jump(BPF_JMP | BPF_JEQ | BPF_K, table.unshare, flags, -1);
        }
        p.statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    };

    p.statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    p.jump(BPF_JMP | BPF_JEQ | BPF_K, x86_64_table.arch, -1, i386);
    calls(x86_64_table, true);
    p.place(i386);
    p.jump(BPF_JMP | BPF_JEQ | BPF_K, i386_table.arch, -1, kill);
    calls(i386_table, false);

    // The flags: the low half of the first argument (little-endian) holds CLONE_NEWUSER.
    p.place(flags);
    p.statement(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args));
    p.jump(BPF_JMP | BPF_JSET | BPF_K, CLONE_NEWUSER, eperm, allow);

    p.place(eperm);
    p.statement(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA));
    p.place(enosys);
    p.statement(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA));
    p.place(allow);
    p.statement(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    p.place(kill);
    p.statement(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    return p.finish();
}

// Prints the usage line to standard error; returns the usage error's status.
int usage() {
    std::fputs("usage: confine --container|--no-userns -- COMMAND [ARG...]\n", stderr);
    return 2;
}

}  // namespace

// Reads the mode, installs its filter and runs the command (see the top of this file).
int main(int argc, char** argv) {
    const std::span<char*> args(argv, static_cast<std::size_t>(argc));
    if (args.size() < 4 || std::string_view(args[2]) != "--") {
        return usage();
    }
    Mode mode{};
    if (std::string_view(args[1]) == "--container") {
        mode = Mode::container;
    } else if (std::string_view(args[1]) == "--no-userns") {
        mode = Mode::no_userns;
    } else {
        return usage();
    }

    auto code = filter(mode);
    if (code.empty()) {
        std::fputs("confine: the filter does not fit in BPF's jumps\n", stderr);
        return 126;
    }
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0) {
        std::fprintf(stderr, "confine: cannot install the seccomp filter: %s\n",
                     std::strerror(errno));
        return 126;
    }
    execvp(args[3], &args[3]);
    std::fprintf(stderr, "confine: cannot run %s: %s\n", args[3], std::strerror(errno));
    return 127;
}
