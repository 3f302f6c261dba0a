#include "check/report.hpp"

namespace check {

std::string text_lines(const CaseResult& r) {
    const std::string name = visible_line(r.name, false);
    if (r.verdict == Verdict::passed) return name + " ok\n";
    return name + " FAILED (" + verdict_word(r.verdict) + ")\n" + r.message;
}

std::string text_count(const std::vector<CaseResult>& results) {
    std::size_t passed = 0;
    for (const CaseResult& r : results) passed += r.verdict == Verdict::passed;
    return std::to_string(passed) + " passed, " + std::to_string(results.size() - passed) +
           " failed\n";
}

}  // namespace check
