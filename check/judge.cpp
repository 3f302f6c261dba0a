#include "check/judge.hpp"

#include "check/compare.hpp"

#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace check {

namespace {

// Lines shown before and after the first differing line.
constexpr std::size_t kContext = 3;
// Lines of output shown for a run that was stopped or crashed.
constexpr std::size_t kShownLines = 12;
// Lines shown of each end of an output that reached the output limit.
constexpr std::size_t kFloodLines = 6;

// The code point of the well-formed UTF-8 character of `n` bytes at `text[i]`, or -1 when
// the bytes there are not one (overlong forms, surrogates and beyond U+10FFFF are not).
long utf8_character(const std::string& text, std::size_t i, std::size_t& n) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = byte(i);
    unsigned long code = 0;
    n = 1;
    if (b < 0x80) return b;
    if (b >= 0xc2 && b <= 0xdf) {
        n = 2, code = b & 0x1fU;
    } else if (b >= 0xe0 && b <= 0xef) {
        n = 3, code = b & 0x0fU;
    } else if (b >= 0xf0 && b <= 0xf4) {
        n = 4, code = b & 0x07U;
    } else {
        return -1;
    }
    if (i + n > text.size()) return -1;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xc0) != 0x80) return -1;
        code = (code << 6) | (byte(i + k) & 0x3fU);
    }
    const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[n] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return -1;
    return static_cast<long>(code);
}

// As utf8_character(), U+FFFE and U+FFFF refused too: no character a terminal shows.
long code_point(const std::string& text, std::size_t i, std::size_t& n) {
    const long code = utf8_character(text, i, n);
    return code == 0xfffe || code == 0xffff ? -1 : code;
}

// True for the characters that change how the text around them is shown: C1 controls,
// bidirectional controls, line and paragraph separators.
bool is_format_control(long code) {
    return (code >= 0x80 && code <= 0x9f) || code == 0x061c || code == 0x200e || code == 0x200f ||
           (code >= 0x202a && code <= 0x202e) || (code >= 0x2066 && code <= 0x2069) ||
           code == 0x2028 || code == 0x2029;
}

// Where line `n` (0-based) of `text` starts; text.size() + 1 when the text has fewer lines.
std::size_t line_start(const std::string& text, std::size_t n, std::size_t from_line,
                       std::size_t from) {
    for (std::size_t line = from_line; line < n; ++line) {
        std::size_t nl = text.find('\n', from);
        if (nl == std::string::npos) return text.size() + 1;
        from = nl + 1;
    }
    return from;
}

// Bytes of a line of a tool's own text (a compiler's, a memory checker's) kept at most.
constexpr std::size_t kToolLine = 2000;

// Bytes of a line shown at most, and how many at least after the marked column.
constexpr std::size_t kLineShown = 200, kAfterColumn = 40;

// The part of a line that is shown: at most kLineShown bytes, "…" where it is cut; made
// visible, with '$' when a line feed ended the line and all of it is shown.
std::string shown_part(const std::string& line, bool ended) {
    const bool cut_after = line.size() > kLineShown;
    std::string v = visible_line(line.substr(0, kLineShown), ended && !cut_after);
    if (cut_after) v += "\u2026";
    return v;
}

