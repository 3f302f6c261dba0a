// collection-check: runs the transcript cases of one of the collection's programs against
// any implementation of it, each run contained in a sandbox, and says case by case whether
// it holds.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "check/build.hpp"
#include "check/case.hpp"
#include "check/formats.hpp"
#include "check/grade.hpp"
#include "check/judge.hpp"
#include "check/platform.hpp"
#include "check/random.hpp"
#include "check/regrade.hpp"
#include "check/report.hpp"
#include "check/run.hpp"
#include "check/sandbox.hpp"

namespace fs = std::filesystem;

namespace {

const char* const kUsage =
    "usage: collection-check [OPTION...] PROGRAM EXECUTABLE [ARGUMENT...]\n"
    "       collection-check [OPTION...] PROGRAM SOURCE [SOURCE...] [-- ARGUMENT...]\n"
    "       collection-check --grade DIR [--report OUT] [--student NAME...] [OPTION...] PROGRAM\n"
    "       collection-check --record NAME --cases DIR [--kind KIND] PROGRAM EXECUTABLE < INPUT\n"
    "       collection-check --list [--all] PROGRAM\n"
    "       collection-check --random N [--seed S] [OPTION...] PROGRAM EXECUTABLE\n"
    "\n"
    "Runs the transcript cases of PROGRAM, one of the collection's programs, against\n"
    "EXECUTABLE (looked up on PATH when it holds no slash; or a C or C++ source file, or\n"
    "a folder of them, built first), started with the ARGUMENTs\n"
    "before each case's own arguments, each case in a fresh working folder.\n"
    "The SOURCE files (and headers) named after a source file are built with it, up to\n"
    "\"--\" or the first word that names none; the headers its sources include by a plain\n"
    "name (\"myset.h\") are taken from their folder. A script's own folder is visible to\n"
    "its runs, read-only.\n"
    "By default only the exercise cases run: valid input whose output and status the\n"
    "exercise itself fixes. The collection cases rest on this collection's own choices.\n"
    "Every run is sandboxed: it sees the system read-only, its working folder, and\n"
    "nothing else of the machine (no network, no other process, no case); --walls says\n"
    "how, here.\n"
    "\n"
    "  --all              run the collection cases too, and compare every exit status\n"
    "  --case NAME        run only the case NAME, whatever its kind\n"
    "  --list             list the cases instead of running them, one a line: its name,\n"
    "                     kind, points and visibility (NAME KIND POINTS VISIBILITY)\n"
    "  --cases DIR        read the cases from DIR/PROGRAM/ instead of the installed ones\n"
    "  -j, --jobs N       run N cases side by side (default: the number of processors)\n"
    "  --first-failure    stop at the first failing case\n"
    "  --format FORMAT    text (the default), json, gradescope, junit or tap\n"
    "  --presentation-credit F\n"
    "                     the share (0 to 1) of a case's points earned when only the\n"
    "                     spacing of its output differs (default 0)\n"
    "  --memcheck         run every case under Valgrind's memcheck: a memory fault fails\n"
    "                     the case with the verdict memory-error\n"
    "  --cflags FLAGS     more flags for the compiler, after -O2 -Wall -std=c17 or c++20\n"
    "                     (a word beginning with -l goes after the sources)\n"
    "  --libs FLAGS       flags for the linker, after the sources (C links -lm always)\n"
    "\n"
    "Random sessions against the collection's own PROGRAM:\n"
    "  --random N         run N random sessions of valid input on EXECUTABLE and on\n"
    "                     the collection's own PROGRAM (installed beside the checker)\n"
    "                     instead of the cases, and compare them; a session on which\n"
    "                     they differ is shrunk to the smallest that still differs\n"
    "                     (with --grade: N sessions more for every student, drawn from\n"
    "                     a seed of their own)\n"
    "  --seed S           the seed the sessions are drawn from (default: drawn, and\n"
    "                     printed); the same seed draws the same sessions\n"
    "  --session K        run only session K of the seed\n"
    "  --random-points P  what each random session is worth (default 1)\n"
    "\n"
    "Grading a class:\n"
    "  --grade DIR        grade every folder of DIR (named after its student, holding an\n"
    "                     executable named PROGRAM or sources), N submissions side by side;\n"
    "                     or a platform's export: Moodle's .zip, Canvas's folder, GitHub\n"
    "                     Classroom's clones\n"
    "  --report OUT       where the grades go (default DIR-report): grades.csv,\n"
    "                     results.jsonl, feedback/NAME.txt and report.html\n"
    "  --student NAME     grade only the student NAME (may be repeated) into the existing\n"
    "                     report: their rows, feedback and page entries are replaced,\n"
    "                     the others kept (all are graded again when the cases changed)\n"
    "  --cache-size MIB   the most the cache of builds may hold (default 256; 0: no\n"
    "                     cache, every build is made anew)\n"
    "\n"
    "Writing cases:\n"
    "  --record NAME      run EXECUTABLE on standard input and write the case NAME, with\n"
    "                     what it printed and its status, into DIR/PROGRAM/ (--cases DIR)\n"
    "  --kind KIND        the recorded case's kind: exercise (the default: graded by\n"
    "                     default, as a teacher's case is) or collection\n"
    "A case folder holds the files input, output, status, args, kind, points,\n"
    "visibility, compare (exact, blanks or checker) and more: collection-check(1),\n"
    "CASE FORMAT.\n"
    "\n"
    "Limits of each case (a case past one fails with the limit's verdict):\n"
    "  --timeout S        wall time in seconds (default: twenty times the collection's\n"
    "                     own program's time on the case, at least 1; 10 without it)\n"
    "  --cpu S            processor time in seconds, of each process (default 5)\n"
    "  --memory MIB       memory of a case's processes together, in MiB (default 512;\n"
    "                     0: none)\n"
    "  --output-limit MIB what standard output and error may each hold (default 8)\n"
    "  --processes N      processes and threads at once (default 32)\n"
    "  --file-size MIB    the largest file the program may write (default 64)\n"
    "  --open-files N     open files of each process (default 64)\n"
    "\n"
    "The sandbox:\n"
    "  --allow PATH       make PATH visible, read-only, inside the sandbox (an\n"
    "                     interpreter outside the system folders, say); may be repeated\n"
    "  --walls            say which walls can hold a run on this machine, what each\n"
    "                     guarantees and which one holds the runs, then exit\n"
    "  --wall WALL        namespaces (the default, where the kernel allows them) or\n"
    "                     landlock (the wall without namespaces, even where they work)\n"
    "  --weaker-wall      accept the wall without namespaces on a kernel whose Landlock is\n"
    "                     older than ABI 6 (signals and abstract sockets not kept in)\n"
    "  --unsandboxed      run without the sandbox where the kernel refuses it: limits and a\n"
    "                     subreaper only; the program can then read and change\n"
    "                     anything its user can\n"
    "  --help             show this text\n"
    "\n"
    "Options may stand anywhere before \"--\"; every word after it is taken as it stands.\n"
    "An option's value may follow it as the next word or after '=' (--cflags=-g).\n"
    "An ARGUMENT naming an existing file or folder is passed as an absolute path; a file\n"
    "so named is visible, read-only, inside the sandbox.\n"
    "Exit status: 0 when every case passed (with --grade: every submission was graded,\n"
    "whatever its score; with --record: the case was written), 1 when a case failed (a\n"
    "submission could not be graded), 2 for a usage error, a sandbox the kernel refuses or\n"
    "a class in which nothing could be graded.\n";

// The widest a student's name is shown in the class's table, in terminal columns.
constexpr std::size_t kNameColumns = 40;

// The collection's programs, whose files a submission must not be and the sandbox hides.
const char* const kOwnPrograms[] = {"textkit",  "textline", "textwalk", "polycalc",
                                    "rollbook", "setcalc",  "gridcalc", "gridheap",
                                    "filetool", "greeter",  "pairsum",  "charecho"};

// Thrown for a command line or a setting that cannot be used: exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    bool all = false;
    bool list = false;
    std::optional<std::string> only;
    std::optional<fs::path> cases;
    unsigned jobs = 0;  // 0: the number of processors
    check::Limits limits;
    check::Containment containment;
    std::string format = "text";
    std::optional<fs::path> grade, report;
    std::vector<std::string> students;  // --student: the ones re-graded into the report
    std::optional<std::string> record;
    check::Kind record_kind = check::Kind::exercise;
    bool first_failure = false, memcheck = false, walls = false;
    double presentation_credit = 0;
    std::string cflags, libs;
    std::uint64_t cache_bytes = check::kDefaultCacheBytes;
    std::vector<std::string> words;  // PROGRAM, EXECUTABLE, ARGUMENT...
    std::vector<std::string> more;   // the files built with a source EXECUTABLE
    // Where the first "--" after EXECUTABLE stood among the words, and whether it is one of
    // them (it came after an earlier "--"): it ends the files built with a source.
    std::optional<std::size_t> dashes;
    bool dashes_kept = false;
    check::RandomPlan random;
    bool timeout_given = false;
};

