// greeter: the dialogue is demos::greeter (demos.cpp).
#include "console/console.hpp"
#include "demos/demos.hpp"

int main() { return console::run("greeter", demos::greeter); }
