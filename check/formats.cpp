// The results in the forms other tools read (JSON, Gradescope, JUnit XML, TAP, a CSV of
// grades), the student's feedback as plain text, and the teacher's class report as one
// self-contained HTML page. Every function here is pure: it only turns results into text.
#include "check/formats.hpp"

#include "check/build.hpp"
#include "check/sandbox.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

namespace check {

namespace {

using json = nlohmann::ordered_json;  // keys in the order they are given

// The fixed-point text of `x` with `decimals` decimals.
std::string fixed(double x, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, x);
    return buffer;
}

// A score as people write it: "3", "2.5", "0.33" (at most two decimals, no trailing zero).
std::string number(double x) {
    std::string text = fixed(x, 2);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text == "-0" ? "0" : text;
}

// `part` of `whole` in percent, 0 when the whole is 0.
double percent(double part, double whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }

// `text` as well-formed UTF-8 that cannot move the cursor, colour or reorder what is
// shown: visible_text(), keeping line feeds and tabs when `lines` holds and writing them
// \xHH otherwise; backslashes as they are.
std::string printable(const std::string& text, bool lines) {
    return visible_text(text, lines ? Shown::lines : Shown::word);
}

// The UTF-8 bytes of the characters a spreadsheet or a terminal would act on rather than
// show (C1 controls and bidirectional controls), each with the JSON escape that keeps it.
std::string json_escaped(const std::string& dumped) {
    std::string out;
    out.reserve(dumped.size());
    for (std::size_t i = 0; i < dumped.size();) {
        const std::size_t n = shown_as_is(dumped, i);
        const auto b = static_cast<unsigned char>(dumped[i]);
        if (n == 0 && b >= 0x80) {
            // Well-formed (nlohmann replaced what was not) but a control: escaped by its
            // code point.
            const std::string one = visible_text(dumped.substr(i, 4), Shown::word);
            const std::size_t at = one.find("\\u");
            if (at == 0 && one.size() >= 6) {
                out += one.substr(0, 6);
                std::size_t length = 2;
                if (b >= 0xe0) length = 3;
                if (b >= 0xf0) length = 4;
                i += length;
                continue;
            }
        }
        out += dumped[i];
        ++i;
    }
    return out;
}

// `text` made printable and escaped for XML or HTML content or a quoted attribute; in an
// attribute (`attribute`), line feeds and tabs are written as references so that they
// survive the parser's normalisation.
std::string markup(const std::string& text, bool attribute = false) {
    std::string out;
    for (char c : printable(text, true)) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case '\n':
            out += attribute ? "&#10;" : "\n";
            break;
        case '\t':
            out += attribute ? "&#9;" : "\t";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// JSON text of `j` on one line; bytes that are not UTF-8 become U+FFFD instead of throwing,
// and C1 and bidirectional controls are written as \u escapes (the same text for a reader,
// nothing reordered for a person who looks at the file).
std::string dump(const json& j, int indent = -1) {
    return json_escaped(j.dump(indent, ' ', false, json::error_handler_t::replace));
}

// `text` with a final line feed when it has none (and is not empty).
std::string ended(std::string text) {
    if (!text.empty() && text.back() != '\n') text += '\n';
    return text;
}

// The lines of `text`, without their line feeds.
std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// True when the case could not even be run: the submission did not build or start.
bool is_error(Verdict v) { return v == Verdict::not_started || v == Verdict::compile_error; }

// "N of M cases passed, score X of Y": the run in one line.
std::string summary_line(const SubmissionResult& s) {
    return std::to_string(s.passed()) + " of " + std::to_string(s.cases.size()) +
           " cases passed, score " + number(s.score()) + " of " + number(s.max_score());
}

// A text field of a CSV row: made printable; with a ' before it when a spreadsheet would
// read it as a formula (it begins with =, +, -, @, a tab or a carriage return); quoted (RFC
// 4180) when it holds a comma, a quote, a line break or blanks at either end. The numbers
// the checker writes itself are not fields of this kind.
std::string csv_field(const std::string& raw) {
    std::string text = printable(raw, true);
    const std::string formula = "=+-@\t\r";
    if ((!raw.empty() && formula.find(raw.front()) != std::string::npos) ||
        (!text.empty() && formula.find(text.front()) != std::string::npos))
        text.insert(0, 1, '\'');
    const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// A TAP test's description: printable, on one line, with '#' and '\' escaped.
std::string tap_description(const std::string& name) {
    std::string out;
    for (char c : printable(name, false)) {
        if (c == '#' || (c == '\\')) out += '\\';
        out += c;
    }
    return out;
}

// The YAML entry "message: ..." of a TAP block, indented by `pad`: a literal block of the
// message's lines (their common indentation removed), or a double-quoted scalar when a
// literal block could not hold them as they are (a first line indented more than a later
// one, or a line that reads as a block marker).
std::string tap_message(const std::string& message, const std::string& pad) {
    std::vector<std::string> lines = split_lines(printable(message, true));
    while (!lines.empty() && lines.back().find_first_not_of(" \t") == std::string::npos)
        lines.pop_back();
    while (!lines.empty() && lines.front().find_first_not_of(" \t") == std::string::npos)
        lines.erase(lines.begin());
    if (lines.empty()) return "";
    std::size_t common = std::string::npos;
    for (const std::string& line : lines) {
        const std::size_t at = line.find_first_not_of(' ');
        if (at != std::string::npos) common = std::min(common, at);
    }
    bool literal = lines.front().find_first_not_of(' ') == common;
    for (std::string& line : lines) {
        line.erase(0, std::min(common, line.size()));
        const std::size_t start = line.find_first_not_of(" \t");
        const std::size_t end = line.find_last_not_of(" \t");
        if (start != std::string::npos) {
            const std::string bare = line.substr(start, end - start + 1);
            if (bare == "..." || bare == "---" || line[0] == '\t') literal = false;
        }
    }
    if (literal) {
        std::string out = pad + "message: |\n";
        for (const std::string& line : lines) {
            out += pad;
            out += "  ";
            out += line;
            out += '\n';
        }
        return out;
    }
    std::string quoted = "\"";
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k > 0) quoted += "\\n";
        for (char c : lines[k]) {
            if (c == '"' || c == '\\') quoted += '\\';
            quoted += c == '\t' ? std::string("\\t") : std::string(1, c);
        }
    }
    return pad + "message: " + quoted + "\"\n";
}

}  // namespace