// A positive number of at most `most`, for option `option`.
double parse_number(const std::string& option, const std::string& text, double most,
                    const char* unit) {
    char* end = nullptr;
    double s = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(s > 0 && s <= most))
        throw UsageError(option + " needs a number of " + unit + " above 0 (got \"" + text + "\")");
    return s;
}

// A whole number from 1 to `most`, for option `option`.
unsigned parse_count(const std::string& option, const std::string& text, unsigned most) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos || std::stoul(text) < 1 ||
        std::stoul(text) > most)
        throw UsageError(option + " needs a whole number from 1 to " + std::to_string(most) +
                         " (got \"" + text + "\")");
    return static_cast<unsigned>(std::stoul(text));
}

std::uint64_t parse_mib(const std::string& option, const std::string& text) {
    return static_cast<std::uint64_t>(parse_number(option, text, 1 << 20, "MiB") * (1 << 20));
}

// The error for the unknown option `word` (`joined`: the value written with it after '='),
// seen when `words` words (PROGRAM, EXECUTABLE, ...) had come before it.
UsageError unknown_option(const std::string& word, const std::optional<std::string>& joined,
                          std::size_t words) {
    const std::string shown = check::visible_line(word + (joined ? "=" + *joined : ""), false);
    std::string said = "unknown option " + shown;
    if (words >= 2)
        said += " (an argument of the program that begins with - goes after --: "
                "collection-check [OPTION...] PROGRAM EXECUTABLE -- " +
                shown + ")";
    return UsageError{said};
}

// The error for the option `word`, which takes no value, written with `joined` after '='.
UsageError no_value(const std::string& word, const std::string& joined) {
    UsageError refused(word + " takes no value (got \"" +
                       check::visible_line(word + "=" + joined, false) + "\")");
    return refused;
}

// Takes the files built with a source file EXECUTABLE out of the words: the words after it
// that name C or C++ sources or headers, up to the first "--" after EXECUTABLE (dropped
// from the words) or the first word that names none. Nothing changes for any other
// EXECUTABLE.
void split_sources(Options& o) {
    std::error_code ec;
    if (o.words.size() < 2 || !check::is_source(o.words[1]) || fs::is_directory(o.words[1], ec))
        return;
    std::size_t end = 2;
    while (end < o.words.size() && (!o.dashes || end < *o.dashes) &&
           check::is_build_file(o.words[end]))
        ++end;
    o.more.assign(o.words.begin() + 2, o.words.begin() + static_cast<long>(end));
    if (o.dashes && o.dashes_kept && *o.dashes == end)
        o.words.erase(o.words.begin() + static_cast<long>(end));
    o.words.erase(o.words.begin() + 2, o.words.begin() + static_cast<long>(end));
}

