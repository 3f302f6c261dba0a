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

// Runs a combining routine on two sets, with their sizes as counts unless counts are given,
// and returns the elements it reports, checking that it wrote no cell beyond them.
Set combine(Combine routine, Set a, Set b, int na = INT_MAX, int nb = INT_MAX) {
    if (na == INT_MAX) na = static_cast<int>(a.size());
    if (nb == INT_MAX) nb = static_cast<int>(b.size());
    a.resize(sets::kCapacity);
    b.resize(sets::kCapacity);
    constexpr int kUnwritten = -777;
    Set result(sets::kPairCapacity + 1, kUnwritten);
    int n =
        std::clamp(routine(a.data(), b.data(), &na, &nb, result.data()), 0, sets::kPairCapacity);
    EXPECT_EQ(std::count(result.begin() + n, result.end(), kUnwritten),
              static_cast<long>(result.size()) - n)
        << "a cell past the returned count was written";
    return {result.begin(), result.begin() + n};
}

std::string shown(Set set, int count) {
    set.resize(sets::kCapacity);
    return console::replay("t", "",
                           [&](console::Console& con) {
                               sets::display(set.data(), &count, con);
                               return 0;
                           })
        .out;
}

TEST(Sets, EachRoutineGivesTheOrderAndRepeatsItsRuleDefines) {
    struct Case {
        Combine routine;
        Set first, second, want;
    };
    const Set full_a = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    Set full_b, both = full_a;
    for (int v : full_a) full_b.push_back(-v);
    both.insert(both.end(), full_b.begin(), full_b.end());
    const std::vector<Case> cases = {
        {sets::un, {1, 2, 3, 4}, {5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {sets::un, {1, 2, 3}, {3, 4, 5}, {1, 2, 3, 4, 5}},
        {sets::un, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}},
        {sets::un, {1, 2, 3}, {3, 2, 1}, {1, 2, 3}},
        {sets::un, {1, 1, 2}, {2, 3}, {1, 2, 3}},
        {sets::un, {}, {4, 4, 3, 4}, {4, 3}},
        {sets::un, {3, 1}, {}, {3, 1}},
        {sets::un, {}, {}, {}},
        {sets::un, {INT_MIN, INT_MAX}, {INT_MAX, 0}, {INT_MIN, INT_MAX, 0}},
        {sets::inter, {2, 2, 5}, {2}, {2, 2}},
        {sets::inter, {1, 2}, {3}, {}},
        {sets::inter, {1, 2, 3}, {3, 2, 1}, {1, 2, 3}},
        {sets::inter, {5}, {5, 5, 5}, {5}},
        {sets::inter, {}, {1}, {}},
        {sets::inter, {1}, {}, {}},
        {sets::diff, {1, 2, 3}, {2}, {1, 3}},
        {sets::diff, {1, 2, 3}, {}, {1, 2, 3}},
        {sets::diff, {1, 1, 2, 2}, {2, 3, 3}, {1, 1}},
        {sets::diff, {1, 2, 3}, {3, 2, 1}, {}},
        {sets::diff, {}, {1}, {}},
        {sets::symm, {1}, {4, 5}, {1, 4, 5}},
        {sets::symm, {1, 1}, {3, 3}, {1, 3}},
        {sets::symm, {}, {}, {}},
        {sets::symm, full_a, full_b, both},  // two full disjoint differences: 40 elements
    };
    for (const Case& c : cases)
        EXPECT_EQ(combine(c.routine, c.first, c.second), c.want)
            << shown(c.first, static_cast<int>(c.first.size())) << " with "
            << shown(c.second, static_cast<int>(c.second.size()));
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
    // The scan of the second set ends at a count of 0, and never at a negative one.
    EXPECT_EQ(combine(sets::diff, some, some, 3, 0), some);
    EXPECT_EQ(combine(sets::diff, some, some, 3, -1), Set{});
    EXPECT_EQ(combine(sets::diff, some, some, 3, INT_MIN), Set{});
}

TEST(Sets, DisplayUsesBraceNotationAndShowsAnEmptySetAsBraces) {
    EXPECT_EQ(shown({1, 2, 3}, 3), "{1,2,3}");
    EXPECT_EQ(shown({7}, 1), "{7}");
    EXPECT_EQ(shown({1, 1, -20}, 3), "{1,1,-20}");
    EXPECT_EQ(shown({INT_MIN, INT_MAX}, 2), "{-2147483648,2147483647}");
    EXPECT_EQ(shown({1, 2, 3}, 2), "{1,2}");
    for (int empty : {0, -1, INT_MIN}) EXPECT_EQ(shown({5}, empty), "{}");
}

TEST(Sets, CreateReadsExactlyCountNumbersAndNothingForAnEmptySet) {
    const std::vector<std::tuple<std::string, int, Set>> cases = {
        {"1 2 3", 3, {1, 2, 3}}, {"4\n-5\n  6 7", 3, {4, -5, 6}}, {"", 0, {}}, {"", -3, {}}};
    for (const auto& [input, count, want] : cases) {
        Set cells(sets::kCapacity, 0), expected = want;
        expected.resize(sets::kCapacity);
        const int* n = &count;  // clang 14 cannot capture a structured binding in a lambda
        auto t = console::replay("t", input, [&](console::Console& con) {
            sets::create(cells.data(), n, con);
            return 0;
        });
        EXPECT_EQ(cells, expected) << input;
        EXPECT_EQ(t.out + t.err, "") << "create prints nothing";
    }
}

// The routines against a plain reading of their rules, on random small sets full of repeats
// and with counts that may be zero or negative.
TEST(Sets, RoutinesAgreeWithAStraightforwardComputationOnRandomSets) {
    auto has = [](const Set& s, int v) { return std::find(s.begin(), s.end(), v) != s.end(); };
    auto distinct = [&](const Set& s) {
        Set out;
        for (int v : s)
            if (!has(out, v)) out.push_back(v);
        return out;
    };
    std::mt19937 random(20240605);
    std::uniform_int_distribution<int> size(-2, sets::kCapacity), value(-3, 3);
    for (int round = 0; round < 2000; ++round) {
        int na = size(random), nb = size(random);
        Set a, b, common, a_only, b_only;  // a and b: the elements that the counts cover
        for (int k = 0; k < na; ++k) a.push_back(value(random));
        for (int k = 0; k < nb; ++k) b.push_back(value(random));
        Set both = a;
        both.insert(both.end(), b.begin(), b.end());
        for (int v : a) (has(b, v) ? common : a_only).push_back(v);
        for (int v : b)
            if (!has(a, v)) b_only.push_back(v);
        if (nb < 0) a_only.clear();  // a difference takes nothing from a negative count
        if (na < 0) b_only.clear();

        SCOPED_TRACE(shown(a, na) + " with " + shown(b, nb));
        EXPECT_EQ(combine(sets::un, a, b, na, nb), distinct(both));
        EXPECT_EQ(combine(sets::inter, a, b, na, nb), common);
        EXPECT_EQ(combine(sets::diff, a, b, na, nb), a_only);
        EXPECT_EQ(combine(sets::diff, b, a, nb, na), b_only);
        Set symmetric = combine(sets::symm, a_only, b_only);
        Set joined = a_only;
        joined.insert(joined.end(), b_only.begin(), b_only.end());
        EXPECT_EQ(symmetric, distinct(joined));
        if (na >= 0 && nb >= 0) {  // as sets of values: (A u B) minus (A n B)
            Set expected;
            for (int v : distinct(both))
                if (!has(common, v)) expected.push_back(v);
            std::sort(symmetric.begin(), symmetric.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(symmetric, expected);
        }
    }
}

}  // namespace
