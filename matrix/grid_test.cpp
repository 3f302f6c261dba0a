#include "matrix/grid.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

namespace {

using matrix::Grid;

TEST(Grid, ExtentTakesCountsOfZeroOrLessAsNoneAndNeverPassesTheGrid) {
    const std::vector<std::pair<int, int>> cases = {
        {INT_MIN, 0}, {-5, 0}, {-1, 0}, {0, 0}, {1, 1}, {7, 7}, {10, 10}, {11, 10}, {INT_MAX, 10}};
    for (const auto& [count, want] : cases) EXPECT_EQ(matrix::extent(count), want) << count;
}

TEST(Grid, StartsZeroedAndLaysElementIJAtITimesTenPlusJ) {
    Grid g;
    for (std::int32_t cell : g.cells) EXPECT_EQ(cell, 0);
    for (int i = 0; i < matrix::kSide; ++i)
        for (int j = 0; j < matrix::kSide; ++j) g.at(i, j) = i * 100 + j;
    for (int i = 0; i < matrix::kSide; ++i)
        for (int j = 0; j < matrix::kSide; ++j) {
            EXPECT_EQ(g.cells[static_cast<std::size_t>(i * 10 + j)], i * 100 + j);
            EXPECT_EQ(g.row(i)[j], i * 100 + j) << "rows step by 10 elements";
        }
}

TEST(Grid, ForEachCellVisitsTheTopLeftRegionRowByRow) {
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
        {4, -2, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<int, int>> seen;
        matrix::for_each_cell(c.rows, c.columns, [&](int i, int j) { seen.emplace_back(i, j); });
        EXPECT_EQ(seen, c.want) << c.rows << " by " << c.columns;
    }
    int count = 0;
    matrix::for_each_cell(25, INT_MAX, [&](int i, int j) {
        EXPECT_LT(i, 10);
        EXPECT_LT(j, 10);
        ++count;
    });
    EXPECT_EQ(count, 100) << "shapes beyond the grid stop at its edge";
}

TEST(Grid, DotSumsProductsAndWrapsAround) {
    Grid x, y;
    x.at(0, 0) = 2, x.at(0, 1) = 3;
    y.at(0, 0) = 5, y.at(1, 0) = 7;
    EXPECT_EQ(matrix::dot(x, y, 0, 0, 2), 31);
    EXPECT_EQ(matrix::dot(x, y, 0, 0, 1), 10);
    EXPECT_EQ(matrix::dot(x, y, 0, 0, 0), 0);
    EXPECT_EQ(matrix::dot(x, y, 0, 0, -3), 0);
    x.at(0, 0) = 65536, y.at(0, 0) = 65536;  // 2^32 wraps to 0
    EXPECT_EQ(matrix::dot(x, y, 0, 0, 1), 0);
    x.at(0, 0) = INT_MAX, y.at(0, 0) = 1;
    x.at(0, 1) = 1, y.at(1, 0) = 1;
    EXPECT_EQ(matrix::dot(x, y, 0, 0, 2), INT_MIN);
}

}  // namespace
