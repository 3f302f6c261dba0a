#include "check/grade.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "check/build.hpp"
#include "check/judge.hpp"
#include "check/run.hpp"

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
    replay.insert(replay.end(), {"--case", c.name, s.program});
    h += "  to run it alone: " + shell_words(replay) + " " + subject.replay_word + "\n";
    return h;
}

// Valgrind's memcheck in front of the command.
std::vector<std::string> under_memcheck(const std::vector<std::string>& command) {
    std::vector<std::string> wrapped = {fs::canonical(find_executable("valgrind")).string(),
                                        "--tool=memcheck", "-q", "--vgdb=no",
                                        std::string("--log-file=") + kMemcheckLog};
    wrapped.insert(wrapped.end(), command.begin(), command.end());
    return wrapped;
}

// One case from start to verdict.
CaseResult check_case(const Settings& s, const Case& c, const Subject& subject) {
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
                        : "  there is nothing to check\n";
        return r;
    }
    Limits limits = s.limits;
    Containment containment = s.containment;
    std::vector<std::string> command = subject.command;
    if (s.memcheck) {
        containment.allowed.emplace_back(command.front());  // Valgrind starts it by its path
        containment.needs_proc = true;                      // Valgrind reads its own maps
        command = under_memcheck(command);
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
        Judgement j = judge(c, o, scratch.path(), s.all, s.limits);
        r.verdict = j.verdict;
        r.message = j.message;
        if (s.memcheck && r.verdict != Verdict::not_started && r.verdict != Verdict::time_limit) {
            std::string log;
            try {
                read_beneath(scratch.path(), kMemcheckLog, log);
            } catch (const std::exception&) {
                log.clear();
            }
            if (!log.empty()) {
                r.verdict = Verdict::memory_error;
                r.message =
                    "  the memory checker found a fault:\n" + plain_lines(log, 20) + r.message;
            }
        }
        r.wall_seconds = o.wall_seconds;
        r.cpu_seconds = o.cpu_seconds;
        r.max_rss_kib = o.max_rss_kib;
        std::string left = scratch.remove();
        if (!left.empty())
            r.message += "  (its working folder could not be removed: " + left + ")\n";
    } catch (const std::exception& e) {
        r.verdict = Verdict::not_started;
        r.message = std::string("  the case could not be run: ") + e.what() + "\n";
    }
    if (r.verdict == Verdict::passed) r.score = r.points;
    if (r.verdict == Verdict::presentation) r.score = r.points * s.presentation_credit;
    if (r.verdict != Verdict::passed && !c.hidden) r.help = help_for(s, c, subject);
    return r;
}

}  // namespace

std::string shell_words(const std::vector<std::string>& words) {
    std::string all;
    for (const std::string& w : words) {
        const bool plain =
            !w.empty() && w.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                              "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789-_./=:,+@%") == std::string::npos;
        std::string q = plain ? w : "'";
        if (!plain) {
            for (char ch : w) q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
            q += "'";
        }
        if (!all.empty()) all += ' ';
        all += visible_line(q, false);
    }
    return all;
}

Subject subject_of(Settings& s, const std::string& name, const std::string& word,
                   const std::vector<std::string>& arguments) {
    Subject subject;
    subject.name = name;
    subject.replay_word = shell_words({word});
    std::error_code ec;
    if (is_source(word)) {  // a source file, or a folder of them, rather than a program
        // Built with its lines known to the memory checker, when it is used.
        Build b = build_sources(fs::absolute(word), s.memcheck ? s.cflags + " -g" : s.cflags,
                                s.containment);
        subject.build_verdict = b.built ? "built" : "compile-error";
        subject.build_message = b.message;
        if (!b.built) return subject;
        subject.command.push_back(b.executable.string());
    } else {
        fs::path executable = find_executable(word);
        fs::path real = fs::canonical(executable, ec);
        subject.command.push_back(ec ? executable.string() : real.string());
    }
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
        subject.replay_word += " " + shell_words({a});  // already quoted as the shell wants
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

std::vector<SubmissionResult> grade_class(
    const Settings& s, const std::string& program, const std::vector<Case>& cases,
    const fs::path& folder,
    const std::function<void(std::size_t done, std::size_t all)>& progress) {
    std::vector<fs::path> submissions;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_directory() && !e.path().filename().string().starts_with("."))
            submissions.push_back(e.path());
    std::sort(submissions.begin(), submissions.end());
    const unsigned jobs = std::max(1U, s.jobs);
    Settings one = s;
    one.jobs = 1;
    std::vector<SubmissionResult> results(submissions.size());
    std::atomic<std::size_t> next{0}, finished{0};
    std::mutex m;
    auto worker = [&] {
        for (std::size_t i = 0; (i = next++) < submissions.size();) {
            const fs::path& d = submissions[i];
            const std::string name = d.filename().string();
            Settings mine = one;
            Subject subject;
            subject.name = name;
            const fs::path executable = d / program;
            try {
                if (fs::is_regular_file(executable) && ::access(executable.c_str(), X_OK) == 0) {
                    subject = subject_of(mine, name, executable.string(), {});
                } else if (is_source(d)) {
                    subject = subject_of(mine, name, d.string() + "/", {});
                } else {
                    subject.build_verdict = "missing";
                    subject.build_message =
                        "no executable named " + program + " and no C or C++ source\n";
                }
            } catch (const std::exception& e) {
                subject.command.clear();
                subject.build_verdict = "missing";
                subject.build_message = std::string(e.what()) + "\n";
            }
            if (subject.build_verdict == "built" || subject.build_verdict == "compile-error")
                subject.replay_word = shell_words({d.string() + "/"});
            else
                subject.replay_word = shell_words({(d / program).string()});
            results[i] = check_subject(mine, program, cases, subject);
            std::lock_guard<std::mutex> lock(m);
            if (progress) progress(++finished, submissions.size());
        }
    };
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < std::min<std::size_t>(jobs, submissions.size()); ++w)
        workers.emplace_back(worker);
    for (std::thread& t : workers) t.join();
    return results;
}

}  // namespace check
