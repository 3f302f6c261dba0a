// gridcalc's routines: one shape serves two operands and every result, all held in fixed
// grids. Counts of 0 or less make a routine do nothing (display: see below); counts are
// never taken past the grid's 10.
#pragma once

#include "console/console.hpp"
#include "matrix/grid.hpp"

namespace matrix::fixed {

// Reads rows * columns whole numbers, row 0 first and each row from column 0 up, into the
// cells (i, j) of the grid. Prints nothing.
void input(Grid& grid, int rows, int columns, console::Console& con);

// Writes each of the first rows rows: its first columns elements as "%d\t", then a line
// feed. Nothing at all for rows <= 0; a bare line feed per row for columns <= 0.
void display(const Grid& grid, int rows, int columns, console::Console& con);

// result(i, j) = x(i, j) + y(i, j) over the rows by columns region, wrapping around.
void add(const Grid& x, const Grid& y, Grid& result, int rows, int columns);

// result(i, j) = the sum over k < columns of x(i, k) * y(k, j) over the rows by columns
// region, wrapping around: the matrix product for a square shape; y is read at rows and
// columns 0 to columns - 1 whatever rows is.
void mul(const Grid& x, const Grid& y, Grid& result, int rows, int columns);

// result(i, j) = source(j, i) over the rows by columns region: the transpose for a square
// shape; otherwise it also reads source cells outside the region.
void trans(const Grid& source, Grid& result, int rows, int columns);

}  // namespace matrix::fixed
