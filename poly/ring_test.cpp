#include "poly/ring.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using poly::Pool;
using poly::term;
using Terms = std::vector<std::pair<int, int>>;  // (coefficient, power) in insertion order
using PowerMap = std::map<int, int>;             // power -> coefficient

term* build(const Terms& terms, Pool& pool) {
    term* ring = nullptr;
    for (auto [c, p] : terms) ring = poly::create(ring, c, p, pool);
    return ring;
}

// The ring's nodes from the lowest power up to the handle, or an empty list for the empty ring.
std::vector<const term*> nodes(const term* ring) {
    std::vector<const term*> all;
    if (ring == nullptr) return all;
    const term* t = ring->next;
    for (std::size_t guard = 0; guard < 100000; ++guard) {
        all.push_back(t);
        if (t == ring) return all;
        t = t->next;
    }
    ADD_FAILURE() << "the ring does not close at its handle";
    return all;
}

// Every invariant of a ring: it closes at its handle, the handle holds the highest power,
// its `next` the lowest, and the powers strictly increase from there (one node per power).
testing::AssertionResult well_formed(const term* ring) {
    if (ring == nullptr) return testing::AssertionSuccess();
    std::vector<const term*> all = nodes(ring);
    if (all.empty() || all.back() != ring) return testing::AssertionFailure() << "not closed";
    for (std::size_t k = 1; k < all.size(); ++k)
        if (!(all[k - 1]->power < all[k]->power))
            return testing::AssertionFailure()
                   << "powers " << all[k - 1]->power << " then " << all[k]->power;
    return testing::AssertionSuccess();
}

PowerMap as_map(const term* ring) {
    PowerMap m;
    for (const term* t : nodes(ring)) m[t->power] = t->coefficient;
    return m;
}

// Every node's address, fields and link, to check that a ring stays as it was.
using Snapshot = std::vector<std::tuple<const term*, int, int, const term*>>;
Snapshot snapshot(const term* ring) {
    Snapshot s;
    for (const term* t : nodes(ring)) s.emplace_back(t, t->coefficient, t->power, t->next);
    return s;
}

std::string shown(const term* ring) {
    return console::replay("polycalc", "",
                           [&](console::Console& con) {
                               poly::display(ring, con);
                               return 0;
                           })
        .out;
}

struct Evaluation {
    std::optional<int> value;
    console::Transcript transcript;
};

Evaluation evaluate(const term* ring, const std::string& input) {
    Evaluation e;
    e.transcript = console::replay("polycalc", input, [&](console::Console& con) {
        e.value = poly::eva(ring, con);
        return 0;
    });
    return e;
}

