#include "check/grade.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "check/arrive.hpp"
#include "check/build.hpp"
#include "check/judge.hpp"
#include "check/regrade.hpp"
#include "check/report_page.hpp"
#include "check/run.hpp"
#include "check/scripts.hpp"

namespace fs = std::filesystem;

namespace check {

namespace {

constexpr std::size_t kInputLines = 10;  // input lines shown for a failure
constexpr const char* kMemcheckLog = ".collection-check-memcheck.log";

// The help shown under a failure of a visible case: its input, arguments, files, and the
// command that runs it alone.
std::string help_for(const Settings& s, const Case& c, const Subject& subject) {
    std::string h;
    static const std::string none;
    const std::string& input = c.input ? *c.input : none;
    if (input.empty()) {
        h += "  standard input was empty\n";
    } else {
        auto lines = std::count(input.begin(), input.end(), '\n') + (input.back() != '\n');
        h += "  the input fed (" + quantity(static_cast<double>(lines), "line") + "):\n" +
             first_lines(input, kInputLines);
    }
    if (!c.args.empty()) h += "  its arguments: " + shell_words(c.args) + "\n";
    if (!c.files.empty()) {
        std::string names;
        for (const Entry& e : c.files)
            if (e.path.find('/') == std::string::npos)
                names += (names.empty() ? "" : ", ") + visible_line(e.path, false) +
                         (e.type == Entry::Type::folder ? "/" : "");
        h += "  its working folder holds: " + names + "\n";
    }
    if (c.has_setup) h += "  a setup script prepares its working folder first\n";
    std::vector<std::string> replay = s.replay;
    replay.insert(replay.end(), {"--case", c.name});
    // Every word after "--" is taken as it stands: a path that begins with '-' stays a path.
    if (std::any_of(subject.replay_words.begin(), subject.replay_words.end(),
                    [](const std::string& w) { return w.starts_with("-"); }))
        replay.emplace_back("--");
    replay.push_back(s.program);
    replay.insert(replay.end(), subject.replay_words.begin(), subject.replay_words.end());
    h += "  to run it alone: " + shell_words(replay) + "\n";
    for (const std::string& note : {subject.replay_note, s.replay_note})
        if (!note.empty()) h += "    (" + note + ")\n";
    return h;
}

// The status Valgrind ends with when it found a fault: drawn anew for every run, from
// numbers programs seldom choose, and never the status the case expects.
int memcheck_status(const Case& c) {
    static std::mutex m;
    static std::mt19937 draw{std::random_device{}()};
    std::lock_guard<std::mutex> lock(m);
    for (;;) {
        const int n = 150 + static_cast<int>(draw() % 100);
        if (n != c.status) return n;
    }
}

// Valgrind's memcheck in front of the command, ending with `status` when it found a fault
// in the program or any program it starts.
std::vector<std::string> under_memcheck(const std::vector<std::string>& command, int status) {
    std::vector<std::string> wrapped = {fs::canonical(find_executable("valgrind")).string(),
                                        "--tool=memcheck",
                                        "-q",
                                        "--vgdb=no",
                                        "--trace-children=yes",
                                        "--error-exitcode=" + std::to_string(status),
                                        std::string("--log-file=") + kMemcheckLog};
    wrapped.insert(wrapped.end(), command.begin(), command.end());
    return wrapped;
}

// What a failing run of the script `subject` adds to its message: what stops it from
// starting, and, when it seems to look for a file beside it, why its folder is not seen.
std::string script_notes(const Subject& subject, const Outcome& o) {
    std::string notes = subject.start_trouble;
    if (!subject.unseen_folder.empty() && looks_for_a_file(o.err)) notes += subject.unseen_folder;
    return notes;
}

}  // namespace

CaseResult check_case(const Settings& s, const Case& given, const Subject& subject,
                      const std::function<void(Case&)>& complete) {
    Case filled;
    const Case* expected = &given;
    const Case& c = given;
    CaseResult r;
    r.name = c.name;
    r.kind = c.kind;
    r.points = c.points;
    r.hidden = c.hidden;
    if (subject.command.empty()) {
        r.verdict = subject.build_verdict == "compile-error" ? Verdict::compile_error
                                                             : Verdict::not_started;
        r.message = subject.build_verdict == "compile-error"
                        ? "  the submission could not be built\n"
                    : subject.build_verdict == "refused"
                        ? "  the submission is refused: " + plain_lines(subject.build_message, 1)
                        : "  there is nothing to check\n";
        return r;
    }
    Limits limits = s.limits;
    if (c.wall > 0) limits.wall = c.wall;  // the case's own limit, from the reference's time
    Containment containment = s.containment;
    containment.allowed.insert(containment.allowed.end(), subject.visible.begin(),
                               subject.visible.end());
    std::vector<std::string> command = subject.command;
    const int fault_status = s.memcheck ? memcheck_status(c) : -1;
    if (s.memcheck) {
        containment.allowed.emplace_back(command.front());  // Valgrind starts it by its path
        containment.needs_proc = true;                      // Valgrind reads its own maps
        command = under_memcheck(command, fault_status);
        limits.memory = 1ULL << 44;  // Valgrind reserves far more than it uses
        limits.wall *= 10;
        limits.cpu *= 10;
    }
    const auto setup_limit = std::chrono::milliseconds(static_cast<long>(s.limits.wall * 1000));
    try {
        Scratch scratch(c, setup_limit, limits);
        std::vector<std::string> env;
        if (s.memcheck) env.push_back("TMPDIR=" + scratch.path().string());  // Valgrind's own files
        Outcome o = run_case(c, command, scratch, limits, containment, env);
        if (complete) {
            filled = given;
            complete(filled);
            expected = &filled;
        }
        const Case& e = *expected;
        // Valgrind's own status says a fault was found; the program's is then unknown, and
        // the rest is judged as if it were the expected one.
        const bool fault = s.memcheck && o.end == Outcome::End::exited && o.code == fault_status;
        if (fault) o.code = e.status;
        Limits judged = s.limits;
        judged.wall = limits.wall / (s.memcheck ? 10 : 1);
        Judgement j = judge(e, o, scratch.path(), s.all, judged, s.containment);
        r.verdict = j.verdict;
        r.message = j.message;
        r.key = j.key;
        if (r.verdict == Verdict::not_started)
            r.message += script_notes(subject, o);
        else if (r.verdict != Verdict::passed)
            r.message = script_notes(subject, o) + r.message;
        if (s.memcheck && r.verdict != Verdict::not_started && r.verdict != Verdict::time_limit) {
            // The log is only the message: the program can reach it, and remove or forge it
            // (a forged one fails only the program that forged it).
            std::string log;
            try {
                read_beneath(scratch.path(), kMemcheckLog, log);
            } catch (const std::exception&) {
                log.clear();
            }
            if (fault || !log.empty()) {
                r.verdict = Verdict::memory_error;
                r.message =
                    "  the memory checker found a fault" +
                    (log.empty() ? std::string(" (its log is gone: the program removed it)\n")
                                 : ":\n" + plain_lines(log, 20)) +
                    r.message;
                r.key.clear();  // the log tells this failure from another
            }
        }
        r.wall_seconds = o.wall_seconds;
        r.cpu_seconds = o.cpu_seconds;
        r.max_rss_kib = o.max_rss_kib;
        if (!c.hidden) r.fed = c.input.value_or("");
        if (!c.hidden && r.verdict != Verdict::passed) {  // for the teacher's page, bounded
            const std::string want = e.output.value_or("");
            r.input = excerpt_of(c.input.value_or(""));
            r.expected = excerpt_of(want);
            r.actual = excerpt_of(o.out);
            // Only a bounded part of each output outlives the case, whatever it printed.
            const std::size_t at = first_difference_at(want, o.out);
            r.want = keep(want, at);
            r.got = keep(o.out, at);
        }
        std::string left = scratch.remove();
        if (!left.empty())
            r.message += "  (its working folder could not be removed: " + left + ")\n";
    } catch (const std::exception& e) {
        r.verdict = Verdict::not_started;
        r.message = std::string("  the case could not be run: ") + e.what() + "\n";
    }
    if (r.verdict == Verdict::time_limit && c.wall > 0)
        r.message += "  (this case's wall time limit, " + quantity(c.wall, "second") +
                     ", is twenty times the collection's own program's time on it, at least a "
                     "second; --timeout sets another)\n";
    if (r.verdict == Verdict::passed) r.score = r.points;
    if (r.verdict == Verdict::presentation) r.score = r.points * s.presentation_credit;
    if (r.verdict != Verdict::passed && !c.hidden) r.help = help_for(s, c, subject);
    return r;
}

std::string shell_words(const std::vector<std::string>& words) {
    std::string all;
    for (const std::string& w : words) {
        if (!all.empty()) all += ' ';
        const bool plain =
            !w.empty() && w.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                              "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789-_./=:,+@%") == std::string::npos;
        if (plain) {
            all += w;
            continue;
        }
        bool printable = true;  // every character shown as it is, and no control byte
        for (std::size_t i = 0; i < w.size() && printable;) {
            const std::size_t n = shown_as_is(w, i);
            printable = n > 0;
            i += n;
        }
        if (printable) {
            all += '\'';
            for (char ch : w) all += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
            all += '\'';
            continue;
        }
        // bash's $'...': the quote and the backslash escaped, a printable UTF-8 character
        // as it is, every other byte that is not printable ASCII as \xHH (two digits always,
        // so that no digit after it joins it).
        all += "$'";
        for (std::size_t i = 0; i < w.size(); ++i) {
            const char ch = w[i];
            const auto c = static_cast<unsigned char>(ch);
            const std::size_t n = c >= 0x80 ? shown_as_is(w, i) : 0;
            if (n > 0) {
                all.append(w, i, n);
                i += n - 1;
            } else if (ch == '\'' || ch == '\\') {
                all += '\\';
                all += ch;
            } else if (c >= 0x20 && c < 0x7f) {
                all += ch;
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(c));
                all += hex;
            }
        }
        all += '\'';
    }
    return all;
}

