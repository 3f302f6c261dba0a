// Random sessions (check/random.hpp) on the collection's own programs: copies of them pass
// every session, the same seed draws the same sessions, and a program that differs fails
// with its session shrunk and a replay command that reproduces the dialogue.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "check/grade.hpp"
#include "check/random.hpp"
#include "check/sandbox.hpp"

namespace fs = std::filesystem;

namespace {

// The collection's programs that have random sessions.
const std::vector<std::string> kPrograms = {"textkit",  "textline", "textwalk", "polycalc",
                                            "rollbook", "setcalc",  "gridcalc", "gridheap",
                                            "filetool", "greeter",  "pairsum",  "charecho"};

// The checker made ready once, for runs outside the sandboxes (the sandbox itself is tested
// by the command's scenarios), with this build's programs as the collection's own.
void prepared() {
    static const bool once = [] {
        check::Containment open;
        open.sandboxed = false;
        (void)check::prepare(open);
        check::own_programs().clear();
        for (const std::string& p : kPrograms)
            check::own_programs().push_back(fs::path(BIN_DIR) / p);
        return true;
    }();
    (void)once;
}

// A temporary folder, removed with everything in it when the test ends.
struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "random_test.XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Writes an executable file `name` holding `content`; returns its path.
    fs::path executable(const std::string& name, const std::string& content) const {
        fs::path p = path / name;
        std::ofstream(p, std::ios::binary) << content;
        fs::permissions(p, fs::perms::owner_all);
        return p;
    }
};

// The settings of a check of `program`: runs outside the sandbox, two at once.
check::Settings settings_for(const std::string& program) {
    check::Settings s;
    s.containment.sandboxed = false;
    s.jobs = 2;
    s.program = program;
    s.replay = {"collection-check"};
    return s;
}

// `sessions` sessions of `program` from `seed` on `executable`.
std::vector<check::CaseResult> sessions_on(const std::string& program, const fs::path& executable,
                                           unsigned sessions, std::uint64_t seed) {
    prepared();
    check::Settings s = settings_for(program);
    check::RandomPlan plan;
    plan.sessions = sessions;
    plan.seed = seed;
    plan.seed_given = true;
    plan.replay = {"collection-check", "--random", std::to_string(sessions)};
    const check::Subject subject = check::subject_of(s, program, executable.string(), {});
    return check::check_random(s, program, plan, seed, subject, check::reference_of(program));
}

// The number of lines of `text`, a last one without its line feed counted too.
std::size_t line_count(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
           (!text.empty() && text.back() != '\n');
}

