// Tests of the class report page's reckoning: the bounded excerpts, the first difference
// of two outputs, the pass rates over the submissions that built, the groups of the same
// first difference. (The page as a browser shows it: tests/report_browser_test.sh.)
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "check/report_page.hpp"

namespace {

using check::CaseResult;
using check::Excerpt;
using check::SubmissionResult;
using check::Verdict;

// A case's result with its verdict and, for an output failure, the expected and actual
// output.
CaseResult case_result(const std::string& name, Verdict v, const std::string& expected = "",
                       const std::string& actual = "", bool hidden = false) {
    CaseResult r;
    r.name = name;
    r.verdict = v;
    r.hidden = hidden;
    if (v != Verdict::passed && !hidden) {
        r.expected = check::excerpt_of(expected);
        r.actual = check::excerpt_of(actual);
    }
    return r;
}

// A submission named `name`, built as `build` says, with `cases`.
SubmissionResult submission(const std::string& name, const std::string& build,
                            std::vector<CaseResult> cases, const std::string& message = "") {
    SubmissionResult s;
    s.program = "setcalc";
    s.submission = name;
    s.build_verdict = build;
    s.build_message = message;
    s.cases = std::move(cases);
    return s;
}

TEST(ReportPage, ExcerptsKeepTheFirstLinesAndBytes) {
    struct Row {
        std::string text;
        std::size_t lines, bytes;
        std::string kept;
    };
    const std::vector<Row> rows = {
        {"", 3, 100, ""},
        {"a\nb\nc\n", 3, 100, "a\nb\nc\n"},
        {"a\nb\nc\nd\n", 3, 100, "a\nb\nc\n"},
        {"a\nb\nc", 2, 100, "a\nb\n"},
        {"abcdef", 3, 4, "abcd"},
        {"ab\ncd\nef\n", 9, 4, "ab\nc"},
        // Never inside a character: "ü" is two bytes, "€" three.
        {"a\xc3\xbc", 9, 2, "a"},
        {"\xe2\x82\xac\xe2\x82\xac", 9, 5, "\xe2\x82\xac"},
        {"\xe2\x82\xac\xe2\x82\xac", 9, 3, "\xe2\x82\xac"},
    };
    for (const Row& row : rows) {
        const Excerpt e = check::excerpt_of(row.text, row.lines, row.bytes);
        EXPECT_EQ(e.text, row.kept) << row.text;
        EXPECT_EQ(e.bytes, row.text.size()) << row.text;
        EXPECT_EQ(e.cut(), row.kept.size() < row.text.size()) << row.text;
    }
    // The default bounds: 200 lines, 64 KiB.
    std::string many;
    for (int k = 0; k < 300; ++k) many += "line\n";
    EXPECT_EQ(check::excerpt_of(many).text.size(), 200U * 5);
    EXPECT_EQ(check::excerpt_of(std::string(100000, 'x')).text.size(), 65536U);
}

TEST(ReportPage, FirstDifferenceIsTheFirstLineThatDiffers) {
    struct Row {
        std::string expected, actual;
        std::size_t cut_after;  // bytes each excerpt keeps (0: whole)
        std::size_t line;       // 0: no difference found
        std::string want, got;  // "<end>": that output has ended
    };
    const std::vector<Row> rows = {
        {"a\nb\n", "a\nb\n", 0, 0, "", ""},
        {"a\nb\n", "a\nc\n", 0, 2, "b", "c"},
        {"Enter: \n", "Enter:\n", 0, 1, "Enter: ", "Enter:"},
        {"a\nb\n", "a\n", 0, 2, "b", "<end>"},
        {"a\n", "a\nextra\n", 0, 2, "<end>", "extra"},
        {"", "x\n", 0, 1, "<end>", "x"},
        // Only what both excerpts hold whole is compared: the cut last lines are not.
        {"aa\nbbbb\n", "aa\nbbcc\n", 5, 0, "", ""},
        {"aa\nbb\ncc\n", "ax\nbb\ncc\n", 5, 1, "aa", "ax"},
    };
    for (const Row& row : rows) {
        const std::size_t bytes = row.cut_after ? row.cut_after : check::kExcerptBytes;
        const auto d = check::first_difference(check::excerpt_of(row.expected, 200, bytes),
                                               check::excerpt_of(row.actual, 200, bytes));
        SCOPED_TRACE(row.expected + " | " + row.actual);
        if (row.line == 0) {
            EXPECT_FALSE(d.has_value());
            continue;
        }
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->line, row.line);
        EXPECT_EQ(d->expected.value_or("<end>"), row.want);
        EXPECT_EQ(d->actual.value_or("<end>"), row.got);
    }
}

