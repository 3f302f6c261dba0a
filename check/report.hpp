// The report: what the checker says of each case and of the whole run.
#pragma once

#include <string>
#include <vector>

#include "check/case.hpp"
#include "check/judge.hpp"

namespace check {

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
};

// The case's lines in the plain report: "NAME ok", or "NAME FAILED (VERDICT)", what went
// wrong and the help. The name is shown with its invisible bytes made visible. `same_as`,
// when not empty, names an earlier case whose failure said the same: it is not repeated.
std::string text_lines(const CaseResult& r, const std::string& same_as = "");

// The closing line: "N passed, M failed".
std::string text_count(const std::vector<CaseResult>& results);

}  // namespace check