// Reads the command line; nothing when --help was asked for.
std::optional<Options> parse(int argc, char** argv) {
    Options o;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        // --OPTION=VALUE is --OPTION VALUE.
        std::optional<std::string> joined;
        if (!options_end && word.starts_with("--") && word.find('=') != std::string::npos) {
            joined = word.substr(word.find('=') + 1);
            word.erase(word.find('='));
        }
        auto value = [&]() -> std::string {
            if (joined) {
                std::string v = *joined;
                joined.reset();
                return v;
            }
            if (i + 1 >= argc) throw UsageError(word + " needs a value");
            return argv[++i];
        };
        if (word == "--" && o.words.size() >= 2 && !o.dashes) {
            o.dashes = o.words.size();
            o.dashes_kept = options_end;
        }
        if (options_end || word.size() < 2 || word[0] != '-') {
            o.words.push_back(word);
        } else if (word == "--") {
            options_end = true;
        } else if (word == "--help") {
            return std::nullopt;
        } else if (word == "--all") {
            o.all = true;
        } else if (word == "--list") {
            o.list = true;
        } else if (word == "--case") {
            o.only = value();
        } else if (word == "--timeout") {
            o.limits.wall = parse_number(word, value(), 86400, "seconds");
            o.timeout_given = true;
        } else if (word == "--random") {
            o.random.sessions = parse_count(word, value(), 100000);
        } else if (word == "--session") {
            o.random.first = parse_count(word, value(), 100000);
            o.random.only = true;
        } else if (word == "--random-points") {
            const std::string p = value();
            o.random.points = p == "0" ? 0 : parse_count(word, p, 1000);
        } else if (word == "--seed") {
            const std::string seed = value();
            if (seed.empty() || seed.size() > 19 ||
                seed.find_first_not_of("0123456789") != std::string::npos)
                throw UsageError("--seed needs a whole number from 0 to 10^19 - 1 (got \"" +
                                 check::visible_line(seed, false) + "\")");
            o.random.seed = std::stoull(seed);
            o.random.seed_given = true;
        } else if (word == "--cpu") {
            o.limits.cpu = parse_number(word, value(), 86400, "seconds");
        } else if (word == "--memory") {
            const std::string mib = value();
            o.limits.memory = mib == "0" ? 0 : parse_mib(word, mib);
        } else if (word == "--output-limit") {
            o.limits.output = parse_mib(word, value());
        } else if (word == "--file-size") {
            o.limits.file_size = parse_mib(word, value());
            o.limits.scratch = std::max(o.limits.scratch, o.limits.file_size * 2);
        } else if (word == "--processes") {
            o.limits.processes = parse_count(word, value(), 4096);
        } else if (word == "--open-files") {
            o.limits.open_files = parse_count(word, value(), 65536);
        } else if (word == "--jobs" || word == "-j") {
            o.jobs = parse_count(word, value(), 256);
        } else if (word == "--allow") {
            std::error_code ec;
            const std::string asked = value();
            fs::path allowed = fs::canonical(asked, ec);
            if (ec) throw UsageError("--allow " + asked + ": " + ec.message());
            if (check::beneath(fs::weakly_canonical(fs::temp_directory_path()), allowed))
                throw UsageError("--allow " + allowed.string() +
                                 ": it holds the temporary folder, where every case's working "
                                 "folder is");
            o.containment.allowed.push_back(allowed);
        } else if (word == "--format") {
            o.format = value();
            if (o.format != "text" && o.format != "json" && o.format != "gradescope" &&
                o.format != "junit" && o.format != "tap")
                throw UsageError("--format takes text, json, gradescope, junit or tap (got \"" +
                                 check::visible_line(o.format, false) + "\")");
        } else if (word == "--grade") {
            o.grade = fs::absolute(value());
        } else if (word == "--report") {
            o.report = fs::absolute(value());
        } else if (word == "--student") {
            const std::string name = value();
            if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
                throw UsageError("--student needs the name of a student's folder (got \"" +
                                 check::visible_line(name, false) + "\")");
            o.students.push_back(name);
        } else if (word == "--record") {
            o.record = value();
            if (o.record->empty() || o.record->find('/') != std::string::npos ||
                o.record->starts_with("."))
                throw UsageError("--record needs a case name without a slash, not beginning "
                                 "with a dot");
        } else if (word == "--kind") {
            std::optional<check::Kind> k = check::parse_kind(value());
            if (!k) throw UsageError("--kind takes exercise or collection");
            o.record_kind = *k;
        } else if (word == "--first-failure") {
            o.first_failure = true;
        } else if (word == "--memcheck") {
            o.memcheck = true;
        } else if (word == "--cflags") {
            o.cflags = value();
        } else if (word == "--libs") {
            o.libs = value();
        } else if (word == "--cache-size") {
            const std::string mib = value();
            o.cache_bytes = mib == "0" ? 0 : parse_mib(word, mib);
        } else if (word == "--presentation-credit") {
            std::string text = value();
            char* end = nullptr;
            double f = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || !(f >= 0 && f <= 1))
                throw UsageError("--presentation-credit needs a number from 0 to 1 (got \"" + text +
                                 "\")");
            o.presentation_credit = f;
        } else if (word == "--unsandboxed") {
            o.containment.sandboxed = false;
        } else if (word == "--walls") {
            o.walls = true;
        } else if (word == "--wall") {
            const std::string wall = value();
            if (wall != "namespaces" && wall != "landlock")
                throw UsageError("--wall takes namespaces or landlock (got \"" +
                                 check::visible_line(wall, false) + "\")");
            o.containment.landlock_only = wall == "landlock";
        } else if (word == "--weaker-wall") {
            o.containment.weaker_landlock = true;
        } else if (word == "--cases") {
            o.cases = fs::absolute(value());
        } else {
            throw unknown_option(word, joined, o.words.size());
        }
        if (joined) throw no_value(word, *joined);
    }
    split_sources(o);
    if (o.walls) return o;
    if (o.words.empty()) throw UsageError("no PROGRAM given");
    if (o.grade && o.words.size() > 1)
        throw UsageError("--grade takes PROGRAM alone: the submissions are the folders of " +
                         o.grade->string());
    if (o.grade && o.format != "text")
        throw UsageError("--grade writes every format into its report folder; --format is for "
                         "one submission");
    if (!o.students.empty() && !o.grade) throw UsageError("--student goes with --grade DIR");
    if (o.record && !o.cases) throw UsageError("--record needs --cases DIR, where the case goes");
    if (!o.list && !o.grade && o.words.size() < 2) throw UsageError("no EXECUTABLE given");
    if (o.random.only && !o.random.seed_given)
        throw UsageError("--session needs the --seed it was drawn from");
    if (o.random.only && o.grade) throw UsageError("--session is for one submission, not --grade");
    if (o.random.only && o.random.sessions == 0) o.random.sessions = o.random.first;
    if ((o.random.seed_given || o.random.points != 1) && o.random.sessions == 0)
        throw UsageError("--seed and --random-points go with --random N");
    if (o.random.sessions > 0 && (o.record || o.list || o.only))
        throw UsageError("--random runs sessions of its own: not with --record, --list or --case");
    o.random.open = o.all;
    if (o.jobs == 0) o.jobs = std::max(1U, std::thread::hardware_concurrency());
    o.containment.jobs = o.jobs;
    return o;
}

