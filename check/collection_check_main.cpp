// collection-check: runs the transcript cases of one of the collection's programs against
// any implementation of it, and says case by case whether it holds.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/case.hpp"
#include "check/compare.hpp"
#include "check/run.hpp"

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
    "\n"
    "  --all          run the collection cases too, and compare every exit status\n"
    "  --case NAME    run only the case NAME, whatever its kind\n"
    "  --list         name the cases and their kind instead of running them\n"
    "  --timeout S    stop a case that has not ended after S seconds (default 10)\n"
    "  --cases DIR    read the cases from DIR/PROGRAM/ instead of the installed ones\n"
    "  --help         show this text\n"
    "\n"
    "Options may stand anywhere before \"--\"; every word after it is taken as it stands.\n"
    "An ARGUMENT naming an existing file or folder is passed as an absolute path.\n"
    "Exit status: 0 when every case passed, 1 when a case failed, 2 for a usage error.\n";

// Thrown for a command line or a setting that cannot be used: exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    bool all = false;
    bool list = false;
    std::optional<std::string> only;
    double timeout = 10;
    std::optional<fs::path> cases;
    std::vector<std::string> words;  // PROGRAM, EXECUTABLE, ARGUMENT...
};

// The seconds of a --timeout: a positive number of at most a day.
double parse_seconds(const std::string& text) {
    char* end = nullptr;
    double s = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(s > 0 && s <= 86400))
        throw UsageError("--timeout needs a number of seconds above 0 (got \"" + text + "\")");
    return s;
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
            o.timeout = parse_seconds(value());
        } else if (word == "--cases") {
            o.cases = fs::absolute(value());
        } else {
            throw UsageError("unknown option " + word +
                             " (put -- before arguments of the program that begin with -)");
        }
    }
    if (o.words.empty()) throw UsageError("no PROGRAM given");
    if (!o.list && o.words.size() < 2) throw UsageError("no EXECUTABLE given");
    return o;
}

// The installed cases beside this program (../share/console-collection/cases), or else the
// cases of the source tree it was built from.
fs::path default_cases() {
    fs::path self = fs::read_symlink("/proc/self/exe");
    fs::path installed = self.parent_path().parent_path() / "share/console-collection/cases";
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

// The cases chosen by the options, in name order.
std::vector<check::Case> select(const Options& o, const fs::path& root) {
    const std::string& program = o.words[0];
    if (!fs::is_directory(root)) throw UsageError(root.string() + ": no such folder of cases");
    if (program.find('/') != std::string::npos || program.starts_with(".") ||
        !fs::is_directory(root / program))
        throw UsageError("unknown program \"" + program + "\" (the programs are " +
                         program_names(root) + ")");
    std::vector<check::Case> chosen;
    for (check::Case& c : check::load_cases(root / program)) {
        bool wanted = o.only ? c.name == *o.only : o.all || c.kind == check::Kind::exercise;
        if (wanted) chosen.push_back(std::move(c));
    }
    if (o.only && chosen.empty())
        throw UsageError(program + " has no case named \"" + *o.only + "\"");
    return chosen;
}

// Runs the chosen cases one after the other, printing a line per case, the difference of
// each failure and the count; the exit status.
int check_all(const Options& o, const std::vector<check::Case>& cases) {
    fs::path executable = check::find_executable(o.words[1]);
    std::vector<std::string> command(1, executable.string());
    for (std::size_t i = 2; i < o.words.size(); ++i) {
        std::string arg = o.words[i];
        std::error_code ec;
        if (!arg.empty() && arg[0] != '/' && fs::exists(arg, ec)) arg = fs::absolute(arg).string();
        command.push_back(arg);
    }
    const auto limit = std::chrono::milliseconds(static_cast<long>(o.timeout * 1000));
    int passed = 0, failed = 0;
    if (cases.empty())
        std::cout << "no case of " << o.words[0]
                  << " rests on the exercise alone; --all runs the collection cases\n";
    for (const check::Case& c : cases) {
        std::string why;
        try {
            check::Scratch scratch(c, limit);
            check::Launch launch;
            launch.argv = command;
            launch.argv.insert(launch.argv.end(), c.args.begin(), c.args.end());
            launch.folder = scratch.path();
            launch.stdout_to = c.stdout_to;
            if (c.input) launch.input = c.folder / "input";
            check::Outcome outcome = check::run(launch, limit);
            why = check::judge(c, outcome, scratch.path(), o.all, o.timeout);
        } catch (const std::exception& e) {
            why = std::string("  the case could not be run: ") + e.what() + "\n";
        }
        std::cout << c.name << (why.empty() ? " ok\n" : " FAILED\n") << why << std::flush;
        ++(why.empty() ? passed : failed);
    }
    std::cout << passed << " passed, " << failed << " failed\n";
    return failed == 0 ? 0 : 1;
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
                std::cout << c.name << " " << check::kind_name(c.kind) << "\n";
            return 0;
        }
        return check_all(*o, cases);
    } catch (const UsageError& e) {
        std::cerr << "collection-check: " << e.what() << "\nTry 'collection-check --help'.\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "collection-check: " << e.what() << "\n";
        return 2;
    }
}
