// The sandbox's rooms, run the way the checker runs them, in each wall this machine allows:
// what a hostile program must be refused (writing outside its working folder, reading a
// hidden or unlisted path, signalling or tracing what is not its own, the network, shared
// memory, new namespaces), what any program must be allowed (the system folders, its
// working folder, its streams and exit status), the memory of a run's processes together,
// the working folder's limit where it is measured, and the stop at the wall time, which
// leaves no process of the run behind.
//
// prepare() chooses a wall once per process: each test runs in the wall it names, and where
// this process already holds another, it runs again in a process of its own (this binary,
// given that test alone), so that the whole binary and each test alone both work.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "check/judge.hpp"
#include "check/sandbox.hpp"

namespace fs = std::filesystem;
using check::Outcome;
using check::Wall;

namespace {

// The wall this process was prepared for, and why it could not be had ("" when it could).
std::optional<Wall> g_prepared;
std::string g_refusal;

// Prepares this process for wall `w`: the namespaces, the namespace-free wall (Landlock),
// or none.
void prepare_for(Wall w) {
    check::Containment c;
    c.sandboxed = w != Wall::none;
    c.landlock_only = w == Wall::landlock;
    std::optional<std::string> refusal = check::prepare(c);
    g_prepared = w;
    if (refusal)
        g_refusal = *refusal;
    else if (check::current_wall() != w)
        g_refusal = std::string("the runs are held by ") + check::wall_name(check::current_wall());
}

// Runs the current test alone in a new process of this binary: whether it passed, was
// skipped (then `output` is the reason) or failed (then `output` is all it printed).
enum class Elsewhere { passed, skipped, failed };
Elsewhere run_elsewhere(std::string& output) {
    const testing::TestInfo* t = testing::UnitTest::GetInstance()->current_test_info();
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string command =
        "'" + self + "' '--gtest_filter=" + t->test_suite_name() + "." + t->name() + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return Elsewhere::failed;
    char chunk[4096];
    for (std::size_t got = 0; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, got);
    const int status = ::pclose(pipe);
    if (status != 0) return Elsewhere::failed;
    // Skipped: the line after GoogleTest's "Skipped" is the reason.
    const std::size_t skipped = output.find(": Skipped\n");
    if (skipped == std::string::npos) return Elsewhere::passed;
    const std::size_t from = skipped + 10;
    output = output.substr(from, output.find('\n', from) - from);
    return Elsewhere::skipped;
}

// The tests of one wall. SetUp prepares this process for it, skips where the machine
// refuses it, or runs the test in a process of its own where this one holds another wall;
// then `here` is false and the test's body returns at once.
class InWall : public testing::TestWithParam<Wall> {
protected:
    void SetUp() override {
        if (!g_prepared) prepare_for(GetParam());
        if (*g_prepared == GetParam()) {
            if (!g_refusal.empty())
                GTEST_SKIP() << check::wall_name(GetParam()) << ": refused here: " << g_refusal;
            here = true;
            return;
        }
        std::string output;
        switch (run_elsewhere(output)) {
        case Elsewhere::passed:
            return;
        case Elsewhere::skipped:
            GTEST_SKIP() << "in a process of its own: " << output;
        case Elsewhere::failed:
            ADD_FAILURE() << "in a process of its own:\n" << output;
        }
    }
    bool here = false;  // the test runs in this process
    // True for the two walls that hold a run in a sandbox.
    static bool sandboxed() { return GetParam() != Wall::none; }
};

// A test's name for its wall: the wall's own name.
std::string name_of(const testing::TestParamInfo<Wall>& info) {
    return check::wall_name(info.param);
}

// A folder made for one test under `parent`, with `mode`, removed with the object.
class Folder {
public:
    Folder(const fs::path& parent, mode_t mode) {
        std::string pattern = (parent / "sandbox_test.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
        path_ = pattern;
        ::chmod(path_.c_str(), mode);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A working folder where the checker would make one, given to the program's user.
std::unique_ptr<Folder> working_folder() {
    auto f = std::make_unique<Folder>(
        check::scratch_is_tmpfs() ? fs::path(check::run_folder()) : fs::temp_directory_path(),
        0700);
    EXPECT_EQ(::lchown(f->path().c_str(), check::program_uid(), check::program_gid()), 0);
    return f;
}

// Writes `text` into the file `path`, with `mode`.
void put_file(const fs::path& path, const std::string& text, mode_t mode) {
    std::ofstream(path) << text;
    ::chmod(path.c_str(), mode);
}

// A run of /bin/sh -c `script` in the working folder `where`.
check::Program shell(const std::string& script, const fs::path& where) {
    check::Program p;
    p.executable = "/bin/sh";
    p.argv = {"sh", "-c", script, "sh"};
    p.folder = where;
    return p;
}

// A run of sandbox-try with `words` (its attempts) in the working folder `where`.
check::Program attempts(const std::vector<std::string>& words, const fs::path& where) {
    check::Program p;
    p.executable = SANDBOX_TRY;
    p.argv = {"sandbox-try"};
    p.argv.insert(p.argv.end(), words.begin(), words.end());
    p.folder = where;
    return p;
}

// A process outside every run, of the user the programs run as: what a hostile program
// would signal or trace (another run's process, or the checker's); killed with the object.
class Victim {
public:
    Victim() : pid_(::fork()) {
        if (pid_ == 0) {
            if (::geteuid() == 0 && (::setresgid(check::program_gid(), check::program_gid(),
                                                 check::program_gid()) != 0 ||
                                     ::setresuid(check::program_uid(), check::program_uid(),
                                                 check::program_uid()) != 0))
                ::_exit(1);
            for (;;) ::pause();
        }
    }
    Victim(const Victim&) = delete;
    Victim& operator=(const Victim&) = delete;
    ~Victim() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }
    // True while it is alive and unstopped.
    bool alive() const {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == 0;
    }

private:
    pid_t pid_;
};

// A listening abstract Unix socket of this process (the checker's): what a program of
// another run must not reach.
class AbstractListener {
public:
    explicit AbstractListener(const std::string& name)
        : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, name.data(), name.size());
        const auto length =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        listening_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
                     ::listen(fd_, 4) == 0;
    }
    AbstractListener(const AbstractListener&) = delete;
    AbstractListener& operator=(const AbstractListener&) = delete;
    ~AbstractListener() { ::close(fd_); }
    bool listening() const { return listening_; }

private:
    int fd_;
    bool listening_ = false;
};

// The landlock ABI, read as the sandbox does; 0 without Landlock.
long landlock_abi() {
    const long v = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, 1U);
    return v < 0 ? 0 : v;
}

