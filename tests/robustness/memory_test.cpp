// Under a memory limit, a session that keeps allocating ends with "NAME: out of memory" and
// status 1, or completes; it never crashes.
#include "tests/robustness/child.hpp"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace robustness {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // the address sanitizer reserves far more than any limit
#else
constexpr bool kSanitized = false;
#endif

struct Hunger {
    std::string program;
    std::string opening;                      // typed first
    std::string (*more)(unsigned long step);  // then this, step after step, until the end
};

void PrintTo(const Hunger& h, std::ostream* os) { *os << h.program; }

class OutOfMemory : public ::testing::TestWithParam<Hunger> {};

TEST_P(OutOfMemory, EndsWithADiagnosticOrCompletesButNeverCrashes) {
    if (kSanitized) GTEST_SKIP() << "memory limits do not apply under the address sanitizer";
    const Hunger& h = GetParam();
    ::signal(SIGPIPE, SIG_IGN);
    int in[2];
    ASSERT_EQ(::pipe(in), 0);
    Launch l;
    l.program = h.program;
    l.in = in[0];
    l.memory_limit = 96L << 20;
    l.seconds = 120;
    l.while_running = [&](int) {
        ::close(in[0]);
        std::string text = h.opening;
        std::size_t sent = 0;
        for (unsigned long step = 0; sent < (1UL << 30); ++step) {  // at most 1 GiB of input
            text += h.more(step);
            if (text.size() < 65536) continue;
            if (::write(in[1], text.data(), text.size()) < 0) break;  // the program has ended
            sent += text.size();
            text.clear();
        }
        ::close(in[1]);
    };
    Ended e = launch(l);
    ASSERT_TRUE(e.finished);
    ASSERT_FALSE(e.signaled) << "killed by signal " << e.status << "\n" << e.err;
    if (e.status != 0) {
        EXPECT_EQ(e.status, 1);
        EXPECT_EQ(e.err, h.program + ": out of memory\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Collection, OutOfMemory,
    ::testing::Values(
        // a polynomial of ever more terms, each of a new highest power
        Hunger{"polycalc", "2000000000\n",
               [](unsigned long step) { return "1 " + std::to_string(step) + "\n"; }},
        // pass after pass, each keeping its result block
        Hunger{"gridheap", "", [](unsigned long) { return std::string("5\ny\n"); }}),
    [](const ::testing::TestParamInfo<Hunger>& info) { return info.param.program; });

}  // namespace
}  // namespace robustness
