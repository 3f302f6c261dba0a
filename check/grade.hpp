// Checking submissions: one executable, or sources built first, against the chosen cases;
// and a whole class at once, one folder per student.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "check/build.hpp"
#include "check/case.hpp"
#include "check/formats.hpp"
#include "check/platform.hpp"
#include "check/sandbox.hpp"

namespace check {

// How cases are run and scored.
struct Settings {
    bool all = false;                // compare every exit status
    bool first_failure = false;      // stop at the first failing case
    bool memcheck = false;           // run under Valgrind's memcheck
    double presentation_credit = 0;  // the share of the points a presentation verdict earns
    unsigned jobs = 1;               // cases (or, for a class, submissions) side by side
    std::string cflags;              // more compiler flags for sources
    std::string libs;                // the linker's flags for sources, after them
    Limits limits;
    Containment containment;
    std::vector<std::string> replay;                 // the replay command's options, before --case
    std::string replay_note;                         // a word on the replay's options, or ""
    std::string program;                             // PROGRAM, as the replay command names it
    std::uint64_t cache_bytes = kDefaultCacheBytes;  // the build cache's bound; 0: none
    bool timeout_given = false;  // limits.wall is the user's, for every case and session
};

// What is checked: a name, and the command that runs it (empty when it could not be built;
// then `build_verdict` and `build_message` say why).
struct Subject {
    std::string name;
    std::vector<std::string> command;
    // "executable", "built" or "compile-error" (or "missing" or "refused" for a class)
    std::string build_verdict;
    std::string build_message;
    std::vector<std::string> replay_words;  // EXECUTABLE and ARGUMENTs, as the replay names them
    std::string replay_note;                // what the replay's EXECUTABLE needs first, or ""
    // For sources: the build (how it was compiled); the command that builds the program
    // where the person can run it, and the words that run it then with its ARGUMENTs.
    Build build;
    std::vector<std::string> replay_build, replay_run;
    // For a script: the folders its runs see besides (its own, read-only); what stops it
    // from starting (its #! line), and why its folder is not seen; "" when nothing.
    std::vector<std::filesystem::path> visible;
    std::string start_trouble, unseen_folder;
};

// The subject of EXECUTABLE `word` with `arguments`: a file looked up on PATH, or sources
// (a file or a folder) built first, a source file with the files `more` (sources or
// headers) beside. ARGUMENTs naming files are made absolute and visible. A script's folder
// is made visible (check/scripts.hpp), and what stops it from starting is said with the
// failures of its runs.
Subject subject_of(Settings& s, const std::string& name, const std::string& word,
                   const std::vector<std::string>& arguments,
                   const std::vector<std::string>& more = {});

// The command that builds the program of `b` from its sources as a person names them: the
// folder `word` (ending with '/') and the names of `b.sources` in it, or the file `word` and
// the sources among `more`; the program is PROGRAM `program` in the folder of `word`.
std::vector<std::string> replay_build_line(const Build& b, const std::string& word,
                                           const std::vector<std::string>& more,
                                           const std::string& program);

// Checks one case from start to verdict, in a fresh working folder. `complete`, when given,
// fills in what the case expects (its output, status, standard error, files afterwards)
// once the program has run and before it is judged: the collection's own program may be
// running on the same input beside it.
CaseResult check_case(const Settings& s, const Case& given, const Subject& subject,
                      const std::function<void(Case&)>& complete = nullptr);

// Checks the subject against the cases; `on_case`, when given, hears every case's result
// in case order as soon as it and every case before it have ended.
SubmissionResult check_subject(
    const Settings& s, const std::string& program, const std::vector<Case>& cases,
    const Subject& subject,
    const std::function<void(const CaseResult&, std::size_t index)>& on_case = nullptr);

// Grades every submission folder of `folder` (its name is the student's; it holds an
// executable named `program`, sources, a Makefile, one folder holding them or an archive:
// see find_submission in check/arrive.hpp): every submission found and built, `s.jobs` at a
// time, then every case of every submission spread over `s.jobs` jobs; then, when `more` is
// given, the cases it makes for each student (their own random sessions), appended to
// theirs. `progress` hears how many submissions are done. Results in name order. A submission
// is refused (build verdict "refused", every case not-started, score 0) when the student's
// folder, its executable or a source is a symbolic link, or leads out of the folder, or when
// its executable is byte for byte one of own_programs(), or when its archive is refused.
// A submission with nothing to grade ("missing") says what its folder holds. Each result's
// `sources` is the fingerprint of what was graded (sources_fingerprint). With `only`, only
// the students of those names are graded.
std::vector<SubmissionResult> grade_class(
    const Settings& s, const std::string& program, const std::vector<Case>& cases,
    const std::filesystem::path& folder,
    const std::function<void(std::size_t done, std::size_t all)>& progress,
    const std::function<std::vector<CaseResult>(const Subject&)>& more = nullptr,
    const std::vector<std::string>& only = {});

// Grades the students `students` (check/platform.hpp) as the folder overload grades the
// folders of a class: each student's folder, refused when it is a link or leads out of its
// `within`; each result carries the student's name, id and late mark, and the student's note
// opens its build message. Every folder an archive of a student's was unpacked into is
// removed as soon as that student's submission is built (an executable taken out of it
// first), and that executable once their cases (and sessions) have run: one student's
// archive never holds the run folder's space while another's is graded.
std::vector<SubmissionResult> grade_class(
    const Settings& s, const std::string& program, const std::vector<Case>& cases,
    const std::vector<Student>& students,
    const std::function<void(std::size_t done, std::size_t all)>& progress,
    const std::function<std::vector<CaseResult>(const Subject&)>& more = nullptr);

// The words quoted for bash where they need it, so that the line pasted into bash runs
// with exactly these words whatever bytes they hold: a word of printable characters in
// single quotes (printable UTF-8 as it is), a word holding a control byte or bytes that are
// not well-formed UTF-8 in bash's $'...' form with those bytes as \xHH escapes. The result
// holds only printable characters.
std::string shell_words(const std::vector<std::string>& words);

// The collection's own programs (found beside the checker when it starts), which a
// submission must not be. Filled before the first grading.
std::vector<std::filesystem::path>& own_programs();

// The one of own_programs() whose bytes are those of the file `executable` (compared by
// size, then read in chunks), or an empty path.
std::filesystem::path own_program_of(const std::filesystem::path& executable);

}  // namespace check