double SubmissionResult::score() const {
    double total = 0;
    for (const CaseResult& r : cases) total += r.score;
    return total;
}

double SubmissionResult::max_score() const {
    double total = 0;
    for (const CaseResult& r : cases) total += r.points;
    return total;
}

std::size_t SubmissionResult::passed() const {
    return static_cast<std::size_t>(
        std::count_if(cases.begin(), cases.end(),
                      [](const CaseResult& r) { return r.verdict == Verdict::passed; }));
}

std::string to_json(const SubmissionResult& s) {
    json cases = json::array();
    for (const CaseResult& r : s.cases) {
        cases.push_back({{"name", r.name},
                         {"kind", kind_name(r.kind)},
                         {"verdict", verdict_word(r.verdict)},
                         {"points", r.points},
                         {"score", r.score},
                         {"hidden", r.hidden},
                         {"wall_s", r.wall_seconds},
                         {"cpu_s", r.cpu_seconds},
                         {"max_rss_kib", r.max_rss_kib},
                         {"message", r.message}});
    }
    const json j = {{"program", s.program},
                    {"submission", s.submission},
                    {"sandbox", wall_name(current_wall())},
                    {"score", s.score()},
                    {"max_score", s.max_score()},
                    {"passed", s.passed()},
                    {"failed", s.cases.size() - s.passed()},
                    {"seconds", s.seconds},
                    {"build", {{"verdict", s.build_verdict}, {"message", s.build_message}}},
                    {"cases", cases}};
    return dump(j);
}

std::string to_gradescope(const SubmissionResult& s) {
    json tests = json::array();
    for (const CaseResult& r : s.cases) {
        const bool passed = r.verdict == Verdict::passed;
        std::string output = verdict_word(r.verdict);
        if (!r.hidden && !r.message.empty()) output += "\n" + r.message;
        tests.push_back({{"name", r.name},
                         {"score", r.score},
                         {"max_score", r.points},
                         {"status", passed ? "passed" : "failed"},
                         {"output", output},
                         {"visibility", r.hidden ? "hidden" : "visible"},
                         {"extra_data",
                          {{"wall_s", r.wall_seconds},
                           {"cpu_s", r.cpu_seconds},
                           {"max_rss_kib", r.max_rss_kib}}}});
    }
    const std::string output =
        s.build_message.empty() ? summary_line(s) : ended(s.build_message) + summary_line(s);
    const json j = {{"score", s.score()},
                    {"execution_time", s.seconds},
                    {"output", output},
                    {"extra_data", {{"sandbox", wall_name(current_wall())}}},
                    {"tests", tests}};
    return dump(j, 2) + "\n";
}

