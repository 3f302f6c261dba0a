// The results in the forms other tools read (JSON, Gradescope, JUnit XML, TAP, a CSV of
// grades), the student's feedback as plain text, and the markup every page and XML text
// is escaped with (the teacher's class report page itself is report_page.cpp's). Every
// function here is pure: it only turns results into text.
#include "check/formats.hpp"

#include "check/build.hpp"
#include "check/judge.hpp"
#include "check/report_page.hpp"
#include "check/sandbox.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

namespace check {

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

namespace {

using json = nlohmann::ordered_json;  // keys in the order they are given

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

}  // namespace

std::string markup(const std::string& text, bool attribute) {
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

namespace {

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

// How the submission was built, as every format names it: "executable" for one given as
// an executable (and for a result that does not say), else its build verdict.
std::string build_word(const SubmissionResult& s) {
    return s.build_verdict.empty() ? "executable" : s.build_verdict;
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

// `text` as the inside of a YAML double-quoted scalar: printable, on one line, with quotes,
// backslashes, line feeds and tabs escaped.
std::string tap_quoted(const std::string& text) {
    std::string out;
    for (char c : printable(text, true)) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

// The lines of `text`, each without its line feed, once each, in the order they first
// come; a text ending with a line feed has no empty line after it.
std::vector<std::string> distinct_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t nl = text.find('\n', at);
        const std::size_t end = nl == std::string::npos ? text.size() : nl;
        std::string line = text.substr(at, end - at);
        if (std::find(lines.begin(), lines.end(), line) == lines.end())
            lines.push_back(std::move(line));
        at = end + 1;
    }
    return lines;
}

}  // namespace

bool could_run(const SubmissionResult& s) {
    return s.build_verdict != "compile-error" && s.build_verdict != "missing" &&
           s.build_verdict != "refused";
}

std::string time_limit_clue(const SubmissionResult& s) {
    std::vector<const CaseResult*> timed;
    std::vector<std::string> passing;  // every line a visible passing case feeds
    for (const CaseResult& r : s.cases) {
        if (r.hidden) continue;
        if (r.verdict == Verdict::time_limit) timed.push_back(&r);
        if (r.verdict == Verdict::passed)
            for (std::string& line : distinct_lines(r.fed)) passing.push_back(std::move(line));
    }
    if (timed.size() < 2 || passing.empty()) return "";
    std::vector<std::string> shared;
    for (const std::string& line : distinct_lines(timed.front()->fed)) {
        if (std::find(passing.begin(), passing.end(), line) != passing.end()) continue;
        const bool everywhere =
            std::all_of(timed.begin() + 1, timed.end(), [&](const CaseResult* r) {
                const std::vector<std::string> fed = distinct_lines(r->fed);
                return std::find(fed.begin(), fed.end(), line) != fed.end();
            });
        if (everywhere) shared.push_back(line);
    }
    if (shared.empty()) return "";
    constexpr std::size_t kNamed = 3;
    std::string named;
    for (std::size_t k = 0; k < shared.size() && k < kNamed; ++k) {
        if (k > 0) named += k + 1 == std::min(shared.size(), kNamed) ? " and " : ", ";
        named += shared[k].empty() ? std::string("an empty line") : visible_line(shared[k], false);
    }
    if (shared.size() == 1)
        return "every case that ran out of time feeds the line " + named +
               "; no case that passed does\n";
    return "every case that ran out of time feeds the lines " + named +
           (shared.size() > kNamed ? " (and more)" : "") +
           "; no case that passed feeds any of them\n";
}

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

namespace {

// `bytes` in base64 (RFC 4648, with padding).
std::string base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned long group = static_cast<unsigned long>(static_cast<unsigned char>(bytes[i]))
                              << 16U;
        if (i + 1 < bytes.size())
            group |= static_cast<unsigned long>(static_cast<unsigned char>(bytes[i + 1])) << 8U;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        out += digits[(group >> 18U) & 63U];
        out += digits[(group >> 12U) & 63U];
        out += i + 1 < bytes.size() ? digits[(group >> 6U) & 63U] : '=';
        out += i + 2 < bytes.size() ? digits[group & 63U] : '=';
    }
    return out;
}

// Bytes as the JSON formats carry them, so that a reader gets them back exactly: a string
// when they are UTF-8, otherwise {"base64": their base64}.
json bytes_json(const std::string& bytes) {
    if (is_utf8(bytes)) return bytes;
    return json{{"base64", base64(bytes)}};
}

// What is kept of an output (Kept): its bytes as bytes_json() carries them when it is whole;
// otherwise {"bytes": the whole size, "parts": [{"at": offset, "text": UTF-8 text} or
// {"at": offset, "base64": ...}, ...]}.
json kept_json(const Kept& k) {
    if (k.whole()) return bytes_json(k.parts.empty() ? std::string() : k.parts[0].bytes);
    json parts = json::array();
    for (const Kept::Part& p : k.parts) {
        if (is_utf8(p.bytes))
            parts.push_back({{"at", p.at}, {"text", p.bytes}});
        else
            parts.push_back({{"at", p.at}, {"base64", base64(p.bytes)}});
    }
    return json{{"bytes", k.bytes}, {"parts", parts}};
}

// `j` with what tells identical submissions apart, where it is known: "sources" (its
// fingerprint) and "same_sources" (the other students with the same).
json with_sources(json j, const SubmissionResult& s) {
    if (!s.sources.empty()) j["sources"] = s.sources;
    if (!s.same_sources.empty()) j["same_sources"] = s.same_sources;
    return j;
}

// Adds to `j` the platform's id of the student ("student_id") and its late mark ("late"),
// where the platform gives them.
void add_identity(json& j, const SubmissionResult& s) {
    if (!s.student_id.empty()) j["student_id"] = s.student_id;
    if (s.late) j["late"] = *s.late;
}

}  // namespace

