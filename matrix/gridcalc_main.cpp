// gridcalc: matrix arithmetic on fixed grids; the dialogue is matrix::gridcalc (menu.cpp).
#include "console/console.hpp"
#include "matrix/menu.hpp"

int main() { return console::run("gridcalc", matrix::gridcalc); }
