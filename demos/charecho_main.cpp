// charecho: the dialogue is demos::charecho (demos.cpp).
#include "console/console.hpp"
#include "demos/demos.hpp"

int main() { return console::run("charecho", demos::charecho); }