// This program's own file, as /proc/self/exe names it when first asked: ask before
// check::prepare(), after which the checker may be in namespaces of its own.
const fs::path& self_path() {
    static const fs::path self = [] {
        std::error_code ec;
        fs::path p = fs::canonical("/proc/self/exe", ec);
        return ec ? fs::path() : p;
    }();
    return self;
}

// The installed cases beside this program (../share/console-collection/cases).
fs::path installed_cases() {
    return self_path().parent_path().parent_path() / "share/console-collection/cases";
}

// The installed cases, or else the cases of the source tree it was built from.
fs::path default_cases() {
    fs::path installed = installed_cases();
    if (fs::is_directory(installed)) return installed;
    return COLLECTION_SOURCE_CASES;
}

// The programs that have cases, for the message naming them.
std::string program_names(const fs::path& root) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& n : names) all += (all.empty() ? "" : ", ") + n;
    return all;
}

// The cases chosen by the options, in name order, every file of them read.
std::vector<check::Case> select(const Options& o, const fs::path& root) {
    const std::string& program = o.words[0];
    if (!fs::is_directory(root)) throw UsageError(root.string() + ": no such folder of cases");
    if (program.find('/') != std::string::npos || program.starts_with(".") ||
        !fs::is_directory(root / program))
        throw UsageError("unknown program \"" + check::visible_line(program, false) +
                         "\" (the programs are " + program_names(root) + ")");
    std::vector<check::Case> chosen;
    for (check::Case& c : check::load_cases(root / program)) {
        bool wanted = o.only ? c.name == *o.only : o.all || c.kind == check::Kind::exercise;
        if (wanted) chosen.push_back(std::move(c));
    }
    if (o.only && chosen.empty())
        throw UsageError(program + " has no case named \"" + check::visible_line(*o.only, false) +
                         "\"");
    return chosen;
}

// The settings of the grading layer, from the options.
check::Settings settings_of(const Options& o) {
    check::Settings s;
    s.all = o.all;
    s.first_failure = o.first_failure;
    s.memcheck = o.memcheck;
    s.presentation_credit = o.presentation_credit;
    s.jobs = o.jobs;
    s.cflags = o.cflags;
    s.libs = o.libs;
    s.cache_bytes = o.cache_bytes;
    s.timeout_given = o.timeout_given;
    s.limits = o.limits;
    s.containment = o.containment;
    s.replay = {"collection-check"};
    if (o.all) s.replay.emplace_back("--all");
    // The options that change how a case runs, so that the replay runs it the same way.
    const check::Limits plain;
    auto number = [](double v) {
        std::ostringstream n;
        n << v;
        return n.str();
    };
    auto mib = [&](std::uint64_t bytes) { return number(static_cast<double>(bytes) / (1 << 20)); };
    if (o.limits.wall != plain.wall)
        s.replay.insert(s.replay.end(), {"--timeout", number(o.limits.wall)});
    if (o.limits.cpu != plain.cpu) s.replay.insert(s.replay.end(), {"--cpu", number(o.limits.cpu)});
    if (o.limits.memory != plain.memory)
        s.replay.insert(s.replay.end(), {"--memory", mib(o.limits.memory)});
    if (o.limits.output != plain.output)
        s.replay.insert(s.replay.end(), {"--output-limit", mib(o.limits.output)});
    if (o.limits.file_size != plain.file_size)
        s.replay.insert(s.replay.end(), {"--file-size", mib(o.limits.file_size)});
    if (o.limits.processes != plain.processes)
        s.replay.insert(s.replay.end(), {"--processes", std::to_string(o.limits.processes)});
    if (o.limits.open_files != plain.open_files)
        s.replay.insert(s.replay.end(), {"--open-files", std::to_string(o.limits.open_files)});
    for (const fs::path& a : o.containment.allowed)
        s.replay.insert(s.replay.end(), {"--allow", a.string()});
    if (o.containment.sandboxed != check::Containment().sandboxed)
        s.replay.emplace_back("--unsandboxed");
    if (o.memcheck) s.replay.emplace_back("--memcheck");
    if (!o.cflags.empty()) s.replay.insert(s.replay.end(), {"--cflags", o.cflags});
    if (!o.libs.empty()) s.replay.insert(s.replay.end(), {"--libs", o.libs});
    if (o.cases) s.replay.insert(s.replay.end(), {"--cases", o.cases->string()});
    s.program = o.words[0];
    return s;
}

