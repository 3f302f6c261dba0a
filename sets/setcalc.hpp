// The set calculator's dialogue: two sets of at most 20 elements, then a menu of their
// union, intersection, differences and symmetric difference.
#pragma once

#include "console/console.hpp"

namespace sets {

// setcalc: reads sets A and B (each size asked again while above 20), echoes them and
// serves the five-entry menu until a choice of 5 or more; returns the exit status, 0.
int setcalc(console::Console& con);

}  // namespace sets
