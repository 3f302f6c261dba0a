// setcalc: the set calculator; the dialogue is sets::setcalc (setcalc.cpp).
#include "console/console.hpp"
#include "sets/setcalc.hpp"

int main() { return console::run("setcalc", sets::setcalc); }
