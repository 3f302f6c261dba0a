// rollbook: the student record book; the dialogue is records::rollbook (menu.cpp).
#include "console/console.hpp"
#include "records/menu.hpp"

int main() { return console::run("rollbook", records::rollbook); }
