#include "check/random.hpp"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "check/judge.hpp"
#include "check/run.hpp"
#include "check/sessions/session.hpp"

namespace fs = std::filesystem;

namespace check {

namespace {

using sessions::Fed;
using sessions::Generator;
using sessions::Session;

// The longest dialogue shown as at a terminal: each of its input lines costs a run of the
// collection's own program.
constexpr std::size_t kDialogueLines = 60;

// splitmix64's finaliser: every bit of `x` moves every bit of the result.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// The seed of session `k` (from 0) of a run's seed.
std::uint64_t session_seed(std::uint64_t seed, unsigned k) { return mix(seed ^ mix(k + 1ULL)); }

// How large session `k` (from 0) tends to be: sizes climb from 0 to 99 and start again every
// fifty sessions, so that a short run holds small and large sessions both.
unsigned session_size(unsigned k) { return (k % 50) * 2 + (k / 50) % 2; }

// The same session, for a person and for a map: its input, arguments and files.
std::string key_of(const Fed& f) {
    std::string k = f.input;
    for (const std::string& a : f.args) k += '\0' + a;
    for (const Entry& e : f.files) k += '\0' + e.path + '\0' + e.content;
    return k;
}

std::size_t line_count(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) +
           (!text.empty() && text.back() != '\n');
}

// The case a session makes, before the collection's own program has been heard on it.
Case case_of(const Fed& f, const std::string& name, const RandomPlan& plan) {
    Case c;
    c.name = name;
    c.kind = Kind::exercise;
    c.input = f.input;
    c.args = f.args;
    c.files = f.files;
    c.points = plan.points;
    c.status_open = f.status_open;
    return c;
}

// What the collection's own program did on a session.
struct Heard {
    Outcome o;
    std::vector<Entry> after;  // the files it left that the session compares
    std::string failure;       // why it could not be run, or did not end by itself
};

// The folder the collection's own program runs in for a session with no files: one empty
// folder for every such run, made once in the run folder and removed at exit, before the
// run folder is (it is made after the run folder, so its end comes first); none of the
// runs writes there.
const fs::path& empty_folder() {
    struct Empty {
        fs::path path;
        Empty() : path(fs::path(run_folder()) / "empty") {
            fs::create_directories(path);
            fs::permissions(path, fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
        }
        ~Empty() { ::rmdir(path.c_str()); }
        Empty(const Empty&) = delete;
        Empty& operator=(const Empty&) = delete;
        Empty(Empty&&) = delete;
        Empty& operator=(Empty&&) = delete;
    };
    static const Empty folder;
    return folder.path;
}

Heard hear(const Case& c, const Fed& f, const fs::path& reference, const Limits& limits) {
    Heard h;
    try {
        Containment outside;
        outside.sandboxed = false;
        if (f.files.empty() && f.after.empty() && !c.has_setup) {
            Program p;
            p.executable = reference;
            p.argv = {reference.string()};
            p.argv.insert(p.argv.end(), c.args.begin(), c.args.end());
            p.folder = empty_folder();
            p.input = c.input.value_or("");
            h.o = run_contained(p, limits, outside);
            if (h.o.end != Outcome::End::exited)
                h.failure = h.o.end == Outcome::End::not_started ? h.o.start_error
                                                                 : "it did not end by itself";
            return h;
        }
        Scratch scratch(c, std::chrono::milliseconds(static_cast<long>(limits.wall * 1000)),
                        limits);
        h.o = run_case(c, {reference.string()}, scratch, limits, outside);
        for (const std::string& path : f.after) {
            Entry e;
            e.path = path;
            if (read_beneath(scratch.path(), path, e.content)) h.after.push_back(e);
        }
        if (h.o.end != Outcome::End::exited)
            h.failure =
                h.o.end == Outcome::End::not_started ? h.o.start_error : "it did not end by itself";
    } catch (const std::exception& e) {
        h.failure = e.what();
    }
    return h;
}

void fill(Case& c, const Heard& h) {
    c.output = h.o.out;
    c.status = h.o.code;
    c.error = h.o.err;
    c.after = h.after;
}

// The wall time limit that fits a session the collection's own program ran in `seconds`:
// twenty times, at least a second (its sessions take milliseconds).
double fitted(double seconds, double least = 1.0) { return std::max(least, 20 * seconds); }

// One session from start to verdict: the collection's own program and the submission on
// the same input, side by side when `beside`. Without --timeout, the session's wall limit
// fits the collection's own time on it, at least `least` seconds. `heard` is set to the
// collection's own program's standard output, whole.
CaseResult run_session(const Settings& s, const Case& given, const Fed& f, const Subject& subject,
                       const fs::path& reference, bool beside, std::string& failure,
                       std::string& heard, double least = 1.0) {
    Heard h;
    CaseResult r;
    Case c = given;
    if (beside && !subject.command.empty()) {
        if (!s.timeout_given) c.wall = fitted(0, least);
        std::thread t([&] { h = hear(c, f, reference, s.limits); });
        r = check_case(s, c, subject, [&](Case& e) {
            t.join();
            fill(e, h);
        });
        if (t.joinable()) t.join();
        // A limit too short for this session, known only once the reference had ended: the
        // session again, with the limit that fits it.
        if (!s.timeout_given && r.verdict == Verdict::time_limit &&
            fitted(h.o.wall_seconds, least) > c.wall) {
            c.wall = fitted(h.o.wall_seconds, least);
            r = check_case(s, c, subject, [&](Case& e) { fill(e, h); });
        }
    } else {
        h = hear(c, f, reference, s.limits);
        if (!s.timeout_given) c.wall = fitted(h.o.wall_seconds, least);
        r = check_case(s, c, subject, [&](Case& e) { fill(e, h); });
    }
    failure = h.failure;
    heard = std::move(h.o.out);
    return r;
}

// `text` as the words of a printf command that writes it: printf's own format where every
// byte is printable ASCII or a line feed, otherwise printf %s with bash's $'...'.
std::string printf_words(const std::string& text) {
    bool plain = true;
    for (char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        plain = plain && (ch == '\n' || (b >= 0x20 && b < 0x7f));
    }
    if (!plain) return "printf %s " + shell_words({text});
    std::string format;
    for (char ch : text) {
        if (ch == '\n')
            format += "\\n";
        else if (ch == '\\')
            format += "\\\\";
        else if (ch == '%')
            format += "%%";
        else if (ch == '\'')
            format += "'\\''";
        else
            format += ch;
    }
    return "printf '" + format + "'";
}

// The dialogue of `c` as the collection's own program holds it at a terminal: its output
// with each input line written after the prompt that asked for it. Where the program asked
// for line K+1 is where its output, fed only the first K lines, leaves the whole output.
std::string dialogue(const Case& c, const Fed& f, const std::string& out, const fs::path& reference,
                     const Limits& limits) {
    const std::string& input = f.input;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < input.size();) {
        std::size_t nl = input.find('\n', at);
        const std::size_t end = nl == std::string::npos ? input.size() : nl + 1;
        lines.push_back(input.substr(at, end - at));
        at = end;
    }
    std::string shown;
    std::size_t before = 0;
    std::string prefix;
    for (const std::string& line : lines) {
        Case part = c;
        part.input = prefix;
        Fed partial = f;
        partial.after.clear();
        const Heard h = hear(part, partial, reference, limits);
        std::size_t same = 0;
        while (same < h.o.out.size() && same < out.size() && h.o.out[same] == out[same]) ++same;
        same = std::max(same, before);
        shown += out.substr(before, same - before) + line;
        if (line.back() != '\n') shown += '\n';
        before = same;
        prefix += line;
    }
    shown += out.substr(before);
    std::string indented;
    std::size_t n = 0, at = 0;
    while (at < shown.size() && n < 2 * kDialogueLines) {
        std::size_t nl = shown.find('\n', at);
        const std::size_t end = nl == std::string::npos ? shown.size() : nl;
        indented += "      " + visible_text(shown.substr(at, end - at), Shown::name) + "\n";
        at = end + 1;
        ++n;
    }
    if (at < shown.size())
        indented += "      (" +
                    quantity(static_cast<double>(line_count(shown.substr(at))), "more line") +
                    ")\n";
    return indented;
}

// The line that replays the session `f` on the subject: its input piped into the program
// with the session's arguments; for sources, the program built first where it is run.
std::string replay_line(const Subject& subject, const Fed& f) {
    const bool built = !subject.replay_build.empty();
    std::vector<std::string> run = built ? subject.replay_run : subject.replay_words;
    run.insert(run.end(), f.args.begin(), f.args.end());
    return "  to replay it: " + (built ? shell_words(subject.replay_build) + " && " : "") +
           printf_words(f.input) + " | " + shell_words(run) + "\n";
}

// The help under a failing session: the dialogue, the commands that replay and record it.
std::string session_help(const Settings& s, const RandomPlan& plan, std::uint64_t seed, unsigned k,
                         const Case& c, const Fed& f, const std::string& out,
                         const Subject& subject, const fs::path& reference, bool shown = true) {
    std::string h;
    if (shown && line_count(f.input) <= kDialogueLines) {
        h += "  the dialogue with the collection's own " + s.program +
             ", each input line after the prompt that asked for it:\n" +
             dialogue(c, f, out, reference, s.limits);
    } else {
        h += "  the input fed (" + quantity(static_cast<double>(line_count(f.input)), "line") +
             "):\n" + first_lines(f.input, 10);
    }
    if (!f.args.empty()) h += "  its arguments: " + shell_words(f.args) + "\n";
    if (!f.files.empty()) {
        std::string names;
        for (const Entry& e : f.files)
            if (e.path.find('/') == std::string::npos)
                names += (names.empty() ? "" : ", ") + visible_line(e.path, false);
        h += "  its working folder holds: " + names + "\n";
    }
    std::vector<std::string> words = subject.replay_words;
    if (f.files.empty()) h += replay_line(subject, f);
    std::vector<std::string> again = plan.replay;
    again.insert(again.end(), {"--seed", std::to_string(seed), "--session", std::to_string(k)});
    if (std::any_of(words.begin(), words.end(),
                    [](const std::string& w) { return w.starts_with("-"); }))
        again.emplace_back("--");
    again.push_back(s.program);
    again.insert(again.end(), words.begin(), words.end());
    h += "  to run this session again: " + shell_words(again) + "\n";
    if (f.files.empty() && f.args.empty()) {
        std::error_code ec;
        std::string own = reference.string();
        try {
            if (fs::canonical(find_executable(s.program), ec) == reference) own = s.program;
        } catch (const std::exception&) {
        }
        h += "  to keep it as a case of your own: " + printf_words(f.input) + " | " +
             shell_words(
                 {"collection-check", "--record", c.name, "--cases", "CASES", s.program, own}) +
             "\n";
    }
    return h;
}

// Runs `count` tasks, `workers` at a time.
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

bool failed(const CaseResult& r) { return r.verdict != Verdict::passed; }

}  // namespace