// Warns when EXECUTABLE, found on PATH, is the collection's own program: a student who
// types "setcalc" for "./setcalc" would check the wrong one.
void warn_if_installed(const Options& o) {
    const std::string& word = o.words[1];
    if (word.find('/') != std::string::npos || check::is_source(word)) return;
    std::error_code ec;
    fs::path found;
    try {
        found = fs::canonical(check::find_executable(word), ec);
    } catch (const std::runtime_error&) {
        return;  // said again, as the error it is, when the check starts
    }
    if (ec) return;
    fs::path own = fs::canonical(self_path().parent_path() / o.words[0], ec);
    const bool beside_cases =
        fs::is_directory(found.parent_path().parent_path() / "share/console-collection/cases");
    if ((!ec && own == found) || (beside_cases && word == o.words[0]))
        std::cerr << "collection-check: warning: this checks the collection's own " << word
                  << "; write ./" << word << " to check yours\n";
}

// One submission: the plain report as it goes, or one of the formats at the end.
int check_one_submission(Options& o, const std::vector<check::Case>& cases) {
    check::Settings s = settings_of(o);
    std::vector<std::string> arguments(o.words.begin() + 2, o.words.end());
    warn_if_installed(o);
    check::Subject subject = check::subject_of(s, o.words[1], o.words[1], arguments, o.more);
    const bool text = o.format == "text";
    if (text && !subject.build_message.empty())
        std::cout << (subject.build_verdict == "compile-error" ? "the sources did not compile:\n"
                                                               : "the compiler warns:\n")
                  << subject.build_message;
    if (text && cases.empty())
        std::cout << "no case of " << o.words[0]
                  << " rests on the exercise alone; --all runs the collection cases\n";
    check::SameFailures same;          // a failure shown in full once, then named
    std::vector<std::string> not_run;  // the cases a submission that cannot run holds
    auto print = [&](const check::CaseResult& r, std::size_t index) {
        if (!text) return;
        if (subject.command.empty()) {  // the build said why once: the cases are only named
            not_run.push_back(r.name);
            if (index + 1 == cases.size() || s.first_failure)
                std::cout << check::not_run_lines(not_run) << std::flush;
            return;
        }
        std::cout << check::text_lines(r, same.earlier(r)) << std::flush;
    };
    check::SubmissionResult result = check::check_subject(s, o.words[0], cases, subject, print);
    if (text) {
        if (result.cases.size() < cases.size())
            std::cout << "stopped at the first failure: "
                      << check::quantity(static_cast<double>(cases.size() - result.cases.size()),
                                         "case")
                      << " not run\n";
        std::cout << check::text_count(result.cases);
    } else if (o.format == "json") {
        std::cout << check::to_json(result) << "\n";
    } else if (o.format == "gradescope") {
        std::cout << check::to_gradescope(result);
    } else if (o.format == "junit") {
        std::cout << check::to_junit(result);
    } else {
        std::cout << check::to_tap(result);
    }
    return result.passed() == cases.size() && result.cases.size() == cases.size() ? 0 : 1;
}

// The options of a random session's replay: those that change how a run goes, without the
// folder of cases (a session needs none).
std::vector<std::string> random_replay(const check::Settings& s) {
    std::vector<std::string> words;
    for (std::size_t i = 0; i < s.replay.size(); ++i) {
        if (s.replay[i] == "--cases") {
            ++i;
            continue;
        }
        words.push_back(s.replay[i]);
    }
    return words;
}

// The collection's own PROGRAM, which random sessions are compared with.
fs::path reference_for(const std::string& program) {
    fs::path reference = check::reference_of(program);
    if (reference.empty())
        throw UsageError("random sessions need the collection's own " + program +
                         ", installed beside collection-check; it is not there");
    return reference;
}

// One submission against random sessions: as check_one_submission, the sessions for cases.
int check_random_submission(Options& o) {
    check::Settings s = settings_of(o);
    const fs::path reference = reference_for(o.words[0]);
    check::RandomPlan plan = o.random;
    plan.replay = random_replay(s);
    const std::uint64_t seed = plan.seed_given ? plan.seed : check::drawn_seed();
    std::vector<std::string> arguments(o.words.begin() + 2, o.words.end());
    warn_if_installed(o);
    check::Subject subject = check::subject_of(s, o.words[1], o.words[1], arguments, o.more);
    const bool text = o.format == "text";
    const std::string drawn = "random sessions of " + o.words[0] + " from seed " +
                              std::to_string(seed) + " (--seed " + std::to_string(seed) +
                              " draws the same sessions)\n";
    (text ? std::cout : std::cerr) << drawn << std::flush;
    if (text && !subject.build_message.empty())
        std::cout << (subject.build_verdict == "compile-error" ? "the sources did not compile:\n"
                                                               : "the compiler warns:\n")
                  << subject.build_message;
    // A session that passed, or failed without being shrunk, takes one line as it comes; the
    // shrunk failures are shown in full at the end, by the count.
    check::SameFailures said;
    std::string shrunk;
    std::size_t unshrunk = 0;
    auto print = [&](const check::CaseResult& r) {
        if (!text) return;
        if (r.verdict != check::Verdict::passed && !r.shrunk && !r.session.empty()) {
            ++unshrunk;
            std::cout << check::session_line(r) << std::flush;
        } else if (r.shrunk) {
            shrunk += check::text_lines(r, said.earlier(r));
        } else {
            std::cout << check::text_lines(r, said.earlier(r)) << std::flush;
        }
    };
    check::SubmissionResult result;
    result.program = o.words[0];
    result.submission = subject.name;
    result.build_verdict = subject.build_verdict;
    result.build_message = subject.build_message;
    const auto started = std::chrono::steady_clock::now();
    result.cases = check::check_random(s, o.words[0], plan, seed, subject, reference, print);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (text) {
        if (unshrunk > 0)
            std::cout << "(" << check::quantity(static_cast<double>(unshrunk), "failing session")
                      << " not shrunk: the first " << check::kShrunkFailures
                      << " failing ones are; --seed " << seed
                      << " --session K runs session K alone, shrunk)\n";
        std::cout << shrunk;
        const std::size_t planned = plan.only ? 1 : plan.sessions;
        if (result.cases.size() < planned)
            std::cout << "stopped at the first failure: "
                      << check::quantity(static_cast<double>(planned - result.cases.size()),
                                         "session")
                      << " not run\n";
        std::cout << check::text_count(result.cases);
    } else if (o.format == "json")
        std::cout << check::to_json(result) << "\n";
    else if (o.format == "gradescope")
        std::cout << check::to_gradescope(result);
    else if (o.format == "junit")
        std::cout << check::to_junit(result);
    else
        std::cout << check::to_tap(result);
    return result.passed() == result.cases.size() ? 0 : 1;
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error(path.string() + ": cannot be written");
}

