// gridheap: matrix arithmetic with results on the heap; the dialogue is matrix::gridheap
// (menu.cpp).
#include "console/console.hpp"
#include "matrix/menu.hpp"

int main() { return console::run("gridheap", matrix::gridheap); }
