// gridheap's routines: operands in fixed grids, results built on the heap as row-pointer
// matrices. The caller keeps every shape within the grid (at most 10); counts of 0 or less
// make a routine do nothing, and no count is ever taken past the grid's 10.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "console/console.hpp"
#include "matrix/grid.hpp"

namespace matrix::heap {

// A row-pointer matrix: an array of one pointer per row, each pointing to a separately
// allocated row of ints; element (i, j) is row[i][j]. It carries no shape of its own.
using RowMatrix = std::int32_t**;

// Owns every row-pointer matrix made during a run. Each one stays allocated, at the same
// address, as long as the store; the store frees them all when it goes away.
class Store {
public:
    // A new matrix of rows rows of columns zeroed ints (counts taken as their extent):
    // first the array of row pointers, then the rows one after another from row 0.
    RowMatrix make(int rows, int columns);

    // How many matrices the store holds.
    std::size_t size() const { return tables_.size(); }

private:
    std::vector<std::unique_ptr<std::int32_t*[]>> tables_;
    std::vector<std::unique_ptr<std::int32_t[]>> rows_;
};

// For each row i from 1 to rows and each column j from 1 to columns: writes
// "\nEnter element  %d of  %d row " with j, then i, and reads a whole number into
// cell (i - 1, j - 1).
void input(Grid& grid, int rows, int columns, console::Console& con);

// A new rows by columns matrix holding x(i, j) + y(i, j), wrapping around. The second
// operand's shape, second_rows and second_columns, is taken and not used.
RowMatrix add(const Grid& x, const Grid& y, int rows, int columns, int second_rows,
              int second_columns, Store& store);

// As add, with x(i, j) - y(i, j).
RowMatrix subtract(const Grid& x, const Grid& y, int rows, int columns, int second_rows,
                   int second_columns, Store& store);

// Sets result(i, j), for i < rows and j < second_columns, to the sum over k < columns of
// x(i, k) * y(k, j), each sum from zero, wrapping around. result must hold rows rows of
// second_columns ints. second_rows is taken and not used.
void multiply(const Grid& x, const Grid& y, RowMatrix result, int rows, int columns,
              int second_rows, int second_columns);

// A new rows by columns matrix holding grid(j, i): the transpose for a square shape;
// otherwise it also reads grid cells outside the region.
RowMatrix transpose(const Grid& grid, int rows, int columns, Store& store);

// Writes each of the first rows rows as "  |", every one of its first columns elements as
// "  %d", then "  |" and a line feed. Nothing for rows <= 0; bare bars for columns <= 0.
void print(const std::int32_t* const* matrix, int rows, int columns, console::Console& con);

// Writes the grid's first rows rows and columns columns in print's format.
void echo(const Grid& grid, int rows, int columns, console::Console& con);

}  // namespace matrix::heap