std::string to_junit(const SubmissionResult& s) {
    std::size_t failures = 0, errors = 0;
    std::string body;
    for (const CaseResult& r : s.cases) {
        body += "    <testcase classname=\"" + markup(s.program, true) + "\" name=\"" +
                markup(r.name, true) + "\" time=\"" + fixed(r.wall_seconds, 3) + "\"";
        const std::string measured = "      <system-out>processor " + fixed(r.cpu_seconds, 3) +
                                     " s, peak memory " + std::to_string(r.max_rss_kib) +
                                     " KiB</system-out>\n";
        if (r.verdict == Verdict::passed) {
            body += ">\n" + measured + "    </testcase>\n";
            continue;
        }
        const std::string element = is_error(r.verdict) ? "error" : "failure";
        (is_error(r.verdict) ? errors : failures) += 1;
        const std::string word = verdict_word(r.verdict);
        body += ">\n      <" + element;
        body += " message=\"" + word;
        body += "\" type=\"" + word;
        body += "\">";
        body += r.hidden ? std::string() : markup(r.message);
        body += "</" + element + ">\n";
        body += measured;
        body += "    </testcase>\n";
    }
    const std::string counts = " tests=\"" + std::to_string(s.cases.size()) + "\" failures=\"" +
                               std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                               "\"";
    const std::string time = " time=\"" + fixed(s.seconds, 3) + "\"";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites name=\"collection-check\"" + counts + time + ">\n";
    xml += "  <testsuite name=\"" + markup(s.program + " (" + s.submission + ")", true) + "\"" +
           counts + " skipped=\"0\"" + time + ">\n";
    xml += "    <properties>\n      <property name=\"sandbox\" value=\"" +
           std::string(wall_name(current_wall())) + "\"/>\n    </properties>\n";
    xml += body;
    if (!s.build_message.empty())
        xml += "    <system-out>" + markup(s.build_message) + "</system-out>\n";
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

std::string to_tap(const SubmissionResult& s) {
    std::string tap = "TAP version 14\n1.." + std::to_string(s.cases.size()) +
                      "\n# sandbox: " + wall_name(current_wall()) + "\n";
    std::size_t n = 0;
    for (const CaseResult& r : s.cases) {
        const bool passed = r.verdict == Verdict::passed;
        tap += std::string(passed ? "ok " : "not ok ") + std::to_string(++n) + " - " +
               tap_description(r.name) + "\n";
        if (passed) continue;
        tap += "  ---\n  verdict: " + std::string(verdict_word(r.verdict)) + "\n";
        tap += "  score: " + number(r.score) + "\n  points: " + std::to_string(r.points) + "\n";
        tap += "  wall_s: " + fixed(r.wall_seconds, 3) + "\n  cpu_s: " + fixed(r.cpu_seconds, 3) +
               "\n  max_rss_kib: " + std::to_string(r.max_rss_kib) + "\n";
        if (r.hidden)
            tap += "  hidden: true\n";
        else
            tap += tap_message(r.message, "  ");
        tap += "  ...\n";
    }
    return tap;
}

std::string grades_csv(const std::vector<SubmissionResult>& all) {
    std::vector<std::string> names;
    std::map<std::string, bool> seen;
    for (const SubmissionResult& s : all)
        for (const CaseResult& r : s.cases)
            if (!seen[r.name]) seen[r.name] = true, names.push_back(r.name);
    std::string csv = "name,score,max_score,percent,build";
    for (const std::string& name : names) csv += "," + csv_field(name);
    csv += "\r\n";
    for (const SubmissionResult& s : all) {
        std::map<std::string, const CaseResult*> by_name;
        for (const CaseResult& r : s.cases) by_name.emplace(r.name, &r);
        csv += csv_field(s.submission) + "," + number(s.score()) + "," + number(s.max_score()) +
               "," + fixed(percent(s.score(), s.max_score()), 1) + "," +
               csv_field(s.build_verdict.empty() ? "executable" : s.build_verdict);
        for (const std::string& name : names) {
            const auto found = by_name.find(name);
            csv += ",";
            if (found != by_name.end()) csv += verdict_word(found->second->verdict);
        }
        csv += "\r\n";
    }
    return csv;
}

std::vector<std::string> file_names(const std::vector<std::string>& names) {
    constexpr std::size_t kLongest = 120;
    std::vector<std::string> safe;
    std::map<std::string, std::size_t> count;
    for (const std::string& name : names) {
        std::string f;
        for (std::size_t i = 0; i < name.size() && f.size() < kLongest;) {
            const std::size_t n = shown_as_is(name, i);
            if (n == 0 || name[i] == '/' || name[i] == '\\' || f.size() + n > kLongest) {
                f += '_';
                i += std::max<std::size_t>(n, 1);
            } else {
                f.append(name, i, n);
                i += n;
            }
        }
        if (f.empty() || f.front() == '.') f.insert(0, 1, '_');
        count[f] += 1;
        safe.push_back(f);
    }
    std::map<std::string, bool> taken;
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (count[safe[k]] > 1) {
            Sha256 h;
            h.add(names[k]);
            safe[k] += "-" + h.hex().substr(0, 8);
        }
        const std::string base = safe[k];
        for (int more = 2; taken[safe[k]]; ++more) safe[k] = base + "-" + std::to_string(more);
        taken[safe[k]] = true;
    }
    return safe;
}