// The lines from `first` (0-based) of `text`, numbered from 1, up to a few after the line
// `mark`, which is marked with '>' and a caret under its byte `column`. The part after the
// last line feed is a line of its own, so that where the text ends is always shown.
std::string excerpt(const std::string& text, std::size_t first, std::size_t mark,
                    std::size_t column) {
    std::ostringstream shown;
    if (first > 0) shown << "      (" << first << " lines before)\n";
    std::size_t at = line_start(text, first, 0, 0);
    std::size_t i = first;
    // A long line is shown from where the marked column stands near the window's end, or,
    // when it ends before that, as its last kLineShown bytes: every line around the
    // difference shows the bytes nearest the marked column.
    const std::size_t from =
        column + kAfterColumn > kLineShown ? column + kAfterColumn - kLineShown : 0;
    for (; at <= text.size() && i <= mark + kContext; ++i) {
        std::size_t nl = text.find('\n', at);
        const bool ended = nl != std::string::npos;
        const std::size_t end = ended ? nl : text.size();
        const std::size_t length = end - at;
        const std::size_t skip = length > kLineShown ? std::min(from, length - kLineShown) : 0;
        const std::size_t start = at + skip;
        const std::string line = text.substr(start, std::min(end - start, kLineShown + 1));
        char number[32];
        std::snprintf(number, sizeof number, "%s%5zu | ", i == mark ? "   > " : "     ", i + 1);
        shown << number << (start > at ? "\u2026" : "") << shown_part(line, ended);
        if (!ended) shown << "(end)";
        shown << "\n";
        if (i == mark) {
            const std::size_t upto = std::min(column - std::min(column, skip), line.size());
            std::size_t before =
                columns(visible_line(line.substr(0, upto), false)) + (start > at ? 1 : 0);
            shown << std::string(13 + before, ' ') << "^\n";
        }
        at = ended ? nl + 1 : text.size() + 1;
    }
    if (at <= text.size()) {
        std::size_t more = static_cast<std::size_t>(
                               std::count(text.begin() + static_cast<long>(at), text.end(), '\n')) +
                           1;
        shown << "      (" << more << " more lines)\n";
    }
    return shown.str();
}

// A signal's name and number, as "SIGSEGV, signal 11".
std::string signal_name(int s) {
    const char* abbrev = ::sigabbrev_np(s);
    return std::string(abbrev ? std::string("SIG") + abbrev : "an unknown signal") + ", signal " +
           std::to_string(s);
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The output a stopped or crashed program left, for a person: its first lines, or (with
// `last`) its last ones, where a program that was stopped had got to.
std::string written(const Outcome& o, const char* when, bool last = false) {
    if (o.out.empty())
        return std::string("  nothing reached standard output ") + when +
               " (output still in the program's buffer is lost when it is stopped: flush "
               "before you wait, or end lines with \\n and use setvbuf)\n";
    if (last)
        return std::string("  the last lines that reached standard output ") + when + ":\n" +
               last_lines(o.out, kShownLines);
    return std::string("  what reached standard output ") + when + ":\n" +
           first_lines(o.out, kShownLines);
}

// What a program stopped at the output limit wrote to the stream that reached it, for a
// person: where it first left the expected text (when the case expects one), or else its
// first lines; then its last lines, where a program that repeats itself was repeating.
std::string flooded(const Case& c, const Outcome& o) {
    const std::string& text = o.out_cut ? o.out : o.err;
    const std::string stream = o.out_cut ? "standard output" : "standard error";
    std::optional<std::string> want = o.out_cut ? c.output : c.error.value_or("");
    if (o.out_cut && c.compare == Compare::checker) want.reset();
    std::string shown;
    if (want && *want != text)
        shown = difference(stream, *want, text);
    else
        shown = "  what reached " + stream + " first:\n" + first_lines(text, kFloodLines);
    return shown + "  the last lines that reached " + stream + " before it was stopped:\n" +
           last_lines(text, kFloodLines);
}

// A number of seconds as a person reads it: "0.02 seconds", "10 seconds".
std::string seconds(double s) {
    char number[32];
    std::snprintf(number, sizeof number, "%.2g", s);
    if (s >= 1) std::snprintf(number, sizeof number, "%.1f", s);
    return std::string(number) + " seconds";
}

// How much of its input a stopped program had taken, for a person: "it had read all its
// input (12 bytes)", "it had read 5 of the 12 bytes of its input".
std::string input_read(const Outcome& o, std::size_t input) {
    if (input == 0) return "its input was empty";
    if (o.input_taken >= input)
        return "it had read all its input (" + quantity(static_cast<double>(input), "byte") + ")";
    if (o.input_taken == 0)
        return "it had read none of its input (" + quantity(static_cast<double>(input), "byte") +
               ")";
    return "it had read " + std::to_string(o.input_taken) + " of the " +
           quantity(static_cast<double>(input), "byte") + " of its input";
}

// What a program stopped at the wall time limit was doing, from its threads' states (not
// its processor share, which a loaded machine cuts) and from how much of its `input` bytes
// it had read: a loop, a wait with all its input read, or a start too slow for the limit.
std::string time_clue(const Outcome& o, const Limits& limits, std::size_t input) {
    using Doing = Outcome::Doing;
    const double wall = o.wall_seconds > 0 ? o.wall_seconds : limits.wall;
    const std::string measured =
        " (" + seconds(o.cpu_seconds) + " of processor time in " + seconds(wall) + ")";
    const std::string read = input_read(o, input);
    if (input > 0 && o.input_taken == 0)
        return "  " + read + std::string(o.doing == Doing::waiting ? ", waiting" : "") + measured +
               ": it was still starting, or stuck before its first read. A program that "
               "starts slowly (a JVM on a busy machine, say) needs a longer limit: "
               "--timeout S gives each case S seconds.\n";
    if (o.doing == Doing::running)
        return "  " + read + " and was still running" + measured +
               (input > 0 && o.input_taken >= input
                    ? ": a loop that never ends? Does it stop when a read fails at the end "
                      "of its input?\n"
                    : ": a loop that never ends?\n");
    if (o.doing == Doing::waiting)
        return "  " + read + " and was waiting, not running" + measured +
               (o.input_taken >= input ? ": in a sleep, for a process of its own, or on a lock? "
                                         "Reading past the end of its input returns at once.\n"
                                       : ": in a sleep, for a process of its own, or on a "
                                         "lock? More input was ready to read.\n");
    return "  " + read + measured + "\n";
}

// The first line where `want` and `got` differ, of each, with its line feed when it has
// one (at most kKeyLine bytes), after `what`: the same for two differences that differ
// only in the lines around them.
std::string differing_lines(const std::string& what, const std::string& want,
                            const std::string& got) {
    constexpr std::size_t kKeyLine = 1000;
    std::size_t at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at]) ++at;
    const std::size_t begin = at == 0 ? 0 : want.rfind('\n', at - 1) + 1;  // npos + 1 is 0
    const auto line = [&](const std::string& text) {
        const std::size_t nl = text.find('\n', begin);
        const std::size_t end = nl == std::string::npos ? text.size() : nl + 1;
        return text.substr(begin, std::min(end - begin, kKeyLine));
    };
    std::string key = what;
    key += '\0';
    key += line(want);
    key += '\0';
    key += line(got);
    key += '\0';
    return key;
}

