// textwalk: the string toolkit's menu; the dialogue is strings::textwalk (menu.cpp).
#include "console/console.hpp"
#include "strings/menu.hpp"

int main() { return console::run("textwalk", strings::textwalk); }