std::vector<fs::path>& own_programs() {
    static std::vector<fs::path> programs;
    return programs;
}

fs::path own_program_of(const fs::path& executable) {
    struct stat mine {};
    if (::stat(executable.c_str(), &mine) != 0 || !S_ISREG(mine.st_mode)) return {};
    for (const fs::path& own : own_programs()) {
        struct stat theirs {};
        if (::stat(own.c_str(), &theirs) != 0 || theirs.st_size != mine.st_size) continue;
        if (theirs.st_dev == mine.st_dev && theirs.st_ino == mine.st_ino) return own;
        const int a = ::open(executable.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int b = ::open(own.c_str(), O_RDONLY | O_CLOEXEC);
        bool same = a >= 0 && b >= 0;
        std::array<char, 64U << 10> x{}, y{};
        while (same) {
            const ssize_t n = ::read(a, x.data(), x.size());
            if (n <= 0) {
                same = n == 0 && ::read(b, y.data(), 1) == 0;
                break;
            }
            std::size_t got = 0;
            while (got < static_cast<std::size_t>(n)) {
                const ssize_t m = ::read(b, y.data() + got, static_cast<std::size_t>(n) - got);
                if (m <= 0) break;
                got += static_cast<std::size_t>(m);
            }
            same = got == static_cast<std::size_t>(n) &&
                   std::equal(x.begin(), x.begin() + n, y.begin());
        }
        if (a >= 0) ::close(a);
        if (b >= 0) ::close(b);
        if (same) return own;
    }
    return {};
}

std::vector<std::string> replay_build_line(const Build& b, const std::string& word,
                                           const std::vector<std::string>& more,
                                           const std::string& program) {
    std::vector<std::string> sources;
    fs::path place;  // the folder the program is made in
    if (word.ends_with("/")) {
        for (const std::string& name : b.sources) sources.push_back(word + name);
        place = word;
    } else {
        sources.push_back(word);
        for (const std::string& m : more) {
            const std::string e = fs::path(m).extension().string();
            if (e == ".c" || e == ".cc" || e == ".cpp" || e == ".cxx") sources.push_back(m);
        }
        place = fs::path(word).parent_path();
    }
    std::string output = place.empty() ? "." : place.string();
    if (!output.ends_with("/")) output += "/";
    return build_line(b, sources, output + (program.empty() ? "program" : program));
}

// Fills in how the script `subject` (the file `real`) runs: its folder made visible, or why
// it is not; what its #! line keeps from starting.
void script_subject(Subject& subject, const fs::path& real) {
    const std::optional<std::string> line = interpreter_line(real);
    if (!line) return;
    subject.start_trouble = interpreter_trouble(*line);
    std::string why_not;
    const fs::path folder = script_folder(real, hidden_paths(), why_not);
    if (!folder.empty()) subject.visible.push_back(folder);
    if (!why_not.empty())
        subject.unseen_folder = "  the script's folder, " +
                                visible_text(real.parent_path().string(), Shown::name) +
                                ", is not visible to the run (" + why_not +
                                "): a file it reads beside it (a module) needs --allow FILE, "
                                "or a folder of its own that holds the script and its files\n";
}

Subject subject_of(Settings& s, const std::string& name, const std::string& word,
                   const std::vector<std::string>& arguments,
                   const std::vector<std::string>& more) {
    Subject subject;
    subject.name = name;
    subject.replay_words = {word};
    subject.replay_words.insert(subject.replay_words.end(), more.begin(), more.end());
    std::error_code ec;
    const bool source_file = is_source(word) && !fs::is_directory(word, ec);
    if (is_source(word)) {  // a source file, or a folder of them, rather than a program
        // Built with its lines known to the memory checker, when it is used. The paths the
        // user gave are followed to where they lead; what a folder holds is not.
        BuildExtras extras;
        extras.libs = s.libs;
        for (const std::string& m : more) extras.more.push_back(fs::canonical(m));
        Build b = build_sources(fs::canonical(word), s.memcheck ? s.cflags + " -g" : s.cflags,
                                s.containment, s.cache_bytes, extras);
        subject.build_verdict = b.built ? "built" : "compile-error";
        subject.build_message = b.message;
        if (!b.built) return subject;
        subject.command.push_back(b.executable.string());
        subject.replay_build = replay_build_line(b, word, more, s.program);
        // The program the line makes: the word after -o, before the linker's flags.
        subject.replay_run = {
            subject.replay_build[subject.replay_build.size() - b.libs.size() - 1]};
        subject.replay_run.insert(subject.replay_run.end(), arguments.begin(), arguments.end());
        subject.build = std::move(b);
    } else {
        subject.build_verdict = "executable";
        fs::path executable = find_executable(word);
        fs::path real = fs::canonical(executable, ec);
        subject.command.push_back(ec ? executable.string() : real.string());
        if (!ec) script_subject(subject, real);
    }
    // A first ARGUMENT that could be a source would be read as one of the sources.
    if (source_file && !arguments.empty() && is_build_file(arguments.front()))
        subject.replay_words.emplace_back("--");
    for (const std::string& a : arguments) {
        std::string arg = a;
        if (!arg.empty() && fs::exists(arg, ec)) {
            fs::path file = fs::canonical(arg, ec);
            if (!ec) {
                if (arg[0] != '/') arg = fs::absolute(arg).string();
                if (fs::is_regular_file(file)) s.containment.allowed.push_back(file);
            }
        }
        subject.command.push_back(arg);
        subject.replay_words.push_back(a);
    }
    return subject;
}

SubmissionResult check_subject(
    const Settings& s, const std::string& program, const std::vector<Case>& cases,
    const Subject& subject,
    const std::function<void(const CaseResult&, std::size_t index)>& on_case) {
    SubmissionResult result;
    result.program = program;
    result.submission = subject.name;
    result.build_verdict = subject.build_verdict;
    result.build_message = subject.build_message;
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::optional<CaseResult>> done(cases.size());
    std::mutex m;
    std::condition_variable ready;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    auto worker = [&] {
        for (std::size_t i = 0; !stop && (i = next++) < cases.size();) {
            CaseResult r = check_case(s, cases[i], subject);
            if (s.first_failure && r.verdict != Verdict::passed) stop = true;
            std::lock_guard<std::mutex> lock(m);
            done[i] = std::move(r);
            ready.notify_all();
        }
        std::lock_guard<std::mutex> lock(m);
        ready.notify_all();
    };
    std::vector<std::thread> workers;
    const std::size_t count = std::min<std::size_t>(std::max(1U, s.jobs), cases.size());
    for (std::size_t w = 0; w < count; ++w) workers.emplace_back(worker);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::unique_lock<std::mutex> lock(m);
        // A case is never taken once a failure stops the check, and every case before that
        // one has been taken.
        ready.wait(lock, [&] { return done[i].has_value() || (stop && i >= next); });
        if (!done[i]) break;
        CaseResult r = std::move(*done[i]);
        done[i].reset();
        lock.unlock();
        const bool failed = r.verdict != Verdict::passed;
        result.cases.push_back(std::move(r));
        if (on_case) on_case(result.cases.back(), i);
        if (s.first_failure && failed) {
            stop = true;
            break;
        }
    }
    stop = true;
    for (std::thread& t : workers) t.join();
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

namespace {

// Runs `count` tasks, `workers` at a time (the calling thread one of them).
void in_parallel(std::size_t count, unsigned workers,
                 const std::function<void(std::size_t)>& task) {
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = 0; (i = next++) < count;) task(i);
    };
    std::vector<std::thread> threads;
    const std::size_t n = std::min<std::size_t>(std::max(1U, workers), count);
    for (std::size_t w = 1; w < n; ++w) threads.emplace_back(work);
    if (count > 0) work();
    for (std::thread& t : threads) t.join();
}

