#include "matrix/heap.hpp"

#include "console/wrap.hpp"

namespace matrix::heap {
namespace {

// Writes one row of print's format: "  |", "  %d" per element, "  |" and a line feed.
void print_row(const std::int32_t* row, int columns, console::Console& con) {
    con.printf("  |");
    for (int j = 0; j < extent(columns); ++j) con.printf("  %d", row[j]);
    con.puts("  |");
}

}  // namespace

RowMatrix Store::make(int rows, int columns) {
    const auto r = static_cast<std::size_t>(extent(rows));
    const auto c = static_cast<std::size_t>(extent(columns));
    auto table = std::make_unique<std::int32_t*[]>(r);
    RowMatrix matrix = table.get();
    tables_.push_back(std::move(table));
    for (std::size_t i = 0; i < r; ++i) {
        auto row = std::make_unique<std::int32_t[]>(c);
        matrix[i] = row.get();
        rows_.push_back(std::move(row));
    }
    return matrix;
}

void input(Grid& grid, int rows, int columns, console::Console& con) {
    for_each_cell(rows, columns, [&](int i, int j) {
        con.printf("\nEnter element  %d of  %d row ", j + 1, i + 1);
        grid.at(i, j) = con.read_int();
    });
}

RowMatrix add(const Grid& x, const Grid& y, int rows, int columns, int /*second_rows*/,
              int /*second_columns*/, Store& store) {
    RowMatrix sum = store.make(rows, columns);
    for_each_cell(rows, columns,
                  [&](int i, int j) { sum[i][j] = console::wrap_add(x.at(i, j), y.at(i, j)); });
    return sum;
}

RowMatrix subtract(const Grid& x, const Grid& y, int rows, int columns, int /*second_rows*/,
                   int /*second_columns*/, Store& store) {
    RowMatrix difference = store.make(rows, columns);
    for_each_cell(rows, columns, [&](int i, int j) {
        difference[i][j] = console::wrap_sub(x.at(i, j), y.at(i, j));
    });
    return difference;
}

void multiply(const Grid& x, const Grid& y, RowMatrix result, int rows, int columns,
              int /*second_rows*/, int second_columns) {
    for_each_cell(rows, second_columns,
                  [&](int i, int j) { result[i][j] = dot(x, y, i, j, columns); });
}

RowMatrix transpose(const Grid& grid, int rows, int columns, Store& store) {
    RowMatrix transposed = store.make(rows, columns);
    for_each_cell(rows, columns, [&](int i, int j) { transposed[i][j] = grid.at(j, i); });
    return transposed;
}

void print(const std::int32_t* const* matrix, int rows, int columns, console::Console& con) {
    for (int i = 0; i < extent(rows); ++i) print_row(matrix[i], columns, con);
}

void echo(const Grid& grid, int rows, int columns, console::Console& con) {
    for (int i = 0; i < extent(rows); ++i) print_row(grid.row(i), columns, con);
}

}  // namespace matrix::heap
