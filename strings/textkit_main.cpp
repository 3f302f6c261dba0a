// textkit: the string toolkit's menu; the dialogue is strings::textkit (menu.cpp).
#include "console/console.hpp"
#include "strings/menu.hpp"

int main() { return console::run("textkit", strings::textkit); }
