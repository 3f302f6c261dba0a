#include "sets/sets.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Set = std::vector<int>;
using Combine = int (*)(const int*, const int*, const int*, const int*, int*);

constexpr int kUnwritten = -777;  // fills a result array, to see which cells a routine wrote

// Runs a combining routine on two sets with the given counts (by default their sizes) and
// returns the elements it reports, checking that it wrote nothing beyond them.
Set combine(Combine routine, const Set& first, const Set& second, int first_count,
            int second_count) {
    Set a = first, b = second;
    a.resize(sets::kCapacity);
    b.resize(sets::kCapacity);
    std::vector<int> result(sets::kPairCapacity + 1, kUnwritten);
    int n = routine(a.data(), b.data(), &first_count, &second_count, result.data());
    EXPECT_GE(n, 0);
    EXPECT_LE(n, sets::kPairCapacity);
    n = std::clamp(n, 0, sets::kPairCapacity);
    for (std::size_t k = static_cast<std::size_t>(n); k < result.size(); ++k)
        EXPECT_EQ(result[k], kUnwritten) << "cell " << k << " written past the returned count";
    return Set(result.begin(), result.begin() + n);
}

Set combine(Combine routine, const Set& first, const Set& second) {
    return combine(routine, first, second, static_cast<int>(first.size()),
                   static_cast<int>(second.size()));
}

std::string shown(const Set& set, int count) {
    Set cells = set;
    cells.resize(sets::kCapacity);
    return console::replay("t", "", [&](console::Console& con) {
               sets::display(cells.data(), &count, con);
               return 0;
           }).out;
}

struct Case {
    Set first, second;
    Set want;
};

void check_table(Combine routine, const std::vector<Case>& cases) {
    for (const Case& c : cases)
        EXPECT_EQ(combine(routine, c.first, c.second), c.want)
            << shown(c.first, static_cast<int>(c.first.size())) << " with "
            << shown(c.second, static_cast<int>(c.second.size()));
}

