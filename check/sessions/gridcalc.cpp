// gridcalc's sessions: one shape (rows and columns on one line), the elements of A and then of
// B in that shape, one per line, then menu choices, then a choice of 4 or more that ends the
// menu.
#include <algorithm>
#include <climits>

#include "check/sessions/programs.hpp"

namespace check::sessions {

namespace {

constexpr long long kMost = 10;  // the grid's rows and columns

struct Grids {
    long long rows = 1, columns = 1;  // as typed: 0 or below reads no element
    std::vector<long long> a, b;      // the elements, row after row
    std::vector<long long> choices;   // 1 to 3, or 0 and below (the menu again)
    long long last = 4;               // 4 or more: ends the menu
};

const Grids& of(const Session& s) { return std::any_cast<const Grids&>(s.value); }

// The number of elements read for a shape.
std::size_t cells(long long rows, long long columns) {
    return rows < 1 || columns < 1 ? 0 : static_cast<std::size_t>(rows * columns);
}

// The elements of a rows x columns grid cut or kept to its top-left new_rows x new_columns.
std::vector<long long> cut(const std::vector<long long>& grid, long long columns,
                           long long new_rows, long long new_columns) {
    std::vector<long long> out;
    for (long long i = 0; i < new_rows; ++i)
        for (long long j = 0; j < new_columns; ++j)
            out.push_back(grid[static_cast<std::size_t>(i * columns + j)]);
    return out;
}

// True when the choice reads only cells of the entered region: the product takes B's first
// `columns` rows, the transposition needs a square (or an empty region).
bool fixed_choice(long long choice, long long rows, long long columns) {
    if (rows < 1 || columns < 1) return true;
    if (choice == 2) return columns <= rows;
    if (choice == 3) return columns == rows;
    return true;
}

bool valid(const Grids& s, bool open) {
    if (s.rows > kMost || s.columns > kMost || s.rows < INT_MIN || s.columns < INT_MIN)
        return false;
    const std::size_t n = cells(s.rows, s.columns);
    if (s.a.size() != n || s.b.size() != n || s.last < 4 || s.last > INT_MAX) return false;
    return std::none_of(s.choices.begin(), s.choices.end(), [&](long long c) {
        return c > 3 || c < INT_MIN || (!open && !fixed_choice(c, s.rows, s.columns));
    });
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

class GridcalcSessions final : public Generator {
public:
    Session draw(Draw& d, unsigned size, bool open) const override {
        Grids s;
        s.rows = side(d, size);
        s.columns = d.chance(40) ? s.rows : side(d, size);
        for (std::size_t i = 0; i < cells(s.rows, s.columns); ++i) s.a.push_back(element(d));
        for (std::size_t i = 0; i < cells(s.rows, s.columns); ++i)
            s.b.push_back(d.chance(10) && !s.a.empty() ? s.a[i] : element(d));
        const long long passes = d.between(0, 1 + static_cast<long long>(size) / 10);
        for (long long p = 0; p < passes; ++p) {
            long long c = d.chance(10) ? (d.chance(50) ? 0 : d.between(-5, -1)) : d.between(1, 3);
            // A product or transposition that reads beyond the entered region is left to the
            // collection: by default an addition is asked instead.
            if (!open && !fixed_choice(c, s.rows, s.columns)) c = 1;
            s.choices.push_back(c);
        }
        s.last = d.chance(70) ? 4 : d.chance(50) ? INT_MAX : d.between(5, 99);
        return Session{s};
    }

    std::vector<Session> smaller(const Session& session, bool open) const override {
        const Grids& s = of(session);
        std::vector<Grids> out;
        for (const auto& keep : fewer(s.choices.size())) {
            Grids t = s;
            t.choices.clear();
            for (std::size_t i : keep) t.choices.push_back(s.choices[i]);
            out.push_back(t);
        }
        // Smaller shapes keep the top-left elements: none at all, then one row or one column
        // less, then both (a square stays square).
        auto reshape = [&](long long rows, long long columns) {
            Grids t = s;
            t.rows = rows;
            t.columns = columns;
            const long long kr = std::max(0LL, std::min(rows, s.rows)),
                            kc = std::max(0LL, std::min(columns, s.columns));
            t.a =
                cells(rows, columns) == 0 ? std::vector<long long>{} : cut(s.a, s.columns, kr, kc);
            t.b =
                cells(rows, columns) == 0 ? std::vector<long long>{} : cut(s.b, s.columns, kr, kc);
            out.push_back(t);
        };
        if (s.rows != 0 || s.columns != 0) reshape(0, 0);
        if (s.rows > 1 && s.columns > 1) reshape(s.rows - 1, s.columns - 1);
        if (s.rows > 1) reshape(s.rows - 1, s.columns);
        if (s.columns > 1) reshape(s.rows, s.columns - 1);
        if (s.rows < 0) reshape(0, s.columns);
        if (s.columns < 0) reshape(s.rows, 0);
        for (auto grid : {&Grids::a, &Grids::b})
            for (std::size_t i = 0; i < (s.*grid).size(); ++i)
                for (long long v : nearer((s.*grid)[i])) {
                    Grids t = s;
                    (t.*grid)[i] = v;
                    out.push_back(t);
                }
        for (std::size_t i = 0; i < s.choices.size(); ++i) {
            Grids t = s;
            if (s.choices[i] < 0)
                t.choices[i] = 0;
            else if (s.choices[i] > 1)
                t.choices[i] -= 1;  // a lower entry of the menu
            else
                continue;
            out.push_back(t);
        }
        for (long long v : nearer(s.last, 4)) {
            Grids t = s;
            t.last = v;
            out.push_back(t);
        }
        std::vector<Session> valid_ones;
        for (Grids& t : out)
            if (valid(t, open)) valid_ones.push_back(Session{std::move(t)});
        return valid_ones;
    }

    Fed feed(const Session& session) const override {
        const Grids& s = of(session);
        Fed f;
        auto line = [&](long long v) { f.input += std::to_string(v) + "\n"; };
        f.input += std::to_string(s.rows);
        f.input += ' ';
        line(s.columns);
        for (long long v : s.a) line(v);
        for (long long v : s.b) line(v);
        for (long long c : s.choices) line(c);
        line(s.last);
        return f;
    }

    std::string describe(const Session& session) const override {
        const Grids& s = of(session);
        static const char* const names[] = {"", "the sum", "the product", "the transposes"};
        std::string what;
        for (long long c : s.choices)
            if (c >= 1 && c <= 3 && what.find(names[c]) == std::string::npos) {
                if (!what.empty()) what += ", ";
                what += names[c];
            }
        if (what.empty()) what = "no result";
        std::string d = what;
        d += " of two ";
        d += std::to_string(s.rows);
        d += " x ";
        d += std::to_string(s.columns);
        d += " matrices";
        return d;
    }
};

}  // namespace

const Generator& gridcalc_sessions() {
    static const GridcalcSessions g;
    return g;
}

}  // namespace check::sessions