// The size of a limit in MiB, as a person reads it.
std::string mib(std::uint64_t bytes) {
    return quantity(static_cast<double>(bytes) / (1 << 20), "MiB");
}

// Each line without the blanks and tabs at its end.
std::string without_trailing_blanks(const std::string& text) {
    std::string out;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t nl = text.find('\n', at);
        std::size_t end = nl == std::string::npos ? text.size() : nl;
        std::size_t last = end;
        while (last > at && (text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
        out.append(text, at, last - at);
        if (nl == std::string::npos) break;
        out += '\n';
        at = nl + 1;
    }
    return out;
}

}  // namespace

bool is_utf8(const std::string& text) {
    for (std::size_t i = 0, n = 0; i < text.size(); i += n)
        if (utf8_character(text, i, n) < 0) return false;
    return true;
}

std::string slip(const std::string& want, const std::string& got) {
    if (!got.empty() && got.size() < want.size() && want.compare(0, got.size(), got) == 0) {
        if (want.size() == got.size() + 1 && want.back() == '\n')
            return "  the line feed at the end is missing\n";
        return "  the output ends early: it is right up to where it stops, after " +
               quantity(static_cast<double>(got.size()), "byte") + " of " +
               std::to_string(want.size()) + "\n";
    }
    if (!want.empty() && want.size() < got.size() && got.compare(0, want.size(), want) == 0) {
        if (got.size() == want.size() + 1 && got.back() == '\n')
            return "  there is one line feed too many at the end\n";
        return "  the output goes on after the expected end: " +
               quantity(static_cast<double>(got.size() - want.size()), "byte") + " more\n";
    }
    if (without_trailing_blanks(want) == without_trailing_blanks(got))
        return got.size() > want.size() ? "  lines end with blanks that are not expected\n"
                                        : "  blanks are missing at the end of lines\n";
    if (same_but_spacing(want, got)) return "  right words, different spacing\n";
    return "";
}

