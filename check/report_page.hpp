// The teacher's class report page: one self-contained HTML file (its style sheet and its
// small script inline, no external address, no server) that shows the class at a glance
// (the score distribution, each case's pass rate over the submissions that built, the
// verdict counts), a grid of students and cases that sorts and filters and says who failed
// a case, the students grouped by the same first difference, the students whose sources
// are identical, and a section per student with the build's warnings or errors (and the
// students whose sources are the same), each case's time and memory, and, for each failing
// visible case, the input fed and the expected and actual output side by side. Every name
// and text from a program, a student or a case is shown through markup(): no control or
// bidirectional byte reaches the page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "check/formats.hpp"

namespace check {

// What excerpt_of() keeps of a text by default: its first lines, at most so many bytes.
constexpr std::size_t kExcerptLines = 200;
constexpr std::size_t kExcerptBytes = std::size_t{64} * 1024;

// The start of `text`: at most its first `lines` lines and `bytes` bytes (never ending
// inside a UTF-8 character), with the whole text's size.
Excerpt excerpt_of(const std::string& text, std::size_t lines = kExcerptLines,
                   std::size_t bytes = kExcerptBytes);

// True when the submission's cases ran: it was given as an executable or its sources built
// (not missing, refused or a compile error).
bool was_built(const SubmissionResult& s);

// True when its sources built and the compiler (or make) warned: a line of its build's
// message says "warning:" (what was found and how it was used is no warning).
bool has_warnings(const SubmissionResult& s);

// One case across the class, over the submissions that built.
struct CaseRate {
    std::string name;
    bool hidden = false;
    std::size_t ran = 0, passed = 0;  // submissions that built, and those that passed it
    std::vector<std::string> failed;  // the students who built and failed it, in class order
};

// Every case of the class in the order first seen, counted over the submissions that
// built only (a case a built submission did not reach, after a first failure, is left out).
std::vector<CaseRate> built_pass_rates(const std::vector<SubmissionResult>& all);

// The first line where two outputs differ: its number (from 1), and each side's line, or
// nothing where that output has ended.
struct FirstDifference {
    std::size_t line = 0;
    std::optional<std::string> expected, actual;
};

// Where `actual` first differs from `expected`, line by line, looking only as far as both
// excerpts hold whole lines; nothing when they agree that far.
std::optional<FirstDifference> first_difference(const Excerpt& expected, const Excerpt& actual);

// What a first difference comes to, in a few words, where it is a common slip: "the output
// ends early", "more output than expected", "the line ends without its blank", "the line
// ends with blanks too many", "the same words, other spacing", "other letter case"; "" when
// it is none of these.
std::string slip_of(const FirstDifference& d);

// The failures of visible cases that share one cause: the same verdict and, for random
// sessions, the same shrunk session (what it does, in the exercise's terms), or else the
// same first differing line (or, when the outputs agree or were not compared, the verdict
// alone). A crash, a slip of spacing and a wrong output that shrink to the same session
// are three groups.
struct DifferenceGroup {
    Verdict verdict = Verdict::wrong_output;
    std::string session;                        // the shrunk random session's description
    std::optional<FirstDifference> difference;  // the line numbers differ within a group
    std::vector<std::string> students;          // each student once, in class order
    std::vector<std::string> where;             // "student: case" for every failure
};

// The failing visible cases of the submissions that built, grouped by their first
// difference; the groups with the most students first.
std::vector<DifferenceGroup> difference_groups(const std::vector<SubmissionResult>& all);

// The whole page for the class `all`, in the class's order.
std::string report_page(const std::vector<SubmissionResult>& all);

}  // namespace check
