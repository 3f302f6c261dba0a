// pairsum: the dialogue is demos::pairsum (demos.cpp).
#include "console/console.hpp"
#include "demos/demos.hpp"

int main() { return console::run("pairsum", demos::pairsum); }
