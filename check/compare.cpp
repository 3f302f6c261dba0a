#include "check/compare.hpp"

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace fs = std::filesystem;

namespace check {

namespace {

// Lines shown before and after the first differing line.
constexpr std::size_t kContext = 3;

// The text cut at its line feeds; each line keeps whether a line feed ended it. The part
// after the last line feed is a line of its own (empty when the text ends with a line
// feed), so that where the text ends is always shown.
std::vector<std::pair<std::string, bool>> split_lines(const std::string& text) {
    std::vector<std::pair<std::string, bool>> lines;
    std::size_t from = 0;
    for (std::size_t nl = 0; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1)
        lines.emplace_back(text.substr(from, nl - from), true);
    lines.emplace_back(text.substr(from), false);
    return lines;
}

// The number of characters a terminal shows for UTF-8 text (every byte that does not
// continue a character starts one).
std::size_t columns(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    return n;
}

// The lines from `first` (0-based) of `text`, numbered from 1, up to a few after the line
// `mark`, which is marked with '>' and a caret under its byte `column`.
std::string excerpt(const std::string& text, std::size_t first, std::size_t mark,
                    std::size_t column) {
    auto lines = split_lines(text);
    std::ostringstream shown;
    if (first > 0) shown << "      (" << first << " lines before)\n";
    std::size_t last = std::min(lines.size(), mark + kContext + 1);
    for (std::size_t i = first; i < last; ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%s%5zu | ", i == mark ? "   > " : "     ", i + 1);
        shown << number << visible_line(lines[i].first, lines[i].second);
        if (i + 1 == lines.size()) shown << "(end)";
        shown << "\n";
        if (i == mark) {
            std::size_t before = columns(visible_line(lines[i].first.substr(0, column), false));
            shown << std::string(13 + before, ' ') << "^\n";
        }
    }
    if (last < lines.size()) shown << "      (" << lines.size() - last << " more lines)\n";
    return shown.str();
}

}  // namespace

std::string visible_line(const std::string& line, bool ended) {
    std::string v;
    for (char ch : line) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\t') {
            v += "\\t";
        } else if (c == ' ') {
            v += "\xc2\xb7";
        } else if (c == '\\') {
            v += "\\\\";
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(c));
            v += hex;
        } else {
            v += ch;
        }
    }
    return ended ? v + "$" : v;
}

std::string difference(const std::string& what, const std::string& want, const std::string& got) {
    std::size_t at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at]) ++at;
    std::size_t line = 0, line_start = 0;
    for (std::size_t i = 0; i < at; ++i)
        if (want[i] == '\n') ++line, line_start = i + 1;
    const std::size_t column = at - line_start;
    const std::size_t first = line > kContext ? line - kContext : 0;
    std::ostringstream d;
    d << "  " << what << " differs at line " << line + 1 << ", column " << column + 1 << " (byte "
      << at + 1 << ")\n"
      << "    expected:\n"
      << excerpt(want, first, line, column) << "    actual:\n"
      << excerpt(got, first, line, column);
    return d.str();
}

std::string judge(const Case& c, const Outcome& o, const fs::path& folder, bool strict_status,
                  double limit_seconds) {
    std::ostringstream why;
    if (!o.start_error.empty()) {
        why << "  the program could not be started: " << o.start_error << "\n";
        return why.str();
    }
    if (!o.finished) {
        why << "  the program did not end within " << limit_seconds << " seconds\n";
        return why.str();
    }
    if (o.signaled) {
        why << "  the program was killed by signal " << o.code << " (" << ::strsignal(o.code)
            << ")\n";
    } else if (o.code != c.status && (strict_status || !c.status_open)) {
        why << "  exit status " << o.code << ", expected " << c.status << "\n";
    }
    if (c.output && o.out != *c.output) why << difference("standard output", *c.output, o.out);
    const std::string want_err = c.error.value_or("");
    if (o.err != want_err) why << difference("standard error", want_err, o.err);
    if (fs::exists(c.folder / "after")) {
        for (const auto& entry : fs::recursive_directory_iterator(c.folder / "after")) {
            if (!entry.is_regular_file()) continue;
            std::string rel = fs::relative(entry.path(), c.folder / "after").string();
            std::string want_file, got_file;
            read_file(entry.path(), want_file);
            if (!read_file(folder / rel, got_file))
                why << "  the file " << rel << " is missing afterwards\n";
            else if (got_file != want_file)
                why << difference("the file " + rel, want_file, got_file);
        }
    }
    return why.str();
}

}  // namespace check
