// Helpers shared by the matrix unit tests: grids whose every cell tells where it came from,
// the shapes every routine is checked on, and arithmetic modulo 2^32 done independently.
#pragma once

#include <cstdint>
#include <vector>

#include "matrix/grid.hpp"

namespace matrix::testing {

struct Shape {
    int rows, columns;
};

// Square, both non-square ways, the whole grid, empty and negative.
inline const std::vector<Shape> kShapes = {{1, 1},   {2, 2}, {3, 2}, {2, 3},  {1, 5}, {5, 1},
                                           {10, 10}, {0, 3}, {3, 0}, {-2, 2}, {2, -4}};

// A count as the number of items it stands for.
inline int count(int n) { return n < 0 ? 0 : n; }

// v reduced modulo 2^32 into the signed 32-bit range.
inline std::int32_t wrapped(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

// v in 64 bits, where sums and products of two ints cannot overflow.
inline std::int64_t wide(std::int32_t v) { return v; }

// A grid whose cell (i, j), inside any region or not, holds base + 10i + j (modulo 2^32).
inline Grid numbered(std::int64_t base) {
    Grid g;
    for (int i = 0; i < kSide; ++i)
        for (int j = 0; j < kSide; ++j) g.at(i, j) = wrapped(base + wide(i) * 10 + j);
    return g;
}

// A grid of one value everywhere, to see which cells a routine wrote.
inline Grid filled(std::int32_t value) {
    Grid g;
    g.cells.fill(value);
    return g;
}

// The sum over k < inner of x(i, k) * y(k, j) modulo 2^32, by plain 64-bit arithmetic.
inline std::int32_t product_cell(const Grid& x, const Grid& y, int i, int j, int inner) {
    std::int64_t sum = 0;
    for (int k = 0; k < inner; ++k)
        sum = (sum + wide(x.at(i, k)) * y.at(k, j)) % (std::int64_t{1} << 32);
    return wrapped(sum);
}

}  // namespace matrix::testing
