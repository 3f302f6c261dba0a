// The set routines of the set calculator. A set is an array of signed 32-bit integers with
// a separate element count; every count is passed by address and only read, and a count of
// zero or less stands for an empty set. The routines own nothing, allocate nothing and keep
// no state: the caller owns every array and gives each result room enough (see below).
#pragma once

#include "console/console.hpp"

namespace sets {

// Capacity of an input set, and of an intersection or difference of two input sets.
inline constexpr int kCapacity = 20;

// Capacity of a union of two input sets, and so of their symmetric difference.
inline constexpr int kPairCapacity = 2 * kCapacity;

// Reads *count whole numbers from the console into set[0] to set[*count - 1], in order;
// prints nothing and reads nothing when *count is zero or less. The set holds at least
// *count elements.
void create(int* set, const int* count, console::Console& con);

// Prints the set in brace notation, with no blanks and no line feed: {1,2,3}, {7}; a set
// whose count is zero or less prints as {}.
void display(const int* set, const int* count, console::Console& con);

// Union: every distinct value of the two sets exactly once, in order of first appearance
// (the first set's values, then the second's new ones). Returns the number written to
// result, at most *first_count + *second_count.
int un(const int* first, const int* second, const int* first_count, const int* second_count,
       int* result);

// Intersection: the first set's elements, in its order and with its repeats, that occur in
// the second set. Returns the number written to result, at most *first_count.
int inter(const int* first, const int* second, const int* first_count, const int* second_count,
          int* result);

// Difference, first minus second: the first set's elements, in its order and with its
// repeats, that don't occur in the second set. With a negative second count nothing is
// written. Returns the number written to result, at most *first_count.
int diff(const int* first, const int* second, const int* first_count, const int* second_count,
         int* result);

// Symmetric difference of two sets given as their two differences (first minus second,
// second minus first): exactly un of the same arguments, so the first difference's values,
// then the second's, each once. Returns what un returns.
int symm(const int* first, const int* second, const int* first_count, const int* second_count,
         int* result);

}  // namespace sets
