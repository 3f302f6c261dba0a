// Standard output that cannot be written: every program, on every valid transcript, ends
// with status 1 and "NAME: write error: REASON" when its output goes to /dev/full, and ends
// without hanging when its output is a pipe whose reader has gone. A session that writes
// nothing has nothing that could fail: it ends as usual.
#include "tests/robustness/cases.hpp"
#include "tests/robustness/child.hpp"
#include "tests/robustness/programs.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace robustness {
namespace {

// The case's program with its arguments, reading `in` and writing `out`, with SIGPIPE
// left as it is or ignored.
Launch through_pipes(const Case& c, int in, int out, bool ignore_sigpipe) {
    Launch l;
    l.program = c.program;
    l.args = c.args;
    l.in = in;
    l.out = out;
    l.ignore_sigpipe = ignore_sigpipe;
    return l;
}

class FailingOutput : public ::testing::TestWithParam<std::string> {};

TEST_P(FailingOutput, FullDeviceIsAWriteErrorWithStatusOne) {
    int checked = 0;
    for (const Case& c : load_cases(GetParam())) {
        if (!c.valid) continue;
        WorkFolder folder(c);
        int in = ::open((c.folder / "input").c_str(), O_RDONLY);
        int full = ::open("/dev/full", O_WRONLY);
        Launch l;
        l.program = c.program;
        l.args = c.args;
        l.in = in;
        l.out = full;
        Ended e = launch(l);
        if (in >= 0) ::close(in);
        ::close(full);
        EXPECT_TRUE(e.finished && !e.signaled) << c.name;
        if (c.output.empty()) {
            EXPECT_EQ(e.status, c.status) << c.name;
            EXPECT_EQ(e.err, "") << c.name;
        } else {
            EXPECT_EQ(e.status, 1) << c.name;
            EXPECT_EQ(e.err, c.program + ": write error: No space left on device\n") << c.name;
        }
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST_P(FailingOutput, ClosedPipeEndsTheProgramWhileItsInputStaysOpen) {
    std::vector<Case> cases = load_cases(GetParam());
    const Case* chosen = nullptr;
    for (const Case& c : cases)
        if (c.valid && (chosen == nullptr || (chosen->output.empty() && !c.output.empty())))
            chosen = &c;
    ASSERT_NE(chosen, nullptr);
    for (bool ignore : {false, true}) {
        WorkFolder folder(*chosen);
        int out[2], in[2];
        ASSERT_EQ(::pipe(out), 0);
        ASSERT_EQ(::pipe(in), 0);
        ::close(out[0]);  // nobody will ever read the program's output
        Launch l = through_pipes(*chosen, in[0], out[1], ignore);
        l.seconds = 5;
        Ended e = launch(l);
        ::close(out[1]);
        ::close(in[0]);
        ::close(in[1]);
        EXPECT_TRUE(e.finished) << chosen->name << (ignore ? " (SIGPIPE ignored)" : "");
        if (chosen->output.empty()) {
            EXPECT_EQ(e.status, chosen->status);
        } else if (ignore) {
            EXPECT_EQ(e.status, 1);
            EXPECT_EQ(e.err, chosen->program + ": write error: Broken pipe\n");
        } else {
            EXPECT_TRUE(e.signaled && e.status == SIGPIPE) << e.status;
        }
    }
}

// `PROGRAM | head -c 1` at a terminal: the first output arrives, its reader goes away and
// standard input stays open with nothing typed. Every program that reads input must end
// within a second, as a write to that pipe would end it.
TEST_P(FailingOutput, ReaderThatGoesWhileTheProgramWaitsEndsIt) {
    const Program* program = find(GetParam());
    ASSERT_NE(program, nullptr);
    if (!program->reads_input) GTEST_SKIP() << "reads no input";
    std::vector<Case> cases = load_cases(GetParam());
    const Case* chosen = nullptr;  // a session that writes and reads: it waits after writing
    for (const Case& c : cases)
        if (c.valid && !c.output.empty() && !c.input.empty() && chosen == nullptr) chosen = &c;
    ASSERT_NE(chosen, nullptr);
    for (bool ignore : {false, true}) {
        WorkFolder folder(*chosen);
        int out[2], in[2];  // close-on-exec: the program must not hold its own reader
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
        Launch l = through_pipes(*chosen, in[0], out[1], ignore);
        l.seconds = 1;  // from the moment the reader has gone
        l.while_running = [&](int) {
            ::close(out[1]);
            char first = 0;
            EXPECT_EQ(::read(out[0], &first, 1), 1);  // its first output, then the reader goes
            ::close(out[0]);
        };
        Ended e = launch(l);
        ::close(in[0]);
        ::close(in[1]);
        const std::string what = chosen->name + (ignore ? " (SIGPIPE ignored)" : "");
        EXPECT_TRUE(e.finished) << what;
        if (ignore) {
            EXPECT_EQ(e.status, 1) << what;
            EXPECT_EQ(e.err, chosen->program + ": write error: Broken pipe\n") << what;
        } else {
            EXPECT_TRUE(e.signaled && e.status == SIGPIPE) << what << ": " << e.status;
        }
    }
}

std::vector<std::string> all_programs() {
    std::vector<std::string> names;
    for (const Program& p : programs()) names.emplace_back(p.name);
    return names;
}

INSTANTIATE_TEST_SUITE_P(Collection, FailingOutput, ::testing::ValuesIn(all_programs()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

}  // namespace
}  // namespace robustness
