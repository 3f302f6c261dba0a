#include "matrix/fixed.hpp"

#include <gtest/gtest.h>

#include "console/wrap.hpp"

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using matrix::Grid;

// A grid whose every cell, inside any region or not, holds a distinct value.
Grid numbered(std::int32_t base) {
    Grid g;
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j) g.at(i, j) = console::wrap_add(base, i * 10 + j);
    return g;
}

// A grid of one value everywhere, to see which cells a routine wrote.
Grid filled(std::int32_t value) {
    Grid g;
    g.cells.fill(value);
    return g;
}

// The shapes the routines are checked on: square, both non-square ways, empty and negative.
struct Shape {
    int rows, columns;
};
const std::vector<Shape> kShapes = {{1, 1}, {2, 2},  {3, 2},  {2, 3},  {1, 5}, {5, 1},
                                    {10, 10}, {0, 3}, {3, 0}, {-2, 2}, {2, -4}};

bool inside(Shape s, int i, int j) { return i < s.rows && j < s.columns; }

// x + y, x * y, computed in 64 bits and reduced modulo 2^32.
std::int32_t wrapped(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

TEST(Gridcalc, InputReadsExactlyTheRegionRowByRow) {
    for (Shape s : kShapes) {
        std::string typed;
        int n = 0;
        for (int i = 0; i < s.rows; ++i)
            for (int j = 0; j < s.columns; ++j) typed += std::to_string(++n) + " ";
        typed += "999";
        Grid g = filled(-7);
        int after = 0;
        auto t = console::replay("gridcalc", typed, [&](console::Console& con) {
            matrix::fixed::input(g, s.rows, s.columns, con);
            after = con.read_int();
            return 0;
        });
        EXPECT_EQ(t.out, "") << "input prints nothing";
        EXPECT_EQ(after, 999) << s.rows << " by " << s.columns << ": one read per cell";
        n = 0;
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j)
                EXPECT_EQ(g.at(i, j), inside(s, i, j) ? ++n : -7) << i << "," << j;
    }
}

TEST(Gridcalc, DisplayWritesTabbedElementsAndALineFeedPerRow) {
    struct Case {
        int rows, columns;
        std::string want;
    };
    Grid g;
    g.at(0, 0) = 1, g.at(0, 1) = -2, g.at(0, 2) = 30;
    g.at(1, 0) = 4, g.at(1, 1) = INT_MIN, g.at(1, 2) = 6;
    const std::vector<Case> cases = {
        {2, 3, "1\t-2\t30\t\n4\t-2147483648\t6\t\n"},
        {1, 1, "1\t\n"},
        {3, 1, "1\t\n4\t\n0\t\n"},
        {0, 3, ""},
        {-1, 3, ""},
        {2, 0, "\n\n"},
        {3, -5, "\n\n\n"},
    };
    for (const Case& c : cases) {
        auto t = console::replay("gridcalc", "", [&](console::Console& con) {
            matrix::fixed::display(g, c.rows, c.columns, con);
            return 0;
        });
        EXPECT_EQ(t.out, c.want) << c.rows << " by " << c.columns;
    }
}

TEST(Gridcalc, AddWritesTheWrappedSumsOfTheRegionOnly) {
    for (Shape s : kShapes) {
        const Grid x = numbered(INT_MAX - 50);  // sums past INT_MAX wrap around
        const Grid y = numbered(100);
        Grid result = filled(-7);
        matrix::fixed::add(x, y, result, s.rows, s.columns);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j)
                EXPECT_EQ(result.at(i, j),
                          inside(s, i, j) ? wrapped(std::int64_t{x.at(i, j)} + y.at(i, j)) : -7);
    }
    Grid x, y, result;
    x.at(0, 0) = INT_MAX, y.at(0, 0) = 1;
    x.at(0, 1) = INT_MIN, y.at(0, 1) = -1;
    matrix::fixed::add(x, y, result, 1, 2);
    EXPECT_EQ(result.at(0, 0), INT_MIN);
    EXPECT_EQ(result.at(0, 1), INT_MAX);
}

TEST(Gridcalc, MulSumsOverTheColumnCountLikeATripleLoop) {
    for (Shape s : kShapes) {
        const Grid x = numbered(46300);
        const Grid y = numbered(46341);  // squares near 2^31: products wrap around
        Grid result = filled(-7);
        matrix::fixed::mul(x, y, result, s.rows, s.columns);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j) {
                std::int64_t sum = 0;
                for (int k = 0; k < s.columns; ++k)
                    sum += std::int64_t{x.at(i, k)} * y.at(k, j) % (std::int64_t{1} << 32);
                EXPECT_EQ(result.at(i, j), inside(s, i, j) ? wrapped(sum) : -7)
                    << s.rows << " by " << s.columns << " at " << i << "," << j;
            }
    }
}

TEST(Gridcalc, MulGivesTheMatrixProductAndUsesOnlyTheFirstColumnsRowsOfY) {
    Grid a, b, result;
    a.at(0, 0) = 1, a.at(0, 1) = 2, a.at(1, 0) = 3, a.at(1, 1) = 4;
    b.at(0, 0) = 5, b.at(0, 1) = 6, b.at(1, 0) = 7, b.at(1, 1) = 8;
    matrix::fixed::mul(a, b, result, 2, 2);
    EXPECT_EQ(result.at(0, 0), 19);
    EXPECT_EQ(result.at(0, 1), 22);
    EXPECT_EQ(result.at(1, 0), 43);
    EXPECT_EQ(result.at(1, 1), 50);

    a.at(2, 0) = 9, a.at(2, 1) = 10;
    b.at(2, 0) = 1000, b.at(2, 1) = 1000;  // B's third row takes no part when c = 2
    matrix::fixed::mul(a, b, result, 3, 2);
    EXPECT_EQ(result.at(2, 0), 9 * 5 + 10 * 7);
    EXPECT_EQ(result.at(2, 1), 9 * 6 + 10 * 8);
    EXPECT_EQ(result.at(0, 0), 19);
}

TEST(Gridcalc, TransReadsTheSourceAtSwappedIndices) {
    for (Shape s : kShapes) {
        const Grid source = numbered(1);
        Grid result = filled(-7);
        matrix::fixed::trans(source, result, s.rows, s.columns);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j)
                EXPECT_EQ(result.at(i, j), inside(s, i, j) ? source.at(j, i) : -7);
    }
    Grid a, result;
    a.at(0, 0) = 1, a.at(0, 1) = 2, a.at(1, 0) = 3, a.at(1, 1) = 4;
    matrix::fixed::trans(a, result, 2, 3);  // 2 rows of 3: row 2 of a was never entered
    EXPECT_EQ(result.at(0, 0), 1);
    EXPECT_EQ(result.at(0, 1), 3);
    EXPECT_EQ(result.at(0, 2), 0);
    EXPECT_EQ(result.at(1, 0), 2);
    EXPECT_EQ(result.at(1, 1), 4);
    EXPECT_EQ(result.at(1, 2), 0);
}

}  // namespace
