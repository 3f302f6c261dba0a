#include "matrix/heap.hpp"

#include <gtest/gtest.h>

#include "console/wrap.hpp"

#include <climits>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace {

using matrix::Grid;
using matrix::heap::RowMatrix;
using matrix::heap::Store;

struct Shape {
    int rows, columns;
};
const std::vector<Shape> kShapes = {{1, 1}, {2, 2},  {3, 2},  {2, 3},  {1, 5}, {5, 1},
                                    {10, 10}, {0, 3}, {3, 0}, {-2, 2}, {2, -4}};

int count(int n) { return n < 0 ? 0 : n; }

Grid numbered(std::int32_t base) {
    Grid g;
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j) g.at(i, j) = console::wrap_add(base, i * 10 + j);
    return g;
}

std::int32_t wrapped(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// Every row of m is its own block of exactly `columns` ints, and writable (the check
// overwrites the elements); under AddressSanitizer no row or row array is larger.
void expect_shape(RowMatrix m, Shape s) {
    ASSERT_NE(m, nullptr);
    std::set<std::int32_t*> rows;
    for (int i = 0; i < count(s.rows); ++i) {
        ASSERT_NE(m[i], nullptr);
        rows.insert(m[i]);
        for (int j = 0; j < count(s.columns); ++j) m[i][j] = i + j;
#if defined(__SANITIZE_ADDRESS__)
        if (s.columns > 0) {  // an empty block has no end to probe
            EXPECT_FALSE(__asan_address_is_poisoned(m[i] + s.columns - 1));
            EXPECT_TRUE(__asan_address_is_poisoned(m[i] + s.columns))
                << "row " << i << " holds more than " << s.columns << " ints";
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

TEST(Gridheap, StoreMakesRowPointerMatricesOfExactlyTheRequestedShape) {
    Store store;
    for (Shape s : kShapes) {
        RowMatrix m = store.make(s.rows, s.columns);
        for (int i = 0; i < count(s.rows); ++i)
            for (int j = 0; j < count(s.columns); ++j) EXPECT_EQ(m[i][j], 0) << "zeroed";
        expect_shape(m, s);
    }
    EXPECT_EQ(store.size(), kShapes.size()) << "the store keeps every matrix it made";
}

TEST(Gridheap, InputNamesTheColumnBeforeTheRowAndFillsTheRegion) {
    Grid g;
    g.cells.fill(-7);
    auto t = console::replay("gridheap", "11 12 13\n21 22 23\n99", [&](console::Console& con) {
        matrix::heap::input(g, 2, 3, con);
        EXPECT_EQ(con.read_int(), 99);
        return 0;
    });
    EXPECT_EQ(t.out,
              "\nEnter element  1 of  1 row \nEnter element  2 of  1 row "
              "\nEnter element  3 of  1 row \nEnter element  1 of  2 row "
              "\nEnter element  2 of  2 row \nEnter element  3 of  2 row ");
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j)
            EXPECT_EQ(g.at(i, j), i < 2 && j < 3 ? (i + 1) * 10 + j + 1 : -7);

    for (Shape s : std::vector<Shape>{{0, 3}, {3, 0}, {-1, 2}, {2, -1}}) {
        auto none = console::replay("gridheap", "5", [&](console::Console& con) {
            matrix::heap::input(g, s.rows, s.columns, con);
            EXPECT_EQ(con.read_int(), 5);
            return 0;
        });
        EXPECT_EQ(none.out, "") << s.rows << " by " << s.columns << " asks for nothing";
    }
}

TEST(Gridheap, AddAndSubtractBuildNewWrappedMatricesOfTheFirstShape) {
    Store store;
    const Grid x = numbered(INT_MAX - 50);
    const Grid y = numbered(-100);
    for (Shape s : kShapes) {
        // The second shape is taken and not used: pass one that differs.
        RowMatrix sum = matrix::heap::add(x, y, s.rows, s.columns, 7, 9, store);
        RowMatrix difference = matrix::heap::subtract(x, y, s.rows, s.columns, -1, 0, store);
        EXPECT_NE(sum, difference);
        for (int i = 0; i < count(s.rows); ++i)
            for (int j = 0; j < count(s.columns); ++j) {
                EXPECT_EQ(sum[i][j], wrapped(std::int64_t{x.at(i, j)} + y.at(i, j)));
                EXPECT_EQ(difference[i][j], wrapped(std::int64_t{x.at(i, j)} - y.at(i, j)));
            }
        expect_shape(sum, s);
        expect_shape(difference, s);
    }
    Grid a, b;
    a.at(0, 0) = INT_MIN, b.at(0, 0) = 1;
    EXPECT_EQ(matrix::heap::subtract(a, b, 1, 1, 1, 1, store)[0][0], INT_MAX);
    a.at(0, 0) = INT_MAX;
    EXPECT_EQ(matrix::heap::add(a, b, 1, 1, 1, 1, store)[0][0], INT_MIN);
}

TEST(Gridheap, MultiplyWritesFreshSumsOfTheProductShapeIntoTheBlock) {
    struct Case {
        int r1, c1, r2, c2;
    };
    const std::vector<Case> cases = {{2, 3, 3, 2}, {2, 2, 2, 2}, {1, 4, 4, 3}, {3, 1, 1, 3},
                                     {10, 10, 10, 10}, {2, 0, 0, 2}, {0, 2, 2, 2}, {2, -1, -1, 2}};
    const Grid x = numbered(46300);
    const Grid y = numbered(46341);  // products near 2^31: sums wrap around
    Store store;
    for (const Case& c : cases) {
        RowMatrix block = store.make(10, 10);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j) block[i][j] = -7;  // an earlier product's leftovers
        matrix::heap::multiply(x, y, block, c.r1, c.c1, c.r2, c.c2);
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 10; ++j) {
                std::int64_t sum = 0;
                for (int k = 0; k < c.c1; ++k)
                    sum += std::int64_t{x.at(i, k)} * y.at(k, j) % (std::int64_t{1} << 32);
                EXPECT_EQ(block[i][j], i < c.r1 && j < c.c2 ? wrapped(sum) : -7)
                    << c.r1 << "x" << c.c1 << " times " << c.r2 << "x" << c.c2 << " at " << i
                    << "," << j;
            }
    }
    Grid a, b;
    a.at(0, 0) = 1, a.at(0, 1) = 2, a.at(0, 2) = 3, a.at(1, 0) = 4, a.at(1, 1) = 5, a.at(1, 2) = 6;
    b.at(0, 0) = 1, b.at(0, 1) = 2, b.at(1, 0) = 3, b.at(1, 1) = 4, b.at(2, 0) = 5, b.at(2, 1) = 6;
    RowMatrix block = store.make(10, 10);
    matrix::heap::multiply(a, b, block, 2, 3, 3, 2);
    EXPECT_EQ(block[0][0], 22);
    EXPECT_EQ(block[0][1], 28);
    EXPECT_EQ(block[1][0], 49);
    EXPECT_EQ(block[1][1], 64);
}

TEST(Gridheap, TransposeBuildsANewMatrixReadAtSwappedIndices) {
    Store store;
    const Grid g = numbered(1);
    for (Shape s : kShapes) {
        RowMatrix t = matrix::heap::transpose(g, s.rows, s.columns, store);
        for (int i = 0; i < count(s.rows); ++i)
            for (int j = 0; j < count(s.columns); ++j) EXPECT_EQ(t[i][j], g.at(j, i));
        expect_shape(t, s);
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