std::string to_json(const SubmissionResult& s) {
    json cases = json::array();
    for (const CaseResult& r : s.cases) {
        json one = {{"name", r.name},
                    {"kind", kind_name(r.kind)},
                    {"verdict", verdict_word(r.verdict)},
                    {"points", r.points},
                    {"score", r.score},
                    {"hidden", r.hidden},
                    {"wall_s", r.wall_seconds},
                    {"cpu_s", r.cpu_seconds},
                    {"max_rss_kib", r.max_rss_kib},
                    {"message", r.message}};
        if (!r.session.empty()) one["session"] = r.session;
        if (!r.hidden) one["input"] = bytes_json(r.fed);
        if (!r.hidden && r.verdict != Verdict::passed) {
            one["expected"] = kept_json(r.want);
            one["actual"] = kept_json(r.got);
        }
        cases.push_back(std::move(one));
    }
    json j = {{"program", s.program},
              {"submission", s.submission},
              {"sandbox", wall_name(current_wall())},
              {"score", s.score()},
              {"max_score", s.max_score()},
              {"passed", s.passed()},
              {"failed", s.cases.size() - s.passed()},
              {"seconds", s.seconds},
              {"build", {{"verdict", build_word(s)}, {"message", s.build_message}}},
              {"cases", cases}};
    add_identity(j, s);
    return dump(with_sources(j, s));
}

