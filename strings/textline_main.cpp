// textline: the string toolkit's menu; the dialogue is strings::textline (menu.cpp).
#include "console/console.hpp"
#include "strings/menu.hpp"

int main() { return console::run("textline", strings::textline); }
