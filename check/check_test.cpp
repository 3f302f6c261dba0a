#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "check/case.hpp"
#include "check/judge.hpp"

namespace {

TEST(Check, VisibleLineShowsEveryInvisibleByte) {
    struct Row {
        std::string line;
        bool ended;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {"", false, ""},
        {"", true, "$"},
        {"a b", true,
         "a\xc2\xb7"
         "b$"},
        {"1\t2\t", false, "1\\t2\\t"},
        {"back\\slash", false, "back\\\\slash"},
        {std::string("\0\r\x7f\xe9", 4), false, R"(\x00\x0d\x7f\xe9)"},
        {"~!", true, "~!$"},
    };
    for (const Row& r : rows) EXPECT_EQ(check::visible_line(r.line, r.ended), r.shown) << r.line;
}

TEST(Check, DifferenceMarksTheFirstDifferingLineAndKeepsContext) {
    struct Row {
        std::string want, got;
        std::vector<std::string> held;  // each must be in the difference
    };
    std::string ten;
    for (int i = 1; i <= 10; ++i) ten += "line " + std::to_string(i) + "\n";
    std::string ten_changed = ten;
    ten_changed.replace(ten.find("line 6"), 6, "line six");
    const std::vector<Row> rows = {
        {"ab\n",
         "ab",
         {"differs at line 1, column 3 (byte 3)", "   >     1 | ab$\n", "   >     1 | ab(end)\n",
          "         2 | (end)\n"}},
        {"", "x", {"line 1, column 1 (byte 1)", "   >     1 | (end)\n", "   >     1 | x(end)\n"}},
        {ten,
         ten_changed,
         {"differs at line 6, column 6 (byte 41)", "      (2 lines before)\n",
          // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): a literal split after its hex escape
          "         3 | line\xc2\xb7"
          "3$\n",
          "   >     6 | line\xc2\xb7"
          "six$\n",
          "                  ^\n",
          "         9 | line\xc2\xb7"
          "9$\n",
          "      (2 more lines)\n"}},
        {"a\tb\n", "a\tc\n", {"   >     1 | a\\tb$\n                ^\n"}},
    };
    for (const Row& r : rows) {
        std::string d = check::difference("standard output", r.want, r.got);
        EXPECT_EQ(d.rfind("  standard output differs at line", 0), 0u) << d;
        for (const std::string& h : r.held)
            EXPECT_NE(d.find(h), std::string::npos) << h << "\n" << d;
    }
}

TEST(Check, KindMarkIsExactlyOneOfTwoWords) {
    EXPECT_EQ(check::parse_kind("exercise\n"), check::Kind::exercise);
    EXPECT_EQ(check::parse_kind("collection\n"), check::Kind::collection);
    EXPECT_EQ(check::parse_kind("exercise"), check::Kind::exercise);
    for (const char* bad : {"", "\n", "Exercise\n", "exercise\n\n", " exercise\n", "exercises\n",
                            "exercise collection\n"})
        EXPECT_FALSE(check::parse_kind(bad)) << bad;
    EXPECT_STREQ(check::kind_name(check::Kind::exercise), "exercise");
    EXPECT_STREQ(check::kind_name(check::Kind::collection), "collection");
}

TEST(Check, StatusIsANumberFrom0To255) {
    const std::vector<std::pair<std::string, std::optional<int>>> rows = {
        {"0\n", 0},
        {"255\n", 255},
        {"54", 54},
        {"007\n", 7},
        {"256\n", std::nullopt},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"-1\n", std::nullopt},
        {"1 \n", std::nullopt},
        {"0000\n", std::nullopt},
        {"1\n\n", std::nullopt},
        {"x\n", std::nullopt},
    };
    for (const auto& [text, status] : rows) EXPECT_EQ(check::parse_status(text), status) << text;
}

TEST(Check, JudgeComparesAnOpenStatusOnlyWhenStrict) {
    check::Case c;
    c.folder = "/nonexistent";
    c.output = "out";
    c.status = 0;
    c.status_open = true;
    check::Outcome o;
    o.end = check::Outcome::End::exited;
    o.code = 5;
    o.out = "out";
    const check::Limits limits;
    auto message = [&](bool strict) {
        return check::judge(c, o, "/nonexistent", strict, limits).message;
    };
    EXPECT_EQ(message(false), "");
    EXPECT_EQ(message(true), "  exit status 5, expected 0\n");
    c.status_open = false;
    EXPECT_EQ(message(false), "  exit status 5, expected 0\n");
    // No expected standard error: it must be empty. No expected output: not compared.
    o.code = 0;
    o.err.push_back('x');
    c.output.reset();
    o.out = "anything";
    EXPECT_NE(message(false).find("standard error differs"), std::string::npos);
}

}  // namespace
