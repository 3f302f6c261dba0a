// polycalc: reads two polynomials term by term into term rings, echoes them, and serves a
// menu of addition, multiplication and evaluation.
#pragma once

#include "console/console.hpp"

namespace poly {

// The whole polycalc dialogue; returns the exit status, 0, once a choice of 4 or more has
// been answered with "Enter proper choice:". Every ring node is freed when it returns.
int polycalc(console::Console& con);

}  // namespace poly
