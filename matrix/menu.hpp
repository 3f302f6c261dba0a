// The dialogues of the two matrix calculators.
#pragma once

#include "console/console.hpp"

namespace matrix {

// gridcalc: one shape of at most 10 by 10, two matrices of that shape in fixed grids,
// then a menu of addition, multiplication and transposition until a choice of 4 or more.
// Returns 0.
int gridcalc(console::Console& con);

// gridheap: passes of one operation each (addition, subtraction, multiplication,
// transposition) on operands of their own shapes, with results built on the heap, until
// the answer to the closing question does not begin with y or Y. Returns 0.
int gridheap(console::Console& con);

}  // namespace matrix