// What grading.json records of the cases and the random sessions: a re-grade into a report
// made with other cases, or other sessions, grades the whole class again.
std::uint64_t grading_digest(const Options& o, const std::vector<check::Case>& cases) {
    const std::string plan = "random " + std::to_string(o.random.sessions) + " points " +
                             std::to_string(o.random.points) + (o.all ? " all" : "");
    check::Case sessions;
    sessions.name = plan;
    std::vector<check::Case> all = cases;
    all.push_back(sessions);
    return check::cases_digest(all);
}

// True when the student `s` is the one `name` names: by the name the teacher reads, or by
// the name of their folder.
bool is_named(const check::Student& s, const std::string& name) {
    return s.name == name || s.folder.filename().string() == name;
}

// Runs EXECUTABLE on standard input and writes what it did as a new case.
int record(Options& o) {
    const fs::path folder = *o.cases / o.words[0] / *o.record;
    if (fs::exists(folder))
        throw UsageError(folder.string() + " already exists: a recorded case never replaces one");
    std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    check::Settings s = settings_of(o);
    std::vector<std::string> arguments(o.words.begin() + 2, o.words.end());
    check::Subject subject = check::subject_of(s, o.words[1], o.words[1], arguments, o.more);
    if (subject.command.empty())
        throw std::runtime_error("it did not build:\n" + subject.build_message);
    check::Case c;
    c.name = *o.record;
    c.input = input;
    check::Scratch scratch(c, std::chrono::seconds(10), s.limits);
    check::Outcome r = check::run_case(c, subject.command, scratch, s.limits, s.containment);
    if (r.end != check::Outcome::End::exited)
        throw std::runtime_error("the program did not end by itself (" +
                                 std::string(r.end == check::Outcome::End::signaled
                                                 ? "killed by a signal"
                                             : r.start_error.empty() ? "a limit stopped it"
                                                                     : r.start_error) +
                                 "): no case is written");
    fs::create_directories(folder);
    write_text(folder / "kind", std::string(check::kind_name(o.record_kind)) + "\n");
    if (!input.empty()) write_text(folder / "input", input);
    write_text(folder / "output", r.out);
    if (r.code != 0) write_text(folder / "status", std::to_string(r.code) + "\n");
    if (!r.err.empty()) write_text(folder / "stderr", r.err);
    std::cout << "recorded " << folder.string() << ": "
              << check::quantity(static_cast<double>(r.out.size()), "byte") << " of output, status "
              << r.code << "\n";
    return 0;
}

// What a re-grade (--student) keeps of the report: the students not named (none when it is
// no re-grade, or when the cases changed), whom to grade (empty: everyone) and the class's
// seed of random sessions that the report was drawn from.
struct Regrade {
    std::vector<check::SubmissionResult> kept;
    std::vector<std::string> only;
    std::optional<std::uint64_t> seed;
};

Regrade regrade_of(const Options& o, const fs::path& out, const fs::path& folder,
                   const std::vector<check::Student>& students,
                   const std::vector<check::Case>& cases) {
    Regrade r;
    if (o.students.empty()) return r;
    for (const std::string& name : o.students)
        if (std::none_of(students.begin(), students.end(),
                         [&](const check::Student& s) { return is_named(s, name); }))
            throw UsageError("--student " + check::visible_line(name, false) +
                             ": no such student in " + folder.string());
    std::string text;
    if (!check::read_file(out / "results.jsonl", text))
        throw UsageError(
            "--student re-grades into an existing report: " + (out / "results.jsonl").string() +
            " cannot be read (grade the class first, or name its --report)");
    std::optional<check::Grading> before;
    std::string recorded;
    if (check::read_file(out / "grading.json", recorded)) before = check::read_grading(recorded);
    if (before && before->program != o.words[0])
        throw UsageError(out.string() + " is a report of " + before->program + ", not of " +
                         o.words[0]);
    if (before) r.seed = before->seed;
    if (!before || before->cases != grading_digest(o, cases)) {
        std::cout << "the cases or the random sessions differ from those " << out.string()
                  << " was graded with: every student is graded again\n";
        return r;
    }
    try {
        r.kept = check::read_results(text);
    } catch (const std::exception& e) {
        throw UsageError((out / "results.jsonl").string() + ": " + e.what());
    }
    r.only = o.students;
    return r;
}

// The name the report folder of the class `given` is named after: the folder, or the archive
// without its ending.
std::string report_base(const fs::path& given) {
    std::string base = given.string();
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    for (const char* ending : {".tar.gz", ".tgz", ".tar", ".zip"})
        if (fs::is_regular_file(given) && base.ends_with(ending) &&
            base.size() > std::strlen(ending))
            return base.substr(0, base.size() - std::strlen(ending));
    return base;
}

