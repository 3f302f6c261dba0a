#include "poly/ring.hpp"

#include <cmath>

#include "console/wrap.hpp"

namespace poly {
namespace {

// Calls `visit` on every node of the ring, from the lowest power up to the handle.
template <typename Visit>
void each_term(const term* ring, Visit visit) {
    if (ring == nullptr) return;
    const term* t = ring->next;
    for (;;) {
        visit(*t);
        if (t == ring) return;
        t = t->next;
    }
}

// The range of int as doubles: a truncated value within it converts to int exactly.
constexpr double kLowestInt = -2147483648.0;
constexpr double kHighestInt = 2147483647.0;

}  // namespace

term* Pool::make(int coefficient, int power) {
    nodes_.push_back(std::make_unique<term>(term{coefficient, power, nullptr}));
    term* n = nodes_.back().get();
    n->next = n;
    return n;
}

term* create(term* ring, int coefficient, int power, Pool& pool) {
    if (ring == nullptr) return pool.make(coefficient, power);

    term* handle = ring;
    if (power == handle->power) {
        handle->coefficient = console::wrap_add(handle->coefficient, coefficient);
        return handle;
    }
    if (power > handle->power) {
        term* n = pool.make(coefficient, power);
        n->next = handle->next;
        handle->next = n;
        return n;
    }

    // Below the handle: find the last node W whose power is not above the new one.
    term* w = handle;
    term* s = w->next;
    while (s != handle && !(power < s->power)) {
        w = s;
        s = w->next;
    }
    if (power == w->power) {
        w->coefficient = console::wrap_add(w->coefficient, coefficient);
        return handle;
    }
    term* n = pool.make(coefficient, power);
    n->next = s;
    w->next = n;
    return handle;
}

void display(const term* ring, console::Console& con) {
    if (ring == nullptr) return;
    con.printf("%dX^%d ", ring->coefficient, ring->power);
    for (const term* t = ring->next; t != ring; t = t->next)
        con.printf("+ %dX^%d ", t->coefficient, t->power);
}

term* add(const term* first, const term* second, Pool& pool) {
    term* sum = nullptr;
    auto insert = [&](const term& t) { sum = create(sum, t.coefficient, t.power, pool); };
    each_term(first, insert);
    each_term(second, insert);
    return sum;
}

term* mul(const term* first, const term* second, Pool& pool) {
    term* product = nullptr;
    each_term(second, [&](const term& q) {
        each_term(first, [&](const term& t) {
            product = create(product, console::wrap_mul(t.coefficient, q.coefficient),
                             console::wrap_add(t.power, q.power), pool);
        });
    });
    return product;
}

std::optional<int> eva(const term* ring, console::Console& con) {
    con.printf("Enter value of X for polynomial :");
    const int x = con.read_int();
    int sum = 0;
    if (ring == nullptr) return sum;  // the zero polynomial
    for (const term* t = ring->next;; t = t->next) {
        const double value =
            sum + t->coefficient * std::pow(static_cast<double>(x), static_cast<double>(t->power));
        const double whole = std::trunc(value);
        if (!std::isfinite(value) || whole < kLowestInt || whole > kHighestInt) {
            con.diag("the value at X = %d is undefined or outside the int range"
                     " (at the term %dX^%d)",
                     x, t->coefficient, t->power);
            return std::nullopt;
        }
        sum = static_cast<int>(whole);
        if (t == ring) return sum;
    }
}

}  // namespace poly
