// gridheap's sessions: passes, each a menu choice, the shapes that the operation asks (rows and
// columns on one line each), the elements of the operands when the shapes are accepted (one
// per line), and the answer whether to go on: a word beginning with y or Y for every pass but
// the last, whose answer begins otherwise. By default an answer that goes on is one byte
// (y or Y), read alike as a word or as a character; open sessions also answer "yes".
#include <algorithm>
#include <climits>

#include "check/sessions/programs.hpp"

namespace check::sessions {

namespace {

constexpr long long kMost = 10;           // a grid's rows and columns
constexpr std::size_t kLongAnswer = 200;  // the longest answer drawn

struct Pass {
    long long choice = 0;  // 1 to 4; any other number is refused with no shape asked
    long long r1 = 0, c1 = 0, r2 = 0, c2 = 0;  // as typed (r2 and c2 only for 1 to 3)
    std::vector<long long> a, b;               // the elements, row after row, when read
    std::string answer = "n";
};

struct Passes {
    std::vector<Pass> passes;  // at least one
};

const Passes& of(const Session& s) { return std::any_cast<const Passes&>(s.value); }

// The number of elements read for a shape.
std::size_t cells(long long rows, long long columns) {
    return rows < 1 || columns < 1 ? 0 : static_cast<std::size_t>(rows * columns);
}

bool asks_shapes(long long choice) { return choice >= 1 && choice <= 4; }

// True when the pass's shapes allow its operation, so that its elements are read.
bool accepted(const Pass& p) {
    if (p.choice == 1 || p.choice == 2) return p.r1 == p.r2 && p.c1 == p.c2;
    if (p.choice == 3) return p.c1 == p.r2;
    return p.choice == 4;
}

std::size_t cells_a(const Pass& p) { return accepted(p) ? cells(p.r1, p.c1) : 0; }
std::size_t cells_b(const Pass& p) { return accepted(p) && p.choice != 4 ? cells(p.r2, p.c2) : 0; }

bool goes_on(const std::string& answer) {
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

// True for a byte that a word read ends at.
bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool pass_valid(const Pass& p, bool last, bool open) {
    if (p.choice < INT_MIN || p.choice > INT_MAX) return false;
    for (long long v : {p.r1, p.c1, p.r2, p.c2})
        if (v > kMost || v < INT_MIN) return false;  // above 10: the collection's choice
    if (p.a.size() != cells_a(p) || p.b.size() != cells_b(p)) return false;
    if (p.answer.empty() || p.answer.size() > kLongAnswer || goes_on(p.answer) == last ||
        std::any_of(p.answer.begin(), p.answer.end(), blank))
        return false;
    if (open) return true;
    // An answer that goes on is read as a word, or as its first byte by a program that reads
    // a character: what follows that byte would be the next pass's choice to one of them.
    if (!last && p.answer.size() != 1) return false;
    // The refusal of a product is worded by the collection; a transposition of a shape that
    // is not square reads cells that this pass did not enter.
    if (p.choice == 3 && !accepted(p)) return false;
    if (p.choice == 4 && p.r1 > 0 && p.c1 > 0 && p.r1 != p.c1) return false;
    return true;
}

bool valid(const Passes& s, bool open) {
    if (s.passes.empty()) return false;
    for (std::size_t i = 0; i < s.passes.size(); ++i)
        if (!pass_valid(s.passes[i], i + 1 == s.passes.size(), open)) return false;
    return true;
}

// True when two passes feed the same.
bool same(const Pass& x, const Pass& y) {
    return x.choice == y.choice && x.r1 == y.r1 && x.c1 == y.c1 && x.r2 == y.r2 && x.c2 == y.c2 &&
           x.a == y.a && x.b == y.b && x.answer == y.answer;
}

// The elements of a grid of `columns` columns, cut or widened with zeros to the top-left
// rows x new_columns of it.
std::vector<long long> reshape(const std::vector<long long>& grid, long long old_rows,
                               long long columns, std::size_t count, long long rows,
                               long long new_columns) {
    std::vector<long long> out;
    if (count == 0) return out;
    for (long long i = 0; i < rows; ++i)
        for (long long j = 0; j < new_columns; ++j)
            out.push_back(i < old_rows && j < columns && !grid.empty()
                              ? grid[static_cast<std::size_t>(i * columns + j)]
                              : 0);
    return out;
}

// The pass with the given choice and shapes, its elements kept where they were and zero
// where they are new.
Pass with_shapes(const Pass& p, long long choice, long long r1, long long c1, long long r2,
                 long long c2) {
    Pass t = p;
    t.choice = choice;
    t.r1 = r1, t.c1 = c1, t.r2 = r2, t.c2 = c2;
    if (!asks_shapes(choice)) t.r1 = t.c1 = t.r2 = t.c2 = 0;
    if (choice == 4) t.r2 = t.c2 = 0;
    const long long ar = p.a.empty() ? 0 : p.r1, ac = p.a.empty() ? 0 : p.c1;
    const long long br = p.b.empty() ? 0 : p.r2, bc = p.b.empty() ? 0 : p.c2;
    t.a = reshape(p.a, ar, ac, cells_a(t), t.r1, t.c1);
    t.b = reshape(p.b, br, bc, cells_b(t), t.r2, t.c2);
    return t;
}

long long element(Draw& d) {
    if (d.chance(4)) return d.chance(50) ? INT_MIN : INT_MAX;
    if (d.chance(15)) return d.between(-100000, 100000);
    return d.between(-9, 9);
}

long long side(Draw& d, unsigned size) {
    if (d.chance(8)) return kMost;
    if (d.chance(5)) return d.chance(50) ? 0 : d.between(-3, -1);
    return d.between(1, 1 + (kMost - 1) * static_cast<long long>(size) / 100);
}

// A word of `length` bytes after `first`, none of them blank.
std::string word(Draw& d, char first, std::size_t length, bool any_bytes) {
    std::string w(1, first);
    while (w.size() < length) {
        char c = static_cast<char>(any_bytes ? d.between(0, 255) : d.between('a', 'z'));
        if (!blank(c)) w += c;
    }
    return w;
}

// An answer that goes on (`on`) or ends; unless `open`, one that goes on is one byte, y or Y.
std::string answer_of(Draw& d, bool on, bool open) {
    if (on && !open) return d.chance(70) ? "y" : "Y";
    if (on) {
        switch (d.below(8)) {
        case 0:
            return "Y";
        case 1:
            return "yes";
        case 2:
            return word(d, d.chance(50) ? 'y' : 'Y', kLongAnswer, d.chance(50));
        case 3:
            return word(d, 'y', static_cast<std::size_t>(d.between(2, 12)), true);
        default:
            return "y";
        }
    }
    switch (d.below(10)) {
    case 0:
        return "N";
    case 1:
        return "no";
    case 2:
        return std::to_string(d.between(0, 99));
    case 3: {  // any first byte but y and Y
        char first = static_cast<char>(d.between(0, 255));
        while (blank(first) || first == 'y' || first == 'Y')
            first = static_cast<char>(d.between(0, 255));
        return word(d, first, static_cast<std::size_t>(d.between(1, 12)), true);
    }
    case 4:
        return word(d, 'n', kLongAnswer, d.chance(50));
    case 5:
        return word(d, static_cast<char>(d.between('a', 'x')), 5, false);
    default:
        return "n";
    }
}

Pass pass_of(Draw& d, unsigned size, bool open) {
    Pass p;
    if (d.chance(10)) {
        const long long wrong[] = {0, -1, 5, INT_MAX, INT_MIN, 6};
        p.choice = wrong[d.below(6)];
        return p;
    }
    p.choice = d.between(1, 4);
    p.r1 = side(d, size);
    p.c1 = side(d, size);
    if (p.choice == 1 || p.choice == 2) {
        p.r2 = p.r1, p.c2 = p.c1;
        if (d.chance(25)) (d.chance(50) ? p.r2 : p.c2) = side(d, size);  // refused, mostly
    } else if (p.choice == 3) {
        p.r2 = p.c1;
        p.c2 = side(d, size);
        if (open && d.chance(15)) p.r2 = side(d, size);  // refused, mostly
    } else if (!open || d.chance(70)) {
        if (p.r1 > 0 && p.c1 > 0) p.c1 = p.r1;  // a square
    }
    for (std::size_t i = 0; i < cells_a(p); ++i) p.a.push_back(element(d));
    for (std::size_t i = 0; i < cells_b(p); ++i)
        p.b.push_back(d.chance(10) && i < p.a.size() ? p.a[i] : element(d));
    return p;
}

class GridheapSessions final : public Generator {
public:
    Session draw(Draw& d, unsigned size, bool open) const override {
        Passes s;
        const long long count = 1 + d.between(0, static_cast<long long>(size) / 10);
        for (long long i = 0; i < count; ++i) {
            Pass p = pass_of(d, size, open);
            p.answer = answer_of(d, i + 1 < count, open);
            s.passes.push_back(p);
        }
        return Session{s};
    }

    std::vector<Session> smaller(const Session& session, bool open) const override {
        const Passes& s = of(session);
        std::vector<Passes> out;
        for (const auto& keep : fewer(s.passes.size(), 1)) {
            Passes t;
            for (std::size_t i : keep) t.passes.push_back(s.passes[i]);
            t.passes.back().answer = s.passes.back().answer;  // the answer that ends
            out.push_back(t);
        }
        for (std::size_t i = 0; i < s.passes.size(); ++i) {
            const Pass& p = s.passes[i];
            auto put = [&](const Pass& q) {
                if (same(p, q)) return;  // a shape already at 0 stays: no step at all
                Passes t = s;
                t.passes[i] = q;
                out.push_back(t);
            };
            // A simpler choice: none at all, then an addition for a subtraction or a product.
            if (p.choice != 0) put(with_shapes(p, 0, 0, 0, 0, 0));
            if (p.choice == 2 || p.choice == 3) put(with_shapes(p, 1, p.r1, p.c1, p.r2, p.c2));
            // Smaller shapes: all to 0, then one row or column less where the operation
            // wants them equal, then each alone.
            if (asks_shapes(p.choice)) {
                if (p.r1 || p.c1 || p.r2 || p.c2) put(with_shapes(p, p.choice, 0, 0, 0, 0));
                auto less = [](long long v) { return v > 0 ? v - 1 : 0; };
                if (p.choice == 1 || p.choice == 2) {
                    put(with_shapes(p, p.choice, less(p.r1), p.c1, less(p.r2), p.c2));
                    put(with_shapes(p, p.choice, p.r1, less(p.c1), p.r2, less(p.c2)));
                } else if (p.choice == 3) {
                    put(with_shapes(p, 3, p.r1, less(p.c1), less(p.r2), p.c2));
                } else {
                    put(with_shapes(p, 4, less(p.r1), less(p.c1), 0, 0));
                }
                long long shape[] = {p.r1, p.c1, p.r2, p.c2};
                for (std::size_t k = 0; k < 4; ++k)
                    for (long long v : nearer(shape[k])) {
                        long long t[] = {p.r1, p.c1, p.r2, p.c2};
                        t[k] = v;
                        put(with_shapes(p, p.choice, t[0], t[1], t[2], t[3]));
                    }
            }
            for (auto grid : {&Pass::a, &Pass::b})
                for (std::size_t k = 0; k < (p.*grid).size(); ++k)
                    for (long long v : nearer((p.*grid)[k])) {
                        Pass q = p;
                        (q.*grid)[k] = v;
                        put(q);
                    }
            const char plain = i + 1 == s.passes.size() ? 'n' : 'y';
            if (p.answer.size() != 1 || p.answer[0] != plain) {
                Pass q = p;
                q.answer.assign(1, plain);  // (gcc 12 warns falsely on = "n")
                put(q);
            }
        }
        std::vector<Session> valid_ones;
        for (Passes& t : out)
            if (valid(t, open)) valid_ones.push_back(Session{std::move(t)});
        return valid_ones;
    }

    Fed feed(const Session& session) const override {
        const Passes& s = of(session);
        Fed f;
        f.status_open = true;  // the exercise sets no status of its own at the end
        auto line = [&](long long v) { f.input += std::to_string(v) + "\n"; };
        auto shape = [&](long long rows, long long columns) {
            f.input += std::to_string(rows);
            f.input += ' ';
            line(columns);
        };
        for (const Pass& p : s.passes) {
            line(p.choice);
            if (asks_shapes(p.choice)) shape(p.r1, p.c1);
            if (asks_shapes(p.choice) && p.choice != 4) shape(p.r2, p.c2);
            for (long long v : p.a) line(v);
            for (long long v : p.b) line(v);
            f.input += p.answer;
            f.input += '\n';
        }
        return f;
    }

    std::string describe(const Session& session) const override {
        const Passes& s = of(session);
        std::string d;
        for (std::size_t i = 0; i < s.passes.size(); ++i) {
            if (i == 4) {
                d += ", ...";
                break;
            }
            const Pass& p = s.passes[i];
            if (i > 0) d += ", ";
            static const char* const names[] = {"", "a sum", "a difference", "a product",
                                                "a transpose"};
            if (!asks_shapes(p.choice)) {
                d += "a wrong choice";
                continue;
            }
            if (!accepted(p)) d += "a refused ";
            d += names[p.choice] + (accepted(p) ? 0 : 2);
            d += " of ";
            d += std::to_string(p.r1);
            d += " x ";
            d += std::to_string(p.c1);
            if (p.choice == 4) continue;
            d += " and ";
            d += std::to_string(p.r2);
            d += " x ";
            d += std::to_string(p.c2);
        }
        return d;
    }
};

}  // namespace

const Generator& gridheap_sessions() {
    static const GridheapSessions g;
    return g;
}

}  // namespace check::sessions
