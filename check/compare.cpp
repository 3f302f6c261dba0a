#include "check/compare.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "check/judge.hpp"
#include "check/run.hpp"

namespace fs = std::filesystem;

namespace check {

namespace {

// Writes `text` as a new file `name` of `folder`, readable by all (the checker may run as
// another user), never through a link.
void write_new(const fs::path& folder, const char* name, const std::string& text) {
    const fs::path path = folder / name;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error(path.string() + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put <= 0) {
            const int error = errno;
            ::close(fd);
            throw std::runtime_error(path.string() + ": " + std::strerror(error));
        }
        done += static_cast<std::size_t>(put);
    }
    ::fchmod(fd, 0644);
    ::close(fd);
}

// Why a checker's run could not judge, for the teacher: `named` (the checker) and its end,
// then what it wrote on standard error and output.
std::string failure(const std::string& named, const Outcome& o, const Limits& limits) {
    using End = Outcome::End;
    std::string why;
    switch (o.end) {
    case End::not_started:
        why = "could not be started: " + visible_text(o.start_error, Shown::lines);
        break;
    case End::signaled:
        why = "was killed by signal " + std::to_string(o.code) + " (" + ::strsignal(o.code) + ")";
        break;
    case End::wall_limit:
        why = "did not end within " + quantity(limits.wall, "second") + " (the wall time limit)";
        break;
    case End::output_limit:
        why = "wrote more than the output limit";
        break;
    case End::memory_limit:
        why = "used more than the memory limit";
        break;
    case End::exited:  // GCOVR_EXCL_LINE: an exit is a verdict, not a failure
        why = "ended";
        break;
    }
    std::string message = named + " " + why + "\n";
    if (!o.err.empty()) message += "  its standard error:\n" + checker_lines(o.err);
    if (!o.out.empty()) message += "  its standard output:\n" + checker_lines(o.out);
    return message;
}

}  // namespace

std::string checker_lines(const std::string& text) {
    std::string shown;
    std::size_t at = 0, n = 0;
    for (; at < text.size() && n < kCheckerLines; ++n) {
        const std::size_t nl = text.find('\n', at);
        const std::size_t end = nl == std::string::npos ? text.size() : nl;
        const bool cut = end - at > kCheckerLineBytes;
        shown += "    ";
        shown += visible_text(text.substr(at, std::min(end - at, kCheckerLineBytes)), Shown::name);
        if (cut) shown += "\u2026";
        shown += '\n';
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    if (at < text.size()) {
        auto more = std::count(text.begin() + static_cast<long>(at), text.end(), '\n');
        if (text.back() != '\n') ++more;
        shown += "    (" + std::to_string(more) + " more lines)\n";
    }
    return shown;
}

CheckerVerdict run_checker(const Case& c, const std::string& output, const Limits& limits,
                           const Containment& containment) {
    CheckerVerdict v;
    const fs::path checker = fs::absolute(c.folder / "checker");
    const std::string named = "  the case's checker " + visible_text(checker.string(), Shown::name);
    try {
        // A folder of its own: none of the case's files, no setup.
        const Case bare;
        Scratch scratch(bare, std::chrono::seconds(1), limits);
        write_new(scratch.path(), "input", c.input.value_or(""));
        write_new(scratch.path(), "expected", c.output.value_or(""));
        write_new(scratch.path(), "output", output);
        Program p;
        p.executable = checker;
        p.argv = {checker.string(), (scratch.path() / "input").string(),
                  (scratch.path() / "expected").string(), (scratch.path() / "output").string()};
        p.folder = scratch.path();
        Containment own = containment;
        own.allowed.push_back(checker);
        own.needs_proc = false;
        const Outcome o = run_contained(p, limits, own);
        if (o.end == Outcome::End::exited) {
            v.result =
                o.code == 0 ? CheckerVerdict::Result::accepted : CheckerVerdict::Result::rejected;
            if (o.code != 0)
                v.message = "  the case's checker rejected the output (its exit status " +
                            std::to_string(o.code) + ")" +
                            (o.out.empty() ? std::string("\n") : ":\n" + checker_lines(o.out));
            return v;
        }
        v.message = failure(named, o, limits) +
                    "  the case cannot be judged: its checker must end by itself with a "
                    "status\n";
    } catch (const std::exception& e) {
        v.message = named + " could not be run: " + visible_text(e.what(), Shown::name) + "\n";
    }
    v.result = CheckerVerdict::Result::failed;
    return v;
}

}  // namespace check