TEST(Sets, UnionDropsRepeatsInOrderOfFirstAppearance) {
    check_table(sets::un, {
                              {{1, 2, 3, 4}, {5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
                              {{1, 2, 3}, {3, 4, 5}, {1, 2, 3, 4, 5}},
                              {{1, 2, 3}, {1, 2, 3}, {1, 2, 3}},
                              {{1, 2, 3}, {3, 2, 1}, {1, 2, 3}},
                              {{1, 1, 2}, {2, 3}, {1, 2, 3}},
                              {{}, {4, 4, 3, 4}, {4, 3}},
                              {{3, 1}, {}, {3, 1}},
                              {{}, {}, {}},
                              {{INT_MIN, INT_MAX}, {INT_MAX, 0}, {INT_MIN, INT_MAX, 0}},
                          });
}

TEST(Sets, IntersectionKeepsTheFirstSetsOrderAndRepeats) {
    check_table(sets::inter, {
                                 {{2, 2, 5}, {2}, {2, 2}},
                                 {{1, 2}, {3}, {}},
                                 {{1, 2, 3}, {3, 4, 5}, {3}},
                                 {{1, 2, 3}, {3, 2, 1}, {1, 2, 3}},
                                 {{5}, {5, 5, 5}, {5}},
                                 {{}, {1}, {}},
                                 {{1}, {}, {}},
                             });
}

TEST(Sets, DifferenceKeepsTheFirstSetsOrderAndRepeats) {
    check_table(sets::diff, {
                                {{1, 2, 3}, {2}, {1, 3}},
                                {{1, 2, 3}, {}, {1, 2, 3}},
                                {{1, 2, 3}, {3, 4, 5}, {1, 2}},
                                {{3, 4, 5}, {1, 2, 3}, {4, 5}},
                                {{1, 1, 2, 2}, {2, 3, 3}, {1, 1}},
                                {{1, 2, 3}, {3, 2, 1}, {}},
                                {{}, {1}, {}},
                            });
}

TEST(Sets, SymmetricDifferenceIsTheUnionOfTheTwoDifferences) {
    check_table(sets::symm, {
                                {{1}, {4, 5}, {1, 4, 5}},
                                {{1, 2}, {4, 5}, {1, 2, 4, 5}},
                                {{1, 1}, {3, 3}, {1, 3}},
                                {{}, {}, {}},
                            });
}

TEST(Sets, CountsOfZeroOrLessContributeNothing) {
    const Set some = {1, 2, 2};
    for (int empty : {0, -1, INT_MIN}) {
        EXPECT_EQ(combine(sets::un, some, some, empty, empty), Set{});
        EXPECT_EQ(combine(sets::un, some, {3}, empty, 1), Set{3});
        EXPECT_EQ(combine(sets::un, some, {3}, 3, empty), (Set{1, 2}));
        EXPECT_EQ(combine(sets::inter, some, some, empty, 3), Set{});
        EXPECT_EQ(combine(sets::inter, some, some, 3, empty), Set{});
        EXPECT_EQ(combine(sets::diff, some, some, empty, 3), Set{});
        EXPECT_EQ(combine(sets::symm, some, {3}, empty, 1), Set{3});
    }
    // A scan of the second set never ends at a negative count, so nothing counts as missing.
    EXPECT_EQ(combine(sets::diff, some, some, 3, 0), some);
    EXPECT_EQ(combine(sets::diff, some, some, 3, -1), Set{});
    EXPECT_EQ(combine(sets::diff, some, some, 3, INT_MIN), Set{});
}

TEST(Sets, SymmetricDifferenceOfTwoFullDisjointSetsTakesFortyElements) {
    Set a, b, both;
    for (int k = 1; k <= sets::kCapacity; ++k) {
        a.push_back(k);
        b.push_back(-k);
    }
    both = a;
    both.insert(both.end(), b.begin(), b.end());
    EXPECT_EQ(combine(sets::symm, a, b), both);
    EXPECT_EQ(combine(sets::un, a, b), both);
}

TEST(Sets, DisplayUsesBraceNotationAndShowsAnEmptySetAsBraces) {
    const std::vector<std::tuple<Set, int, std::string>> cases = {
        {{1, 2, 3}, 3, "{1,2,3}"},
        {{7}, 1, "{7}"},
        {{-1, -20}, 2, "{-1,-20}"},
        {{1, 1, 1}, 3, "{1,1,1}"},
        {{INT_MIN, INT_MAX}, 2, "{-2147483648,2147483647}"},
        {{1, 2, 3}, 2, "{1,2}"},
        {{5}, 0, "{}"},
        {{5}, -1, "{}"},
        {{5}, INT_MIN, "{}"},
    };
    for (const auto& [set, count, want] : cases) EXPECT_EQ(shown(set, count), want);
}

TEST(Sets, CreateReadsExactlyCountNumbersAndNothingForAnEmptySet) {
    struct Read {
        std::string input;
        int count;
        Set want;
        std::string err;
    };
    const std::vector<Read> cases = {
        {"1 2 3", 3, {1, 2, 3}, ""},
        {"4\n-5\n  6 7", 3, {4, -5, 6}, ""},
        {"1 x 9\n2 3", 3, {1, 2, 3}, "t: please enter a whole number (got \"x\")\n"},
        {"", 0, {}, ""},
        {"", -3, {}, ""},
    };
    for (const Read& c : cases) {
        Set cells(sets::kCapacity, 0);
        auto t = console::replay("t", c.input, [&](console::Console& con) {
            sets::create(cells.data(), &c.count, con);
            return 0;
        });
        Set want = c.want;
        want.resize(sets::kCapacity);
        EXPECT_EQ(cells, want) << c.input;
        EXPECT_EQ(t.out, "") << "create prints nothing";
        EXPECT_EQ(t.err, c.err);
        EXPECT_EQ(t.status, 0);
    }
    Set cells(sets::kCapacity, 0);
    int two = 2;
    auto t = console::replay("t", "1", [&](console::Console& con) {
        sets::create(cells.data(), &two, con);
        return 0;
    });
    EXPECT_EQ(t.status, 1) << "input ended before the second element";
}

// The routines against a plain reading of their rules, on random small sets full of repeats
// and with counts that may be zero or negative.
TEST(Sets, RoutinesAgreeWithAStraightforwardComputationOnRandomSets) {
    auto contains = [](const Set& s, int v) { return std::find(s.begin(), s.end(), v) != s.end(); };
    auto distinct = [&](const Set& s) {
        Set out;
        for (int v : s)
            if (!contains(out, v)) out.push_back(v);
        return out;
    };
    std::mt19937 random(20240605);
    std::uniform_int_distribution<int> size(-2, sets::kCapacity);
    std::uniform_int_distribution<int> value(-3, 3);
    for (int round = 0; round < 2000; ++round) {
        int na = size(random), nb = size(random);
        Set a, b;  // the elements that the counts cover
        for (int k = 0; k < na; ++k) a.push_back(value(random));
        for (int k = 0; k < nb; ++k) b.push_back(value(random));

        Set both = a;
        both.insert(both.end(), b.begin(), b.end());
        Set common, a_only, b_only;
        for (int v : a) (contains(b, v) ? common : a_only).push_back(v);
        for (int v : b)
            if (!contains(a, v)) b_only.push_back(v);
        if (nb < 0) a_only.clear();  // the scan never ends at a negative count
        if (na < 0) b_only.clear();

        SCOPED_TRACE(shown(a, na) + " with " + shown(b, nb));
        EXPECT_EQ(combine(sets::un, a, b, na, nb), distinct(both));
        EXPECT_EQ(combine(sets::inter, a, b, na, nb), common);
        EXPECT_EQ(combine(sets::diff, a, b, na, nb), a_only);
        EXPECT_EQ(combine(sets::diff, b, a, nb, na), b_only);
        Set symmetric = distinct(a_only);
        for (int v : distinct(b_only))
            if (!contains(symmetric, v)) symmetric.push_back(v);
        int n_only_a = static_cast<int>(a_only.size()), n_only_b = static_cast<int>(b_only.size());
        EXPECT_EQ(combine(sets::symm, a_only, b_only, n_only_a, n_only_b), symmetric);
        if (na >= 0 && nb >= 0) {
            // As sets of values: A△B = (A∪B) minus (A∩B).
            Set expected;
            for (int v : distinct(both))
                if (!(contains(a, v) && contains(b, v))) expected.push_back(v);
            Set got = symmetric;
            std::sort(got.begin(), got.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(got, expected);
        }
    }
}

}  // namespace