std::string feedback_text(const SubmissionResult& s) {
    std::string text;
    if (!s.build_message.empty()) {
        text += "build: " + (s.build_verdict.empty() ? std::string("built") : s.build_verdict) +
                "\n" + ended(printable(s.build_message, true)) + "\n";
    }
    for (const CaseResult& r : s.cases) {
        if (r.hidden && r.verdict != Verdict::passed) {
            text += visible_line(r.name, false) + " FAILED (" + verdict_word(r.verdict) +
                    ")\n  (a hidden case: its input and expected output are not shown)\n";
        } else {
            text += ended(text_lines(r));
        }
    }
    return text + "score: " + number(s.score()) + " of " + number(s.max_score()) + "\n";
}

// ---------------------------------------------------------------------------------------
// The class report page.

namespace {

// The page's style sheet: light, readable, printable; verdicts coloured by their family.
constexpr const char* kStyle = R"css(
:root { --ok: #1a7f37; --bad: #cf222e; --warn: #bf8700; --limit: #8250df; --off: #6e7781;
        --line: #d0d7de; --soft: #f6f8fa; }
* { box-sizing: border-box; }
body { font: 15px/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; color: #1f2328;
       margin: 0 auto; padding: 24px 32px 48px; max-width: 1100px; background: #fff; }
h1 { font-size: 24px; margin: 0 0 4px; }
h2 { font-size: 18px; margin: 32px 0 10px; border-bottom: 1px solid var(--line); padding-bottom: 4px; }
.sub { color: var(--off); margin: 0 0 20px; }
.cards { display: flex; gap: 14px; flex-wrap: wrap; margin-bottom: 8px; }
.card { border: 1px solid var(--line); border-radius: 8px; padding: 10px 16px; min-width: 150px;
        background: var(--soft); }
.card b { display: block; font-size: 24px; }
.card span { color: var(--off); font-size: 13px; }
.grid { display: grid; grid-template-columns: minmax(0, 1fr) minmax(0, 1fr); gap: 28px; }
table { border-collapse: collapse; width: 100%; font-size: 14px; }
th, td { text-align: left; padding: 5px 8px; border-bottom: 1px solid var(--line); vertical-align: top; }
th { background: var(--soft); font-weight: 600; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
.name { font-family: ui-monospace, "DejaVu Sans Mono", monospace; word-break: break-all; }
.rate { display: flex; align-items: center; gap: 8px; min-width: 160px; }
.bar { flex: 1; height: 10px; background: #ffebe9; border-radius: 5px; overflow: hidden; }
.bar i { display: block; height: 100%; background: var(--ok); }
.v { display: inline-block; padding: 0 8px; border-radius: 10px; font-size: 12px; font-weight: 600;
     color: #fff; white-space: nowrap; }
.v-passed { background: var(--ok); }
.v-wrong-output, .v-wrong-status, .v-wrong-stderr, .v-wrong-files, .v-crashed,
.v-memory-error { background: var(--bad); }
.v-presentation { background: var(--warn); }
.v-time-limit, .v-memory-limit, .v-output-limit { background: var(--limit); }
.v-not-started, .v-compile-error, .v-executable, .v-built { background: var(--off); }
.tag { color: var(--off); font-size: 12px; border: 1px solid var(--line); border-radius: 4px;
       padding: 0 4px; margin-left: 6px; }
svg text { font: 12px system-ui, sans-serif; fill: #57606a; }
svg .count { fill: #1f2328; font-weight: 600; }
details { border: 1px solid var(--line); border-radius: 8px; margin: 10px 0; }
details[open] { padding-bottom: 10px; }
summary { cursor: pointer; padding: 8px 14px; display: flex; gap: 12px; align-items: center;
          background: var(--soft); border-radius: 8px; }
summary { list-style: none; }
summary::-webkit-details-marker { display: none; }
summary::before { content: "\25B8"; color: var(--off); width: 10px; }
details[open] > summary::before { content: "\25BE"; }
details[open] > summary { border-radius: 8px 8px 0 0; border-bottom: 1px solid var(--line); }
summary .who { font-weight: 600; word-break: break-all; }
summary .pts { margin-left: auto; font-variant-numeric: tabular-nums; }
details > *:not(summary) { margin-left: 14px; margin-right: 14px; }
details table { width: auto; min-width: 60%; margin-top: 10px; }
h3 { font-size: 14px; margin: 14px 0 4px; }
pre { background: #f6f8fa; border: 1px solid var(--line); border-radius: 6px; padding: 8px 10px;
      overflow-x: auto; font: 12.5px/1.4 ui-monospace, "DejaVu Sans Mono", monospace; margin: 4px 0 8px;
      white-space: pre; }
)css";

// The order verdicts are listed in and what they are called.
const std::vector<Verdict> kVerdicts = {
    Verdict::passed,        Verdict::wrong_output, Verdict::presentation, Verdict::wrong_status,
    Verdict::wrong_stderr,  Verdict::wrong_files,  Verdict::time_limit,   Verdict::memory_limit,
    Verdict::output_limit,  Verdict::crashed,      Verdict::memory_error, Verdict::not_started,
    Verdict::compile_error,
};

// A coloured badge for a verdict (or a build's) word.
std::string badge(const std::string& word) {
    return "<span class=\"v v-" + markup(word, true) + "\">" + markup(word) + "</span>";
}

// The score distribution: how many students scored in each tenth of the maximum, as an
// inline SVG bar chart (no script, no external file).
std::string distribution_svg(const std::vector<SubmissionResult>& all) {
    std::vector<std::size_t> bins(10, 0);
    for (const SubmissionResult& s : all) {
        const double p = percent(s.score(), s.max_score());
        bins[std::min<std::size_t>(9, static_cast<std::size_t>(std::max(0.0, p) / 10.0))] += 1;
    }
    const std::size_t most = std::max<std::size_t>(1, *std::max_element(bins.begin(), bins.end()));
    const int width = 500, height = 220, left = 30, bottom = 40, top = 20, slot = 46;
    const int plot = height - bottom - top;
    std::string svg = "<svg role=\"img\" aria-label=\"score distribution\" width=\"" +
                      std::to_string(width) + "\" height=\"" + std::to_string(height) +
                      "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(height) +
                      "\">\n";
    svg += "<line x1=\"" + std::to_string(left) + "\" y1=\"" + std::to_string(top + plot) +
           "\" x2=\"" + std::to_string(left + 10 * slot) + "\" y2=\"" + std::to_string(top + plot) +
           "\" stroke=\"#d0d7de\"/>\n";
    for (std::size_t k = 0; k < bins.size(); ++k) {
        const int x = left + static_cast<int>(k) * slot;
        const int h = static_cast<int>(std::lround(
            static_cast<double>(plot) * static_cast<double>(bins[k]) / static_cast<double>(most)));
        const std::string colour = k < 5 ? "#cf222e" : k < 8 ? "#bf8700" : "#1a7f37";
        svg += "<rect x=\"" + std::to_string(x + 6) + "\" y=\"" + std::to_string(top + plot - h) +
               "\" width=\"" + std::to_string(slot - 12) + "\" height=\"" + std::to_string(h) +
               "\" rx=\"3\" fill=\"" + colour + "\"><title>" + std::to_string(k * 10) + "–" +
               std::to_string(k == 9 ? 100 : k * 10 + 9) + " %: " + std::to_string(bins[k]) +
               "</title></rect>\n";
        if (bins[k] > 0)
            svg += "<text class=\"count\" x=\"" + std::to_string(x + slot / 2) + "\" y=\"" +
                   std::to_string(top + plot - h - 5) + "\" text-anchor=\"middle\">" +
                   std::to_string(bins[k]) + "</text>\n";
        svg += "<text x=\"" + std::to_string(x + slot / 2) + "\" y=\"" +
               std::to_string(top + plot + 16) + "\" text-anchor=\"middle\">" +
               std::to_string(k * 10) + (k == 9 ? "+" : "") + "</text>\n";
    }
    svg += "<text x=\"" + std::to_string(left + 5 * slot) + "\" y=\"" + std::to_string(height - 6) +
           "\" text-anchor=\"middle\">score, % of the maximum (bins of 10 %)</text>\n";
    return svg + "</svg>\n";
}

// One case across the class: how many students ran it and how many passed.
struct CaseRate {
    std::string name;
    std::size_t order = 0;  // first seen
    std::size_t ran = 0, passed = 0;
    bool hidden = false;
};

// The cases of the class, the lowest pass rate first (then in the order first seen).
std::vector<CaseRate> case_rates(const std::vector<SubmissionResult>& all) {
    std::vector<CaseRate> rates;
    std::map<std::string, std::size_t> index;
    for (const SubmissionResult& s : all) {
        for (const CaseResult& r : s.cases) {
            auto [at, added] = index.emplace(r.name, rates.size());
            if (added) rates.push_back({r.name, rates.size(), 0, 0, r.hidden});
            CaseRate& rate = rates[at->second];
            rate.ran += 1;
            rate.passed += r.verdict == Verdict::passed;
        }
    }
    const auto rate_of = [](const CaseRate& c) {
        return c.ran ? static_cast<double>(c.passed) / static_cast<double>(c.ran) : 0.0;
    };
    std::stable_sort(rates.begin(), rates.end(),
                     [&](const CaseRate& a, const CaseRate& b) { return rate_of(a) < rate_of(b); });
    return rates;
}

// The table of cases with their pass-rate bars.
std::string rates_table(const std::vector<CaseRate>& rates) {
    std::string html = "<table class=\"cases\">\n<tr><th>case</th><th class=\"num\">passed</th>"
                       "<th>pass rate</th></tr>\n";
    for (const CaseRate& c : rates) {
        const double p = percent(static_cast<double>(c.passed), static_cast<double>(c.ran));
        html += "<tr><td class=\"name\">" + markup(c.name) +
                (c.hidden ? "<span class=\"tag\">hidden</span>" : "") + "</td><td class=\"num\">" +
                std::to_string(c.passed) + " / " + std::to_string(c.ran) +
                "</td><td><div class=\"rate\"><div class=\"bar\"><i style=\"width:" + fixed(p, 1) +
                "%\"></i></div><span>" + fixed(p, 0) + " %</span></div></td></tr>\n";
    }
    return html + "</table>\n";
}

// The table of how often each verdict was given, over every case of every student.
std::string verdicts_table(const std::vector<SubmissionResult>& all) {
    std::map<Verdict, std::size_t> counts;
    std::size_t total = 0;
    for (const SubmissionResult& s : all)
        for (const CaseResult& r : s.cases) counts[r.verdict] += 1, total += 1;
    std::string html =
        "<table class=\"verdicts\">\n<tr><th>verdict</th><th class=\"num\">cases</th>"
        "<th class=\"num\">share</th></tr>\n";
    for (Verdict v : kVerdicts) {
        if (counts[v] == 0) continue;
        html += "<tr><td>" + badge(verdict_word(v)) + "</td><td class=\"num\">" +
                std::to_string(counts[v]) + "</td><td class=\"num\">" +
                fixed(percent(static_cast<double>(counts[v]), static_cast<double>(total)), 1) +
                " %</td></tr>\n";
    }
    return html + "</table>\n";
}

// A student's collapsible section: the build, each case's verdict, then the messages (but
// not the same "not built" of every case when the build's own message is shown).
std::string student_section(const SubmissionResult& s) {
    const std::string build = s.build_verdict.empty() ? "executable" : s.build_verdict;
    std::string html = "<details>\n<summary><span class=\"who\">" + markup(s.submission) + " — " +
                       number(s.score()) + "/" + number(s.max_score()) + "</span>" + badge(build) +
                       "<span class=\"pts\">" + std::to_string(s.passed()) + " of " +
                       std::to_string(s.cases.size()) + " passed · " +
                       fixed(percent(s.score(), s.max_score()), 1) + " %</span></summary>\n";
    if (!s.build_message.empty())
        html += "<h3>build</h3>\n<pre>" + markup(s.build_message) + "</pre>\n";
    html += "<table>\n<tr><th>case</th><th>verdict</th><th class=\"num\">score</th>"
            "<th class=\"num\">time</th><th class=\"num\">processor</th>"
            "<th class=\"num\">peak memory</th></tr>\n";
    for (const CaseResult& r : s.cases) {
        html += "<tr><td class=\"name\">" + markup(r.name) +
                (r.hidden ? "<span class=\"tag\">hidden</span>" : "") + "</td><td>" +
                badge(verdict_word(r.verdict)) + "</td><td class=\"num\">" + number(r.score) +
                " / " + std::to_string(r.points) + "</td><td class=\"num\">" +
                fixed(r.wall_seconds * 1000, 1) + " ms</td><td class=\"num\">" +
                fixed(r.cpu_seconds * 1000, 1) + " ms</td><td class=\"num\">" +
                fixed(static_cast<double>(r.max_rss_kib) / 1024, 1) + " MiB</td></tr>\n";
    }
    html += "</table>\n";
    for (const CaseResult& r : s.cases) {
        if (r.verdict == Verdict::passed || r.message.empty()) continue;
        if (r.verdict == Verdict::compile_error && !s.build_message.empty()) continue;
        html += "<h3><span class=\"name\">" + markup(r.name) + "</span> " +
                badge(verdict_word(r.verdict)) + "</h3>\n<pre>" + markup(r.message) + "</pre>\n";
    }
    return html + "</details>\n";
}

}  // namespace

std::string report_html(const std::vector<SubmissionResult>& all) {
    const std::string program = all.empty() ? std::string("(no program)") : all.front().program;
    double sum = 0, sum_percent = 0;
    std::size_t built = 0;
    for (const SubmissionResult& s : all) {
        sum += s.score();
        sum_percent += percent(s.score(), s.max_score());
        built += s.build_verdict != "compile-error";
    }
    const double n = std::max<double>(1.0, static_cast<double>(all.size()));
    const double max = all.empty() ? 0.0 : all.front().max_score();
    const std::string title = "collection-check: " + program + " class report";

    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    html +=
        "<title>" + markup(title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
    html += "<h1>" + markup(title) + "</h1>\n";
    html += "<p class=\"sub\">" + std::to_string(all.size()) + " students, " +
            std::to_string(case_rates(all).size()) + " cases</p>\n";
    html += "<section id=\"summary\">\n<div class=\"cards\">\n";
    html += "<div class=\"card\"><b>" + std::to_string(all.size()) +
            "</b><span>students</span></div>\n";
    html += "<div class=\"card\"><b>" + number(sum / n) + " / " + number(max) +
            "</b><span>mean score</span></div>\n";
    html += "<div class=\"card\"><b>" + fixed(sum_percent / n, 1) +
            " %</b><span>mean of the maximum</span></div>\n";
    html += "<div class=\"card\"><b>" + std::to_string(built) + " / " + std::to_string(all.size()) +
            "</b><span>built or given</span></div>\n</div>\n";
    html += "<h2>Score distribution</h2>\n" + distribution_svg(all);
    html += "<div class=\"grid\">\n<div>\n<h2>Cases, the most failed first</h2>\n" +
            rates_table(case_rates(all)) + "</div>\n<div>\n<h2>Verdicts</h2>\n" +
            verdicts_table(all) + "</div>\n</div>\n</section>\n";
    html += "<section id=\"students\">\n<h2>Students</h2>\n";
    for (const SubmissionResult& s : all) html += student_section(s);
    html += "</section>\n</body>\n</html>\n";
    return html;
}

}  // namespace check
