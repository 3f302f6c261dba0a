// The random sessions of polycalc, rollbook, gridcalc and gridheap, run on the collection's
// own programs; and every program's generator held to the rules that all of them share.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "check/sessions/session.hpp"

namespace {

namespace fs = std::filesystem;
using check::sessions::Draw;
using check::sessions::Fed;
using check::sessions::Generator;
using check::sessions::generator_for;
using check::sessions::Session;

// How a program ended on one session.
struct Ran {
    bool ended = false;  // by itself, within the time allowed
    int status = -1;     // its exit status, or -1 when a signal ended it
    std::string out, err;
};

// The whole content of `path`.
std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the built program `program` on what `fed` feeds, in a fresh folder holding its
// files, for at most `seconds`.
Ran run(const std::string& program, const Fed& fed, double seconds = 1.0) {
    std::string pattern = (fs::temp_directory_path() / "numbers_test.XXXXXX").string();
    const fs::path top = ::mkdtemp(pattern.data());
    const fs::path work = top / "work";
    fs::create_directory(work);
    for (const check::Entry& e : fed.files) {
        const fs::path p = work / e.path;
        if (e.type == check::Entry::Type::folder) {
            fs::create_directories(p);
        } else if (e.type == check::Entry::Type::link) {
            fs::create_symlink(e.content, p);
            continue;
        } else {
            std::ofstream(p, std::ios::binary) << e.content;
        }
        fs::permissions(p, static_cast<fs::perms>(e.mode));
    }
    std::ofstream(top / "in", std::ios::binary) << fed.input;
    std::vector<std::string> words{std::string(BIN_DIR) + "/" + program};
    words.insert(words.end(), fed.args.begin(), fed.args.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const std::string in = (top / "in").string(), out = (top / "out").string(),
                      err = (top / "err").string(), folder = work.string();

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int i = ::open(in.c_str(), O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (i < 0 || o < 0 || e < 0 || ::chdir(folder.c_str()) != 0) ::_exit(126);
        ::dup2(i, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Ran r;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    int wait_status = 0;
    for (;;) {
        if (::waitpid(pid, &wait_status, WNOHANG) == pid) {
            r.ended = true;
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &wait_status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    if (r.ended && WIFEXITED(wait_status)) r.status = WEXITSTATUS(wait_status);
    r.out = slurp(top / "out");
    r.err = slurp(top / "err");
    fs::remove_all(top);
    return r;
}

// The input fed, shortened for a failure message.
std::string shown(const Fed& f) {
    return f.input.size() > 300 ? f.input.substr(0, 300) + "..." : f.input;
}

bool empty_feed(const Fed& f) { return f.input.empty() && f.args.empty() && f.files.empty(); }

// Every program's generator: the same seed gives the same feed; every session drawn at sizes
// 0, 50 and 100 ends on the collection's own program within a second, with nothing on
// standard error; and shrinking by always taking the first candidate ends within 2,000
// steps. A generator still drawing only empty input is skipped.
class EveryGenerator : public testing::TestWithParam<const char*> {};

TEST_P(EveryGenerator, DrawsRepeatablyRunsCleanAndShrinksToAnEnd) {
    const std::string program = GetParam();
    const Generator* g = generator_for(program);
    ASSERT_NE(g, nullptr);
    bool all_empty = true;
    for (std::uint64_t seed = 1; seed <= 4 && all_empty; ++seed) {
        Draw d(seed);
        all_empty = empty_feed(g->feed(g->draw(d, 50, false)));
    }
    if (all_empty) GTEST_SKIP() << program << "'s generator draws only empty input so far";

    for (bool open : {false, true})
        for (unsigned size : {0U, 50U, 100U})
            for (std::uint64_t seed = 1; seed <= 6; ++seed) {
                Draw d1(seed * 7919 + size), d2(seed * 7919 + size);
                const Session s = g->draw(d1, size, open);
                const Fed f = g->feed(s);
                ASSERT_TRUE(f == g->feed(g->draw(d2, size, open)))
                    << program << ": seed " << seed << " drew two sessions";
                EXPECT_FALSE(g->describe(s).empty()) << program;
                const Ran r = run(program, f);
                EXPECT_TRUE(r.ended) << program << " did not end on:\n" << shown(f);
                EXPECT_EQ(r.err, "") << program << " on:\n" << shown(f);

                Session now = s;
                int steps = 0;
                for (auto next = g->smaller(now, open); !next.empty();
                     next = g->smaller(now, open)) {
                    now = next.front();
                    ASSERT_LT(++steps, 2000) << program << ": shrinking does not end";
                }
            }
}

INSTANTIATE_TEST_SUITE_P(Sessions, EveryGenerator,
                         testing::Values("textkit", "textline", "textwalk", "polycalc", "rollbook",
                                         "setcalc", "gridcalc", "gridheap", "filetool", "greeter",
                                         "pairsum", "charecho"),
                         [](const testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param);
                         });

// What the tests of one numeric program's sessions need to know of it.
struct Numeric {
    const char* program;
    bool status_open;                  // the exercise leaves the exit status open
    std::vector<std::string> open;     // texts that only the collection's own choices print
    std::vector<std::string> reached;  // texts that some session of 200 must print
    std::string least;                 // the input of the smallest session (open == false)
};

const std::vector<Numeric>& numerics() {
    static const std::vector<Numeric> rows = {
        {"polycalc",
         false,
         {},
         {"Addition of two given Polynomial is :", "Multiplication of given polynomial is :",
          "Evaluation Result is = ", "Evaluation Result is = -", "Enter proper choice:\n1.", "+ -",
          "Enter Which Polynomial you want to evaluate :\n1.Addition"},
         "1\n0 0\n1\n0 0\n4\n"},
        {"rollbook",
         false,
         {"not found"},
         {"In Bubble Sort Your Record After ' 99 ' Pass", "In Selection Sort Your Record After",
          "The searched record was found at location  ", "Roll number can not be equal",
          "Please Enter Proper Choice....!!\nWhich", "Please Enter Proper Choice....!!",
          "Time Complexity Taken : O(0)", " -"},
         "0\n4\n"},
        {"gridcalc",
         false,
         {},
         {"Addition of A and B Matrix =", "Multiplication of matrix of A and B Matrix =",
          "Your Transpose of Matrix B :", "-2147483648\t", "we have 10 * 10 Matrix", "we have 0 * ",
          " * 0 Matrix", " * -"},
         "0 0\n4\n"},
        {"gridheap",
         true,
         {"Multiplication of these two matrices not possible"},
         {"Addition is", "Subtraction is", "Multiplication is", "Transpose is",
          "Addition of these two matrices not possible",
          "Subtraction of these two matrices not possible", "Wrong input !!!!!!!!",
          "Enter element  10 of  10 row", "  |  |\n"},
         "0\nn\n"},
    };
    return rows;
}

class NumericSessions : public testing::TestWithParam<Numeric> {};

// Sessions drawn at every size end on the collection's own program with the status that the
// exercise fixes and nothing on standard error; by default they never print what only the
// collection's own choices print, and together they reach every menu entry and boundary.
TEST_P(NumericSessions, RunCleanAndReachEveryEntry) {
    const Numeric& n = GetParam();
    const Generator& g = *generator_for(n.program);
    std::vector<bool> seen(n.reached.size(), false);
    for (bool open : {false, true})
        for (unsigned i = 0; i < (open ? 60U : 200U); ++i) {
            Draw d(1000 + i);
            const unsigned size = (i * 7) % 101;
            const Fed f = g.feed(g.draw(d, size, open));
            EXPECT_EQ(f.status_open, n.status_open);
            const Ran r = run(n.program, f);
            ASSERT_TRUE(r.ended) << n.program << " did not end on:\n" << shown(f);
            EXPECT_EQ(r.err, "") << n.program << " on:\n" << shown(f);
            EXPECT_EQ(r.status, 0) << n.program << " on:\n" << shown(f);
            for (std::size_t k = 0; k < n.reached.size(); ++k)
                if (!open && r.out.find(n.reached[k]) != std::string::npos) seen[k] = true;
            if (open) continue;
            for (const std::string& text : n.open)
                EXPECT_EQ(r.out.find(text), std::string::npos)
                    << n.program << " printed \"" << text << "\" on:\n"
                    << shown(f);
        }
    for (std::size_t k = 0; k < n.reached.size(); ++k)
        EXPECT_TRUE(seen[k]) << n.program << ": no session printed \"" << n.reached[k] << "\"";
}

// Every session met while shrinking stays valid (it runs clean, and by default prints
// nothing that only the collection's own choices print), and taking the first candidate
// each time leads to the smallest session there is.
TEST_P(NumericSessions, ShrinkThroughValidSessionsToTheLeast) {
    const Numeric& n = GetParam();
    const Generator& g = *generator_for(n.program);
    for (bool open : {false, true})
        for (std::uint64_t seed = 1; seed <= 3; ++seed) {
            Draw d(seed);
            Session now = g.draw(d, 100, open);
            for (auto next = g.smaller(now, open); !next.empty(); next = g.smaller(now, open)) {
                // The last candidate as well as the first: the gentlest step.
                const Fed last = g.feed(next.back());
                const Ran r = run(n.program, last);
                EXPECT_TRUE(r.ended && r.status == 0 && r.err.empty()) << n.program << " on:\n"
                                                                       << shown(last) << "\n"
                                                                       << r.err;
                if (!open) {
                    for (const std::string& text : n.open)
                        EXPECT_EQ(r.out.find(text), std::string::npos) << shown(last);
                }
                now = next.front();
            }
            if (!open) {
                EXPECT_EQ(g.feed(now).input, n.least) << n.program;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Sessions, NumericSessions, testing::ValuesIn(numerics()),
                         [](const testing::TestParamInfo<Numeric>& p) {
                             return std::string(p.param.program);
                         });

}  // namespace
