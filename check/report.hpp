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

// What the checker keeps of an output once its case is judged, whatever its size: the whole
// of a text of at most kKeptWhole bytes; of a longer one, its first kKeptHead bytes, the
// bytes around a place in it (kKeptBefore before, kKeptAfter from it: where the output first
// differs from the expected one) and its last kKeptTail bytes, each part with where it
// starts. Parts are in order, never overlap, and are cut between UTF-8 characters where
// the text is UTF-8 there, so that a part of a UTF-8 text is UTF-8.
struct Kept {
    struct Part {
        std::size_t at = 0;  // the offset of its first byte in the whole text
        std::string bytes;
    };
    std::vector<Part> parts;
    std::size_t bytes = 0;  // the whole text's size
    // True when the parts hold the whole text (one part from 0, or none for "").
    bool whole() const;
};
constexpr std::size_t kKeptWhole = std::size_t{8} * 1024;
constexpr std::size_t kKeptHead = std::size_t{2} * 1024;
constexpr std::size_t kKeptBefore = std::size_t{1} * 1024;
constexpr std::size_t kKeptAfter = std::size_t{2} * 1024;
constexpr std::size_t kKeptTail = std::size_t{2} * 1024;

// What is kept of `text` (see Kept), around the byte `around` (std::string::npos, or beyond
// the end: no place but the head and the tail).
Kept keep(const std::string& text, std::size_t around = std::string::npos);

// The length of the longest common start of `a` and `b`: where they first differ.
std::size_t first_difference_at(const std::string& a, const std::string& b);

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
    // For a visible case: the input fed, whole (the case's own, never the program's).
    std::string fed;
    // For a visible case that failed: what is kept of the expected and of the actual
    // standard output, around where they first differ (never for a hidden case).
    Kept want, got;
    // For a random session that failed: what its shrunk session does, in the exercise's
    // terms ("the union of {1} and {2}"), which groups the students who fail the same way.
    std::string session;
    bool shrunk = false;  // a random session's failure that was shrunk
    std::string key;      // what the failure is (Judgement::key), or "" when the message tells
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

// A failing random session that was not shrunk, on one line of at most kSessionColumns
// columns: "NAME FAILED (VERDICT), not shrunk: " and what the session is, cut to fit.
std::string session_line(const CaseResult& r);
constexpr std::size_t kSessionColumns = 160;

// The closing line: "N passed, M failed".
std::string text_count(const std::vector<CaseResult>& results);

}  // namespace check
