// The teacher's class report page (report_page.hpp). Its style sheet and script are the
// files report_page.css and report_page.js, embedded at build time; this file only writes
// the markup, and every text from outside goes through markup().
#include "check/report_page.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "check/embedded/kReportCss.hpp"
#include "check/embedded/kReportScript.hpp"

namespace check {

namespace {

// The lines of `text` without their line feeds; a last line without one counts too.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The order verdicts are listed in.
const std::vector<Verdict> kVerdicts = {
    Verdict::passed,        Verdict::wrong_output, Verdict::presentation, Verdict::wrong_status,
    Verdict::wrong_stderr,  Verdict::wrong_files,  Verdict::time_limit,   Verdict::memory_limit,
    Verdict::output_limit,  Verdict::crashed,      Verdict::memory_error, Verdict::not_started,
    Verdict::compile_error,
};

// The short word a verdict's cell of the grid shows (its title holds the whole word).
std::string short_word(Verdict v) {
    switch (v) {
    case Verdict::passed:
        return "ok";
    case Verdict::wrong_output:
        return "output";
    case Verdict::presentation:
        return "layout";
    case Verdict::wrong_status:
        return "status";
    case Verdict::wrong_stderr:
        return "stderr";
    case Verdict::wrong_files:
        return "files";
    case Verdict::time_limit:
        return "time";
    case Verdict::memory_limit:
        return "memory";
    case Verdict::output_limit:
        return "too long";
    case Verdict::crashed:
        return "crash";
    case Verdict::memory_error:
        return "mem fault";
    case Verdict::not_started:
        return "not run";
    case Verdict::compile_error:
        return "no build";
    }
    return verdict_word(v);  // GCOVR_EXCL_LINE: every verdict is named above
}

// A coloured badge for a verdict's (or a build's) word, showing `shown` when given.
std::string badge(const std::string& word, const std::string& shown = "") {
    return "<span class=\"v v-" + markup(word, true) + "\" title=\"" + markup(word, true) + "\">" +
           markup(shown.empty() ? word : shown) + "</span>";
}

// What the build column says of a submission: "executable", "built", "warnings",
// "compile-error", "missing", "refused".
std::string build_word(const SubmissionResult& s) {
    if (s.build_verdict.empty()) return "executable";
    if (has_warnings(s)) return "warnings";
    return s.build_verdict;
}

// A line of an output as a difference shows it (blanks as '·', '$' at its end), or a note
// that the output has ended there.
std::string shown_line(const std::optional<std::string>& line) {
    if (!line) return "<em>(the output ends)</em>";
    return "<code class=\"line\">" + markup(visible_line(*line, true)) + "</code>";
}

// The score distribution: how many students scored in each tenth of the maximum, as an
// inline SVG bar chart.
std::string distribution_svg(const std::vector<SubmissionResult>& all) {
    std::vector<std::size_t> bins(10, 0);
    for (const SubmissionResult& s : all) {
        const double p = percent(s.score(), s.max_score());
        bins[std::min<std::size_t>(9, static_cast<std::size_t>(std::max(0.0, p) / 10.0))] += 1;
    }
    const std::size_t most = std::max<std::size_t>(1, *std::max_element(bins.begin(), bins.end()));
    const int width = 500, height = 200, left = 30, bottom = 40, top = 20, slot = 46;
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
        const std::string colour = k < 5 ? "#cf222e" : k < 8 ? "#9a6700" : "#1a7f37";
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

// The cases of the class in the order first seen, and whether each is hidden.
std::vector<std::pair<std::string, bool>> case_columns(const std::vector<SubmissionResult>& all) {
    std::vector<std::pair<std::string, bool>> headers;
    std::set<std::string> seen;
    for (const SubmissionResult& s : all)
        for (const CaseResult& r : s.cases)
            if (seen.insert(r.name).second) headers.emplace_back(r.name, r.hidden);
    return headers;
}

// The grid of students and cases with its controls: a row per student (name, score, build,
// then a badge per case), the headers sorting, the select filtering by verdict.
std::string grid(const std::vector<SubmissionResult>& all) {
    const auto headers = case_columns(all);
    std::set<Verdict> present;
    for (const SubmissionResult& s : all)
        for (const CaseResult& r : s.cases) present.insert(r.verdict);
    std::string html = "<div class=\"controls\">\n<label>verdict <select id=\"verdict-filter\">"
                       "<option value=\"\">every verdict</option>"
                       "<option value=\"failed\">any failure (of those that built)</option>";
    for (Verdict v : kVerdicts)
        if (present.contains(v))
            html += "<option value=\"" + std::string(verdict_word(v)) + "\">" + verdict_word(v) +
                    "</option>";
    html += "</select></label>\n<button type=\"button\" id=\"show-all\">show every student</button>"
            "\n<span id=\"shown\" class=\"note\"></span>\n</div>\n"
            "<p class=\"note\">Click a header to sort by it; click a case to see who failed it."
            "</p>\n<div id=\"who\" hidden></div>\n";
    html += "<div class=\"scroll\">\n<table id=\"grid\" data-first-case=\"3\">\n<thead><tr>"
            "<th class=\"sortable\" data-sort=\"name\" aria-sort=\"ascending\">student</th>"
            "<th class=\"sortable num\" data-sort=\"score\">score</th><th>build</th>";
    for (const auto& [name, hidden] : headers)
        html += "<th class=\"sortable case\" data-sort=\"case\" data-name=\"" + markup(name, true) +
                "\" title=\"" + markup(name, true) + (hidden ? " (hidden)" : "") + "\">" +
                markup(name) + (hidden ? "<span class=\"tag\">hidden</span>" : "") + "</th>";
    html += "</tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < all.size(); ++i) {
        const SubmissionResult& s = all[i];
        const double p = percent(s.score(), s.max_score());
        html += "<tr data-order=\"" + std::to_string(i) + "\" data-name=\"" +
                markup(s.submission, true) + "\" data-score=\"" + fixed(p, 3) + "\" data-built=\"" +
                (was_built(s) ? "1" : "0") +
                "\"><td class=\"name\"><a class=\"to-student\" href=\"#s-" + std::to_string(i) +
                "\">" + markup(s.submission) + "</a></td><td class=\"num\">" + number(s.score()) +
                "/" + number(s.max_score()) + "</td><td>" + badge(build_word(s)) + "</td>";
        for (const auto& column : headers) {
            const auto r = std::find_if(s.cases.begin(), s.cases.end(), [&](const CaseResult& c) {
                return c.name == column.first;
            });
            const std::string hid = column.second ? " hid" : "";
            if (r == s.cases.end())
                html += "<td class=\"cell" + hid + "\" data-v=\"\">" + badge("none", "–") + "</td>";
            else
                html += "<td class=\"cell" + hid + "\" data-v=\"" + verdict_word(r->verdict) +
                        "\">" + badge(verdict_word(r->verdict), short_word(r->verdict)) + "</td>";
        }
        html += "</tr>\n";
    }
    html += "</tbody>\n</table>\n</div>\n<div class=\"legend\">";
    for (Verdict v : kVerdicts)
        if (present.contains(v))
            html += "<span>" + badge(verdict_word(v), short_word(v)) + " " + verdict_word(v) +
                    "</span>";
    return html + "<span>striped: a hidden case</span></div>\n";
}

// The table of cases with their pass-rate bars over the submissions that built, the most
// failed first, each with the students who failed it.
std::string rates_table(const std::vector<SubmissionResult>& all) {
    std::vector<CaseRate> rates = built_pass_rates(all);
    const auto rate_of = [](const CaseRate& c) {
        return c.ran ? static_cast<double>(c.passed) / static_cast<double>(c.ran) : 1.0;
    };
    std::stable_sort(rates.begin(), rates.end(),
                     [&](const CaseRate& a, const CaseRate& b) { return rate_of(a) < rate_of(b); });
    std::string html = "<table class=\"cases\">\n<tr><th>case</th><th class=\"num\">passed</th>"
                       "<th>pass rate</th></tr>\n";
    for (const CaseRate& c : rates) {
        const double p = percent(static_cast<double>(c.passed), static_cast<double>(c.ran));
        html += "<tr><td class=\"name\">" + markup(c.name) +
                (c.hidden ? "<span class=\"tag\">hidden</span>" : "");
        if (!c.failed.empty()) {
            html += "<details class=\"who-failed\"><summary>failed by " +
                    std::to_string(c.failed.size()) + "</summary>";
            for (std::size_t k = 0; k < c.failed.size(); ++k)
                html += (k ? ", " : "") + markup(c.failed[k]);
            html += "</details>";
        }
        html += "</td><td class=\"num\">" + std::to_string(c.passed) + " / " +
                std::to_string(c.ran) + "</td><td><div class=\"rate\"><div class=\"bar\"><i " +
                "style=\"width:" + fixed(p, 1) + "%\"></i></div><span>" +
                (c.ran ? fixed(p, 0) + " %" : std::string("no build")) +
                "</span></div></td></tr>\n";
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

// What a group's first difference comes to, in words that fit its verdict: a slip of
// spacing on the first differing line of an output whose words differ further on is no
// "other spacing" (that is the presentation verdict's).
std::string slip_label(Verdict v, const FirstDifference& d) {
    std::string named = slip_of(d);
    const bool spacing =
        named == "the same words, other spacing" || named.rfind("the line ends with", 0) == 0;
    if (v == Verdict::wrong_output && spacing)
        return "other spacing on this line, other words further on";
    return named;
}

// The students whose sources are the same (after blanks and comments), each group once, in
// class order; "" when no two are.
std::string identical_section(const std::vector<SubmissionResult>& all) {
    std::string html;
    std::set<std::string> named;
    for (const SubmissionResult& s : all) {
        if (s.same_sources.empty() || named.contains(s.submission)) continue;
        html += "<li><span class=\"name\">" + markup(s.submission) + "</span>";
        named.insert(s.submission);
        for (const std::string& other : s.same_sources) {
            html += ", <span class=\"name\">" + markup(other) + "</span>";
            named.insert(other);
        }
        html += "</li>\n";
    }
    if (html.empty()) return "";
    return "<section id=\"identical\">\n<h2>Identical sources</h2>\n<p class=\"note\">"
           "Submissions whose sources are the same once comments are dropped and blanks "
           "normalised (file names aside), or whose executables are the same bytes.</p>\n<ul>\n" +
           html + "</ul>\n</section>\n";
}

// The groups of students with the same first difference, the largest first.
std::string groups_section(const std::vector<SubmissionResult>& all) {
    const std::vector<DifferenceGroup> groups = difference_groups(all);
    if (groups.empty()) return "<p class=\"note\">No visible case failed.</p>\n";
    std::string html;
    for (const DifferenceGroup& g : groups) {
        const std::size_t n = g.students.size();
        html += "<div class=\"group\"><span class=\"count\">" + std::to_string(n) +
                (n == 1 ? " student" : " students") + "</span> (" + std::to_string(g.where.size()) +
                (g.where.size() == 1 ? " case" : " cases") + "): " + badge(verdict_word(g.verdict));
        if (!g.session.empty()) {
            html += " the random session <strong>" + markup(g.session) + "</strong>";
        } else if (g.difference) {
            const std::string named = slip_label(g.verdict, *g.difference);
            if (!named.empty()) html += " <strong>" + markup(named) + "</strong>:";
            html += " expected " + shown_line(g.difference->expected) + " got " +
                    shown_line(g.difference->actual);
        }
        html += "<details class=\"who-list\"><summary>who</summary><div class=\"name\">";
        for (std::size_t k = 0; k < g.where.size(); ++k)
            html += (k ? "<br>" : "") + markup(g.where[k]);
        html += "</div></details></div>\n";
    }
    return html;
}

// An excerpt in a <pre>, the line `mark` (from 1, 0 for none) highlighted, and a note
// when the excerpt is cut.
std::string excerpt_pre(const Excerpt& e, std::size_t mark) {
    std::string html = "<pre>";
    const std::vector<std::string> lines = lines_of(e.text);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string line = markup(lines[k]);
        html += k + 1 == mark ? "<mark>" + line + "</mark>" : line;
        if (k + 1 < lines.size() || (!e.text.empty() && e.text.back() == '\n')) html += '\n';
    }
    html += "</pre>\n";
    if (e.cut())
        html += "<p class=\"note\">cut: the first " + std::to_string(e.text.size()) + " of " +
                std::to_string(e.bytes) + " bytes shown (at most " + std::to_string(kExcerptLines) +
                " lines, " + std::to_string(kExcerptBytes / 1024) + " KiB)</p>\n";
    return html;
}

// A student's collapsible section: the build (its warnings flagged), each case's verdict,
// time and memory, then each failure's message (named, not repeated, when an earlier case
// failed the same way; one list of the cases when none could run) and, for a visible case,
// the input fed and the expected and actual output side by side.
std::string student_section(const SubmissionResult& s, std::size_t index) {
    const std::string build = build_word(s);
    std::string html = "<div class=\"student\" id=\"s-" + std::to_string(index) +
                       "\">\n<details>\n<summary><span class=\"who\">" + markup(s.submission) +
                       " — " + number(s.score()) + "/" + number(s.max_score()) + "</span>" +
                       badge(build) + "<span class=\"pts\">" + std::to_string(s.passed()) + " of " +
                       std::to_string(s.cases.size()) + " passed · " +
                       fixed(percent(s.score(), s.max_score()), 1) + " %</span></summary>\n";
    if (!s.same_sources.empty()) {
        html += "<p class=\"same\">the same sources as ";
        for (std::size_t k = 0; k < s.same_sources.size(); ++k)
            html += (k ? ", " : "") + std::string("<span class=\"name\">") +
                    markup(s.same_sources[k]) + "</span>";
        html += " (after blanks and comments)</p>\n";
    }
    if (!s.build_message.empty())
        html += std::string("<h3>") + (has_warnings(s) ? "the compiler's warnings" : "build") +
                "</h3>\n<pre>" + markup(s.build_message) + "</pre>\n";
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
    if (!could_run(s)) {  // one reason for every case, said by the build's message
        std::vector<std::string> names;
        for (const CaseResult& r : s.cases) names.push_back(r.name);
        if (!names.empty()) html += "<pre>" + markup(not_run_lines(names)) + "</pre>\n";
        return html + "</details>\n</div>\n";
    }
    SameFailures same;
    for (const CaseResult& r : s.cases) {
        if (r.verdict == Verdict::passed) continue;
        if (r.verdict == Verdict::compile_error && !s.build_message.empty()) continue;
        const std::string earlier = same.earlier(r);
        const bool shown = !r.hidden && (r.input.bytes || r.expected.bytes || r.actual.bytes);
        if (r.message.empty() && !shown) continue;
        html += "<h3><span class=\"name\">" + markup(r.name) + "</span> " +
                badge(verdict_word(r.verdict)) + "</h3>\n";
        if (!earlier.empty())
            html +=
                "<p>the same failure as <span class=\"name\">" + markup(earlier) + "</span></p>\n";
        else if (!r.message.empty())
            html += "<pre>" + markup(r.message) + "</pre>\n";
        if (!shown) continue;
        const auto d = first_difference(r.expected, r.actual);
        const std::size_t mark = d ? d->line : 0;
        html += "<div class=\"side\">\n<div><h4>input fed</h4>" + excerpt_pre(r.input, 0) +
                "</div>\n<div><h4>expected output</h4>" + excerpt_pre(r.expected, mark) +
                "</div>\n<div><h4>actual output</h4>" + excerpt_pre(r.actual, mark) +
                "</div>\n</div>\n";
    }
    return html + "</details>\n</div>\n";
}

}  // namespace

Excerpt excerpt_of(const std::string& text, std::size_t lines, std::size_t bytes) {
    Excerpt e;
    e.bytes = text.size();
    std::size_t end = std::min(text.size(), bytes);
    // Never inside a UTF-8 character: back to its first byte when the cut falls in one.
    if (end < text.size())
        for (std::size_t back = 0;
             back < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U;
             ++back)
            --end;
    std::size_t seen = 0;
    for (std::size_t at = 0; at < end; ++at) {
        if (text[at] == '\n' && ++seen == lines) {
            end = at + 1;
            break;
        }
    }
    e.text = text.substr(0, end);
    return e;
}

bool was_built(const SubmissionResult& s) {
    return s.build_verdict.empty() || s.build_verdict == "executable" || s.build_verdict == "built";
}

bool has_warnings(const SubmissionResult& s) {
    // The build's message begins with what was found and how it was used ("setcalc.c was
    // built"); the compiler's diagnostics are the lines that say "warning:".
    return s.build_verdict == "built" && s.build_message.find("warning:") != std::string::npos;
}

std::vector<CaseRate> built_pass_rates(const std::vector<SubmissionResult>& all) {
    std::vector<CaseRate> rates;
    std::map<std::string, std::size_t> index;
    for (const SubmissionResult& s : all) {
        for (const CaseResult& r : s.cases) {
            auto [at, added] = index.emplace(r.name, rates.size());
            if (added) rates.push_back({r.name, r.hidden, 0, 0, {}});
            if (!was_built(s)) continue;
            CaseRate& rate = rates[at->second];
            rate.ran += 1;
            if (r.verdict == Verdict::passed)
                rate.passed += 1;
            else
                rate.failed.push_back(s.submission);
        }
    }
    return rates;
}

std::optional<FirstDifference> first_difference(const Excerpt& expected, const Excerpt& actual) {
    const std::vector<std::string> want = lines_of(expected.text), got = lines_of(actual.text);
    // A cut excerpt's last line may be only a part of the line; what lies after is unknown.
    const auto known = [](const Excerpt& e, std::size_t count) {
        return e.cut() ? (count ? count - 1 : 0) : std::string::npos;
    };
    const std::size_t limit = std::min(known(expected, want.size()), known(actual, got.size()));
    const std::size_t most = std::max(want.size(), got.size());
    for (std::size_t k = 0; k < most && k < limit; ++k) {
        const bool has_want = k < want.size(), has_got = k < got.size();
        if (has_want && has_got && want[k] == got[k]) continue;
        FirstDifference d;
        d.line = k + 1;
        if (has_want) d.expected = want[k];
        if (has_got) d.actual = got[k];
        return d;
    }
    return std::nullopt;
}

std::string slip_of(const FirstDifference& d) {
    if (!d.actual) return "the output ends early";
    if (!d.expected) return "more output than expected";
    const std::string& want = *d.expected;
    const std::string& got = *d.actual;
    const auto trimmed = [](const std::string& text) {
        return text.substr(0, text.find_last_not_of(" \t") + 1);
    };
    if (trimmed(want) == trimmed(got)) {
        if (want.size() > got.size())
            return want.size() - got.size() == 1 ? "the line ends without its blank"
                                                 : "the line ends without its blanks";
        return got.size() - want.size() == 1 ? "the line ends with a blank too many"
                                             : "the line ends with blanks too many";
    }
    const auto squeezed = [](const std::string& text, bool fold) {
        std::string out;
        for (char c : text) {
            if (c == ' ' || c == '\t') continue;
            out += fold && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return out;
    };
    if (squeezed(want, false) == squeezed(got, false)) return "the same words, other spacing";
    if (squeezed(want, true) == squeezed(got, true)) return "other letter case";
    return "";
}

std::vector<DifferenceGroup> difference_groups(const std::vector<SubmissionResult>& all) {
    std::vector<DifferenceGroup> groups;
    std::map<std::string, std::size_t> index;
    // A key that no line can forge: each part's length before it.
    const auto part = [](const std::optional<std::string>& text) {
        return text ? std::to_string(text->size()) + ":" + *text : std::string("-");
    };
    for (const SubmissionResult& s : all) {
        if (!was_built(s)) continue;
        for (const CaseResult& r : s.cases) {
            if (r.verdict == Verdict::passed || r.hidden) continue;
            std::optional<FirstDifference> d;
            if (r.verdict == Verdict::wrong_output || r.verdict == Verdict::presentation)
                d = first_difference(r.expected, r.actual);
            std::string key = verdict_word(r.verdict);
            if (!r.session.empty())
                key += "|session|" + part(r.session);
            else if (d)
                key += "|" + part(d->expected) + "|" + part(d->actual);
            auto [at, added] = index.emplace(key, groups.size());
            if (added) groups.push_back({r.verdict, r.session, d, {}, {}});
            DifferenceGroup& g = groups[at->second];
            if (std::find(g.students.begin(), g.students.end(), s.submission) == g.students.end())
                g.students.push_back(s.submission);
            g.where.push_back(s.submission + ": " + r.name);
        }
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const DifferenceGroup& a, const DifferenceGroup& b) {
                         if (a.students.size() != b.students.size())
                             return a.students.size() > b.students.size();
                         return a.where.size() > b.where.size();
                     });
    return groups;
}

std::string report_page(const std::vector<SubmissionResult>& all) {
    const std::string program = all.empty() ? std::string("(no program)") : all.front().program;
    double sum = 0, sum_percent = 0;
    std::size_t built = 0, warned = 0;
    std::map<std::string, std::size_t> unbuilt;  // missing, refused, compile-error
    for (const SubmissionResult& s : all) {
        sum += s.score();
        sum_percent += percent(s.score(), s.max_score());
        built += was_built(s);
        warned += has_warnings(s);
        if (!was_built(s)) unbuilt[s.build_verdict] += 1;
    }
    const double n = std::max<double>(1.0, static_cast<double>(all.size()));
    const double max = all.empty() ? 0.0 : all.front().max_score();
    const std::string title = "collection-check: " + program + " class report";
    std::string not_built;
    for (const auto& [word, count] : unbuilt)
        not_built += (not_built.empty() ? "" : ", ") + std::to_string(count) + " " + markup(word);

    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    html += "<title>" + markup(title) + "</title>\n<style>\n";
    html += embedded::kReportCss;
    html += "</style>\n</head>\n<body>\n<h1>" + markup(title) + "</h1>\n";
    html += "<p class=\"sub\">" + std::to_string(all.size()) + " students, " +
            std::to_string(case_columns(all).size()) + " cases</p>\n";
    html += "<section id=\"summary\">\n<div class=\"cards\">\n";
    html += "<div class=\"card\"><b>" + std::to_string(all.size()) +
            "</b><span>students</span></div>\n";
    html += "<div class=\"card\"><b>" + number(sum / n) + " / " + number(max) +
            "</b><span>mean score</span></div>\n";
    html += "<div class=\"card\"><b>" + fixed(sum_percent / n, 1) +
            " %</b><span>mean of the maximum</span></div>\n";
    html += "<div class=\"card\" id=\"built\"><b>" + std::to_string(built) + " / " +
            std::to_string(all.size()) + "</b><span>built or given" +
            (not_built.empty() ? "" : " (not: " + not_built + ")") + "</span></div>\n";
    html += "<div class=\"card\"><b>" + std::to_string(warned) +
            "</b><span>built with warnings</span></div>\n";
    const auto same = static_cast<std::size_t>(std::count_if(
        all.begin(), all.end(), [](const SubmissionResult& s) { return !s.same_sources.empty(); }));
    if (same > 0)
        html += "<div class=\"card\"><b><a href=\"#identical\">" + std::to_string(same) +
                "</a></b><span>with sources identical to another's</span></div>\n";
    html += "</div>\n";
    html += "<h2>Score distribution</h2>\n" + distribution_svg(all);
    html += "<section id=\"class\">\n<h2>Students and cases</h2>\n" + grid(all) + "</section>\n";
    html += "<div class=\"columns\">\n<div>\n<h2>Cases, the most failed first</h2>\n"
            "<p class=\"note\">Pass rates over the " +
            std::to_string(built) + " of " + std::to_string(all.size()) +
            " submissions that built (or were given built).</p>\n" + rates_table(all) +
            "</div>\n<div>\n<h2>Verdicts</h2>\n" + verdicts_table(all) +
            "</div>\n</div>\n</section>\n";
    html += "<section id=\"groups\">\n<h2>The same first difference</h2>\n<p class=\"note\">"
            "The failing visible cases of the submissions that built, grouped by their first "
            "differing line (blanks shown as ·, a line's end as $), the largest group first."
            "</p>\n" +
            groups_section(all) + "</section>\n";
    html += identical_section(all);
    html += "<section id=\"students\">\n<h2>Students</h2>\n";
    for (std::size_t i = 0; i < all.size(); ++i) html += student_section(all[i], i);
    html += "</section>\n<script>\n";
    html += embedded::kReportScript;
    html += "</script>\n</body>\n</html>\n";
    return html;
}

}  // namespace check