const char* verdict_word(Verdict v) {
    switch (v) {
    case Verdict::passed:
        return "passed";
    case Verdict::wrong_output:
        return "wrong-output";
    case Verdict::presentation:
        return "presentation";
    case Verdict::wrong_status:
        return "wrong-status";
    case Verdict::wrong_stderr:
        return "wrong-stderr";
    case Verdict::wrong_files:
        return "wrong-files";
    case Verdict::time_limit:
        return "time-limit";
    case Verdict::memory_limit:
        return "memory-limit";
    case Verdict::output_limit:
        return "output-limit";
    case Verdict::crashed:
        return "crashed";
    case Verdict::not_started:
        return "not-started";
    case Verdict::compile_error:
        return "compile-error";
    case Verdict::memory_error:
        return "memory-error";
    }
    return "unknown";
}

std::string quantity(double n, const std::string& unit) {
    char number[64];
    if (n == std::floor(n) && std::fabs(n) < 1e15)
        std::snprintf(number, sizeof number, "%.0f", n);
    else
        std::snprintf(number, sizeof number, "%g", n);
    const bool one = std::string(number) == "1";
    if (unit == "MiB" || unit == "KiB") return std::string(number) + " " + unit;
    return std::string(number) + " " + unit + (one ? "" : "s");
}

std::size_t shown_as_is(const std::string& text, std::size_t i) {
    std::size_t n = 1;
    const long code = code_point(text, i, n);
    if (code < 0) return 0;
    if (code < 0x20 || code == 0x7f || is_format_control(code)) return 0;
    return n;
}

std::string visible_text(const std::string& text, Shown how) {
    std::string v;
    v.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char ch = text[i];
        const std::size_t n = shown_as_is(text, i);
        if (ch == '\t' && (how == Shown::line || how == Shown::name)) {
            v += "\\t";
        } else if ((ch == '\t' || ch == '\n') && how == Shown::lines) {
            v += ch;
        } else if (ch == ' ' && how == Shown::line) {
            v += "\xc2\xb7";
        } else if (ch == '\\' && (how == Shown::line || how == Shown::name)) {
            v += "\\\\";
        } else if (n > 0) {
            v.append(text, i, n);
            i += n;
            continue;
        } else {
            std::size_t length = 1;
            const long code = code_point(text, i, length);
            char hex[32];
            if (code >= 0x80) {
                std::snprintf(hex, sizeof hex, "\\u%04lx", static_cast<unsigned long>(code));
                i += length;
            } else {
                std::snprintf(hex, sizeof hex, "\\x%02x",
                              static_cast<unsigned>(static_cast<unsigned char>(ch)));
                ++i;
            }
            v += hex;
            continue;
        }
        ++i;
    }
    return v;
}

std::string visible_line(const std::string& line, bool ended) {
    std::string v = visible_text(line, Shown::line);
    return ended ? v + "$" : v;
}

std::size_t columns(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    return n;
}

std::string cut_to_columns(const std::string& text, std::size_t width,
                           const std::string& ellipsis) {
    if (columns(text) <= width) return text;
    std::string cut;
    std::size_t shown = 0;
    for (const char c : text) {
        const bool starts = (static_cast<unsigned char>(c) & 0xc0) != 0x80;
        if (starts && ++shown > width - 1) break;
        cut += c;
    }
    return cut + ellipsis;
}

bool utf8_locale() {
    // Not thread-safe: asked by the main thread only, with no other running.
    const char* was = std::setlocale(LC_CTYPE, nullptr);
    const std::string before = was ? was : "C";
    std::setlocale(LC_CTYPE, "");
    const std::string codeset = ::nl_langinfo(CODESET);
    std::setlocale(LC_CTYPE, before.c_str());  // the checker's own text stays bytes
    return codeset == "UTF-8" || codeset == "utf8";
}

