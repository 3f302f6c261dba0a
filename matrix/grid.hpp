// The grid both matrix calculators keep their operands in: 10 rows of 10 signed 32-bit
// integers stored row after row, element (i, j) at position i * 10 + j, all zero at start.
// A shape of r rows and c columns occupies the top-left r by c region; the rest of the grid
// keeps whatever it held before.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "console/wrap.hpp"

namespace matrix {

// Rows and columns of every grid.
inline constexpr int kSide = 10;

// The number of rows or columns a count stands for inside a grid: a count of 0 or less
// stands for none, and no count reaches past the grid's 10.
constexpr int extent(int count) { return count <= 0 ? 0 : count > kSide ? kSide : count; }

struct Grid {
    std::array<std::int32_t, std::size_t{kSide} * kSide>
        cells{};  // zeroed: unentered cells read as 0

    // Element (i, j), for 0 <= i, j < 10.
    std::int32_t& at(int i, int j) { return cells[index(i, j)]; }
    std::int32_t at(int i, int j) const { return cells[index(i, j)]; }

    // Row i as the address of its first element; the next row starts 10 elements further.
    const std::int32_t* row(int i) const { return cells.data() + index(i, 0); }

private:
    static std::size_t index(int i, int j) {
        return static_cast<std::size_t>(i) * kSide + static_cast<std::size_t>(j);
    }
};

// Calls visit(i, j) for every cell of the top-left rows by columns region, row 0 first and
// each row from column 0 up; counts are taken as their extent, so no cell lies off the grid.
template <class Visit>
void for_each_cell(int rows, int columns, Visit visit) {
    const int r = extent(rows);
    const int c = extent(columns);
    for (int i = 0; i < r; ++i)
        for (int j = 0; j < c; ++j) visit(i, j);
}

// The sum over k from 0 to inner - 1 of x(i, k) * y(k, j), wrapping around modulo 2^32;
// 0 when inner is 0 or less.
inline std::int32_t dot(const Grid& x, const Grid& y, int i, int j, int inner) {
    std::int32_t sum = 0;
    for (int k = 0; k < extent(inner); ++k)
        sum = console::wrap_add(sum, console::wrap_mul(x.at(i, k), y.at(k, j)));
    return sum;
}

}  // namespace matrix