std::uint64_t drawn_seed() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32 ^ device()) % 1000000000000ULL;
}

namespace {

// `h` with the bytes of `text` and then its length mixed in, so that "ab"+"c" and "a"+"bc"
// differ.
std::uint64_t mixed(std::uint64_t h, const std::string& text) {
    for (const char ch : text) h = mix(h ^ static_cast<unsigned char>(ch));
    return mix(h ^ text.size());
}

}  // namespace

std::uint64_t cases_digest(const std::vector<Case>& cases) {
    std::uint64_t h = mix(cases.size());
    for (const Case& c : cases) {
        h = mixed(h, c.name);
        for (const std::optional<std::string>* text : {&c.input, &c.output, &c.error})
            h = text->has_value() ? mixed(mix(h ^ 1U), **text) : mix(h ^ 2U);
        h = mix(h ^ static_cast<unsigned>(c.status) ^ (c.status_open ? 1ULL << 40 : 0));
        for (const std::string& a : c.args) h = mixed(h, a);
        h = mixed(h, c.stdout_to);
        for (const std::vector<Entry>* files : {&c.files, &c.after})
            for (const Entry& e : *files) h = mixed(mixed(h, e.path), e.content);
    }
    return h;
}

std::uint64_t student_seed(std::uint64_t seed, const std::string& name, const std::string& program,
                           std::uint64_t cases) {
    const std::uint64_t h = mixed(mixed(mix(seed ^ mix(cases)), program), name);
    return h % 1000000000000ULL;
}

