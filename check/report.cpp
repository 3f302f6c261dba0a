#include "check/report.hpp"

namespace check {

std::string text_lines(const CaseResult& r, const std::string& same_as) {
    const std::string name = visible_line(r.name, false);
    if (r.verdict == Verdict::passed) return name + " ok\n";
    const std::string head = name + " FAILED (" + verdict_word(r.verdict) + ")\n";
    // The message and the help are made visible once more here, whoever wrote them.
    const std::string help = visible_text(r.help, Shown::lines);
    if (!same_as.empty())
        return head + "  the same difference as " + visible_line(same_as, false) + "\n" + help;
    return head + visible_text(r.message, Shown::lines) + help;
}

std::string text_count(const std::vector<CaseResult>& results) {
    std::size_t passed = 0;
    for (const CaseResult& r : results) passed += r.verdict == Verdict::passed;
    return std::to_string(passed) + " passed, " + std::to_string(results.size() - passed) +
           " failed\n";
}

}  // namespace check
