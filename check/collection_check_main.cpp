// collection-check: runs the transcript cases of one of the collection's programs against
// any implementation of it, each run contained in a sandbox, and says case by case whether
// it holds.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "check/case.hpp"
#include "check/judge.hpp"
#include "check/report.hpp"
#include "check/run.hpp"
#include "check/sandbox.hpp"

namespace fs = std::filesystem;

namespace {

const char* const kUsage =
    "usage: collection-check [OPTION...] PROGRAM EXECUTABLE [ARGUMENT...]\n"
    "       collection-check --list [--all] PROGRAM\n"
    "\n"
    "Runs the transcript cases of PROGRAM, one of the collection's programs, against\n"
    "EXECUTABLE (looked up on PATH when it holds no slash), started with the ARGUMENTs\n"
    "before each case's own arguments, each case in a fresh working folder.\n"
    "By default only the exercise cases run: valid input whose output and status the\n"
    "exercise itself fixes. The collection cases rest on this collection's own choices.\n"
    "Every run is sandboxed: it sees the system read-only, its working folder, and\n"
    "nothing else of the machine (no network, no other process, no case).\n"
    "\n"
    "  --all              run the collection cases too, and compare every exit status\n"
    "  --case NAME        run only the case NAME, whatever its kind\n"
    "  --list             name the cases and their kind instead of running them\n"
    "  --cases DIR        read the cases from DIR/PROGRAM/ instead of the installed ones\n"
    "  -j, --jobs N       run N cases side by side (default: the number of processors)\n"
    "\n"
    "Limits of each case (a case past one fails with the limit's verdict):\n"
    "  --timeout S        wall time in seconds (default 10)\n"
    "  --cpu S            processor time in seconds, of each process (default 5)\n"
    "  --memory MIB       address space of each process, in MiB (default 512)\n"
    "  --output-limit MIB what standard output and error may each hold (default 8)\n"
    "  --processes N      processes and threads at once (default 32)\n"
    "  --file-size MIB    the largest file the program may write (default 64)\n"
    "  --open-files N     open files of each process (default 64)\n"
    "\n"
    "The sandbox:\n"
    "  --allow PATH       make PATH visible, read-only, inside the sandbox (an\n"
    "                     interpreter outside the system folders, say); may be repeated\n"
    "  --unsandboxed      run without the sandbox where the kernel refuses it: limits and a\n"
    "                     process group only; the program can then read and change\n"
    "                     anything its user can\n"
    "  --help             show this text\n"
    "\n"
    "Options may stand anywhere before \"--\"; every word after it is taken as it stands.\n"
    "An ARGUMENT naming an existing file or folder is passed as an absolute path; a file\n"
    "so named is visible, read-only, inside the sandbox.\n"
    "Exit status: 0 when every case passed, 1 when a case failed, 2 for a usage error or\n"
    "a sandbox the kernel refuses.\n";

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
    std::vector<std::string> words;  // PROGRAM, EXECUTABLE, ARGUMENT...
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

// Reads the command line; nothing when --help was asked for.
std::optional<Options> parse(int argc, char** argv) {
    Options o;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw UsageError(word + " needs a value");
            return argv[++i];
        };
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
        } else if (word == "--cpu") {
            o.limits.cpu = parse_number(word, value(), 86400, "seconds");
        } else if (word == "--memory") {
            o.limits.memory = parse_mib(word, value());
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
            fs::path allowed = fs::canonical(value(), ec);
            if (ec) throw UsageError("--allow " + std::string(argv[i]) + ": " + ec.message());
            if (check::beneath(fs::weakly_canonical(fs::temp_directory_path()), allowed))
                throw UsageError("--allow " + allowed.string() +
                                 ": it holds the temporary folder, where every case's working "
                                 "folder is");
            o.containment.allowed.push_back(allowed);
        } else if (word == "--unsandboxed") {
            o.containment.sandboxed = false;
        } else if (word == "--cases") {
            o.cases = fs::absolute(value());
        } else {
            throw UsageError("unknown option " + word +
                             " (put -- before arguments of the program that begin with -)");
        }
    }
    if (o.words.empty()) throw UsageError("no PROGRAM given");
    if (!o.list && o.words.size() < 2) throw UsageError("no EXECUTABLE given");
    if (o.jobs == 0) o.jobs = std::max(1U, std::thread::hardware_concurrency());
    return o;
}

