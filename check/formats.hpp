// The results in the forms other tools read: one submission as JSON, Gradescope's
// results.json, JUnit XML or TAP; a class as a CSV of grades, JSON lines and one HTML page
// (report_page.hpp); a student's own feedback as plain text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "check/report.hpp"

namespace check {

// One submission checked against the cases of one program.
struct SubmissionResult {
    std::string program;       // "setcalc"
    std::string submission;    // the student's name (the folder's), or the executable's path
    std::string student_id;    // the learning platform's id of the student, or ""
    std::optional<bool> late;  // whether the platform marked the submission late, when it says
    // How the submission was built: "executable" when it was given as an executable,
    // "built" when its sources compiled, "compile-error" when they did not (then `cases`
    // are all compile-error and score nothing); for a class also "missing" and "refused".
    std::string build_verdict;
    std::string build_message;  // the compiler's first lines (errors, or warnings)
    std::vector<CaseResult> cases;
    // What its sources are, after blanks and comments (check/regrade.hpp), or "": identical
    // submissions have the same; and the other students whose sources are the same.
    std::string sources;
    std::vector<std::string> same_sources;
    double seconds = 0;        // the whole check's wall time
    double score() const;      // the points earned
    double max_score() const;  // the points of every case
    std::size_t passed() const;
};

// {"program", "submission", "score", "max_score", "passed", "failed", "seconds",
//  "build": {"verdict", "message"}, "student_id" and "late" where the platform gives them,
//  "cases": [{"name", "kind", "verdict", "points", "score", "hidden", "wall_s", "cpu_s",
//             "max_rss_kib", "message", "session", "input", "expected", "actual"}],
//  "sources", "same_sources"}
// ("session" for a failing random session only; "sources" where the submission's sources
// or executable were read, "same_sources" where others have the same)
// on one line, without a final line feed. A hidden case's message is kept (this is the
// teacher's record); only a visible case has its "input" fed, and only a visible case that
// failed its "expected" and "actual" standard output. Every one of these carries its bytes
// exactly: a string when they are UTF-8, else {"base64": ...}; an output longer than
// kKeptWhole bytes is {"bytes": its size, "parts": [{"at": offset, "text" or "base64"}]},
// what Kept holds of it (its head, around the first difference, its tail).
std::string to_json(const SubmissionResult& s);

// Gradescope's results.json: score, execution_time, output, tests [{name, score, max_score,
// status "passed"/"failed", output, visibility "visible"/"hidden"}]. A hidden case's output
// holds its verdict only; a visible failing case's also the help (the input fed, the replay).
std::string to_gradescope(const SubmissionResult& s);

// JUnit XML: <testsuites><testsuite name tests failures errors skipped time><testcase name
// classname time><failure message type>difference</failure><system-out>measures and (for a
// visible case) the input fed</system-out></testcase>...
std::string to_junit(const SubmissionResult& s);

// TAP version 14: the plan, then "ok N - name" or "not ok N - name" with a YAML block of
// the verdict, the message and (for a visible case) the input fed.
std::string to_tap(const SubmissionResult& s);

// grades.csv: a header row (name, then id when a submission has the platform's id of its
// student, late when the platform marks lateness, then score, max_score, percent, build,
// then each case's name, then same_sources where two submissions or more have the same
// sources), then a row per submission with each case's verdict word (late: "late" or empty;
// the others with the same sources, joined by "; "); RFC 4180 quoting.
std::string grades_csv(const std::vector<SubmissionResult>& all);

// Moodle's grading worksheet, as its "Upload grading worksheet" takes it: "Identifier" (
// "Participant ID"), "Full name", "Email address" (empty: not known here), "Status",
// "Grade" (the score), "Maximum Grade", "Grade can be changed", "Last modified
// (submission)", "Last modified (grade)", "Feedback comments" (the summary line); one row
// per submission with a student id.
std::string moodle_worksheet(const std::vector<SubmissionResult>& all);

// Canvas's gradebook import: Student, ID, SIS User ID, SIS Login ID, Section (the SIS
// columns and the section empty), then the column `assignment`; a "Points Possible" row;
// then one row per submission with a student id, its score in that column.
std::string canvas_gradebook(const std::vector<SubmissionResult>& all,
                             const std::string& assignment);

// What the student sees: how it was built, every case's line and message, but for a hidden
// case only its name and verdict; a visible case that failed as an earlier one did names
// that one instead of repeating its message; a random session that failed unshrunk on one
// line (session_line()), the shrunk ones in full after every other case; a submission that could
// not run (could_run) lists its cases once, under the build's message; then the time_limit_clue();
// the score at the end.
std::string feedback_text(const SubmissionResult& s);

// False when no case could run because of the submission itself: it did not build, is
// missing or was refused (every case is then compile-error or not-started).
bool could_run(const SubmissionResult& s);

// When two visible cases or more ran out of time and each of them feeds a line that no
// visible passing case feeds, that line named once ("every case that ran out of time feeds
// the line 2; no case that passed does"), up to three such lines; "" otherwise.
std::string time_limit_clue(const SubmissionResult& s);

// The file names (without an ending) of each of `names`' own files, such as its feedback,
// in the same order: the name with every character that is not shown as it is, '/' and
// '\' made '_', a '_' before a leading dot, at most 120 bytes; and where two names would
// have the same file, a '-' and 8 hexadecimal digits of the name's SHA-256 after it, then
// a number if need be, so that no two names ever share one.
std::vector<std::string> file_names(const std::vector<std::string>& names);

// `text` made printable (visible_text(), keeping line feeds and tabs) and escaped for XML
// or HTML content or a quoted attribute; in an attribute (`attribute`), line feeds and tabs
// are written as references so that they survive the parser's normalisation.
std::string markup(const std::string& text, bool attribute = false);

// The fixed-point text of `x` with `decimals` decimals.
std::string fixed(double x, int decimals);

// A score as people write it: "3", "2.5", "0.33" (at most two decimals, no trailing zero).
std::string number(double x);

// `part` of `whole` in percent, 0 when the whole is 0.
double percent(double part, double whole);

// One self-contained page for the teacher: report_page() (check/report_page.hpp).
std::string report_html(const std::vector<SubmissionResult>& all);

}  // namespace check
