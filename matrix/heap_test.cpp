#include "matrix/heap.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "matrix/grid_testing.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

using matrix::Grid;
using matrix::heap::RowMatrix;
using matrix::heap::Store;
using namespace matrix::testing;

// Every row of m is its own writable block of `columns` ints; under AddressSanitizer, no
// row and no row array is larger than its shape. Overwrites the elements.
void expect_shape(RowMatrix m, Shape s) {
    ASSERT_NE(m, nullptr);
    std::set<std::int32_t*> rows;
    for (int i = 0; i < count(s.rows); ++i) {
        rows.insert(m[i]);
        for (int j = 0; j < count(s.columns); ++j) m[i][j] = i + j;
#if defined(__SANITIZE_ADDRESS__)
        if (s.columns > 0) {  // an empty block has no end to probe
            EXPECT_TRUE(__asan_address_is_poisoned(m[i] + s.columns)) << "row " << i << " too long";
        }
#endif
    }
    EXPECT_EQ(rows.size(), static_cast<std::size_t>(count(s.rows))) << "each row apart";
#if defined(__SANITIZE_ADDRESS__)
    if (s.rows > 0) {
        EXPECT_TRUE(__asan_address_is_poisoned(m + s.rows)) << "one pointer per row";
    }
#endif
}

TEST(Gridheap, StoreMakesZeroedRowPointerMatricesOfExactlyTheRequestedShape) {
    Store store;
    for (Shape s : kShapes) {
        RowMatrix m = store.make(s.rows, s.columns);
        for (int i = 0; i < count(s.rows); ++i)
            for (int j = 0; j < count(s.columns); ++j) EXPECT_EQ(m[i][j], 0);
        expect_shape(m, s);
    }
    EXPECT_EQ(store.size(), kShapes.size()) << "the store keeps every matrix it made";
}

TEST(Gridheap, InputNamesTheColumnBeforeTheRowAndFillsTheRegion) {
    struct Case {
        int rows, columns;
        std::string typed, prompts;
    };
    const std::vector<Case> cases = {
        {2, 3, "11 12 13 21 22 23",
         "\nEnter element  1 of  1 row \nEnter element  2 of  1 row \nEnter element  3 of  1 row "
         "\nEnter element  1 of  2 row \nEnter element  2 of  2 row \nEnter element  3 of  2 row "},
        {2, 1, "11 21", "\nEnter element  1 of  1 row \nEnter element  1 of  2 row "},
        {0, 3, "", ""},
        {3, 0, "", ""},
        {-1, 2, "", ""},
        {2, -1, "", ""},
    };
    for (const Case& c : cases) {
        Grid g = filled(-7);
        auto t = console::replay("gridheap", c.typed + " 99", [&](console::Console& con) {
            matrix::heap::input(g, c.rows, c.columns, con);
            EXPECT_EQ(con.read_int(), 99) << "one read per cell";
            return 0;
        });
        EXPECT_EQ(t.out, c.prompts);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j)
                EXPECT_EQ(g.at(i, j), i < c.rows && j < c.columns ? (i + 1) * 10 + j + 1 : -7);
    }
}

TEST(Gridheap, AddSubtractAndTransposeBuildNewWrappedMatricesOfTheFirstShape) {
    Store store;
    const Grid x = numbered(INT_MAX - 50);
    const Grid y = numbered(-100);
    for (Shape s : kShapes) {
        // The second shape is taken and not used: pass ones that differ.
        RowMatrix sum = matrix::heap::add(x, y, s.rows, s.columns, 7, 9, store);
        RowMatrix difference = matrix::heap::subtract(y, x, s.rows, s.columns, -1, 0, store);
        RowMatrix transposed = matrix::heap::transpose(x, s.rows, s.columns, store);
        for (int i = 0; i < count(s.rows); ++i)
            for (int j = 0; j < count(s.columns); ++j) {
                EXPECT_EQ(sum[i][j], wrapped(wide(x.at(i, j)) + y.at(i, j)));
                EXPECT_EQ(difference[i][j], wrapped(wide(y.at(i, j)) - x.at(i, j)));
                EXPECT_EQ(transposed[i][j], x.at(j, i));
            }
        expect_shape(sum, s);
        expect_shape(difference, s);
        expect_shape(transposed, s);
    }
}

TEST(Gridheap, MultiplyWritesFreshSumsOfTheProductShapeIntoTheBlock) {
    struct Case {
        int r1, c1, r2, c2;
    };
    const std::vector<Case> cases = {{2, 3, 3, 2}, {2, 2, 2, 2},     {1, 4, 4, 3},
                                     {3, 1, 1, 3}, {10, 10, 10, 10}, {2, 0, 0, 2},
                                     {0, 2, 2, 2}, {2, -1, -1, 2},   {2, 2, -5, 2}};
    const Grid x = numbered(46300);
    const Grid y = numbered(46341);  // products near 2^31: sums wrap around
    Store store;
    for (const Case& c : cases) {
        RowMatrix block = store.make(10, 10);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j) block[i][j] = -7;  // an earlier product's leftovers
        matrix::heap::multiply(x, y, block, c.r1, c.c1, c.r2, c.c2);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j)
                EXPECT_EQ(block[i][j], i < c.r1 && j < c.c2 ? product_cell(x, y, i, j, c.c1) : -7)
                    << c.r1 << "x" << c.c1 << " times " << c.r2 << "x" << c.c2 << " at " << i << ","
                    << j;
    }
}

TEST(Gridheap, PrintAndEchoWriteBarredRowsOfTwoSpacedElements) {
    struct Case {
        int rows, columns;
        std::string want;
    };
    const std::vector<Case> cases = {
        {1, 2, "  |  6  7  |\n"},
        {2, 2, "  |  6  7  |\n  |  -1  -2147483648  |\n"},
        {2, 1, "  |  6  |\n  |  -1  |\n"},
        {0, 2, ""},
        {-3, 2, ""},
        {2, 0, "  |  |\n  |  |\n"},
        {1, -4, "  |  |\n"},
    };
    Grid g;
    g.at(0, 0) = 6, g.at(0, 1) = 7, g.at(1, 0) = -1, g.at(1, 1) = INT_MIN;
    Store store;
    RowMatrix m = store.make(2, 2);
    m[0][0] = 6, m[0][1] = 7, m[1][0] = -1, m[1][1] = INT_MIN;
    for (const Case& c : cases) {
        auto printed = console::replay("gridheap", "", [&](console::Console& con) {
            matrix::heap::print(m, c.rows, c.columns, con);
            return 0;
        });
        auto echoed = console::replay("gridheap", "", [&](console::Console& con) {
            matrix::heap::echo(g, c.rows, c.columns, con);
            return 0;
        });
        EXPECT_EQ(printed.out, c.want) << c.rows << " by " << c.columns;
        EXPECT_EQ(echoed.out, c.want) << c.rows << " by " << c.columns;
    }
}

}  // namespace
