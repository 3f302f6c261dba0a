// The string toolkit's seven-entry menu, served by three programs that differ only in how
// they read their strings and how they show a reversed or copied one.
#pragma once

#include "console/console.hpp"

namespace strings {

// textkit: the given string and every second string are words.
int textkit(console::Console& con);

// textline: the given string is a whole line, and so is the string it is compared with.
int textline(console::Console& con);

// textwalk: the given string is a whole line; reversed and copied strings are written
// character by character, with no line feed after them.
int textwalk(console::Console& con);

}  // namespace strings
