#include "matrix/fixed.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "matrix/grid_testing.hpp"

namespace {

using matrix::Grid;
using namespace matrix::testing;

bool inside(Shape s, int i, int j) { return i < s.rows && j < s.columns; }

TEST(Gridcalc, InputReadsExactlyTheRegionRowByRow) {
    for (Shape s : kShapes) {
        std::string typed;
        for (int n = 1; n <= count(s.rows) * count(s.columns); ++n)
            typed += std::to_string(n) + " ";
        Grid g = filled(-7);
        auto t = console::replay("gridcalc", typed + "999", [&](console::Console& con) {
            matrix::fixed::input(g, s.rows, s.columns, con);
            EXPECT_EQ(con.read_int(), 999) << s.rows << " by " << s.columns << ": a read per cell";
            return 0;
        });
        EXPECT_EQ(t.out, "") << "input prints nothing";
        int n = 0;
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j) EXPECT_EQ(g.at(i, j), inside(s, i, j) ? ++n : -7);
    }
}

TEST(Gridcalc, DisplayWritesTabbedElementsAndALineFeedPerRow) {
    struct Case {
        int rows, columns;
        std::string want;
    };
    const std::vector<Case> cases = {
        {2, 3, "1\t-2\t30\t\n4\t-2147483648\t6\t\n"},
        {3, 1, "1\t\n4\t\n0\t\n"},
        {0, 3, ""},
        {-1, 3, ""},
        {2, 0, "\n\n"},
        {3, -5, "\n\n\n"},
    };
    Grid g;
    g.at(0, 0) = 1, g.at(0, 1) = -2, g.at(0, 2) = 30;
    g.at(1, 0) = 4, g.at(1, 1) = INT_MIN, g.at(1, 2) = 6;
    for (const Case& c : cases) {
        auto t = console::replay("gridcalc", "", [&](console::Console& con) {
            matrix::fixed::display(g, c.rows, c.columns, con);
            return 0;
        });
        EXPECT_EQ(t.out, c.want) << c.rows << " by " << c.columns;
    }
}

// add, mul and trans, each against a plain computation, write the region and nothing else.
TEST(Gridcalc, OperationsWriteTheirWrappedResultsOverTheRegionOnly) {
    const Grid x = numbered(INT_MAX - 50);  // sums pass INT_MAX and wrap around
    const Grid y = numbered(46341);         // products near 2^31 wrap around too
    for (Shape s : kShapes) {
        Grid sum = filled(-7), product = filled(-7), transposed = filled(-7);
        matrix::fixed::add(x, y, sum, s.rows, s.columns);
        matrix::fixed::mul(x, y, product, s.rows, s.columns);
        matrix::fixed::trans(x, transposed, s.rows, s.columns);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j) {
                const bool in = inside(s, i, j);
                EXPECT_EQ(sum.at(i, j), in ? wrapped(wide(x.at(i, j)) + y.at(i, j)) : -7);
                // The inner length is the column count, whatever the row count.
                EXPECT_EQ(product.at(i, j), in ? product_cell(x, y, i, j, s.columns) : -7)
                    << s.rows << " by " << s.columns << " at " << i << "," << j;
                EXPECT_EQ(transposed.at(i, j), in ? x.at(j, i) : -7);
            }
    }
}

}  // namespace
