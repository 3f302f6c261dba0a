#include "check/report.hpp"

#include <algorithm>

namespace check {

namespace {

// `at` moved back to the start of the UTF-8 character it falls in, when the bytes before
// it are the start of one (at most three continuation bytes back); `at` otherwise.
std::size_t character_start(const std::string& text, std::size_t at) {
    if (at >= text.size()) return text.size();
    std::size_t k = at;
    const auto continuation = [&](std::size_t i) {
        return (static_cast<unsigned char>(text[i]) & 0xc0) == 0x80;
    };
    while (k > 0 && at - k < 3 && continuation(k)) --k;
    return continuation(k) ? at : k;
}

}  // namespace

bool Kept::whole() const {
    if (parts.empty()) return bytes == 0;
    return parts.size() == 1 && parts[0].at == 0 && parts[0].bytes.size() == bytes;
}

std::size_t first_difference_at(const std::string& a, const std::string& b) {
    const auto end = std::min(a.size(), b.size());
    return static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + static_cast<long>(end), b.begin()).first - a.begin());
}

Kept keep(const std::string& text, std::size_t around) {
    Kept k;
    k.bytes = text.size();
    if (text.empty()) return k;
    if (text.size() <= kKeptWhole) {
        k.parts.push_back({0, text});
        return k;
    }
    // The ranges kept, in order; then merged where they touch, and cut between characters.
    std::vector<std::pair<std::size_t, std::size_t>> ranges = {{0, kKeptHead}};
    if (around < text.size())
        ranges.emplace_back(around - std::min(around, kKeptBefore),
                            std::min(text.size(), around + kKeptAfter));
    ranges.emplace_back(text.size() - kKeptTail, text.size());
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<std::size_t, std::size_t>> merged;
    for (auto [from, to] : ranges) {
        from = character_start(text, from);
        to = character_start(text, to);
        if (!merged.empty() && from <= merged.back().second) {
            merged.back().second = std::max(merged.back().second, to);
            continue;
        }
        merged.emplace_back(from, to);
    }
    for (const auto& [from, to] : merged)
        if (to > from) k.parts.push_back({from, text.substr(from, to - from)});
    return k;
}

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

std::string session_line(const CaseResult& r) {
    const std::string line = visible_line(r.name, false) + " FAILED (" + verdict_word(r.verdict) +
                             "), not shrunk: " + visible_text(r.session, Shown::name);
    return cut_to_columns(line, kSessionColumns) + "\n";
}

std::string text_count(const std::vector<CaseResult>& results) {
    std::size_t passed = 0;
    for (const CaseResult& r : results) passed += r.verdict == Verdict::passed;
    return std::to_string(passed) + " passed, " + std::to_string(results.size() - passed) +
           " failed\n";
}

}  // namespace check
