#include "matrix/fixed.hpp"

#include "console/wrap.hpp"

namespace matrix::fixed {

void input(Grid& grid, int rows, int columns, console::Console& con) {
    for_each_cell(rows, columns, [&](int i, int j) { grid.at(i, j) = con.read_int(); });
}

void display(const Grid& grid, int rows, int columns, console::Console& con) {
    for (int i = 0; i < extent(rows); ++i) {
        for (int j = 0; j < extent(columns); ++j) con.printf("%d\t", grid.at(i, j));
        con.putchar('\n');
    }
}

void add(const Grid& x, const Grid& y, Grid& result, int rows, int columns) {
    for_each_cell(rows, columns, [&](int i, int j) {
        result.at(i, j) = console::wrap_add(x.at(i, j), y.at(i, j));
    });
}

void mul(const Grid& x, const Grid& y, Grid& result, int rows, int columns) {
    for_each_cell(rows, columns, [&](int i, int j) { result.at(i, j) = dot(x, y, i, j, columns); });
}

void trans(const Grid& source, Grid& result, int rows, int columns) {
    for_each_cell(rows, columns, [&](int i, int j) { result.at(i, j) = source.at(j, i); });
}

}  // namespace matrix::fixed