TEST(Ring, CreateKeepsTheInvariantsAfterEveryInsertion) {
    struct Case {
        const char* what;
        Terms terms;
        std::string shown;
        std::size_t size;
    };
    const std::vector<Case> cases = {
        {"one term", {{7, 3}}, "7X^3 ", 1},
        {"new highest, then inner", {{3, 2}, {5, 0}, {2, 1}}, "3X^2 + 5X^0 + 2X^1 ", 3},
        {"merge at the handle", {{3, 2}, {5, 0}, {4, 2}}, "7X^2 + 5X^0 ", 2},
        {"merge at an inner node", {{3, 2}, {5, 0}, {2, 1}, {6, 1}}, "3X^2 + 5X^0 + 8X^1 ", 3},
        {"merge at the lowest node", {{3, 2}, {5, 0}, {-5, 0}}, "3X^2 + 0X^0 ", 2},
        {"merge to zero stays", {{3, 2}, {-3, 2}}, "0X^2 ", 1},
        {"new highest", {{1, 0}, {2, 5}}, "2X^5 + 1X^0 ", 2},
        {"new lowest", {{1, 0}, {2, -5}}, "1X^0 + 2X^-5 ", 2},
        {"new lowest below several", {{1, 0}, {1, 1}, {1, -1}}, "1X^1 + 1X^-1 + 1X^0 ", 3},
        {"negative coefficient", {{1, 2}, {-4, 1}}, "1X^2 + -4X^1 ", 2},
        {"descending input", {{1, 3}, {2, 2}, {3, 1}, {4, 0}}, "1X^3 + 4X^0 + 3X^1 + 2X^2 ", 4},
        {"extreme powers",
         {{1, INT_MIN}, {2, INT_MAX}, {3, 0}},
         "2X^2147483647 + 1X^-2147483648 + 3X^0 ",
         3},
        {"coefficient sum wraps", {{INT_MAX, 0}, {1, 0}}, "-2147483648X^0 ", 1},
        {"coefficient sum wraps down", {{INT_MIN, 4}, {1, 1}, {-1, 4}}, "2147483647X^4 + 1X^1 ", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pool pool;
        term* ring = nullptr;
        for (auto [coefficient, power] : c.terms) {
            term* before = ring;
            ring = poly::create(ring, coefficient, power, pool);
            ASSERT_TRUE(well_formed(ring));
            if (before != nullptr && power <= before->power) {
                EXPECT_EQ(ring, before) << "only a new highest power moves the handle";
            }
        }
        EXPECT_EQ(shown(ring), c.shown);
        EXPECT_EQ(nodes(ring).size(), c.size);
        EXPECT_EQ(pool.size(), c.size) << "a merged term links no node";
    }
}

TEST(Ring, OneNodeRingIsItsOwnNext) {
    Pool pool;
    term* ring = poly::create(nullptr, 7, 3, pool);
    EXPECT_EQ(ring->next, ring);
    EXPECT_EQ(poly::create(ring, -7, 3, pool), ring);
    EXPECT_EQ(ring->next, ring);
    EXPECT_EQ(ring->coefficient, 0);
}

TEST(Ring, AddAndMulBuildNewRingsAndLeaveTheirInputs) {
    struct Case {
        const char* what;
        Terms first, second;
        std::string sum, product;
    };
    const std::vector<Case> cases = {
        {"worked example", {{3, 2}, {5, 0}}, {{2, 1}}, "3X^2 + 5X^0 + 2X^1 ", "6X^3 + 10X^1 "},
        {"cancelling terms", {{3, 2}}, {{-3, 2}}, "0X^2 ", "-9X^4 "},
        {"difference of squares",
         {{1, 1}, {1, 0}},
         {{1, 1}, {-1, 0}},
         "2X^1 + 0X^0 ",
         "1X^2 + -1X^0 + 0X^1 "},
        {"negative powers", {{2, -1}}, {{3, -2}}, "2X^-1 + 3X^-2 ", "6X^-3 "},
        {"product with a constant",
         {{1, 2}, {-1, -1}},
         {{-2, 0}},
         "1X^2 + -1X^-1 + -2X^0 ",
         "-2X^2 + 2X^-1 "},
        {"coefficient product wraps", {{65536, 1}}, {{65536, 1}}, "131072X^1 ", "0X^2 "},
        {"coefficient sum wraps", {{INT_MAX, 0}}, {{1, 0}}, "-2147483648X^0 ", "2147483647X^0 "},
        {"power sum wraps", {{1, INT_MAX}}, {{1, 1}}, "1X^2147483647 + 1X^1 ", "1X^-2147483648 "},
        {"same ring twice",
         {{1, 1}, {2, 0}},
         {{1, 1}, {2, 0}},
         "2X^1 + 4X^0 ",
         "1X^2 + 4X^0 + 4X^1 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pool pool;
        const term* first = build(c.first, pool);
        const term* second = build(c.second, pool);
        const Snapshot first_before = snapshot(first);
        const Snapshot second_before = snapshot(second);
        std::set<const term*> inputs;
        for (const term* t : nodes(first)) inputs.insert(t);
        for (const term* t : nodes(second)) inputs.insert(t);

        for (int round = 0; round < 2; ++round) {  // the same inputs give the same results
            const term* sum = poly::add(first, second, pool);
            const term* product = poly::mul(first, second, pool);
            ASSERT_TRUE(well_formed(sum));
            ASSERT_TRUE(well_formed(product));
            EXPECT_EQ(shown(sum), c.sum);
            EXPECT_EQ(shown(product), c.product);
            for (const term* t : nodes(sum)) EXPECT_EQ(inputs.count(t), 0u);
            for (const term* t : nodes(product)) EXPECT_EQ(inputs.count(t), 0u);
            EXPECT_EQ(snapshot(first), first_before);
            EXPECT_EQ(snapshot(second), second_before);
        }
    }
}

TEST(Ring, EmptyRingIsTheZeroPolynomial) {
    Pool pool;
    const term* some = build({{3, 2}, {5, 0}}, pool);
    EXPECT_EQ(shown(nullptr), "");

    const term* copy = poly::add(nullptr, some, pool);
    EXPECT_EQ(shown(copy), "3X^2 + 5X^0 ");
    EXPECT_NE(copy, some);
    EXPECT_EQ(shown(poly::add(some, nullptr, pool)), "3X^2 + 5X^0 ");
    EXPECT_EQ(poly::add(nullptr, nullptr, pool), nullptr);

    EXPECT_EQ(poly::mul(nullptr, some, pool), nullptr);
    EXPECT_EQ(poly::mul(some, nullptr, pool), nullptr);
    EXPECT_EQ(poly::mul(nullptr, nullptr, pool), nullptr);

    Evaluation e = evaluate(nullptr, "5\n");
    EXPECT_EQ(e.value, 0);
    EXPECT_EQ(e.transcript.out, "Enter value of X for polynomial :")
        << "X is asked for all the same";
    EXPECT_EQ(e.transcript.err, "");
}

TEST(Ring, EvaTruncatesEveryPartialSumAndRefusesWhatNoIntHolds) {
    struct Case {
        const char* what;
        Terms terms;
        std::string x;
        std::optional<int> value;
        std::string err;
    };
    const std::string refused = "polycalc: the value at X = ";
    const std::vector<Case> cases = {
        {"worked example", {{3, 2}, {5, 0}}, "2", 17, ""},
        {"fraction lost before the constant", {{1, 0}, {-1, -1}}, "2", 1, ""},
        {"truncation toward zero", {{1, 0}, {-3, -1}}, "2", 0, ""},
        {"fractions lost one by one", {{1, -1}, {1, -2}}, "2", 0, ""},
        {"zero to the power zero is one", {{7, 0}, {3, 2}, {1, 1}}, "0", 7, ""},
        {"odd power keeps the sign", {{1, 3}}, "-2", -8, ""},
        {"negative power of a negative x", {{-4, -1}, {1, 0}}, "-2", 3, ""},
        {"lowest int", {{-1, 31}}, "2", INT_MIN, ""},
        {"lowest x", {{1, 1}}, "-2147483648", INT_MIN, ""},
        {"highest int", {{INT_MAX, 0}, {0, 1}}, "1", INT_MAX, ""},
        {"tiny power gives zero", {{5, INT_MIN}}, "2", 0, ""},
        {"pole at zero",
         {{1, -1}},
         "0",
         std::nullopt,
         refused + "0 is undefined or outside the int range (at the term 1X^-1)\n"},
        {"zero times a pole",
         {{0, -2}, {4, 0}},
         "0",
         std::nullopt,
         refused + "0 is undefined or outside the int range (at the term 0X^-2)\n"},
        {"above the int range",
         {{1, 31}},
         "2",
         std::nullopt,
         refused + "2 is undefined or outside the int range (at the term 1X^31)\n"},
        {"below the int range",
         {{-1, 31}, {-1, 0}},
         "2",
         std::nullopt,
         refused + "2 is undefined or outside the int range (at the term -1X^31)\n"},
        {"partial sum above the range",
         {{INT_MAX, 0}, {1, 1}, {-5, 2}},
         "1",
         std::nullopt,
         refused + "1 is undefined or outside the int range (at the term 1X^1)\n"},
        {"huge x",
         {{1, 2}},
         "2147483647",
         std::nullopt,
         refused + "2147483647 is undefined or outside the int range (at the term 1X^2)\n"},
        {"overflow to infinity",
         {{-3, INT_MAX}},
         "10",
         std::nullopt,
         refused + "10 is undefined or outside the int range (at the term -3X^2147483647)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pool pool;
        Evaluation e = evaluate(build(c.terms, pool), c.x + "\n");
        EXPECT_EQ(e.value, c.value);
        EXPECT_EQ(e.transcript.out, "Enter value of X for polynomial :");
        EXPECT_EQ(e.transcript.err, c.err);
        EXPECT_EQ(e.transcript.status, 0);
    }
}

// Random small polynomials, negative powers and coefficients included, against a map from
// power to coefficient kept by the test.
TEST(Ring, RandomRingsAgreeWithAPowerToCoefficientMap) {
    std::mt19937 random(20240601);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto random_terms = [&](int lowest_power) {
        Terms terms;
        for (int n = pick(0, 7); n > 0; --n) terms.emplace_back(pick(-9, 9), pick(lowest_power, 4));
        return terms;
    };
    auto map_of = [](const Terms& terms) {
        PowerMap m;
        for (auto [c, p] : terms) m[p] += c;
        return m;
    };

    for (int round = 0; round < 500; ++round) {
        Pool pool;
        const Terms a = random_terms(-4);
        const Terms b = random_terms(-4);
        const term* first = build(a, pool);
        const term* second = build(b, pool);
        ASSERT_TRUE(well_formed(first));
        ASSERT_TRUE(well_formed(second));
        const PowerMap ma = map_of(a);
        const PowerMap mb = map_of(b);
        ASSERT_EQ(as_map(first), ma);
        ASSERT_EQ(as_map(second), mb);

        PowerMap sum = ma;
        for (auto [p, c] : mb) sum[p] += c;
        PowerMap product;
        for (auto [pa, ca] : ma)
            for (auto [pb, cb] : mb) product[pa + pb] += ca * cb;

        const term* s = poly::add(first, second, pool);
        const term* m = poly::mul(first, second, pool);
        ASSERT_TRUE(well_formed(s));
        ASSERT_TRUE(well_formed(m));
        EXPECT_EQ(as_map(s), sum);
        EXPECT_EQ(nodes(s).size(), sum.size());
        EXPECT_EQ(as_map(m), product);
        EXPECT_EQ(nodes(m).size(), product.size());
        EXPECT_EQ(as_map(first), ma) << "add and mul leave their inputs";
        EXPECT_EQ(as_map(second), mb);
    }

    for (int round = 0; round < 500; ++round) {
        Pool pool;
        const Terms terms = random_terms(0);
        const int x = pick(-5, 5);
        std::int64_t want = 0;  // the value computed independently, in integers
        for (auto [p, c] : map_of(terms)) {
            std::int64_t power = 1;
            for (int k = 0; k < p; ++k) power *= x;
            want += c * power;
        }
        Evaluation e = evaluate(build(terms, pool), std::to_string(x) + "\n");
        EXPECT_EQ(e.value, std::optional<int>(static_cast<int>(want))) << "x = " << x;
    }
}

}  // namespace
