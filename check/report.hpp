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
    unsigned points = 1;
    double score = 0;  // the points earned
    bool hidden = false;
    double wall_seconds = 0, cpu_seconds = 0;
    long max_rss_kib = 0;
};

// The case's lines in the plain report: "NAME ok", or "NAME FAILED (VERDICT)" and what went
// wrong. The name is shown with its invisible bytes made visible.
std::string text_lines(const CaseResult& r);

// The closing line: "N passed, M failed".
std::string text_count(const std::vector<CaseResult>& results);

}  // namespace check