// Why the submission folder `d`, found in the class folder `folder`, cannot be graded as
// the student's own work, or "": the folder or its executable `program` is a symbolic link,
// or leads out of the folder.
std::string refusal(const fs::path& folder, const fs::path& d, const std::string& program) {
    struct stat st {};
    if (::lstat(d.c_str(), &st) != 0) return std::string("cannot be read: ") + std::strerror(errno);
    if (S_ISLNK(st.st_mode))
        return "the student's folder is a symbolic link; a submission must be the student's "
               "own folder";
    std::error_code ec;
    const fs::path real = fs::canonical(d, ec);
    if (ec || real != fs::canonical(folder, ec) / d.filename())
        return "the student's folder leads out of the class folder";
    if (::lstat((d / program).c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return visible_text(program, Shown::name) +
               " is a symbolic link; a submission's executable must be a plain file of its own";
    return "";
}

// The subject of the submission `found` of the student `name`: its program, its sources
// built, or its Makefile made; what was found, and how it was used, said first in its
// build message.
Subject subject_for(Settings& s, const std::string& name, const std::string& program,
                    const Arrival& found) {
    Subject subject;
    subject.name = name;
    // Where it was found is said whatever came of it; how it was used, once it was.
    const std::string where = found.where.empty() ? "" : found.where + "\n";
    const std::string note = where + (found.note.empty() ? "" : found.note + "\n");
    switch (found.kind) {
    case Arrival::Kind::program:
        subject = subject_of(s, name, found.path.string(), {});
        subject.build_message = note + subject.build_message;
        break;
    case Arrival::Kind::sources:
        subject = subject_of(s, name, found.path.string() + "/", {});
        subject.build_message =
            (subject.build_verdict == "built" ? note : where) + subject.build_message;
        break;
    case Arrival::Kind::makefile:
    case Arrival::Kind::cmake: {
        Build b = found.kind == Arrival::Kind::cmake
                      ? cmake_program(found.path, program, s.containment)
                      : make_program(found.path, program, s.containment);
        subject.build_verdict = b.built ? "built" : "compile-error";
        subject.build_message = (b.built ? note : where) + b.message;
        if (b.built) subject.command.push_back(b.executable.string());
        break;
    }
    case Arrival::Kind::nothing:
        subject.build_verdict = "missing";
        subject.build_message = "no executable named " + visible_text(program, Shown::name) +
                                " and no C or C++ source: " + found.note + "\n";
        break;
    case Arrival::Kind::refused:
        break;  // the caller refuses it
    }
    return subject;
}

// Sets the replay of a student's submission `found` to name the student's own files by
// paths relative to the student's folder, as they are after an archive is unpacked there:
// "./" or "NESTED/" for sources, "./PROGRAM" or "NESTED/PROGRAM" for a program (a
// Makefile's, once made; and the program that was looked for when nothing was found).
void replay_in_folder(Subject& subject, const Arrival& found, const std::string& program) {
    fs::path place;  // the folder that holds the submission, relative to the student's
    if (!found.gathered.empty()) {
        place = found.gathered;
    } else if (!found.unpacked.empty()) {
        const fs::path root = fs::path(found.unpacked);
        const fs::path folder =
            found.kind == Arrival::Kind::program ? found.path.parent_path() : found.path;
        place = folder.lexically_relative(root);
    } else if (!found.shown.empty() && found.kind != Arrival::Kind::nothing &&
               found.kind != Arrival::Kind::refused) {
        place = found.shown;
    }
    std::string word = place.empty() || place == "." ? "./" : place.string() + "/";
    const bool sources = found.kind == Arrival::Kind::sources;
    if (sources && !subject.replay_build.empty()) {
        subject.replay_build = replay_build_line(subject.build, word, {}, program);
        subject.replay_run = {word + program};
    }
    if (!sources) word += program;
    subject.replay_words = {word};
    subject.replay_note.clear();
    if (!found.unpacked.empty() && found.gathered.empty())
        subject.replay_note = "after unpacking " + found.shown + " in your folder";
    if (found.kind == Arrival::Kind::makefile)
        subject.replay_note = (subject.replay_note.empty() ? "" : subject.replay_note + ", ") +
                              "after make has made " + program;
    if (found.kind == Arrival::Kind::cmake)
        subject.replay_note = (subject.replay_note.empty() ? "" : subject.replay_note + ", ") +
                              "after cmake has built " + program;
}

// The executable of the submission `found`, moved out of the folder its archive was
// unpacked into (to a file of its own in the run folder), and that folder removed: what
// the rest of the archive held is freed at once. `command` then names where it went.
void free_unpacked(Arrival& found, Subject& subject) {
    if (found.unpacked.empty()) return;
    if (found.kind == Arrival::Kind::program && !subject.command.empty()) {
        static std::atomic<unsigned> next{0};
        const fs::path kept = fs::path(run_folder()) / ("program-" + std::to_string(::getpid()) +
                                                        "-" + std::to_string(next++));
        if (::rename(subject.command.front().c_str(), kept.c_str()) == 0) {
            subject.command.front() = kept.string();
            found.path = kept;  // removed once the student's cases have run
        } else {
            return;  // kept where it is, and removed with its folder at the end
        }
    }
    remove_tree(found.unpacked);
    found.unpacked.clear();
}

// Keeps the folders a student's script `subject` sees besides to those of the student's own
// folder `d` (or of the archive `found` unpacked): never a folder of the class's.
void keep_own_folders(Subject& subject, const fs::path& d, const Arrival& found) {
    std::error_code ec;
    const fs::path own = fs::canonical(d, ec);
    std::erase_if(subject.visible, [&](const fs::path& v) {
        return !((!own.empty() && beneath(v, own)) ||
                 (!found.unpacked.empty() && beneath(v, fs::weakly_canonical(found.unpacked, ec))));
    });
    subject.unseen_folder.clear();
}

}  // namespace

std::vector<SubmissionResult> grade_class(
    const Settings& s, const std::string& program, const std::vector<Case>& cases,
    const fs::path& folder, const std::function<void(std::size_t done, std::size_t all)>& progress,
    const std::function<std::vector<CaseResult>(const Subject&)>& more,
    const std::vector<std::string>& only) {
    std::vector<Student> students;
    for (const auto& e : fs::directory_iterator(folder)) {
        std::error_code ec;
        // Links to folders too, so that they are refused where the teacher sees them.
        const std::string name = e.path().filename().string();
        if (e.is_directory(ec) && !name.starts_with(".") &&
            (only.empty() || std::find(only.begin(), only.end(), name) != only.end())) {
            Student one;
            one.name = name;
            one.folder = e.path();
            one.within = folder;
            students.push_back(std::move(one));
        }
    }
    std::sort(students.begin(), students.end(),
              [](const Student& a, const Student& b) { return a.folder < b.folder; });
    return grade_class(s, program, cases, students, progress, more);
}

std::vector<SubmissionResult> grade_class(
    const Settings& s, const std::string& program, const std::vector<Case>& cases,
    const std::vector<Student>& students,
    const std::function<void(std::size_t done, std::size_t all)>& progress,
    const std::function<std::vector<CaseResult>(const Subject&)>& more) {
    const std::size_t count = students.size();
    const unsigned jobs = std::max(1U, s.jobs);
    Settings one = s;
    one.jobs = 1;
    std::vector<SubmissionResult> results(count);
    std::vector<Subject> subjects(count);
    std::vector<Arrival> arrivals(count);
    std::mutex m;
    std::size_t finished = 0;
    auto done = [&] {
        std::lock_guard<std::mutex> lock(m);
        if (progress) progress(++finished, count);
    };
    // Every submission found, and built where it must be, `jobs` at a time.
    in_parallel(count, jobs, [&](std::size_t i) {
        const fs::path& d = students[i].folder;
        const std::string& name = students[i].name;
        Settings mine = one;
        Subject subject;
        subject.name = name;
        std::string refused = refusal(students[i].within, d, program);
        Arrival found;
        try {
            if (refused.empty()) found = find_submission(d, program, run_folder());
            subject = subject_for(mine, name, program, found);
        } catch (const std::exception& e) {
            refused = e.what();
        }
        if (refused.empty() && found.kind == Arrival::Kind::refused) refused = found.note;
        if (refused.empty() && !subject.command.empty() &&
            !own_program_of(subject.command.front()).empty())
            refused = "this is the collection's own " + program + ", not a submission";
        if (!refused.empty()) {
            subject.command.clear();
            subject.build_verdict = "refused";
            subject.build_message = refused + "\n";
        }
        if (!subject.command.empty() || subject.build_verdict == "compile-error")
            results[i].sources =
                sources_fingerprint(found.path, found.kind == Arrival::Kind::program);
        replay_in_folder(subject, found, program);
        keep_own_folders(subject, d, found);
        free_unpacked(found, subject);
        if (!students[i].note.empty())
            subject.build_message = students[i].note + subject.build_message;
        subjects[i] = std::move(subject);
        arrivals[i] = std::move(found);
        results[i].program = program;
        results[i].submission = name;
        results[i].student_id = students[i].id;
        results[i].late = students[i].late;
        results[i].build_verdict = subjects[i].build_verdict;
        results[i].build_message = subjects[i].build_message;
        results[i].cases.resize(cases.size());
    });
    // Then every case of every submission, spread over the processors: a submission that
    // runs out of time in several cases holds one job each time, never the whole class.
    std::vector<double> seconds(count, 0);
    std::vector<std::size_t> left(count, cases.size());
    // The program taken out of a student's archive, removed once it has run its last.
    auto forget = [&](std::size_t i) {
        if (arrivals[i].kind == Arrival::Kind::program && arrivals[i].unpacked.empty() &&
            !arrivals[i].path.empty() && subjects[i].build_verdict == "executable" &&
            !subjects[i].command.empty() &&
            subjects[i].command.front() == arrivals[i].path.string() &&
            arrivals[i].path.parent_path() == fs::path(run_folder()))
            ::unlink(arrivals[i].path.c_str());
    };
    auto settle = [&](std::size_t i) {  // the submission's cases are all in
        if (s.first_failure) {
            SubmissionResult& r = results[i];
            const auto first =
                std::find_if(r.cases.begin(), r.cases.end(),
                             [](const CaseResult& c) { return c.verdict != Verdict::passed; });
            if (first != r.cases.end()) r.cases.erase(first + 1, r.cases.end());
        }
        if (!more) {
            forget(i);
            done();
        }
    };
    in_parallel(count * cases.size(), jobs, [&](std::size_t t) {
        // Case by case across the class: one student's cases are not taken together, so
        // that a student whose program loops holds one job at a time, not all of them.
        const std::size_t i = t % count, k = t / count;
        const auto started = std::chrono::steady_clock::now();
        results[i].cases[k] = check_case(one, cases[k], subjects[i]);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        bool last = false;
        {
            std::lock_guard<std::mutex> lock(m);
            seconds[i] += took;
            last = --left[i] == 0;
        }
        if (last) settle(i);
    });
    if (cases.empty() && !more)
        for (std::size_t i = 0; i < count; ++i) {
            forget(i);
            done();
        }
    // The cases of each student's own (their random sessions), one student after another,
    // each spreading its own over the processors; none after a failing case where the
    // check stops at the first failure.
    for (std::size_t i = 0; i < count && more; ++i) {
        const auto started = std::chrono::steady_clock::now();
        const bool stopped =
            s.first_failure &&
            std::any_of(results[i].cases.begin(), results[i].cases.end(),
                        [](const CaseResult& c) { return c.verdict != Verdict::passed; });
        std::vector<CaseResult> own = stopped ? std::vector<CaseResult>{} : more(subjects[i]);
        seconds[i] +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        for (CaseResult& r : own) results[i].cases.push_back(std::move(r));
        forget(i);
        done();
    }
    for (std::size_t i = 0; i < count; ++i) {
        results[i].seconds = seconds[i];
        if (subjects[i].build_verdict == "built") release_build(subjects[i].command.front());
        if (!arrivals[i].unpacked.empty()) remove_tree(arrivals[i].unpacked);
    }
    return results;
}

}  // namespace check
