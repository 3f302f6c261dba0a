// The sessions of the string toolkit, filetool and the programs that read nothing, run on
// the collection's own programs: each ends by itself, cleanly, as the exercise has it; the
// draws reach the exercise's boundaries; shrinking ends; a seed gives the same sessions.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "check/sessions/session.hpp"

namespace fs = std::filesystem;
using check::Entry;
using check::sessions::Draw;
using check::sessions::Fed;
using check::sessions::generator_for;
using check::sessions::Session;

namespace {

struct Ran {
    bool ended = false;  // by itself, within the time allowed
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A fresh folder for one program's runs, removed at the end.
struct Folder {
    fs::path path;
    explicit Folder(const std::string& name)
        : path(fs::temp_directory_path() /
               ("sessions_texts_test." + std::to_string(::getpid()) + "." + name)) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    Folder(Folder&&) = delete;
    Folder& operator=(Folder&&) = delete;
};

// Runs the collection's `program` on what `f` feeds, in `folder`/work.
Ran run(const std::string& program, const Fed& f, const fs::path& folder) {
    const fs::path work = folder / "work";
    fs::remove_all(work);
    fs::create_directory(work);
    for (const Entry& e : f.files) {
        if (e.type == Entry::Type::folder)
            fs::create_directory(work / e.path);
        else
            std::ofstream(work / e.path, std::ios::binary) << e.content;
        fs::permissions(work / e.path, static_cast<fs::perms>(e.mode));
    }
    std::ofstream(folder / "in", std::ios::binary) << f.input;
    const std::string exe = std::string(PROGRAMS_DIR) + "/" + program;
    std::vector<std::string> words{exe};
    words.insert(words.end(), f.args.begin(), f.args.end());
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        argv.reserve(words.size() + 1);
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        const int in = ::open((folder / "in").c_str(), O_RDONLY);
        const int out = ::open((folder / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open((folder / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::chdir(work.c_str()) != 0) ::_exit(126);
        ::dup2(in, 0), ::dup2(out, 1), ::dup2(err, 2);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    Ran r;
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return r;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    r.ended = WIFEXITED(status);
    r.status = r.ended ? WEXITSTATUS(status) : -1;
    r.out = slurp(folder / "out");
    r.err = slurp(folder / "err");
    return r;
}

// What a clean run of a valid session must show: where the exercise fixes the status, one
// of the program's own statuses; by default, nothing on standard error and none of the
// texts that only the collection's own choices print.
struct Program {
    const char* name;
    std::set<int> statuses;
    std::vector<std::string> never;  // texts seen only in the collection's own cases
};

const Program kPrograms[] = {
    {"textkit", {0}, {}},
    {"textline", {0}, {}},
    {"textwalk", {0}, {"is a not a substring"}},
    {"filetool", {0, 20, 54, 255}, {}},
    {"greeter", {0}, {}},
    {"pairsum", {2}, {}},
    {"charecho", {0}, {}},
};

// Where run `i` of `count` stands on the sizes' cycle from 0 to 100.
unsigned size_of(std::size_t i, std::size_t count) {
    return static_cast<unsigned>(i * 101 / count);
}

// Checks one run of a session on the collection's program.
void expect_clean(const Program& p, const Fed& f, bool open, const fs::path& folder,
                  const std::string& what) {
    const Ran r = run(p.name, f, folder);
    ASSERT_TRUE(r.ended) << what;
    if (!f.status_open) {
        EXPECT_TRUE(p.statuses.contains(r.status)) << what << ": " << r.status;
    }
    if (open) return;
    EXPECT_EQ(r.err, "") << what;
    for (const std::string& text : p.never)
        EXPECT_EQ(r.out.find(text), std::string::npos) << what << " prints " << text;
    for (const std::string& path : f.after)
        EXPECT_TRUE(fs::exists(folder / "work" / path)) << what << ": " << path;
}

class Sessions : public testing::TestWithParam<Program> {};

TEST_P(Sessions, ValidSessionsEndCleanlyOnTheCollectionsProgram) {
    const Program& p = GetParam();
    const auto* g = generator_for(p.name);
    ASSERT_NE(g, nullptr);
    Folder folder(p.name);
    const std::size_t count = std::string(p.name) == "filetool" ? 120 : 150;
    for (bool open : {false, true})
        for (std::size_t i = 0; i < count; ++i) {
            Draw d(1000 + i);
            const Session s = g->draw(d, size_of(i, count), open);
            std::string what = g->describe(s);
            what += open ? " (open)" : "";
            expect_clean(p, g->feed(s), open, folder.path, what);
            if (HasFatalFailure()) return;
        }
}

TEST_P(Sessions, ShrinkingEndsOnValidSessions) {
    const Program& p = GetParam();
    const auto* g = generator_for(p.name);
    Folder folder(p.name);
    for (bool open : {false, true})
        for (std::uint64_t seed = 1; seed <= 4; ++seed) {
            Draw d(seed);
            Session s = g->draw(d, 100, open);
            for (int step = 0;; ++step) {
                ASSERT_LT(step, 5000) << "shrinking " << p.name << " does not end";
                const Fed before = g->feed(s);
                const auto candidates = g->smaller(s, open);
                if (candidates.empty()) break;
                for (const Session& c : candidates) ASSERT_FALSE(g->feed(c) == before);
                // Now the boldest step, now any other, as a shrinker tries them.
                s = candidates[d.chance(50) ? 0 : d.below(candidates.size())];
                if (step % 4 == 0) expect_clean(p, g->feed(s), open, folder.path, g->describe(s));
            }
            expect_clean(p, g->feed(s), open, folder.path, g->describe(s));
        }
}

TEST_P(Sessions, TheSameSeedGivesTheSameSessions) {
    const Program& p = GetParam();
    const auto* g = generator_for(p.name);
    std::set<std::string> inputs;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        Draw a(seed), b(seed);
        const Fed fa = g->feed(g->draw(a, 50, true)), fb = g->feed(g->draw(b, 50, true));
        EXPECT_TRUE(fa == fb) << p.name << " seed " << seed;
        std::string key = fa.input;
        for (const std::string& arg : fa.args) key += "\n" + arg;
        inputs.insert(key);
    }
    EXPECT_GT(inputs.size(), 1U) << p.name << " draws one session only";
}

INSTANTIATE_TEST_SUITE_P(Programs, Sessions, testing::ValuesIn(kPrograms),
                         [](const auto& info) { return std::string(info.param.name); });

// What 300 draws of a program must reach, named as describe() names it.
struct Reach {
    const char* program;
    bool open;
    std::vector<std::string> texts;
};

const Reach kReaches[] = {
    {"textkit",
     false,
     {"the length", "the reversal", "the copy", "the comparison", "the palindrome check",
      "the search", "a 1-character word", "a 79-character word", "palindrome",
      "compared with itself", "compared with a beginning of it", "compared with a longer one",
      "compared with another", "a word it holds", "a word it lacks", "a choice of 0 or less",
      "ended by a choice above 7"}},
    {"textline",
     false,
     {"a 0-character line", "a 79-character line", "palindrome", "compared with itself",
      "compared with a beginning of it", "a word it holds", "a word it lacks"}},
    {"textwalk", false, {"a 0-character line", "a 79-character line", "a word it holds"}},
    {"textwalk", true, {"a word it lacks"}},
    {"filetool",
     false,
     {"the usage, without paths", "the usage, with one path", "the exit entry",
      "the copy of an empty file", "the copy of a one-byte file",
      "the copy of a file larger than a buffer", "the typing of an empty file",
      "the typing of a file larger than a buffer", "binary bytes", "a missing file",
      "over an existing file", "with further arguments"}},
    {"filetool", true, {"a choice off the menu", "into a missing folder"}},
    {"greeter", false, {"without input", "left unread"}},
};

TEST(SessionsReach, TheExercisesBoundaries) {
    for (const Reach& r : kReaches) {
        const auto* g = generator_for(r.program);
        std::string seen;
        for (std::size_t i = 0; i < 300; ++i) {
            Draw d(i);
            seen += g->describe(g->draw(d, size_of(i, 300), r.open));
            seen += '\n';
        }
        for (const std::string& text : r.texts)
            EXPECT_NE(seen.find(text), std::string::npos) << r.program << ": " << text;
    }
}

TEST(SessionsReach, TextwalkSearchesOnlyForWordsItHoldsByDefault) {
    const auto* g = generator_for("textwalk");
    for (std::size_t i = 0; i < 300; ++i) {
        Draw d(i);
        EXPECT_EQ(g->describe(g->draw(d, size_of(i, 300), false)).find("lacks"), std::string::npos);
    }
}

}  // namespace