std::string ascii_text(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
            continue;
        }
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(c));
        out += hex;
    }
    return out;
}

std::string difference(const std::string& what, const std::string& want, const std::string& got) {
    std::size_t at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at]) ++at;
    std::size_t line = 0, line_begin = 0;
    for (std::size_t i = 0; i < at; ++i)
        if (want[i] == '\n') ++line, line_begin = i + 1;
    const std::size_t column = at - line_begin;
    const std::size_t first = line > kContext ? line - kContext : 0;
    std::ostringstream d;
    d << "  " << what << " differs at line " << line + 1 << ", column " << column + 1 << " (byte "
      << at + 1 << ")\n"
      << "    expected:\n"
      << excerpt(want, first, line, column) << "    actual:\n"
      << excerpt(got, first, line, column);
    return d.str();
}

bool same_but_spacing(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    for (;;) {
        while (i < a.size() && is_blank(a[i])) ++i;
        while (j < b.size() && is_blank(b[j])) ++j;
        if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
        // One word of each, byte for byte, and both must end at the same place.
        while (i < a.size() && j < b.size() && !is_blank(a[i]) && !is_blank(b[j]))
            if (a[i++] != b[j++]) return false;
        const bool a_ended = i == a.size() || is_blank(a[i]);
        const bool b_ended = j == b.size() || is_blank(b[j]);
        if (a_ended != b_ended) return false;
    }
}

std::string plain_lines(const std::string& text, std::size_t lines) {
    std::string kept;
    std::size_t n = 0, all = 0, at = 0;
    while (at < text.size()) {
        std::size_t nl = text.find('\n', at);
        const std::size_t end = nl == std::string::npos ? text.size() : nl;
        if (n < lines) {
            // A line a tool wrote (a forged log, a compiler quoting a huge line) is cut.
            const std::size_t length = std::min(end - at, kToolLine);
            kept += visible_text(text.substr(at, length), Shown::lines);
            if (length < end - at) kept += "\u2026";
            kept += '\n';
            ++n;
        }
        ++all;
        at = end + 1;
    }
    if (all > n) {
        kept += "(";
        kept += std::to_string(all - n);
        kept += " more lines)\n";
    }
    return kept;
}

std::string first_lines(const std::string& text, std::size_t lines) {
    std::string shown;
    std::size_t at = 0, n = 0;
    for (; at < text.size() && n < lines; ++n) {
        std::size_t nl = text.find('\n', at);
        const bool ended = nl != std::string::npos;
        const std::size_t end = ended ? nl : text.size();
        shown += "      ";
        shown += shown_part(text.substr(at, std::min(end - at, kLineShown + 1)), ended);
        shown += '\n';
        at = ended ? nl + 1 : text.size();
    }
    if (at < text.size()) {
        auto more = std::count(text.begin() + static_cast<long>(at), text.end(), '\n');
        if (text.back() != '\n') ++more;
        shown += "      (" + std::to_string(more) + " more lines)\n";
    }
    return shown;
}

std::string last_lines(const std::string& text, std::size_t lines) {
    if (text.empty() || lines == 0) return first_lines(text, lines);
    // The start of the last `lines` lines, found from the end: the part after the last line
    // feed is a line of its own.
    std::size_t start = text.size(), taken = 0;
    std::size_t search = text.back() == '\n' ? text.size() - 1 : text.size();
    while (taken < lines) {
        const std::size_t nl = search == 0 ? std::string::npos : text.rfind('\n', search - 1);
        start = nl == std::string::npos ? 0 : nl + 1;
        ++taken;
        if (nl == std::string::npos) break;
        search = nl;
    }
    std::string shown;
    if (start > 0) {
        const auto before = std::count(text.begin(), text.begin() + static_cast<long>(start), '\n');
        shown = "      (" + std::to_string(before) + " lines before)\n";
    }
    // The last line, when it is long, by its end: where a program that was stopped had got.
    const bool ended = text.back() == '\n';
    const std::size_t last_end = ended ? text.size() - 1 : text.size();
    const std::size_t last = last_end == 0 ? std::string::npos : text.rfind('\n', last_end - 1);
    const std::size_t last_start = std::max(start, last == std::string::npos ? 0 : last + 1);
    if (last_end - last_start <= kLineShown) return shown + first_lines(text.substr(start), lines);
    shown += first_lines(text.substr(start, last_start - start), lines);
    shown +=
        "      \u2026" + visible_line(text.substr(last_end - kLineShown, kLineShown), ended) + "\n";
    return shown;
}

