// The term ring: a polynomial in X with int coefficients and int powers (negative powers
// included), held as a circular singly linked list of `term` nodes.
//
// A ring is designated by its handle, the node of highest power; the null pointer is the
// empty ring, which is the zero polynomial. The handle's `next` is the node of lowest
// power, and following `next` from there the powers strictly increase until the handle is
// reached again; no power occurs twice. Coefficients, their sums and products, and power
// sums are 32-bit ints that wrap around.
//
// Every node is a heap block of its own, made by a Pool and freed only when that Pool ends:
// rings keep raw `next` links and live as long as the Pool that made them.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "console/console.hpp"

namespace poly {

// One term of a polynomial: coefficient times X raised to the power.
struct term {
    int coefficient;
    int power;
    term* next;  // the following node of the ring; never null in a linked node
};

// The owner of ring nodes: every node it makes stays valid until the Pool ends, which frees
// them all (also when the dialogue ends through an exception).
class Pool {
public:
    // A new unlinked node holding the coefficient and the power; its `next` is itself.
    // Throws std::bad_alloc when memory runs out.
    term* make(int coefficient, int power);

    // The number of nodes made so far.
    std::size_t size() const { return nodes_.size(); }

private:
    std::vector<std::unique_ptr<term>> nodes_;
};

// Inserts the term (coefficient, power) into the ring and returns the ring's new handle.
// A power already present adds the coefficient to that node (wrapping around) and links no
// node; a power above every power present becomes the new handle.
term* create(term* ring, int coefficient, int power, Pool& pool);

// Writes the ring with the formatted printer: the handle's term as "%dX^%d ", then every
// other term from the lowest power upward as "+ %dX^%d ". The empty ring writes nothing.
void display(const term* ring, console::Console& con);

// A new ring holding the sum of the two rings; both inputs stay as they were. Terms of
// equal power merge, and cancelled terms stay with coefficient 0.
term* add(const term* first, const term* second, Pool& pool);

// A new ring holding the product of the two rings (each term of the second times each term
// of the first); both inputs stay as they were. Empty when either input is empty.
term* mul(const term* first, const term* second, Pool& pool);

// Asks "Enter value of X for polynomial :", reads X and returns the polynomial's value at
// X, each term added in double precision from the lowest power up and the running sum
// truncated toward zero after every term (the empty ring gives 0). When a running sum is
// not finite or lies outside the int range, writes a diagnostic and returns no value.
std::optional<int> eva(const term* ring, console::Console& con);

}  // namespace poly
