// The report: what the checker says of each case and of the whole run.
#pragma once

#include <string>
#include <vector>

#include "check/case.hpp"
#include "check/judge.hpp"

namespace check {

// The start of a text kept for the teacher's report page: at most its first lines and
// bytes (excerpt_of() in report_page.hpp), and how many bytes the whole held.
struct Excerpt {
    std::string text;
    std::size_t bytes = 0;  // the whole text's size
    bool cut() const { return text.size() < bytes; }
};

// What one case came to.
struct CaseResult {
    std::string name;
    Kind kind = Kind::collection;
    Verdict verdict = Verdict::passed;
    std::string message;  // what a person needs to see; empty when passed
    std::string help;     // for a failure: the input fed and how to replay the case
    unsigned points = 1;
    double score = 0;  // the points earned
    bool hidden = false;
    double wall_seconds = 0, cpu_seconds = 0;
    long max_rss_kib = 0;
    // For a visible case that failed: the input fed, the expected and the actual standard
    // output, each bounded (empty otherwise, and never for a hidden case).
    Excerpt input, expected, actual;
    // For a visible case: the input fed, whole; for one that failed, the expected and the
    // actual standard output too, each at most the output limit (never for a hidden case).
    std::string fed, want, got;
    // For a random session that failed: what its shrunk session does, in the exercise's
    // terms ("the union of {1} and {2}"), which groups the students who fail the same way.
    std::string session;
    std::string key;  // what the failure is (Judgement::key), or "" when the message tells
};

// What tells two failures apart: the judgement's key, or else the verdict and the message.
// "" for a case that passed.
std::string failure_key(const CaseResult& r);

// Remembers the first visible case of each failure, so that a later case failing the same
// way (the same failure_key) names it instead of repeating it.
class SameFailures {
public:
    // The name of the first case that failed as `r` did, or "" (and `r` is remembered as
    // the first) when none did, when `r` passed or is hidden.
    std::string earlier(const CaseResult& r);

private:
    std::vector<std::pair<std::string, std::string>> first_;  // failure_key, case name
};

// The cases that could not run because the submission itself could not (not built,
// missing, refused), said once: "no case could run (N cases):" and their names, made
// visible, as lines of at most 78 columns indented by two blanks.
std::string not_run_lines(const std::vector<std::string>& names);

// The case's lines in the plain report: "NAME ok", or "NAME FAILED (VERDICT)", what went
// wrong and the help. The name is shown with its invisible bytes made visible. `same_as`,
// when not empty, names an earlier case that failed the same way: the message is not
// repeated ("the same difference as NAME", or "the same failure as NAME" for a failure
// that is no difference, such as a crash), the case's own help is; a random session's
// first line, which says what the session is, is kept.
std::string text_lines(const CaseResult& r, const std::string& same_as = "");

// The closing line: "N passed, M failed".
std::string text_count(const std::vector<CaseResult>& results);

}  // namespace check