Judgement judge(const Case& c, const Outcome& o, const fs::path& folder, bool strict_status,
                const Limits& limits, const Containment& containment) {
    Judgement j;
    std::ostringstream why;
    std::string key;  // what the difference is, without the lines around it
    using End = Outcome::End;
    if (o.end == End::not_started) {
        j.verdict = Verdict::not_started;
        j.message = "  the program could not be started: " + o.start_error + "\n";
        return j;
    }
    const std::size_t input = c.input ? c.input->size() : 0;
    if (o.end == End::wall_limit) {
        j.verdict = Verdict::time_limit;
        j.message = "  the program did not end within " + quantity(limits.wall, "second") +
                    " (the wall time limit) and was stopped\n" + time_clue(o, limits, input) +
                    (o.out.empty() && o.doing != Outcome::Doing::waiting
                         ? "  nothing reached standard output before it was stopped (output "
                           "still in the program's buffer is lost when it is stopped)\n"
                         : written(o, "before it was stopped", true));
        return j;
    }
    const bool cpu_out = o.end == End::signaled &&
                         (o.code == SIGXCPU || (o.code == SIGKILL && o.cpu_seconds >= limits.cpu));
    if (cpu_out) {
        j.verdict = Verdict::time_limit;
        j.message = "  the program used more than " + quantity(limits.cpu, "second") +
                    " of processor time (the CPU time limit) and was stopped\n" +
                    "  it was using the processor all along (" + input_read(o, input) +
                    "): a loop that never ends?\n" + written(o, "before it was stopped", true);
        return j;
    }
    if (o.end == End::output_limit && o.folder_cut) {
        j.verdict = Verdict::output_limit;
        j.message = "  the program wrote more than " + mib(limits.scratch) +
                    " (or more than 16384 files) into its working folder (the limit of its "
                    "working folder) and was stopped\n" +
                    written(o, "first");
        return j;
    }
    if (o.end == End::output_limit) {
        j.verdict = Verdict::output_limit;
        j.message = "  the program wrote more than " + mib(limits.output) + " to standard " +
                    (o.out_cut ? "output" : "error") + " (the output limit) and was stopped\n" +
                    flooded(c, o);
        return j;
    }
    if (o.end == End::memory_limit) {
        j.verdict = Verdict::memory_limit;
        j.message = "  the program's processes together used more than " + mib(limits.memory) +
                    " (the memory limit) and were stopped\n" +
                    written(o, "before it was stopped", true);
        return j;
    }
    // A request refused at the memory bound, seen by the checker as it happened: whatever
    // the run printed or did afterwards, running out of memory is what failed it (a run that
    // still did all its case asked is left alone).
    const bool refused = o.allocation_refused && limits.memory != 0;
    if (refused) {
        const auto whole = [](std::uint64_t bytes) {
            return mib((bytes + (1U << 19)) >> 20 << 20);
        };
        why << "  the program ran out of memory: a request for " << whole(o.refused_bytes)
            << " was refused, its process holding " << whole(o.refused_held_bytes) << " of the "
            << mib(address_backstop(limits.memory))
            << " of address space a process may reserve under the memory limit ("
            << mib(limits.memory) << ", for all its processes together)\n";
        key += "memory limit";
        key += '\0';
    }
    if (o.end == End::signaled) {
        if (j.verdict == Verdict::passed) j.verdict = Verdict::crashed;
        why << "  the program was killed by signal " << o.code << " (" << signal_name(o.code)
            << ": " << ::strsignal(o.code) << ")\n";
        key += "signal " + std::to_string(o.code);
        key += '\0';
        if (o.out.empty())
            why << "  nothing it wrote reached standard output: output still in the program's "
                   "buffer is lost at a crash (flush before you exit, or end lines with \\n and "
                   "use setvbuf)\n";
    } else if (o.code != c.status && (strict_status || !c.status_open)) {
        why << "  exit status " << o.code << ", expected " << c.status << "\n";
        key += "status " + std::to_string(o.code);
        key += '\0';
        if (j.verdict == Verdict::passed) j.verdict = Verdict::wrong_status;
    }
    Verdict output_verdict = Verdict::passed;
    if (c.compare == Compare::checker) {
        // The checker judges only an output the program finished: a run that crashed or
        // passed a limit has its verdict already.
        if (o.end == End::exited) {
            const CheckerVerdict v = run_checker(c, o.out, limits, containment);
            if (v.result == CheckerVerdict::Result::failed) {
                j.verdict = Verdict::not_started;
                j.message = v.message;
                return j;
            }
            if (v.result == CheckerVerdict::Result::rejected) {
                output_verdict = Verdict::wrong_output;
                why << v.message;
                key += v.message;
                key += '\0';
            }
        }
    } else if (c.compare == Compare::blanks) {
        if (c.output && !same_but_spacing(*c.output, o.out)) {
            output_verdict = Verdict::wrong_output;
            why << "  the words differ (the case ignores blanks and line feeds)\n"
                << difference("standard output", *c.output, o.out);
            key += differing_lines("standard output", *c.output, o.out);
        }
    } else if (c.output && o.out != *c.output) {
        const bool spacing = same_but_spacing(*c.output, o.out);
        output_verdict = spacing ? Verdict::presentation : Verdict::wrong_output;
        const std::string named = slip(*c.output, o.out);
        if (spacing) why << "  right words, different spacing\n";
        if (named != "  right words, different spacing\n") why << named;
        why << difference("standard output", *c.output, o.out);
        key += named;
        key += differing_lines("standard output", *c.output, o.out);
    }
    const std::string want_err = c.error.value_or("");
    const bool err_differs = o.err != want_err;
    if (err_differs) {
        why << slip(want_err, o.err) << difference("standard error", want_err, o.err);
        key += slip(want_err, o.err);
        key += differing_lines("standard error", want_err, o.err);
    }
    bool files_differ = false;
    for (const Entry& e : c.after) {
        std::string got;
        bool found = false;
        try {
            found = read_beneath(folder, e.path, got);
        } catch (const std::exception& ex) {
            why << "  the file " << visible_line(e.path, false) << " is not a plain file "
                << "afterwards (" << visible_line(ex.what(), false) << ")\n";
            files_differ = true;
            continue;
        }
        if (!found) {
            why << "  the file " << visible_line(e.path, false) << " is missing afterwards\n";
            key += "missing " + e.path;
            key += '\0';
            files_differ = true;
        } else if (got != e.content) {
            why << difference("the file " + visible_line(e.path, false), e.content, got);
            key += differing_lines("file " + e.path, e.content, got);
            files_differ = true;
        }
    }
    if (j.verdict == Verdict::passed) {
        // Wrong words first, then a wrong standard error or file, then a spacing slip.
        Verdict v = output_verdict;  // passed, presentation or wrong-output
        if (v != Verdict::wrong_output && err_differs)
            v = Verdict::wrong_stderr;
        else if (v != Verdict::wrong_output && files_differ)
            v = Verdict::wrong_files;
        j.verdict = v;
    } else if (j.verdict == Verdict::wrong_status && output_verdict == Verdict::wrong_output) {
        j.verdict = Verdict::wrong_output;
    }
    if (refused && j.verdict != Verdict::passed) j.verdict = Verdict::memory_limit;
    j.message = why.str();
    if (j.verdict != Verdict::passed) {
        j.key = verdict_word(j.verdict);
        j.key += '\0';
        j.key += key;
    }
    return j;
}

}  // namespace check