// True when a process whose command line is `sleep <mark>` still runs on the machine.
bool sleeper_left(const std::string& mark) {
    const std::string wanted = std::string("sleep") + '\0' + mark + '\0';
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        std::ifstream in(e.path() / "cmdline");
        const std::string line((std::istreambuf_iterator<char>(in)), {});
        if (line == wanted) {
            std::ifstream status(e.path() / "status");
            for (std::string l; std::getline(status, l);)
                if (l.rfind("State:", 0) == 0 && l.find('Z') == std::string::npos) return true;
        }
    }
    return false;
}

// One attempt a program makes, and what each wall must answer: "ok", "refused", or "" when
// the wall makes no promise about it.
struct Attempt {
    std::vector<std::string> words;
    const char* namespaces;
    const char* landlock;
    const char* none;
};

TEST_P(InWall, RefusesWhatItMustAndAllowsTheRest) {
    if (!here) return;
    const auto work = working_folder();
    // Outside the run: a folder anyone may write, a file anyone may read, a file of the
    // program's own user; and an allowed folder, which holds a hidden one.
    Folder outside(fs::temp_directory_path(), 0777);
    put_file(outside.path() / "plain", "plain\n", 0644);
    put_file(outside.path() / "mine", "mine\n", 0644);
    ASSERT_EQ(
        ::lchown((outside.path() / "mine").c_str(), check::program_uid(), check::program_gid()), 0);
    Folder allowed(fs::temp_directory_path(), 0755);
    put_file(allowed.path() / "shown", "shown\n", 0644);
    fs::create_directory(allowed.path() / "cases");
    ::chmod((allowed.path() / "cases").c_str(), 0755);
    put_file(allowed.path() / "cases" / "secret", "secret\n", 0644);
    check::hidden_paths() = {allowed.path() / "cases"};
    Victim victim;
    const std::string other = std::to_string(victim.pid());
    const std::string socket_name = "sandbox_test." + std::to_string(::getpid());
    AbstractListener listener(socket_name);
    ASSERT_TRUE(listener.listening());
    const bool scoped = landlock_abi() >= 6;  // signals and abstract sockets kept in the run
    const char* scoped_refusal = scoped ? "refused" : "";
    const std::string in = work->path().string(), out = outside.path().string(),
                      shown = allowed.path().string();
    fs::create_symlink(outside.path() / "mine", work->path() / "to-mine");

    const std::vector<Attempt> table = {
        {{"write", in + "/made"}, "ok", "ok", "ok"},
        {{"read", "/bin/sh"}, "ok", "ok", "ok"},
        {{"read", "/usr/bin/env"}, "ok", "ok", "ok"},
        {{"write", "/dev/null"}, "ok", "ok", "ok"},
        {{"read", shown + "/shown"}, "ok", "ok", "ok"},
        {{"read", shown + "/cases/secret"}, "refused", "refused", "ok"},
        {{"write", shown + "/shown"}, "refused", "refused", ""},
        {{"write", out + "/escaped"}, "refused", "refused", "ok"},
        {{"read", out + "/plain"}, "refused", "refused", "ok"},
        {{"chmod", out + "/mine"}, "refused", "refused", "ok"},
        // A mode is changed in the working folder (a linker's program), never through it.
        {{"chmod", in + "/made"}, "ok", "ok", "ok"},
        {{"chmod", "made"}, "ok", "ok", "ok"},
        {{"chmod", in + "/to-mine"}, "refused", "refused", "ok"},
        {{"setuid", in + "/made"}, "", "refused", "ok"},
        {{"chmod", "../" + work->path().filename().string() + "/to-mine"},
         "refused",
         "refused",
         "ok"},
        {{"read", "/proc/" + other + "/status"}, "refused", "refused", "ok"},
        {{"kill", other}, "refused", "refused", ""},
        {{"ptrace", other}, "refused", "refused", ""},
        {{"socket", "inet"}, "refused", "refused", "ok"},
        {{"socket", "udp"}, "refused", "refused", "ok"},
        {{"socket", "inet6"}, "refused", "refused", ""},
        {{"socket", "netlink"}, "refused", "refused", "ok"},
        // Without namespaces no socket is made at all: a path socket outside the run could
        // be connected to, and an abstract name seen by another run.
        {{"socket", "unix"}, "ok", "refused", "ok"},
        {{"socketpair"}, "ok", "ok", "ok"},
        {{"abstract", socket_name}, scoped_refusal, scoped_refusal, "ok"},
        {{"sockfile", in + "/socket"}, "", "refused", ""},
        {{"shm"}, "refused", "refused", "ok"},
        {{"memfd"}, "refused", "refused", "ok"},
        {{"unshare"}, "refused", "refused", ""},
        {{"signal-parent"}, scoped_refusal, scoped_refusal, ""},
        // Another process's attributes are out of reach, the attempt's own are not.
        {{"prlimit", other}, "refused", "refused", ""},
        {{"setpriority", other}, "refused", "refused", "ok"},
        {{"affinity", other}, "refused", "refused", "ok"},
        {{"prlimit", "0"}, "ok", "ok", "ok"},
        {{"setpriority", "0"}, "ok", "ok", "ok"},
        {{"affinity", "0"}, "ok", "ok", "ok"},
        // Watches of folders outside, and blocks reserved faster than they are measured.
        {{"inotify", in}, "ok", "refused", "ok"},
        {{"fallocate", in + "/reserved"}, "ok", "refused", "ok"},
    };
    std::vector<std::string> words;
    for (const Attempt& a : table) words.insert(words.end(), a.words.begin(), a.words.end());
    check::Containment c;
    c.sandboxed = sandboxed();
    c.landlock_only = GetParam() == Wall::landlock;
    c.allowed = {allowed.path()};
    const Outcome o = check::run_contained(attempts(words, work->path()), check::Limits(), c);
    ASSERT_EQ(o.end, Outcome::End::exited) << o.start_error << o.err;
    EXPECT_EQ(o.code, 0) << o.err;
    std::istringstream lines(o.out);
    for (const Attempt& a : table) {
        std::string line;
        std::getline(lines, line);
        SCOPED_TRACE(a.words[0] + (a.words.size() > 1 ? " " + a.words[1] : ""));
        const char* wanted = GetParam() == Wall::namespaces ? a.namespaces
                             : GetParam() == Wall::landlock ? a.landlock
                                                            : a.none;
        ASSERT_EQ(line.substr(0, line.find(' ')), a.words[0]) << o.out;
        if (*wanted != '\0') {
            EXPECT_EQ(line.substr(line.find(' ') + 1), wanted);
        }
    }
    // What was refused left no trace on the host.
    if (sandboxed()) {
        EXPECT_FALSE(fs::exists(outside.path() / "escaped"));
        EXPECT_EQ(fs::status(outside.path() / "mine").permissions(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                      fs::perms::others_read);
        EXPECT_TRUE(victim.alive());
    }
    EXPECT_TRUE(fs::exists(work->path() / "made"));
    // A mode is changed in the working folder where the run's memory is not bounded too.
    check::Limits unbounded;
    unbounded.memory = 0;
    const Outcome free =
        check::run_contained(attempts({"chmod", in + "/made"}, work->path()), unbounded, c);
    EXPECT_EQ(free.out, "chmod ok\n") << free.start_error << free.err;
    check::hidden_paths().clear();
}

// One run of a shell script: its input, and what must come of it.
struct Script {
    std::string script, input;
    Outcome::End end;
    int code;
    std::string out, err;  // "$FOLDER" in `out` stands for the working folder
};

TEST_P(InWall, GivesEveryRunItsStreamsStatusAndFolder) {
    if (!here) return;
    const auto work = working_folder();
    const std::vector<Script> table = {
        {"cat; echo to-err >&2; exit 3", "fed\nlines\n", Outcome::End::exited, 3, "fed\nlines\n",
         "to-err\n"},
        {"echo \"$HOME\"; pwd; umask; echo \"$LANG\"", "", Outcome::End::exited, 0,
         "$FOLDER\n$FOLDER\n0022\nC.UTF-8\n", ""},
        {"echo made > kept && cat kept && ls", "", Outcome::End::exited, 0, "made\nkept\n", ""},
        {"kill -KILL $$", "", Outcome::End::signaled, SIGKILL, "", ""},
        {"exec 0<&- 1>&- 2>&-; exit 0", "unread", Outcome::End::exited, 0, "", ""},
    };
    check::Containment c;
    c.sandboxed = sandboxed();
    c.landlock_only = GetParam() == Wall::landlock;
    for (const Script& s : table) {
        SCOPED_TRACE(s.script);
        check::Program p = shell(s.script, work->path());
        p.input = s.input;
        const Outcome o = check::run_contained(p, check::Limits(), c);
        ASSERT_EQ(o.end, s.end) << o.start_error << o.err;
        EXPECT_EQ(o.code, s.code);
        std::string out = s.out;
        for (std::size_t at = 0; (at = out.find("$FOLDER")) != std::string::npos;)
            out.replace(at, 7, work->path().string());
        EXPECT_EQ(o.out, out);
        EXPECT_EQ(o.err, s.err);
    }
    // A run beyond what the launcher takes at once is started by the checker itself, in
    // the same wall, with the same walls around it.
    check::Program many =
        attempts({"write", (work->path() / "many").string(), "socket", "inet"}, work->path());
    for (int i = 0; i < 2000; ++i)
        many.env.push_back("PAD" + std::to_string(i) + "=" + std::string(80, 'a'));
    const Outcome o = check::run_contained(many, check::Limits(), c);
    ASSERT_EQ(o.end, Outcome::End::exited) << o.start_error << o.err;
    EXPECT_EQ(o.out, std::string("write ok\nsocket ") + (sandboxed() ? "refused\n" : "ok\n"));
    EXPECT_TRUE(fs::exists(work->path() / "many"));
    // The walls as the checker describes them name the one that holds the runs.
    if (sandboxed()) {
        EXPECT_NE(check::describe_walls().find(std::string("Here, runs are held by: ") +
                                               check::wall_name(GetParam())),
                  std::string::npos);
    }
}

// Processes holding memory, and how the run must end.
struct Holding {
    int processes, mib;
    unsigned seconds;
    Outcome::End end;
};

TEST_P(InWall, HoldsTheMemoryOfARunsProcessesTogether) {
    if (!here) return;
    const auto work = working_folder();
    check::Containment c;
    c.sandboxed = sandboxed();
    c.landlock_only = GetParam() == Wall::landlock;
    check::Limits l;
    l.memory = 96ULL << 20;
    l.wall = 30;
    l.cpu = 20;
    const std::vector<Holding> table = {
        {1, 32, 0, Outcome::End::exited},          // well within: measured by its end
        {4, 32, 20, Outcome::End::memory_limit},   // each within, together beyond
        {1, 200, 20, Outcome::End::memory_limit},  // one process beyond: held by the measure
    };
    for (const Holding& h : table) {
        SCOPED_TRACE(std::to_string(h.processes) + " x " + std::to_string(h.mib) + " MiB");
        check::Program p = attempts(
            {"hold", std::to_string(h.processes), std::to_string(h.mib), std::to_string(h.seconds)},
            work->path());
        const Outcome o = check::run_contained(p, l, c);
        ASSERT_EQ(o.end, h.end) << o.start_error << o.err;
        if (h.end == Outcome::End::memory_limit) {
            EXPECT_LT(o.wall_seconds, 15);
            EXPECT_GT(o.max_rss_kib, 96L * 1024);
        } else {
            EXPECT_EQ(o.code, 0);
            EXPECT_GE(o.max_rss_kib, 32L * 1024);
        }
    }
}

// Blocks of each size malloc'd under a 256 MiB limit, touched or not: without end (touched,
// the measure stops the run; untouched, the address-space backstop refuses one, and the
// checker sees it), or within the limit (the run is left alone). Every run that ran out
// gets memory-limit, whatever it printed; every other one its normal verdict.
TEST_P(InWall, TellsARunThatRanOutOfMemoryWhateverItPrinted) {
    if (!here) return;
    const auto work = working_folder();
    check::Containment c;
    c.sandboxed = sandboxed();
    c.landlock_only = GetParam() == Wall::landlock;
    check::Limits l;
    l.memory = 256ULL << 20;
    l.wall = 30;
    l.cpu = 20;
    for (const int mib : {1, 2, 16, 31, 32, 33, 64, 100, 128, 200})
        for (const bool touched : {false, true})
            for (const bool endless : {false, true}) {
                const int count = endless ? 0 : 200 / mib;
                SCOPED_TRACE(std::to_string(mib) + " MiB" + (touched ? " touched" : "") +
                             (endless ? " without end" : " x " + std::to_string(count)));
                const check::Program p =
                    attempts({"blocks", std::to_string(mib), std::to_string(count),
                              touched ? "touched" : "untouched"},
                             work->path());
                const Outcome o = check::run_contained(p, l, c);
                check::Case kase;
                kase.output = "held " + std::to_string(count * mib) + " MiB\n";
                const check::Judgement j = check::judge(kase, o, work->path(), false, l);
                if (!endless) {
                    EXPECT_EQ(o.end, Outcome::End::exited) << o.start_error << o.err;
                    EXPECT_FALSE(o.allocation_refused);
                    EXPECT_EQ(j.verdict, check::Verdict::passed) << j.message;
                    continue;
                }
                if (touched) {
                    EXPECT_EQ(o.end, Outcome::End::memory_limit) << o.start_error << o.out;
                } else {
                    EXPECT_EQ(o.end, Outcome::End::exited) << o.start_error << o.err;
                    EXPECT_EQ(o.out, "malloc failed\n");
                    EXPECT_TRUE(o.allocation_refused);
                    EXPECT_GE(o.refused_bytes, std::uint64_t(mib) << 20);
                }
                EXPECT_EQ(j.verdict, check::Verdict::memory_limit) << j.message;
            }
}

TEST_P(InWall, EndsEveryProcessOfTheRunWithIt) {
    if (!here) return;
    const auto work = working_folder();
    check::Containment c;
    c.sandboxed = sandboxed();
    c.landlock_only = GetParam() == Wall::landlock;
    check::Limits l;
    l.wall = 1.5;
    // A number no other sleep on the machine has: the mark of this test's sleepers.
    const std::string mark = std::to_string(700000 + ::getpid() % 100000);
    struct Ending {
        std::string script;
        Outcome::End end;
    };
    const std::vector<Ending> table = {
        {"sleep " + mark + " & sleep " + mark, Outcome::End::wall_limit},
        {"(setsid sleep " + mark + " &); sleep " + mark, Outcome::End::wall_limit},
        {"trap '' TERM HUP; sleep " + mark + " & exit 0", Outcome::End::exited},
        {"(setsid sh -c 'trap \"\" TERM; sleep " + mark + "' &); exit 0", Outcome::End::exited},
    };
    for (const Ending& e : table) {
        SCOPED_TRACE(e.script);
        const auto started = std::chrono::steady_clock::now();
        const Outcome o = check::run_contained(shell(e.script, work->path()), l, c);
        EXPECT_EQ(o.end, e.end) << o.start_error << o.err;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        bool left = sleeper_left(mark);
        for (int i = 0; i < 20 && left; ++i) {  // the kernel may take a moment to reap them
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            left = sleeper_left(mark);
        }
        EXPECT_FALSE(left) << "a process of the run outlived it";
    }
}

TEST_P(InWall, ARunStoppedAtItsWallLimitStillSaysItsProcessorTime) {
    if (!here) return;
    const auto work = working_folder();
    check::Containment c;
    c.sandboxed = sandboxed();
    c.landlock_only = GetParam() == Wall::landlock;
    check::Limits l;
    l.wall = 1;
    struct Stopped {
        std::string script;
        double least, most;  // the processor time said, in seconds
    };
    // A loop in a child of the shell (the time of a process below the first one), and a
    // sleeper that uses none.
    const std::vector<Stopped> table = {
        {"sh -c 'while :; do :; done'", 0.05, 1.5},
        {"sleep 5", 0, 0.1},
    };
    for (const Stopped& t : table) {
        SCOPED_TRACE(t.script);
        const Outcome o = check::run_contained(shell(t.script, work->path()), l, c);
        EXPECT_EQ(o.end, Outcome::End::wall_limit) << o.start_error << o.err;
        EXPECT_GE(o.cpu_seconds, t.least);
        EXPECT_LE(o.cpu_seconds, t.most);
    }
}

TEST_P(InWall, ARunStoppedAtItsWallLimitSaysWhatItWasDoingAndWhatItRead) {
    if (!here) return;
    const auto work = working_folder();
    check::Containment c;
    c.sandboxed = sandboxed();
    c.landlock_only = GetParam() == Wall::landlock;
    check::Limits l;
    l.wall = 1;
    // The machine is kept busy meanwhile, by the test's own threads: a loop still counts as
    // running when it gets little of the processor.
    std::atomic<bool> busy{true};
    std::vector<std::thread> load;
    load.reserve(3);
    for (int k = 0; k < 3; ++k)
        load.emplace_back([&busy] {
            while (busy.load(std::memory_order_relaxed)) {
            }
        });
    struct Stopped {
        std::string script, input;
        Outcome::Doing doing;
        std::size_t taken;
    };
    // The shell's read takes a line byte by byte; cat takes it all.
    const std::vector<Stopped> table = {
        {"read a; while :; do :; done", "x\ny\n", Outcome::Doing::running, 2},
        {"cat >/dev/null; while :; do :; done", "x\ny\n", Outcome::Doing::running, 4},
        {"cat >/dev/null; sleep 5", "x\ny\n", Outcome::Doing::waiting, 4},
        {"sleep 5; cat", "abc", Outcome::Doing::waiting, 0},
        {"sh -c 'while :; do :; done'", "abc", Outcome::Doing::running, 0},
    };
    for (const Stopped& t : table) {
        SCOPED_TRACE(t.script);
        check::Program p = shell(t.script, work->path());
        p.input = t.input;
        const Outcome o = check::run_contained(p, l, c);
        EXPECT_EQ(o.end, Outcome::End::wall_limit) << o.start_error << o.err;
        EXPECT_EQ(o.doing, t.doing);
        EXPECT_EQ(o.input_taken, t.taken);
    }
    busy = false;
    for (std::thread& t : load) t.join();
    // A run that ends by itself says what it took too.
    check::Program p = shell("head -c 3 >/dev/null", work->path());
    p.input = "abcdef";
    const Outcome o = check::run_contained(p, l, c);
    EXPECT_EQ(o.end, Outcome::End::exited) << o.start_error << o.err;
    EXPECT_EQ(o.doing, Outcome::Doing::unknown);
    EXPECT_LE(o.input_taken, 6U);
    EXPECT_GE(o.input_taken, 3U);
}

TEST_P(InWall, StopsARunWhoseWorkingFolderPassesItsLimit) {
    if (!here) return;
    if (!sandboxed()) GTEST_SKIP() << "an unsandboxed run's working folder is not measured";
    if (check::scratch_is_tmpfs())
        GTEST_SKIP() << "working folders are file systems of their own here, sized by the limit";
    const auto work = working_folder();
    check::Containment c;
    c.landlock_only = GetParam() == Wall::landlock;
    check::Limits l;
    l.scratch = 1ULL << 20;
    l.wall = 20;
    const Outcome o = check::run_contained(
        shell("for i in 1 2 3 4; do head -c 600000 /dev/zero > f$i; done; sleep 15", work->path()),
        l, c);
    EXPECT_EQ(o.end, Outcome::End::output_limit) << o.start_error << o.err;
    EXPECT_TRUE(o.folder_cut);
    EXPECT_LT(o.wall_seconds, 10);
}

// A run that cannot start, and the words its reason must hold.
struct Unstartable {
    std::string what;
    std::string executable, folder, stdout_to;
    std::string reason;  // one of the phrases between the bars
};

// True when `text` holds one of the phrases of `phrases`, separated by bars.
bool holds_one(const std::string& text, const std::string& phrases) {
    std::istringstream each(phrases);
    for (std::string phrase; std::getline(each, phrase, '|');)
        if (text.find(phrase) != std::string::npos) return true;
    return false;
}

TEST_P(InWall, SaysWhyARunCouldNotStart) {
    if (!here) return;
    const auto work = working_folder();
    const std::string in = work->path().string();
    const std::vector<Unstartable> table = {
        {"a missing program", in + "/missing", in, "", "No such file or directory"},
        {"a program that is a folder", in, in, "", "ermission denied"},
        // (as root, a private copy is made for the program's user, which the kernel then
        // refuses as no executable format)
        {"a file that is no program", "/etc/passwd", in, "", "ermission denied|format error"},
        {"output into a missing folder", "/bin/true", in, in + "/no/out", "No such file"},
    };
    check::Containment c;
    c.sandboxed = sandboxed();
    c.landlock_only = GetParam() == Wall::landlock;
    for (const Unstartable& u : table) {
        SCOPED_TRACE(u.what);
        check::Program p;
        p.executable = u.executable;
        p.argv = {"program"};
        p.folder = u.folder;
        p.stdout_to = u.stdout_to;
        const Outcome o = check::run_contained(p, check::Limits(), c);
        EXPECT_EQ(o.end, Outcome::End::not_started) << o.out << o.err;
        EXPECT_TRUE(holds_one(o.start_error, u.reason)) << o.start_error;
    }
    // The run after them starts as usual.
    const Outcome o = check::run_contained(shell("echo after", work->path()), check::Limits(), c);
    EXPECT_EQ(o.out, "after\n") << o.start_error;
}

TEST_P(InWall, RunsAProgramOnlyItsOwnerMayRunFromACopy) {
    if (!here) return;
    if (::geteuid() != 0) GTEST_SKIP() << "only a root checker runs programs as another user";
    const auto work = working_folder();
    // A program and a file that only root may reach, in a folder only root may enter.
    Folder private_folder(fs::temp_directory_path(), 0700);
    const fs::path program = private_folder.path() / "program";
    fs::copy_file(SANDBOX_TRY, program);
    ::chmod(program.c_str(), 0700);
    const fs::path data = private_folder.path() / "data";
    put_file(data, "data\n", 0600);
    check::Containment c;
    c.sandboxed = sandboxed();
    c.landlock_only = GetParam() == Wall::landlock;
    c.allowed = {data};
    for (int i = 0; i < 2; ++i) {  // the second run finds the copy made for the first
        check::Program p;
        p.executable = program;
        p.argv = {"program", "read", data.string()};
        p.folder = work->path();
        const Outcome o = check::run_contained(p, check::Limits(), c);
        ASSERT_EQ(o.end, Outcome::End::exited) << o.start_error << o.err;
        EXPECT_EQ(o.out, "read ok\n");
    }
    // Changed, it is copied again: the run sees the program as it is now.
    const fs::path shell_copy = private_folder.path() / "script";
    put_file(shell_copy, "#!/bin/sh\necho first\n", 0700);
    check::Program p;
    p.executable = shell_copy;
    p.argv = {"script"};
    p.folder = work->path();
    Outcome o = check::run_contained(p, check::Limits(), c);
    EXPECT_EQ(o.out, "first\n") << o.start_error << o.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    put_file(shell_copy, "#!/bin/sh\necho second\n", 0700);
    o = check::run_contained(p, check::Limits(), c);
    EXPECT_EQ(o.out, "second\n") << o.start_error << o.err;
}

INSTANTIATE_TEST_SUITE_P(Each, InWall,
                         testing::Values(Wall::namespaces, Wall::landlock, Wall::none), name_of);

}  // namespace
