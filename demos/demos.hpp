// The three one-shot demonstrations: two persons introducing themselves, the sum of a
// global structure's members, and a two-character buffer. None of them reads input.
#pragma once

#include "console/console.hpp"

namespace demos {

// The pair of numbers pairsum keeps in static storage (zero until it runs).
struct numbers {
    int first;
    int second;
};

// pairsum's global structure.
extern numbers n;

// greeter: Morvelin (20) introduces himself, then "\np\n", then the default person
// (Taldrin, 19); everything on the standard output stream, no final line feed. Returns 0.
int greeter(console::Console& con);

// pairsum: sets n to 10 and 20 and writes their sum, "30"; returns the printer's count, 2.
int pairsum(console::Console& con);

// charecho: fills its two-character buffer with the empty string and writes it with "%s",
// which writes nothing; returns the printer's count, 0.
int charecho(console::Console& con);

}  // namespace demos
