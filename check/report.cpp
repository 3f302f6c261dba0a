#include "check/report.hpp"

namespace check {

std::string text_lines(const CaseResult& r, const std::string& same_as) {
    const std::string name = visible_line(r.name, false);
    if (r.verdict == Verdict::passed) return name + " ok\n";
    const std::string head = name + " FAILED (" + verdict_word(r.verdict) + ")\n";
    // The message and the help are made visible once more here, whoever wrote them.
    const std::string help = visible_text(r.help, Shown::lines);
    if (!same_as.empty()) {
        const bool differs =
            r.verdict == Verdict::wrong_output || r.verdict == Verdict::presentation ||
            r.verdict == Verdict::wrong_status || r.verdict == Verdict::wrong_stderr ||
            r.verdict == Verdict::wrong_files;
        // A random session's first line says what the session is: kept.
        std::string lead;
        if (!r.session.empty())
            lead = visible_text(r.message.substr(0, r.message.find('\n') + 1), Shown::lines);
        if (lead.find("the same session as") != std::string::npos) return head + lead + help;
        return head + lead + (differs ? "  the same difference as " : "  the same failure as ") +
               visible_line(same_as, false) + "\n" + help;
    }
    return head + visible_text(r.message, Shown::lines) + help;
}

std::string failure_key(const CaseResult& r) {
    if (r.verdict == Verdict::passed) return "";
    if (!r.key.empty()) return r.key;
    std::string key = verdict_word(r.verdict);
    key += '\0';
    key += r.message;
    return key;
}

std::string SameFailures::earlier(const CaseResult& r) {
    if (r.verdict == Verdict::passed || r.hidden) return "";
    const std::string key = failure_key(r);
    for (const auto& [k, name] : first_)
        if (k == key) return name;
    first_.emplace_back(key, r.name);
    return "";
}

std::string not_run_lines(const std::vector<std::string>& names) {
    std::string text = "no case could run (" + std::to_string(names.size()) +
                       (names.size() == 1 ? " case" : " cases") + "):\n";
    std::string line;
    for (std::size_t k = 0; k < names.size(); ++k) {
        std::string word = visible_line(names[k], false);
        if (k + 1 < names.size()) word += ',';
        if (!line.empty() && columns(line) + 1 + columns(word) > 76) {
            text += "  ";
            text += line;
            text += '\n';
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
    }
    if (!line.empty()) {
        text += "  ";
        text += line;
        text += '\n';
    }
    return text;
}

std::string text_count(const std::vector<CaseResult>& results) {
    std::size_t passed = 0;
    for (const CaseResult& r : results) passed += r.verdict == Verdict::passed;
    return std::to_string(passed) + " passed, " + std::to_string(results.size() - passed) +
           " failed\n";
}

}  // namespace check