// The installed cases beside this program (../share/console-collection/cases).
fs::path installed_cases() {
    fs::path self = fs::read_symlink("/proc/self/exe");
    return self.parent_path().parent_path() / "share/console-collection/cases";
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

// The command every case starts: the executable and the ARGUMENTs, those naming a file
// made absolute and visible inside the sandbox.
std::vector<std::string> command_of(Options& o) {
    fs::path executable = check::find_executable(o.words[1]);
    std::error_code ec;
    fs::path real = fs::canonical(executable, ec);
    std::vector<std::string> command(1, ec ? executable.string() : real.string());
    for (std::size_t i = 2; i < o.words.size(); ++i) {
        std::string arg = o.words[i];
        if (!arg.empty() && fs::exists(arg, ec)) {
            fs::path file = fs::canonical(arg, ec);
            if (!ec) {
                if (arg[0] != '/') arg = fs::absolute(arg).string();
                if (fs::is_regular_file(file)) o.containment.allowed.push_back(file);
            }
        }
        command.push_back(arg);
    }
    return command;
}

// One case from start to verdict.
check::CaseResult check_one(const Options& o, const check::Case& c,
                            const std::vector<std::string>& command) {
    check::CaseResult r;
    r.name = c.name;
    r.kind = c.kind;
    r.points = c.points;
    r.hidden = c.hidden;
    const auto limit = std::chrono::milliseconds(static_cast<long>(o.limits.wall * 1000));
    try {
        check::Scratch scratch(c, limit, o.limits);
        check::Outcome outcome = check::run_case(c, command, scratch, o.limits, o.containment);
        check::Judgement j = check::judge(c, outcome, scratch.path(), o.all, o.limits);
        r.verdict = j.verdict;
        r.message = j.message;
        r.wall_seconds = outcome.wall_seconds;
        r.cpu_seconds = outcome.cpu_seconds;
        r.max_rss_kib = outcome.max_rss_kib;
        std::string left = scratch.remove();
        if (!left.empty())
            std::cerr << "collection-check: a working folder stayed: " << left << "\n";
    } catch (const std::exception& e) {
        r.verdict = check::Verdict::not_started;
        r.message = std::string("  the case could not be run: ") + e.what() + "\n";
    }
    if (r.verdict == check::Verdict::passed) r.score = r.points;
    return r;
}

// Runs the chosen cases, `o.jobs` side by side, printing a line per case in case order
// as soon as it and every case before it have ended, then the count; the exit status.
int check_all(Options& o, const std::vector<check::Case>& cases) {
    const std::vector<std::string> command = command_of(o);
    if (cases.empty())
        std::cout << "no case of " << o.words[0]
                  << " rests on the exercise alone; --all runs the collection cases\n";
    std::vector<std::optional<check::CaseResult>> results(cases.size());
    std::mutex m;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i; (i = next++) < cases.size();) {
            check::CaseResult r = check_one(o, cases[i], command);
            std::lock_guard<std::mutex> lock(m);
            results[i] = std::move(r);
            ready.notify_one();
        }
    };
    std::vector<std::thread> workers;
    const std::size_t count = std::min<std::size_t>(o.jobs, cases.size());
    for (std::size_t w = 0; w < count; ++w) workers.emplace_back(worker);
    std::vector<check::CaseResult> all;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::unique_lock<std::mutex> lock(m);
        ready.wait(lock, [&] { return results[i].has_value(); });
        all.push_back(std::move(*results[i]));
        results[i].reset();
        lock.unlock();
        std::cout << check::text_lines(all.back()) << std::flush;
    }
    for (std::thread& t : workers) t.join();
    std::cout << check::text_count(all);
    return std::all_of(
               all.begin(), all.end(),
               [](const check::CaseResult& r) { return r.verdict == check::Verdict::passed; })
               ? 0
               : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::optional<Options> o = parse(argc, argv);
        if (!o) {
            std::cout << kUsage;
            return 0;
        }
        const fs::path root = o->cases ? *o->cases : default_cases();
        std::vector<check::Case> cases = select(*o, root);
        if (o->list) {
            for (const check::Case& c : cases)
                std::cout << check::visible_line(c.name, false) << " " << check::kind_name(c.kind)
                          << "\n";
            return 0;
        }
        if (std::optional<std::string> refusal = check::prepare(o->containment)) {
            std::cerr << "collection-check: cannot sandbox the program: " << *refusal
                      << "; it is not run (--unsandboxed runs it without the sandbox)\n";
            return 2;
        }
        if (!o->containment.sandboxed)
            std::cerr << "collection-check: warning: --unsandboxed: the program runs with "
                         "limits only and can read and change anything you can\n";
        std::error_code ec;
        for (const fs::path& hidden : {root, installed_cases(), fs::path(COLLECTION_SOURCE_CASES)})
            check::hidden_paths().push_back(fs::weakly_canonical(hidden, ec));
        return check_all(*o, cases);
    } catch (const UsageError& e) {
        std::cerr << "collection-check: " << e.what() << "\nTry 'collection-check --help'.\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "collection-check: " << e.what() << "\n";
        return 2;
    }
}