// Writes into the report folder `out` the files the gradebook of the platform `platform`
// imports: Moodle's grading worksheet (moodle-grades.csv) or Canvas's gradebook import
// (canvas-grades.csv, its column named after `program`).
void write_gradebooks(const fs::path& out, const std::string& platform, const std::string& program,
                      const std::vector<check::SubmissionResult>& results) {
    if (platform.find("moodle") != std::string::npos)
        write_text(out / "moodle-grades.csv", check::moodle_worksheet(results));
    if (platform.find("canvas") != std::string::npos)
        write_text(out / "canvas-grades.csv", check::canvas_gradebook(results, program));
}

// The line that says which platform's export the class was read as.
std::string platform_line(const std::string& platform, std::size_t students) {
    const std::string who = std::to_string(students) + (students == 1 ? " student" : " students");
    if (platform == "moodle")
        return "a Moodle download of " + who + " (moodle-grades.csv: its grading worksheet)";
    if (platform == "canvas")
        return "a Canvas download of " + who + " (canvas-grades.csv: its gradebook import)";
    if (platform == "github-classroom") return "GitHub Classroom repositories of " + who;
    return "a download of " + platform + " of " + who;
}

// The exit status of a graded class, after saying what was not placed: 2, with what the folder
// holds, when nothing in it could be graded; 1 when a submission could not be; else 0
// (files of no student are said, and change no status).
int class_status(const check::ClassFolder& taken, const fs::path& folder,
                 const std::vector<check::SubmissionResult>& results, bool all_graded) {
    if (!taken.unplaced.empty())
        std::cout << "not graded, of no student: " << check::some_names(taken.unplaced, 10) << "\n";
    const bool any = std::any_of(results.begin(), results.end(), [](const auto& r) {
        return r.build_verdict != "missing" && r.build_verdict != "refused";
    });
    if (!any) {
        std::cerr << "collection-check: nothing in " << folder.string()
                  << " could be graded: it holds " << taken.held
                  << (results.empty() ? "; a class folder holds a folder per student, or a "
                                        "platform's download (Moodle, Canvas, GitHub Classroom)"
                                      : "")
                  << "\n";
        return 2;
    }
    return all_graded ? 0 : 1;
}

