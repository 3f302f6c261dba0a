#include "matrix/grid.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

namespace {

TEST(Grid, StartsZeroedWithRowsTenElementsApart) {
    matrix::Grid g;
    for (std::int32_t cell : g.cells) EXPECT_EQ(cell, 0);
    g.at(2, 3) = 7;
    EXPECT_EQ(g.cells[23], 7);
    EXPECT_EQ(g.row(2)[3], 7);
}

TEST(Grid, ForEachCellVisitsTheTopLeftRegionRowByRowAndNeverLeavesTheGrid) {
    struct Case {
        int rows, columns;
        std::vector<std::pair<int, int>> want;
    };
    const std::vector<Case> cases = {
        {2, 3, {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}}},
        {3, 1, {{0, 0}, {1, 0}, {2, 0}}},
        {0, 3, {}},
        {3, 0, {}},
        {-1, 4, {}},
        {4, INT_MIN, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<int, int>> seen;
        matrix::for_each_cell(c.rows, c.columns, [&](int i, int j) { seen.emplace_back(i, j); });
        EXPECT_EQ(seen, c.want) << c.rows << " by " << c.columns;
    }
    int visits = 0;
    matrix::for_each_cell(25, INT_MAX, [&](int i, int j) {
        EXPECT_TRUE(i < 10 && j < 10);
        ++visits;
    });
    EXPECT_EQ(visits, 100);
}

}  // namespace
