// polycalc: the polynomial calculator; the dialogue is poly::polycalc (polycalc.cpp).
#include "console/console.hpp"
#include "poly/polycalc.hpp"

int main() { return console::run("polycalc", poly::polycalc); }
