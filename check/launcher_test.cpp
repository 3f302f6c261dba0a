// Runs started through the launcher: everything a run is given reaches it as given, side
// by side runs each get their own end, and the checker goes on when the launcher is gone.
// A binary of its own, since prepare() is made once per process.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "check/sandbox.hpp"

namespace fs = std::filesystem;

namespace {

// The checker's preparation, once: sandboxed where the kernel allows it; the refusal, if any.
const std::string& prepared() {
    static const std::string refusal = [] {
        check::Containment sandboxed;
        sandboxed.sandboxed = true;
        std::optional<std::string> r = check::prepare(sandboxed);
        if (!r) return std::string();
        check::Containment open;
        open.sandboxed = false;
        (void)check::prepare(open);  // the launcher, for unsandboxed runs
        return *r;
    }();
    return refusal;
}

// A fresh working folder, where a sandboxed run can have it.
fs::path folder() {
    std::string pattern = check::run_folder() + "/launcher_test.XXXXXX";
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    return pattern;
}

check::Program shell(const std::string& script, const fs::path& where) {
    check::Program p;
    p.executable = "/bin/sh";
    p.argv = {"sh", "-c", script, "sh"};
    p.folder = where;
    return p;
}

std::vector<bool> containments() {
    std::vector<bool> modes = {false};
    if (prepared().empty()) modes.push_back(true);
    return modes;
}

TEST(Launcher, EveryPartOfARunReachesIt) {
    for (bool sandboxed : containments()) {
        SCOPED_TRACE(sandboxed ? "sandboxed" : "unsandboxed");
        check::Containment c;
        c.sandboxed = sandboxed;
        check::Limits l;
        l.cpu = 3;
        l.memory = 300ULL << 20;
        l.processes = 9;
        l.file_size = 5ULL << 20;
        l.open_files = 17;
        const fs::path where = folder();
        check::Program p = shell(
            "ulimit -t; ulimit -v; ulimit -p; ulimit -f; ulimit -n; pwd; printf '[%s]' \"$@\";"
            " echo; echo \"$EXTRA $HOME\"; cat; echo err >&2; exit 7",
            where);
        p.argv.insert(p.argv.end(), {"two words", "", "x\ty"});
        p.env = {"EXTRA=extra"};
        p.input = "fed\n";
        check::Outcome o = check::run_contained(p, l, c);
        ASSERT_EQ(o.end, check::Outcome::End::exited) << o.start_error;
        EXPECT_EQ(o.code, 7);
        // The init counts against the processes when it is the program's own user; without
        // a user namespace of the run's own, so does every process of that user.
        const bool own_users = sandboxed && check::current_wall() == check::Wall::namespaces;
        unsigned processes = l.processes + (sandboxed && ::geteuid() == 0 ? 0 : 1);
        const std::size_t third = o.out.find('\n', o.out.find('\n') + 1) + 1;
        if (!own_users) {
            const unsigned got = static_cast<unsigned>(std::stoul(o.out.substr(third)));
            EXPECT_GE(got, l.processes + 1);
            processes = got;
        }
        // Each process's address space: the generous backstop of the run's memory limit.
        EXPECT_EQ(o.out, "3\n" + std::to_string(check::address_backstop(l.memory) / 1024) + "\n" +
                             std::to_string(processes) + "\n" + std::to_string(5 * 2048) +
                             "\n17\n" + where.string() + "\n[two words][][x\ty]\nextra " +
                             where.string() + "\nfed\n");
        EXPECT_EQ(o.err, "err\n");

        // Standard output into a file of the working folder.
        check::Program to_file = shell("echo into the file", where);
        to_file.stdout_to = (where / "out").string();
        o = check::run_contained(to_file, l, c);
        ASSERT_EQ(o.end, check::Outcome::End::exited) << o.start_error;
        std::ifstream in(where / "out");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "into the file\n");
        std::error_code ec;
        fs::remove_all(where, ec);
    }
}

TEST(Launcher, RunsSideBySideEachGetTheirOwnEnd) {
    check::Containment c;
    c.sandboxed = prepared().empty();
    const fs::path where = folder();
    std::vector<std::string> failures(4);
    std::vector<std::thread> threads;
    threads.reserve(4);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i) {
                const std::string word = std::to_string(t) + "." + std::to_string(i);
                check::Outcome o = check::run_contained(
                    shell("echo " + word + "; exit " + std::to_string(t * 10 + i), where),
                    check::Limits(), c);
                if (o.end != check::Outcome::End::exited || o.code != t * 10 + i ||
                    o.out != word + "\n")
                    failures[static_cast<std::size_t>(t)] +=
                        word + ": " + o.out + o.start_error + "; ";
            }
        });
    for (std::thread& t : threads) t.join();
    for (const std::string& f : failures) EXPECT_EQ(f, "");
    std::error_code ec;
    fs::remove_all(where, ec);
}

TEST(Launcher, ChecksGoOnWhenItIsGoneOrARunIsTooLargeForIt) {
    (void)prepared();
    check::Containment open;
    open.sandboxed = false;
    const fs::path where = folder();
    // Arguments beyond what the launcher's socket takes at once: the checker starts it.
    check::Program many = shell("echo $#", where);
    for (int i = 0; i < 20000; ++i) many.argv.push_back("argument" + std::to_string(i));
    check::Outcome o = check::run_contained(many, check::Limits(), open);
    ASSERT_EQ(o.end, check::Outcome::End::exited) << o.start_error;
    EXPECT_EQ(o.out, "20000\n");
    // An unsandboxed program kills the launcher, its parent's parent; later runs still run.
    // Never this test's own process: where the run was started by it (no launcher), its
    // parent's parent is the test.
    const std::string self = std::to_string(::getpid());
    check::run_contained(
        shell("p=$(cut -d' ' -f4 /proc/$PPID/stat); [ \"$p\" = " + self + " ] || kill -9 \"$p\"",
              where),
        check::Limits(), open);
    for (int i = 0; i < 3; ++i) {
        o = check::run_contained(shell("echo after", where), check::Limits(), open);
        ASSERT_EQ(o.end, check::Outcome::End::exited) << o.start_error;
        EXPECT_EQ(o.out, "after\n");
    }
    std::error_code ec;
    fs::remove_all(where, ec);
}

}  // namespace