std::string to_gradescope(const SubmissionResult& s) {
    json tests = json::array();
    for (const CaseResult& r : s.cases) {
        const bool passed = r.verdict == Verdict::passed;
        std::string output = verdict_word(r.verdict);
        if (!r.hidden && !r.message.empty()) output += "\n" + r.message;
        if (!r.hidden && !passed) output += r.help;
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
    const json j = {
        {"score", s.score()},
        {"execution_time", s.seconds},
        {"output", output},
        {"extra_data", {{"sandbox", wall_name(current_wall())}, {"build", build_word(s)}}},
        {"tests", tests}};
    return dump(j, 2) + "\n";
}

std::string to_junit(const SubmissionResult& s) {
    std::size_t failures = 0, errors = 0;
    std::string body;
    for (const CaseResult& r : s.cases) {
        body += "    <testcase classname=\"" + markup(s.program, true) + "\" name=\"" +
                markup(r.name, true) + "\" time=\"" + fixed(r.wall_seconds, 3) + "\"";
        std::string measured = "      <system-out>processor " + fixed(r.cpu_seconds, 3) +
                               " s, peak memory " + std::to_string(r.max_rss_kib) + " KiB";
        if (!r.hidden) measured += "\ninput fed:\n" + markup(r.fed);
        measured += "</system-out>\n";
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
        if (r.hidden) {
            tap += "  hidden: true\n";
        } else {
            tap += tap_message(r.message, "  ");
            tap += "  input: \"" + tap_quoted(r.fed) + "\"\n";
        }
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
    const bool same = std::any_of(
        all.begin(), all.end(), [](const SubmissionResult& s) { return !s.same_sources.empty(); });
    const bool ids = std::any_of(all.begin(), all.end(),
                                 [](const SubmissionResult& s) { return !s.student_id.empty(); });
    const bool late = std::any_of(all.begin(), all.end(),
                                  [](const SubmissionResult& s) { return s.late.has_value(); });
    std::string csv = std::string("name") + (ids ? ",id" : "") + (late ? ",late" : "") +
                      ",score,max_score,percent,build";
    // One piece at a time: gcc 12 warns falsely (-Wrestrict) of `"," + csv_field(name)`
    // inlined here.
    for (const std::string& name : names) {
        csv += ',';
        csv += csv_field(name);
    }
    if (same) csv += ",same_sources";
    csv += "\r\n";
    for (const SubmissionResult& s : all) {
        std::map<std::string, const CaseResult*> by_name;
        for (const CaseResult& r : s.cases) by_name.emplace(r.name, &r);
        csv += csv_field(s.submission);
        if (ids) {
            csv += ',';
            csv += csv_field(s.student_id);
        }
        if (late) csv += s.late.value_or(false) ? ",late" : ",";
        csv += ',';
        csv += number(s.score()) + "," + number(s.max_score()) + "," +
               fixed(percent(s.score(), s.max_score()), 1) + "," + csv_field(build_word(s));
        for (const std::string& name : names) {
            const auto found = by_name.find(name);
            csv += ",";
            if (found != by_name.end()) csv += verdict_word(found->second->verdict);
        }
        if (same) {  // the others with the same sources, in one field
            std::string others;
            for (const std::string& other : s.same_sources)
                others += (others.empty() ? "" : "; ") + other;
            csv += ',';
            csv += csv_field(others);
        }
        csv += "\r\n";
    }
    return csv;
}

std::string moodle_worksheet(const std::vector<SubmissionResult>& all) {
    std::string csv =
        "\"Identifier\",\"Full name\",\"Email address\",\"Status\",\"Grade\",\"Maximum Grade\","
        "\"Grade can be changed\",\"Last modified (submission)\",\"Last modified (grade)\","
        "\"Feedback comments\"\r\n";
    for (const SubmissionResult& s : all) {
        if (s.student_id.empty()) continue;
        const bool handed_in = s.build_verdict != "missing";
        // One piece at a time, as in grades_csv (gcc 12's false -Wrestrict).
        csv += csv_field("Participant " + s.student_id);
        csv += ',';
        csv += csv_field(s.submission);
        csv += ",,";
        csv += handed_in ? "\"Submitted for grading\"," : "\"No submission\",";
        csv += number(s.score());
        csv += ',';
        csv += number(s.max_score());
        csv += ",Yes,-,-,";
        csv += csv_field(summary_line(s));
        csv += "\r\n";
    }
    return csv;
}

std::string canvas_gradebook(const std::vector<SubmissionResult>& all,
                             const std::string& assignment) {
    double max = 0;
    for (const SubmissionResult& s : all) max = std::max(max, s.max_score());
    std::string csv = "Student,ID,SIS User ID,SIS Login ID,Section,";
    csv += csv_field(assignment);
    csv += "\r\n    Points Possible,,,,,";
    csv += number(max);
    csv += "\r\n";
    for (const SubmissionResult& s : all) {
        if (s.student_id.empty()) continue;
        csv += csv_field(s.submission);
        csv += ',';
        csv += csv_field(s.student_id);
        csv += ",,,,";
        csv += number(s.score());
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
            safe[k] += '-';  // in two pieces, for gcc 12's false -Wrestrict (above)
            safe[k] += h.hex().substr(0, 8);
        }
        const std::string base = safe[k];
        for (int more = 2; taken[safe[k]]; ++more) safe[k] = base + "-" + std::to_string(more);
        taken[safe[k]] = true;
    }
    return safe;
}

std::string feedback_text(const SubmissionResult& s) {
    std::string text;
    const bool ran = could_run(s);
    if (!s.build_message.empty() || !ran) {
        text += "build: " + build_word(s) + "\n";
        text += ended(printable(s.build_message, true));
        text += '\n';
    }
    if (!ran) {
        // The build said why once; every case failed for that one reason.
        std::vector<std::string> names;
        for (const CaseResult& r : s.cases) names.push_back(r.name);
        if (!names.empty()) text += not_run_lines(names);
    } else {
        // A random session that failed without being shrunk takes one line; the shrunk ones
        // are shown in full after every other case, as the plain report shows them.
        SameFailures same;
        std::string shrunk;
        for (const CaseResult& r : s.cases) {
            if (r.hidden && r.verdict != Verdict::passed) {
                text += visible_line(r.name, false) + " FAILED (" + verdict_word(r.verdict) +
                        ")\n  (a hidden case: its input and expected output are not shown)\n";
            } else if (r.verdict != Verdict::passed && !r.shrunk && !r.session.empty()) {
                text += session_line(r);
            } else if (r.shrunk) {
                shrunk += ended(text_lines(r, same.earlier(r)));
            } else {
                text += ended(text_lines(r, same.earlier(r)));
            }
        }
        text += shrunk + time_limit_clue(s);
    }
    return text + "score: " + number(s.score()) + " of " + number(s.max_score()) + "\n";
}

std::string report_html(const std::vector<SubmissionResult>& all) { return report_page(all); }

}  // namespace check