fs::path reference_of(const std::string& program) {
    for (const fs::path& own : own_programs())
        if (own.filename() == program) return own;
    return {};
}

std::string session_name(unsigned k) { return "random-" + std::to_string(k); }

std::vector<CaseResult> check_random(const Settings& s, const std::string& program,
                                     const RandomPlan& plan, std::uint64_t seed,
                                     const Subject& subject, const fs::path& reference,
                                     const std::function<void(const CaseResult&)>& on_case) {
    const Generator* g = sessions::generator_for(program);
    if (g == nullptr) throw std::runtime_error("no random sessions for " + program);
    const unsigned from = plan.only ? plan.first - 1 : 0;
    const unsigned count = plan.only ? 1 : plan.sessions;
    const bool beside = s.jobs >= 2;
    const unsigned workers = beside ? s.jobs / 2 : s.jobs;
    struct One {
        Session session;
        Fed fed;
        Case c;
        CaseResult r;
        std::string failure;  // the collection's own program's, when it could not be heard
        std::string heard;    // its output, whole, kept for a failure that is shrunk
    };
    std::vector<One> all(count);
    auto judge_one = [&](One& one, double least = 1.0) {
        one.r = run_session(s, one.c, one.fed, subject, reference, beside, one.failure, one.heard,
                            least);
        if (!one.failure.empty()) {
            one.r.verdict = Verdict::not_started;
            one.r.score = 0;
            one.r.message = "  the collection's own " + program +
                            " could not be run on this session: " + one.failure + "\n";
        }
    };
    // With --first-failure, no session after the first that fails is started, and every
    // session before it runs.
    std::atomic<std::size_t> first_failed{count};
    in_parallel(count, workers, [&](std::size_t i) {
        if (s.first_failure && i > first_failed) return;
        One& one = all[i];
        const unsigned k = from + static_cast<unsigned>(i);
        sessions::Draw d(session_seed(seed, k));
        one.session = g->draw(d, session_size(k), plan.open);
        one.fed = g->feed(one.session);
        one.c = case_of(one.fed, session_name(k + 1), plan);
        judge_one(one);
        if (!failed(one.r)) {  // only the failures are shrunk: the rest is let go at once
            one.r.fed = one.fed.input;
            one.session = Session{};
            one.c = Case{};
            one.fed = Fed{one.r.fed, {}, {}, {}, false};
            one.heard.clear();
            return;
        }
        for (std::size_t was = first_failed;
             i < was && !first_failed.compare_exchange_weak(was, i);) {
        }
    });
    const std::size_t ran =
        s.first_failure ? std::min<std::size_t>(count, first_failed + 1) : count;
    // The first failures shrunk, each by itself, side by side; the others' outputs let go.
    std::vector<std::size_t> failing;
    for (std::size_t i = 0; i < ran; ++i) {
        if (failed(all[i].r) && all[i].failure.empty() && failing.size() < kShrunkFailures)
            failing.push_back(i);
        else
            all[i].heard = std::string();
    }
    std::vector<std::size_t> tried(count, 0), lines_before(count, 0);
    in_parallel(failing.size(), workers, [&](std::size_t f) {
        One& best = all[failing[f]];
        const One drawn = best;
        lines_before[failing[f]] = line_count(best.fed.input);
        std::set<std::string> seen{key_of(best.fed)};
        std::size_t timeouts = 0;
        // A session that runs out of time is shrunk with a shorter limit, so that each step
        // costs a fraction of a second; the smallest is then run again with its own limit.
        const bool slow = best.r.verdict == Verdict::time_limit && !s.timeout_given;
        const double least = slow ? kShrinkWall : 1.0;
        for (bool smaller = true; smaller;) {
            smaller = false;
            for (Session& candidate : g->smaller(best.session, plan.open)) {
                if (tried[failing[f]] >= kShrinkTries || timeouts >= kShrinkTimeouts) break;
                One next;
                next.fed = g->feed(candidate);
                if (!seen.insert(key_of(next.fed)).second) continue;
                ++tried[failing[f]];
                next.session = std::move(candidate);
                next.c = case_of(next.fed, best.c.name, plan);
                judge_one(next, least);
                if (next.r.verdict == Verdict::time_limit) ++timeouts;
                if (failed(next.r) && next.failure.empty()) {
                    best = std::move(next);
                    smaller = true;
                    break;
                }
            }
        }
        if (slow && tried[failing[f]] > 0) {
            judge_one(best);
            if (!failed(best.r) || !best.failure.empty()) best = drawn;  // slow, not endless
        }
        const unsigned k = from + static_cast<unsigned>(failing[f]) + 1;
        best.r.help =
            session_help(s, plan, seed, k, best.c, best.fed, best.heard, subject, reference);
        best.r.shrunk = true;
        best.heard = std::string();
    });
    std::map<std::string, std::string> shrunk_to;  // a shrunk session's key: its first name
    std::vector<CaseResult> results;
    for (std::size_t i = 0; i < ran; ++i) {
        One& one = all[i];
        CaseResult r = std::move(one.r);
        r.fed = one.fed.input;
        if (failed(r) && one.failure.empty()) {
            const std::string what = g->describe(one.session);
            r.session = what;
            if (std::find(failing.begin(), failing.end(), i) == failing.end()) {
                r.message = "  (not shrunk: " + std::to_string(kShrunkFailures) +
                            " failing sessions before it were)\n" + r.message;
                r.help = session_help(s, plan, seed, from + static_cast<unsigned>(i) + 1, one.c,
                                      one.fed, "", subject, reference, false);
            } else {
                const std::string key = key_of(one.fed);
                const auto [at, first] = shrunk_to.emplace(key, r.name);
                const std::string size =
                    "  shrunk to " +
                    quantity(static_cast<double>(line_count(one.fed.input)), "input line") +
                    " from " + std::to_string(lines_before[i]) + " (" +
                    quantity(static_cast<double>(tried[i]), "smaller session") +
                    " tried): " + what + "\n";
                if (first) {
                    r.message = size + r.message;
                } else {
                    r.message =
                        "  shrinks to the same session as " + at->second + ": " + what + "\n";
                    r.help.clear();
                }
            }
        }
        if (on_case) on_case(r);
        results.push_back(std::move(r));
    }
    return results;
}

void fit_wall_limits(std::vector<Case>& cases, const fs::path& reference, const Limits& limits) {
    for (Case& c : cases) {
        Fed f;
        const Heard h = hear(c, f, reference, limits);
        if (!h.failure.empty()) continue;
        c.wall = fitted(h.o.wall_seconds);
    }
}

}  // namespace check
