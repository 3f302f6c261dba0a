// Programs as students write them: the #! line of a script read and judged, the folder a
// script's runs see, and the line that builds a program from its sources again.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "check/build.hpp"
#include "check/grade.hpp"
#include "check/sandbox.hpp"
#include "check/scripts.hpp"

namespace fs = std::filesystem;

namespace {

// A fresh folder under the temporary folder that all may read, removed at the end.
struct Folder {
    fs::path path;
    Folder() {
        std::string t = (fs::temp_directory_path() / "written_test.XXXXXX").string();
        path = fs::canonical(::mkdtemp(t.data()));
        ::chmod(path.c_str(), 0755);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
};

void put(const fs::path& p, const std::string& text, fs::perms mode = fs::perms(0755)) {
    std::ofstream(p, std::ios::binary) << text;
    fs::permissions(p, mode);
}

TEST(Written, TheInterpreterLineIsWhatFollowsHashBangOnTheFirstLine) {
    Folder f;
    struct Row {
        std::string text;
        std::optional<std::string> line;
    };
    const std::vector<Row> rows = {
        {"#!/bin/sh\necho hi\n", "/bin/sh"},
        {"#!/usr/bin/env python3\r\nprint(1)\r\n", "/usr/bin/env python3\r"},
        {"#! /bin/sh -e\n", " /bin/sh -e"},
        {"#!", ""},
        {"echo hi\n", std::nullopt},
        {"\x7f"
         "ELF\x02\x01",
         std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& r : rows) {
        put(f.path / "script", r.text);
        EXPECT_EQ(check::interpreter_line(f.path / "script"), r.line) << r.text;
    }
    EXPECT_EQ(check::interpreter_line(f.path / "missing"), std::nullopt);
}

TEST(Written, AnInterpreterThatCannotRunIsNamedWithItsRemedy) {
    Folder f;
    put(f.path / "interp", "#!/bin/sh\n");
    struct Row {
        std::string line;
        std::vector<std::string> said;  // empty: nothing stops it
    };
    const std::vector<Row> rows = {
        {"/bin/sh", {}},
        {" /bin/sh -e", {}},
        {"/usr/bin/env sh", {}},
        {"/usr/bin/env -S sh -e", {}},
        {"/bin/sh\r", {"its first line, #!/bin/sh, ends with a carriage return", "dos2unix"}},
        {"/usr/bin/env python3\r", {"#!/usr/bin/env python3, ends with a carriage return"}},
        {"", {"names no interpreter"}},
        {"sh", {"by a relative path", "#!/usr/bin/env sh"}},
        {"/nowhere/interp-x", {"/nowhere/interp-x, which this machine does not have"}},
        {"/nowhere/sh", {"which this machine does not have; it has /", "#!/usr/bin/env sh"}},
        {"/usr/bin/env no-such-tool-x",
         {"asks env for no-such-tool-x, which no folder of the run's PATH"}},
        {(f.path / "interp").string(),
         {"lies outside the system folders", "--allow " + f.path.string()}},
    };
    for (const Row& r : rows) {
        const std::string said = check::interpreter_trouble(r.line);
        if (r.said.empty()) {
            EXPECT_EQ(said, "") << r.line;
        }
        for (const std::string& s : r.said)
            EXPECT_NE(said.find(s), std::string::npos) << r.line << ": " << said;
        EXPECT_EQ(said.find('\r'), std::string::npos) << "a carriage return said as it is";
    }
}

TEST(Written, AScriptsFolderIsShownOnlyWhereNothingElseIsShownWithIt) {
    Folder f;
    fs::create_directories(f.path / "home" / "work");
    fs::create_directories(f.path / "cases" / "demo");
    const std::vector<fs::path> hidden = {f.path / "cases"};
    const char* was = std::getenv("HOME");
    const std::string home_before = was ? was : "";
    ::setenv("HOME", (f.path / "home").c_str(), 1);
    struct Row {
        fs::path script;
        fs::path shown;       // the folder shown, or empty
        std::string why_not;  // what is said when it is not
    };
    const std::vector<Row> rows = {
        {f.path / "home" / "work" / "s.py", f.path / "home" / "work", ""},
        {f.path / "home" / "s.py", {}, "it is your home folder"},
        {f.path / "s.py", {}, "it holds your home folder"},
        {f.path / "cases" / "s.py", {}, ""},
        {f.path / "cases" / "demo" / "s.py", {}, ""},
        {"/usr/bin/s.py", {}, ""},
        {"/s.py", {}, "it holds the temporary folder"},
    };
    for (const Row& r : rows) {
        std::string why_not;
        EXPECT_EQ(check::script_folder(r.script, hidden, why_not), r.shown) << r.script;
        EXPECT_NE(why_not.find(r.why_not), std::string::npos) << r.script << ": " << why_not;
        if (r.why_not.empty()) {
            EXPECT_EQ(why_not, "") << r.script;
        }
    }
    // A folder the runs' user may not read is not shown, and said.
    ::chmod((f.path / "home" / "work").c_str(), 0700);
    std::string why_not;
    const fs::path shown = check::script_folder(f.path / "home" / "work" / "s.py", hidden, why_not);
    if (check::program_uid() != ::getuid()) {
        EXPECT_EQ(shown, fs::path());
        EXPECT_NE(why_not.find("may not read it"), std::string::npos) << why_not;
    }
    if (home_before.empty())
        ::unsetenv("HOME");
    else
        ::setenv("HOME", home_before.c_str(), 1);
}

TEST(Written, TheLineThatBuildsTheProgramNamesItsSourcesAsThePersonDoes) {
    check::Build b;
    b.compiler = "cc";
    b.flags = {"-O2", "-Wall", "-std=c17"};
    b.sources = {"main.c", "sets.c"};
    b.libs = {"-lm"};
    struct Row {
        std::string word;
        std::vector<std::string> more;
        std::vector<std::string> line;
    };
    const std::vector<Row> rows = {
        {"./",
         {},
         {"cc", "-O2", "-Wall", "-std=c17", "./main.c", "./sets.c", "-o", "./setcalc", "-lm"}},
        {"proj/",
         {},
         {"cc", "-O2", "-Wall", "-std=c17", "proj/main.c", "proj/sets.c", "-o", "proj/setcalc",
          "-lm"}},
        {"setcalc.c",
         {},
         {"cc", "-O2", "-Wall", "-std=c17", "setcalc.c", "-o", "./setcalc", "-lm"}},
        {"/a/b/main.c",
         {"/a/b/sets.c", "/a/b/sets.h", "lib.cpp"},
         {"cc", "-O2", "-Wall", "-std=c17", "/a/b/main.c", "/a/b/sets.c", "lib.cpp", "-o",
          "/a/b/setcalc", "-lm"}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(check::replay_build_line(b, r.word, r.more, "setcalc"), r.line) << r.word;
    EXPECT_EQ(
        check::build_line(b, {"x.c"}, "x"),
        (std::vector<std::string>{"cc", "-O2", "-Wall", "-std=c17", "x.c", "-o", "x", "-lm"}));
}

TEST(Written, OnlyPlainSourcesAndHeadersAreBuiltWithASource) {
    Folder f;
    put(f.path / "a.c", "", fs::perms(0644));
    put(f.path / "b.hpp", "", fs::perms(0644));
    put(f.path / "notes.txt", "", fs::perms(0644));
    fs::create_directory(f.path / "dir.c");
    fs::create_symlink(f.path / "a.c", f.path / "link.c");
    struct Row {
        fs::path path;
        bool built;
    };
    const std::vector<Row> rows = {
        {f.path / "a.c", true},    {f.path / "b.hpp", true},  {f.path / "notes.txt", false},
        {f.path / "dir.c", false}, {f.path / "link.c", true}, {f.path / "missing.c", false},
    };
    for (const Row& r : rows) EXPECT_EQ(check::is_build_file(r.path), r.built) << r.path;
}

}  // namespace