// A class: every submission graded, the report folder written, the class's table printed.
int grade(const Options& o, const std::vector<check::Case>& cases) {
    const fs::path folder = *o.grade;
    std::error_code ec;
    if (!fs::is_directory(folder, ec) &&
        !(fs::is_regular_file(folder, ec) && check::is_archive(folder)))
        throw UsageError(
            folder.string() + ": no such folder" +
            (fs::exists(folder, ec) ? " (nor an archive: .zip, .tar, .tar.gz, .tgz)" : ""));
    const fs::path out = o.report ? *o.report : fs::path(report_base(folder) + "-report");
    const bool bar = ::isatty(2) != 0;
    auto progress = [&](std::size_t done, std::size_t all) {
        if (!bar) return;
        const std::size_t width = 30, filled = all == 0 ? width : done * width / all;
        std::cerr << "\rgrading [" << std::string(filled, '#') << std::string(width - filled, '.')
                  << "] " << done << " of " << all << std::flush;
        if (done == all) std::cerr << "\n";
    };
    // The replay is pasted by a student in their own folder: it names no folder of the
    // teacher's (no --allow; the cases as CASES, the folder the teacher hands out).
    check::Settings settings = settings_of(o);
    std::vector<std::string> replay;
    for (std::size_t k = 0; k < settings.replay.size(); ++k) {
        const std::string& word = settings.replay[k];
        if (word == "--allow" && k + 1 < settings.replay.size()) {
            ++k;
        } else if (word == "--cases" && k + 1 < settings.replay.size()) {
            replay.insert(replay.end(), {"--cases", "CASES"});
            settings.replay_note = "CASES: the folder of cases your teacher hands out";
            ++k;
        } else {
            replay.push_back(word);
        }
    }
    settings.replay = replay;
    // Each student's own random sessions, drawn from the class's seed, the program, its cases
    // and their name.
    std::function<std::vector<check::CaseResult>(const check::Subject&)> more;
    check::RandomPlan plan = o.random;
    plan.replay = random_replay(settings);
    // A re-grade of a few students: the report's other students are kept, unless what they
    // were graded against changed.
    const check::ClassFolder taken = check::read_class(folder, check::run_folder());
    const Regrade again = regrade_of(o, out, folder, taken.students, cases);
    const std::uint64_t seed = plan.seed_given ? plan.seed
                               : again.seed    ? *again.seed
                                               : check::drawn_seed();
    fs::path reference;
    if (plan.sessions > 0) {
        reference = reference_for(o.words[0]);
        std::cout << "random sessions of " << o.words[0] << " for each student from seed " << seed
                  << " (--seed " << seed << " draws the same sessions)\n";
        const std::uint64_t digest = check::cases_digest(cases);
        more = [&, digest](const check::Subject& subject) {
            return check::check_random(settings, o.words[0], plan,
                                       check::student_seed(seed, subject.name, o.words[0], digest),
                                       subject, reference);
        };
    }
    std::vector<check::Student> chosen;
    for (const check::Student& student : taken.students)
        if (again.only.empty() ||
            std::any_of(again.only.begin(), again.only.end(),
                        [&](const std::string& name) { return is_named(student, name); }))
            chosen.push_back(student);
    std::vector<check::SubmissionResult> results =
        check::grade_class(settings, o.words[0], cases, chosen, progress, more);
    for (const fs::path& made : taken.made) check::remove_tree(made);
    std::set<std::string> graded;
    for (const check::SubmissionResult& r : results) graded.insert(r.submission);
    if (!again.only.empty()) results = check::merged_class(again.kept, std::move(results));
    check::name_identical(results);
    fs::create_directories(out / "feedback");
    write_text(out / "grading.json",
               check::grading_json(
                   {o.words[0], grading_digest(o, cases),
                    plan.sessions > 0 ? std::optional<std::uint64_t>(seed) : std::nullopt}));
    write_text(out / "grades.csv", check::grades_csv(results));
    write_gradebooks(out, taken.platform, o.words[0], results);
    std::string lines;
    for (const check::SubmissionResult& r : results) lines += check::to_json(r) + "\n";
    write_text(out / "results.jsonl", lines);
    std::vector<std::string> names;
    names.reserve(results.size());
    for (const check::SubmissionResult& r : results) names.push_back(r.submission);
    const std::vector<std::string> files = check::file_names(names);
    for (std::size_t k = 0; k < results.size(); ++k)
        if (graded.contains(results[k].submission))  // the others' feedback is kept
            write_text(out / "feedback" / (files[k] + ".txt"), check::feedback_text(results[k]));
    write_text(out / "report.html", check::report_html(results));
    // Names made visible and cut to kNameColumns, padded by their columns (not bytes): as
    // UTF-8 where the locale is, and with every byte past ASCII as \xHH where it is not.
    const bool utf8 = check::utf8_locale();
    std::vector<std::string> shown;
    std::size_t width = 7;
    for (const check::SubmissionResult& r : results) {
        std::string name = check::visible_text(r.submission, check::Shown::name);
        if (!utf8) name = check::ascii_text(name);
        shown.push_back(check::cut_to_columns(name, kNameColumns, utf8 ? "\u2026" : "~"));
        width = std::max(width, check::columns(shown.back()));
    }
    auto padded = [&](const std::string& name) {
        return name + std::string(width - std::min(width, check::columns(name)), ' ');
    };
    if (taken.platform != "folders")
        std::cout << platform_line(taken.platform, results.size()) << "\n";
    bool all_graded = true;
    char row[256];
    std::snprintf(row, sizeof row, " %8s %8s %8s  %s\n", "score", "of", "percent", "build");
    std::cout << padded("student") << row;
    for (std::size_t k = 0; k < results.size(); ++k) {
        const check::SubmissionResult& r = results[k];
        const double max = r.max_score();
        std::snprintf(row, sizeof row, " %8g %8g %7.1f%%  %s\n", r.score(), max,
                      max > 0 ? 100 * r.score() / max : 0.0,
                      r.build_verdict.empty() ? "executable" : r.build_verdict.c_str());
        std::cout << padded(shown[k]) << row;
        all_graded = all_graded && r.build_verdict != "missing" && r.build_verdict != "refused";
    }
    if (again.only.empty())
        std::cout << results.size() << " submissions graded into " << out.string() << "\n";
    else
        std::cout << graded.size() << " of " << results.size() << " submissions graded again into "
                  << out.string() << " (the others kept)\n";
    return class_status(taken, folder, results, all_graded);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        // Where this program is, read before prepare() (after it, the checker may be in
        // namespaces of its own): the collection's own programs beside it, the cases.
        std::error_code ec;
        const fs::path beside = self_path().parent_path();
        const fs::path installed = installed_cases();
        for (const char* name : kOwnPrograms) {
            const fs::path own = fs::canonical(beside / name, ec);
            if (!ec && fs::is_regular_file(own)) check::own_programs().push_back(own);
        }
        std::optional<Options> o = parse(argc, argv);
        if (!o) {
            std::cout << kUsage;
            return 0;
        }
        if (o->walls) {
            std::cout << check::describe_walls();
            return 0;
        }
        const fs::path root = o->cases ? *o->cases : default_cases();
        std::vector<check::Case> cases;
        if (!o->record) cases = select(*o, root);
        if (o->list) {
            for (const check::Case& c : cases)
                std::cout << check::visible_line(c.name, false) << " " << check::kind_name(c.kind)
                          << " " << c.points << " " << (c.hidden ? "hidden" : "visible") << "\n";
            return 0;
        }
        for (const fs::path& hidden : {root, installed, fs::path(COLLECTION_SOURCE_CASES)})
            check::hidden_paths().push_back(fs::weakly_canonical(hidden, ec));
        // No program under test sees the collection's own programs, but for the one checked
        // itself and one its user allows by its own name.
        for (const fs::path& own : check::own_programs()) check::hidden_paths().push_back(own);
        // Nor any other copy installed in the system folders every run sees.
        for (const fs::path& copy :
             check::installed_copies({std::begin(kOwnPrograms), std::end(kOwnPrograms)}))
            check::hidden_paths().push_back(copy);
        if (std::optional<std::string> refusal = check::prepare(o->containment)) {
            std::cerr << "collection-check: cannot sandbox the program: " << *refusal
                      << "; it is not run (--unsandboxed runs it without the sandbox)\n";
            return 2;
        }
        if (!o->containment.sandboxed)
            std::cerr << "collection-check: warning: --unsandboxed: the program runs with "
                         "limits only and can read and change anything you can\n";
        if (o->record) return record(*o);
        // Each case's wall time limit fits the collection's own program's time on it,
        // unless the user set one.
        const fs::path reference = check::reference_of(o->words[0]);
        if (!o->timeout_given && !reference.empty() && (o->grade || o->random.sessions == 0))
            check::fit_wall_limits(cases, reference, o->limits);
        if (o->grade) return grade(*o, cases);
        if (o->random.sessions > 0) return check_random_submission(*o);
        return check_one_submission(*o, cases);
    } catch (const UsageError& e) {
        std::cerr << "collection-check: " << e.what() << "\nTry 'collection-check --help'.\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "collection-check: " << e.what() << "\n";
        return 2;
    }
}
