#include "strings/strings.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Pair {
    std::string first;
    std::string second;
    int want;
};

TEST(Strings, LenCountsEveryByteBeforeTheTerminator) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"", 0}, {"a", 1}, {"a b", 3}, {"step on no pets", 15}, {std::string(79, 'x'), 79}};
    for (const auto& [s, want] : cases) EXPECT_EQ(strings::len(s.c_str()), want) << s;
}

TEST(Strings, RevAndCopyWriteTheCharactersAndATerminator) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"abc", "cba"}, {"", ""}, {"a", "a"}, {" a b", "b a "}, {"\xe9x", "x\xe9"}};
    for (const auto& [s, reversed] : cases) {
        char out[strings::kBuffer];
        std::memset(out, '#', sizeof out);
        strings::rev(s.c_str(), out);
        EXPECT_EQ(std::string(out), reversed);
        EXPECT_EQ(out[s.size() + 1], '#') << "rev writes only up to the terminator";
        std::memset(out, '#', sizeof out);
        strings::copy(s.c_str(), out);
        EXPECT_EQ(std::string(out), s);
        EXPECT_EQ(out[s.size() + 1], '#') << "copy writes only up to the terminator";
    }
}

TEST(Strings, CompReturnsTheSignedEightBitDifferenceOfTheFirstMismatch) {
    const std::vector<Pair> cases = {
        {"abc", "abc", 0},   {"abd", "abc", 1}, {"ab", "abc", -99},     {"abc", "ab", 99},
        {"", "", 0},         {"B", "a", -31},   {"Zebra", "apple", -7}, {"a", "a\xe9", 23},
        {"a\xe9", "a", -23}, {"", "abc", -97},  {"abc", "", 97},        {"\x80", "\x7f", -255},
    };
    for (const Pair& c : cases)
        EXPECT_EQ(strings::comp(c.first.c_str(), c.second.c_str()), c.want)
            << '"' << c.first << "\" vs \"" << c.second << '"';
}

TEST(Strings, PalinIsExactByteForByte) {
    const std::vector<std::pair<std::string, int>> cases = {
        {"", 1},   {"a", 1},     {"abba", 1}, {"level", 1},           {"Abba", 0},
        {"ab", 0}, {"a b a", 1}, {"ab a", 0}, {"step on no pets", 1}, {"never odd or even", 0}};
    for (const auto& [s, want] : cases) EXPECT_EQ(strings::palin(s.c_str()), want) << s;
}

TEST(Strings, SubstringReturnsZeroWhenFoundAndTheLastWindowsResultOtherwise) {
    const std::vector<Pair> cases = {
        {"hello", "ll", 0},   {"hello", "lo", 0},   {"hello", "hello", 0}, {"hello", "hellos", 7},
        {"hello", "xyz", -9}, {"hello", "elo", 10}, {"hello", "ell", 0},   {"abc", "", 0},
        {"ab", "abc", 1},     {"a b", " ", 0},      {"Hello", "h", 7},
    };
    for (const Pair& c : cases)
        EXPECT_EQ(strings::substring(c.first.c_str(), c.second.c_str()), c.want)
            << '"' << c.first << "\" in \"" << c.second << '"';
    EXPECT_NE(strings::substring("", "x"), 0);
    EXPECT_NE(strings::substring("", ""), 0) << "an empty string has no start position";
}

TEST(Strings, WalkSubstringReallySearches) {
    EXPECT_EQ(strings::walk::substring("hello", "ell"), 0);
    EXPECT_NE(strings::walk::substring("hello", "elo"), 0);
    EXPECT_NE(strings::walk::substring("", "x"), 0);
}

TEST(Strings, DisplayAddsOneLineFeedWhileWalkDisplayAddsNothing) {
    struct Case {
        std::string s, shown, walked;
    };
    const std::vector<Case> cases = {
        {"abc", "abc\n", "abc"}, {"", "\n", ""}, {" a ", " a \n", " a "}};
    for (const Case& c : cases) {
        auto shown = console::replay("t", "", [&](console::Console& con) {
            strings::display(c.s.c_str(), con);
            return 0;
        });
        auto walked = console::replay("t", "", [&](console::Console& con) {
            strings::walk::display(c.s.c_str(), con);
            return 0;
        });
        EXPECT_EQ(shown.out, c.shown);
        EXPECT_EQ(walked.out, c.walked);
    }
}

}  // namespace