TEST(ReportPage, CommonSlipsAreNamed) {
    struct Row {
        std::optional<std::string> expected, actual;
        std::string slip;
    };
    const std::vector<Row> rows = {
        {"Enter a set: ", std::nullopt, "the output ends early"},
        {std::nullopt, "extra", "more output than expected"},
        {"Enter a set: ", "Enter a set:", "the line ends without its blank"},
        {"Enter a set:\t ", "Enter a set:", "the line ends without its blanks"},
        {"{1, 2}", "{1, 2} ", "the line ends with a blank too many"},
        {"{1, 2}", "{1, 2}  \t", "the line ends with blanks too many"},
        {"{1, 2}", "{1,2}", "the same words, other spacing"},
        {" {1, 2}", "{1, 2}", "the same words, other spacing"},
        {"Union: {1}", "union: {1}", "other letter case"},
        {"{1, 2}", "{1, 3}", ""},
        {"", "x", ""},
    };
    for (const Row& row : rows) {
        check::FirstDifference d;
        d.line = 1;
        d.expected = row.expected;
        d.actual = row.actual;
        EXPECT_EQ(check::slip_of(d), row.slip)
            << row.expected.value_or("<end>") << " | " << row.actual.value_or("<end>");
    }
}

TEST(ReportPage, PassRatesCountOnlyTheSubmissionsThatBuilt) {
    const std::vector<SubmissionResult> all = {
        submission("ann", "built",
                   {case_result("one", Verdict::passed), case_result("two", Verdict::passed)}),
        submission("ben", "",
                   {case_result("one", Verdict::wrong_output, "1\n", "2\n"),
                    case_result("two", Verdict::passed)}),
        submission("cid", "built",
                   {case_result("one", Verdict::passed), case_result("two", Verdict::not_started)}),
        submission("dan", "compile-error",
                   {case_result("one", Verdict::compile_error),
                    case_result("two", Verdict::compile_error)}),
        submission(
            "eli", "missing",
            {case_result("one", Verdict::not_started), case_result("two", Verdict::not_started)}),
        submission(
            "fay", "refused",
            {case_result("one", Verdict::not_started), case_result("two", Verdict::not_started)}),
        // A first failure stops the check: its second case was not run.
        submission("gil", "built", {case_result("one", Verdict::crashed)}),
    };
    struct Row {
        std::string name;
        std::size_t ran, passed;
        std::vector<std::string> failed;
    };
    const std::vector<Row> rows = {
        {"one", 4, 2, {"ben", "gil"}},
        {"two", 3, 2, {"cid"}},
    };
    const std::vector<check::CaseRate> rates = check::built_pass_rates(all);
    ASSERT_EQ(rates.size(), rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        EXPECT_EQ(rates[k].name, rows[k].name);
        EXPECT_EQ(rates[k].ran, rows[k].ran) << rows[k].name;
        EXPECT_EQ(rates[k].passed, rows[k].passed) << rows[k].name;
        EXPECT_EQ(rates[k].failed, rows[k].failed) << rows[k].name;
    }
    // Which submissions built, and which with warnings.
    struct Build {
        std::string verdict, message;
        bool built, warned;
    };
    for (const Build& b : std::vector<Build>{{"", "", true, false},
                                             {"built", "", true, false},
                                             {"built", "main.cpp:1: warning: x", true, true},
                                             {"built", "setcalc.c was built\n", true, false},
                                             {"built",
                                              "setcalc.c was built\nsetcalc.c:3:5: warning: "
                                              "unused variable 'n'\n",
                                              true, true},
                                             {"executable", "setcalc was given\n", true, false},
                                             {"compile-error", "main.cpp:1: error", false, false},
                                             {"missing", "", false, false},
                                             {"refused", "a link", false, false}}) {
        const SubmissionResult s = submission("x", b.verdict, {}, b.message);
        EXPECT_EQ(check::was_built(s), b.built) << b.verdict;
        EXPECT_EQ(check::has_warnings(s), b.warned) << b.verdict << b.message;
    }
}

