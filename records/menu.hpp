// The student record book's dialogue: entry of the table, its listing, and the menu of
// sorts and search over it.
#pragma once

#include "console/console.hpp"

namespace records {

// rollbook: reads a count of at most 100 and that many records, lists them, then serves
// the menu until choice 4, or a choice of 7 or more; returns 0.
int rollbook(console::Console& con);

}  // namespace records