// What bash writes on standard output running `command`.
std::string output_of(const std::string& command) {
    std::string out;
    const std::string quoted = "bash -c '" + [&] {
        std::string q;
        for (char c : command) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q;
    }() + "'";
    FILE* p = ::popen(quoted.c_str(), "r");
    if (p == nullptr) return out;
    char buffer[4096];
    for (std::size_t n = 0; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    ::pclose(p);
    return out;
}

TEST(Random, StudentSeedsDifferByNameProgramAndCasesAndRepeatForTheSame) {
    check::Case one;
    one.name = "add";
    one.input = "1\n";
    one.output = "2\n";
    check::Case other = one;
    other.output = "3\n";  // the same case expecting something else
    check::Case args = one;
    args.args = {"-v"};
    const std::uint64_t a = check::cases_digest({one});
    const std::vector<std::uint64_t> digests = {
        a, check::cases_digest({other}), check::cases_digest({args}),
        check::cases_digest({one, one}), check::cases_digest({})};
    EXPECT_EQ(std::set<std::uint64_t>(digests.begin(), digests.end()).size(), digests.size());
    EXPECT_EQ(a, check::cases_digest({one}));
    struct Row {
        std::uint64_t seed;
        std::string name;
        std::string program = "setcalc";
        std::uint64_t cases = 7;
    };
    const std::vector<Row> rows = {
        {1, "alice"},
        {1, "bob"},
        {1, "alicf"},
        {1, ""},
        {2, "alice"},
        {0, "alice"},
        {1, "Alice"},
        {1, "alice "},
        {1, "ali"},
        {1, "élise"},
        {1, "alice", "rollbook"},
        {1, "alice", "setcalc", 8},
        {1, "alic", "esetcalc"},  // the name and the program run together the same way
    };
    std::set<std::uint64_t> seen;
    for (const Row& r : rows) {
        const std::uint64_t s = check::student_seed(r.seed, r.name, r.program, r.cases);
        EXPECT_EQ(s, check::student_seed(r.seed, r.name, r.program, r.cases)) << r.name;
        EXPECT_LT(s, 1000000000000ULL) << r.name;  // short enough to type as --seed
        EXPECT_TRUE(seen.insert(s).second) << r.seed << " " << r.name << " repeats a seed";
    }
}

TEST(Random, SessionsAreNamedByTheirNumber) {
    struct Row {
        unsigned k;
        std::string name;
    };
    for (const Row& r : std::vector<Row>{{1, "random-1"}, {9, "random-9"}, {200, "random-200"}})
        EXPECT_EQ(check::session_name(r.k), r.name);
}

TEST(Random, TheReferenceIsTheCollectionsOwnProgramOfThatName) {
    prepared();
    for (const std::string& p : kPrograms) EXPECT_EQ(check::reference_of(p), fs::path(BIN_DIR) / p);
    EXPECT_TRUE(check::reference_of("nosuch").empty());
    EXPECT_TRUE(check::reference_of("").empty());
}

TEST(Random, CopiesOfTheOwnProgramsPassEverySessionAndASeedDrawsTheSameSessions) {
    TempFolder t;
    for (const std::string& program : kPrograms) {
        SCOPED_TRACE(program);
        const fs::path copy = t.path / program;
        fs::copy_file(fs::path(BIN_DIR) / program, copy);
        const auto first = sessions_on(program, copy, 4, 11);
        ASSERT_EQ(first.size(), 4U);
        for (std::size_t k = 0; k < first.size(); ++k) {
            EXPECT_EQ(first[k].name, check::session_name(static_cast<unsigned>(k) + 1));
            EXPECT_EQ(first[k].verdict, check::Verdict::passed) << first[k].message;
        }
        if (program != "setcalc" && program != "filetool") continue;  // two are enough
        const auto again = sessions_on(program, copy, 4, 11);
        const auto other = sessions_on(program, copy, 4, 12);
        bool differ = false;
        for (std::size_t k = 0; k < first.size(); ++k) {
            EXPECT_EQ(again[k].fed, first[k].fed) << k;
            differ = differ || other[k].fed != first[k].fed;
        }
        EXPECT_TRUE(differ) << "seeds 11 and 12 draw the same sessions";
    }
}

// The help's replay command: the printf words before " | ", or nothing.
std::optional<std::string> replay_printf(const std::string& help) {
    const std::string mark = "to replay it: ";
    const std::size_t at = help.find(mark);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t end = help.find('\n', at);
    const std::string line = help.substr(at + mark.size(), end - at - mark.size());
    const std::size_t pipe = line.rfind(" | ");
    if (pipe == std::string::npos) return std::nullopt;
    return line.substr(0, pipe);
}

TEST(Random, AProgramThatDiffersFailsShrunkWithAReplayThatReproducesTheDialogue) {
    struct Row {
        std::string program;
        std::string filter;      // what the differing program does to the reference's output
        std::size_t most_lines;  // the shrunk session's input lines, at most
        bool always;             // every session differs
        unsigned sessions;
    };
    const std::vector<Row> rows = {
        // A prompt every session shows: every session fails, and shrinks to the same one.
        {"setcalc", "sed 's/Enter elements of set A/Enter the elements of set A/'", 5, true, 3},
        // Only the symmetric difference's heading: a session must ask for it.
        {"setcalc", "sed 's/Symmetric difference/symmetric difference/'", 7, false, 12},
        // Only the message of a string that is not a palindrome.
        {"textkit", "sed 's/is not a palindrome/is no palindrome/'", 4, false, 8},
        // Only a product's heading.
        {"gridheap", "sed 's/Multiplication is/Product is/'", 8, false, 6},
    };
    TempFolder t;
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.program + ": " + r.filter);
        const fs::path reference = fs::path(BIN_DIR) / r.program;
        const fs::path wrong =
            t.executable("wrong" + std::to_string(++n),
                         "#!/bin/sh\n'" + reference.string() + "' | " + r.filter + "\n");
        const auto results = sessions_on(r.program, wrong, r.sessions, 5);
        ASSERT_EQ(results.size(), r.sessions);
        const auto failing = std::find_if(results.begin(), results.end(), [](const auto& c) {
            return c.verdict != check::Verdict::passed;
        });
        ASSERT_TRUE(failing != results.end()) << "no session differs";
        const check::CaseResult& f = *failing;
        // "shrunk to L input lines from M": L, the lines of the input fed, at most M.
        const std::string shrunk = "shrunk to " + std::to_string(line_count(f.fed)) + " input line";
        const std::size_t at = f.message.find(shrunk);
        ASSERT_NE(at, std::string::npos) << f.message;
        const std::size_t from = f.message.find(" from ", at);
        ASSERT_NE(from, std::string::npos) << f.message;
        EXPECT_LE(line_count(f.fed), std::stoul(f.message.substr(from + 6))) << f.message;
        EXPECT_LE(line_count(f.fed), r.most_lines) << f.fed;
        EXPECT_FALSE(f.session.empty());
        // The replay, run through bash into the collection's own program, gives its output.
        const std::optional<std::string> printf_words = replay_printf(f.help);
        ASSERT_TRUE(printf_words) << f.help;
        ASSERT_TRUE(f.want.whole());  // a session's output is short: kept whole
        const std::string want = f.want.parts.empty() ? "" : f.want.parts[0].bytes;
        EXPECT_EQ(output_of(*printf_words + " | '" + reference.string() + "' 2>/dev/null"), want);
        EXPECT_NE(output_of(*printf_words + " | '" + wrong.string() + "' 2>/dev/null"), want);
        if (r.always) {
            for (const auto& c : results) EXPECT_NE(c.verdict, check::Verdict::passed) << c.name;
            EXPECT_NE(results[1].message.find("shrinks to the same session as random-1"),
                      std::string::npos)
                << results[1].message;
        }
    }
}

TEST(Random, WallLimitsFitTheReferencesTimeAndAreAtLeastASecond) {
    prepared();
    struct Row {
        std::string program;  // whose reference runs the case; "nosuch": none can
        std::string input;
        double before;  // the case's limit before: kept when the reference cannot run
        bool fitted;
    };
    const std::vector<Row> rows = {
        {"setcalc", "1\n1\n1\n2\n5\n", 0, true},
        {"textkit", "abc\n7\n", 3, true},
        {"greeter", "", 0, true},
        {"nosuch", "1\n", 7, false},
    };
    check::Limits limits;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.program);
        std::vector<check::Case> cases(1);
        cases[0].name = "a";
        cases[0].input = r.input;
        cases[0].wall = r.before;
        check::fit_wall_limits(cases, fs::path(BIN_DIR) / r.program, limits);
        if (r.fitted) {
            EXPECT_GE(cases[0].wall, 1.0);
            EXPECT_LT(cases[0].wall, limits.wall);  // twenty times a run of milliseconds
        } else {
            EXPECT_EQ(cases[0].wall, r.before);
        }
    }
}

}  // namespace