TEST(ReportPage, StudentsAreGroupedByTheirFirstDifference) {
    const std::string want = "Enter a set: \n{1, 2}\n";
    const std::vector<SubmissionResult> all = {
        // Three students drop the prompt's blank, one of them in two cases.
        submission("ann", "built",
                   {case_result("one", Verdict::presentation, want, "Enter a set:\n{1, 2}\n"),
                    case_result("two", Verdict::presentation, want, "Enter a set:\n{1}\n")}),
        submission("ben", "built",
                   {case_result("one", Verdict::presentation, want, "Enter a set:\n{1, 2}\n")}),
        submission("cid", "",
                   {case_result("one", Verdict::presentation, want, "Enter a set:\n"),
                    case_result("two", Verdict::time_limit)}),
        // One prints the wrong set; two run out of time; a hidden failure and a student
        // whose sources did not build are not grouped.
        submission("dan", "built",
                   {case_result("one", Verdict::wrong_output, want, "Enter a set: \n{2}\n"),
                    case_result("two", Verdict::time_limit),
                    case_result("secret", Verdict::wrong_output, want, "x\n", true)}),
        submission("eli", "compile-error",
                   {case_result("one", Verdict::compile_error),
                    case_result("two", Verdict::compile_error)}),
        submission("fay", "missing", {case_result("one", Verdict::not_started)}),
    };
    struct Row {
        Verdict verdict;
        std::string expected, actual;  // "": no difference shown
        std::vector<std::string> students;
        std::size_t failures;
    };
    const std::vector<Row> rows = {
        {Verdict::presentation, "Enter a set: ", "Enter a set:", {"ann", "ben", "cid"}, 4},
        {Verdict::time_limit, "", "", {"cid", "dan"}, 2},
        {Verdict::wrong_output, "{1, 2}", "{2}", {"dan"}, 1},
    };
    const std::vector<check::DifferenceGroup> groups = check::difference_groups(all);
    ASSERT_EQ(groups.size(), rows.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(groups[k].verdict, rows[k].verdict);
        EXPECT_EQ(groups[k].students, rows[k].students);
        EXPECT_EQ(groups[k].where.size(), rows[k].failures);
        EXPECT_EQ(groups[k].difference.has_value(), !rows[k].expected.empty());
        if (groups[k].difference) {
            EXPECT_EQ(groups[k].difference->expected, rows[k].expected);
            EXPECT_EQ(groups[k].difference->actual, rows[k].actual);
        }
    }
    EXPECT_EQ(groups[0].where.front(), "ann: one");
}

TEST(ReportPage, NoLineCanJoinAnotherGroupByItsText) {
    // The key holds each side's length: "a|b" against "c" is not "a" against "b|c".
    const std::vector<SubmissionResult> all = {
        submission("ann", "built", {case_result("one", Verdict::wrong_output, "a|b\n", "c\n")}),
        submission("ben", "built", {case_result("one", Verdict::wrong_output, "a\n", "b|c\n")}),
    };
    EXPECT_EQ(check::difference_groups(all).size(), 2U);
}

TEST(ReportPage, RandomSessionsGroupByTheirShrunkSessionWhateverTheirLines) {
    // Each student's sessions are their own, so their outputs differ; the shrunk session's
    // description is what they share.
    auto random = [](const char* name, const char* session, const char* want, const char* got) {
        CaseResult r = case_result(name, Verdict::wrong_output, want, got);
        r.session = session;
        return r;
    };
    const std::vector<SubmissionResult> all = {
        submission("ann", "built",
                   {random("random-3", "the union of {} and {1}", "{1}\n", "{}\n")}),
        submission("ben", "built",
                   {random("random-7", "the union of {} and {1}", "{1}\n", "{1,}\n")}),
        submission("cy", "built",
                   {random("random-1", "the intersection of {1} and {1}", "{1}\n", "{}\n")}),
        submission("dee", "built", {case_result("one", Verdict::wrong_output, "{1}\n", "{}\n")}),
    };
    const std::vector<check::DifferenceGroup> groups = check::difference_groups(all);
    ASSERT_EQ(groups.size(), 3U);
    EXPECT_EQ(groups[0].session, "the union of {} and {1}");
    EXPECT_EQ(groups[0].students, (std::vector<std::string>{"ann", "ben"}));
    EXPECT_TRUE(check::report_page(all).find("the random session <strong>the union of {} and "
                                             "{1}</strong>") != std::string::npos);
}

TEST(ReportPage, RandomSessionsThatShrinkAlikeGroupByVerdictToo) {
    // A prompt slip, a final line feed too many and a crash that shrink to the same session
    // are three causes, not one wrong output.
    auto random = [](const char* name, Verdict v, const char* want, const char* got) {
        CaseResult r = case_result(name, v, want, got);
        r.session = "the union of {} and {1}";
        return r;
    };
    const std::vector<SubmissionResult> all = {
        submission("ann", "built", {random("random-3", Verdict::wrong_output, "{1}\n", "{}\n")}),
        submission("ben", "built", {random("random-2", Verdict::presentation, "{1}\n", "{1}\n\n")}),
        submission("cy", "built", {random("random-5", Verdict::crashed, "{1}\n", "")}),
        submission("dee", "built", {random("random-1", Verdict::wrong_output, "{1}\n", "{2}\n")}),
    };
    const std::vector<check::DifferenceGroup> groups = check::difference_groups(all);
    ASSERT_EQ(groups.size(), 3U);
    EXPECT_EQ(groups[0].verdict, Verdict::wrong_output);
    EXPECT_EQ(groups[0].students, (std::vector<std::string>{"ann", "dee"}));
    for (std::size_t k = 1; k < groups.size(); ++k) EXPECT_EQ(groups[k].students.size(), 1U);
}

TEST(ReportPage, AGroupsLabelFitsItsVerdict) {
    // The first differing line differs in spacing only, but the output's words differ
    // further on: a wrong output is not labelled as a slip of spacing.
    const std::string want = "{1, 2}\nsize 2\n";
    const std::vector<SubmissionResult> wrong = {
        submission("ann", "built",
                   {case_result("one", Verdict::wrong_output, want, "{1,2}\nsize 3\n")}),
    };
    const std::string page = check::report_page(wrong);
    EXPECT_EQ(page.find("the same words, other spacing"), std::string::npos);
    EXPECT_NE(page.find("other spacing on this line, other words further on"), std::string::npos);
    const std::vector<SubmissionResult> spacing = {
        submission("ann", "built",
                   {case_result("one", Verdict::presentation, want, "{1,2}\nsize 2\n")}),
    };
    EXPECT_NE(check::report_page(spacing).find("the same words, other spacing"), std::string::npos);
}

TEST(ReportPage, OnlyABuildTheCompilerWarnedOfIsFlagged) {
    const std::vector<SubmissionResult> all = {
        submission("ann", "built", {case_result("one", Verdict::passed)}, "setcalc.c was built\n"),
        submission("ben", "built", {case_result("one", Verdict::passed)},
                   "setcalc.c was built\nsetcalc.c:3:5: warning: unused variable 'n'\n"),
    };
    const std::string page = check::report_page(all);
    EXPECT_NE(page.find("<b>1</b><span>built with warnings</span>"), std::string::npos);
    const std::size_t heading = page.find("<h3>the compiler's warnings</h3>");
    ASSERT_NE(heading, std::string::npos);
    EXPECT_EQ(page.find("<h3>the compiler's warnings</h3>", heading + 1), std::string::npos);
    EXPECT_NE(page.find("warning: unused variable", heading), std::string::npos);
    EXPECT_LT(page.find("<h3>build</h3>"), heading);  // ann's, first in class order
}

}  // namespace
