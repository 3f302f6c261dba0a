// polycalc's sessions: two polynomials typed term by term (a count, then a coefficient and a
// power per term), then menu choices (the evaluation asks which polynomial, and X for the
// first or the second), then a choice of 4 or more that ends the menu.
#include <algorithm>
#include <climits>
#include <cmath>
#include <map>

#include "check/sessions/programs.hpp"

namespace check::sessions {

namespace {

struct Term {
    long long coefficient = 0, power = 0;
};

struct Poly {
    long long count = 1;      // as typed: below 1 is an empty polynomial
    std::vector<Term> terms;  // one per count (none for a count below 1)
};

struct Step {
    long long choice = 1;  // 1 to 3, or 0 and below (the menu again)
    long long number = 1;  // the evaluation's polynomial: 1, 2, or another number (none)
    long long x = 0;       // the evaluation's X, typed only for the polynomials 1 and 2
};

struct Polys {
    Poly first, second;
    std::vector<Step> steps;
    long long last = 4;  // 4 or more: ends the menu
};

const Polys& of(const Session& s) { return std::any_cast<const Polys&>(s.value); }

bool in_int(long long v) { return v >= INT_MIN && v <= INT_MAX; }

// The polynomial's terms merged by power, as the ring holds them (coefficients summed with
// 32-bit wrap-around, powers in increasing order).
std::map<long long, long long> merged(const Poly& p) {
    std::map<long long, long long> ring;
    for (const Term& t : p.terms) {
        const auto sum =
            static_cast<std::uint32_t>(ring[t.power]) + static_cast<std::uint32_t>(t.coefficient);
        ring[t.power] = static_cast<std::int32_t>(sum);
    }
    return ring;
}

// True when every power's coefficients, summed in any order, stay within the int range:
// the sum of their sizes does.
bool sums_fit(const std::vector<Term>& terms) {
    std::map<long long, long long> bulk;
    for (const Term& t : terms) {
        bulk[t.power] += t.coefficient < 0 ? -t.coefficient : t.coefficient;
        if (bulk[t.power] > INT_MAX) return false;
    }
    return true;
}

// True when the sum of the two polynomials merges within the int range.
bool sum_fits(const Polys& s) {
    std::vector<Term> all = s.first.terms;
    all.insert(all.end(), s.second.terms.begin(), s.second.terms.end());
    return sums_fit(all);
}

// True when every coefficient product, power sum and merged product coefficient of the
// product stays within the int range.
bool product_fits(const Polys& s) {
    std::vector<Term> all;
    for (const Term& t : s.first.terms)
        for (const Term& q : s.second.terms) {
            const long long c = t.coefficient * q.coefficient, p = t.power + q.power;
            if (!in_int(c) || !in_int(p)) return false;
            all.push_back({c, p});
        }
    return sums_fit(all);
}

// True when evaluating `p` at `x` (the lowest power first, each partial sum truncated toward
// zero) gives a value within the int range at every term: no pole at 0, nothing beyond.
bool evaluates(const Poly& p, long long x) {
    double sum = 0;
    for (const auto& [pw, coef] : merged(p)) {
        const double v = sum + static_cast<double>(coef) *
                                   std::pow(static_cast<double>(x), static_cast<double>(pw));
        if (!std::isfinite(v) || v < static_cast<double>(INT_MIN) ||
            v > static_cast<double>(INT_MAX))
            return false;
        sum = std::trunc(v);
    }
    return true;
}

bool poly_valid(const Poly& p, bool open) {
    const std::size_t want = p.count < 1 ? 0 : static_cast<std::size_t>(p.count);
    if (want != p.terms.size() || (!open && p.count < 1)) return false;
    for (const Term& t : p.terms)
        if (!in_int(t.coefficient) || !in_int(t.power)) return false;
    // Coefficients that merge beyond the int range wrap around: the collection's choice.
    return open || sums_fit(p.terms);
}

bool step_valid(const Polys& s, const Step& st, bool open) {
    if (st.choice > 3 || !in_int(st.choice) || !in_int(st.number) || !in_int(st.x)) return false;
    if (st.choice == 1) return open || sum_fits(s);
    if (st.choice == 2) return open || product_fits(s);
    if (st.choice == 3 && (st.number == 1 || st.number == 2)) {
        const Poly& p = st.number == 1 ? s.first : s.second;
        // An evaluation beyond the int range, or at a pole, is answered by the collection
        // in its own way (and never printed as a result): drawn in no session.
        return evaluates(p, st.x);
    }
    return true;
}

bool valid(const Polys& s, bool open) {
    if (!poly_valid(s.first, open) || !poly_valid(s.second, open)) return false;
    if (s.last < 4 || !in_int(s.last)) return false;
    return std::all_of(s.steps.begin(), s.steps.end(),
                       [&](const Step& st) { return step_valid(s, st, open); });
}

long long coefficient(Draw& d) {
    if (d.chance(3)) return d.chance(50) ? INT_MIN : INT_MAX;
    if (d.chance(15)) return d.between(-1000, 1000);
    return d.between(-9, 9);
}

long long power(Draw& d) {
    if (d.chance(2)) return d.chance(50) ? INT_MIN : INT_MAX;
    if (d.chance(10)) return d.between(-40, 40);
    return d.between(-3, 6);
}

Poly poly_of(Draw& d, unsigned size, bool open) {
    Poly p;
    const long long most = 1 + 11 * static_cast<long long>(size) / 100;
    if (open && d.chance(10))
        p.count = d.chance(50) ? 0 : d.between(-5, -1);
    else if (d.chance(5))
        p.count = d.between(1, 30);  // now and then a long one at any size
    else
        p.count = d.between(1, most);
    for (long long i = 0; i < p.count; ++i) {
        Term t{coefficient(d), power(d)};
        if (!p.terms.empty() && d.chance(25))  // a power typed again, which merges
            t.power = p.terms[d.below(p.terms.size())].power;
        p.terms.push_back(t);
    }
    return p;
}

Step step_of(Draw& d) {
    Step st;
    if (d.chance(10)) {
        st.choice = d.chance(50) ? 0 : d.chance(80) ? d.between(-5, -1) : INT_MIN;
        return st;
    }
    st.choice = d.between(1, 3);
    if (d.chance(15)) {  // a number other than 1 and 2: back to the menu silently
        st.number = d.chance(50) ? 3 : d.chance(50) ? d.between(-3, 0) : d.between(4, INT_MAX);
    } else {
        st.number = d.between(1, 2);
    }
    if (d.chance(70))
        st.x = d.between(-4, 4);
    else if (d.chance(80))
        st.x = d.between(-100, 100);
    else
        st.x = d.chance(50) ? INT_MIN : INT_MAX;
    return st;
}

class PolycalcSessions final : public Generator {
public:
    Session draw(Draw& d, unsigned size, bool open) const override {
        Polys s;
        do {
            s.first = poly_of(d, size, open);
            s.second = poly_of(d, size, open);
        } while (!poly_valid(s.first, open) || !poly_valid(s.second, open));
        const long long passes = d.between(0, 1 + static_cast<long long>(size) / 10);
        for (long long p = 0; p < passes; ++p) {
            // A step whose result would leave the int range is drawn again, a few times.
            for (int tries = 0; tries < 20; ++tries) {
                Step st = step_of(d);
                if (step_valid(s, st, open)) {
                    s.steps.push_back(st);
                    if (d.chance(10)) s.steps.push_back(st);  // the same again, same output
                    break;
                }
            }
        }
        s.last = d.chance(80) ? 4 : d.chance(50) ? INT_MAX : d.between(5, 99);
        return Session{s};
    }

    std::vector<Session> smaller(const Session& session, bool open) const override {
        const Polys& s = of(session);
        std::vector<Polys> out;
        for (const auto& keep : fewer(s.steps.size())) {
            Polys t = s;
            t.steps.clear();
            for (std::size_t i : keep) t.steps.push_back(s.steps[i]);
            out.push_back(t);
        }
        for (auto poly : {&Polys::first, &Polys::second}) {
            const Poly& p = s.*poly;
            for (const auto& keep : fewer(p.terms.size(), open ? 0 : 1)) {
                Polys t = s;
                (t.*poly).terms.clear();
                for (std::size_t i : keep) (t.*poly).terms.push_back(p.terms[i]);
                (t.*poly).count = static_cast<long long>(keep.size());
                out.push_back(t);
            }
            if (p.count < 0) {  // an empty polynomial typed as a negative count
                Polys t = s;
                (t.*poly).count = 0;
                out.push_back(t);
            }
        }
        for (auto poly : {&Polys::first, &Polys::second})
            for (std::size_t i = 0; i < (s.*poly).terms.size(); ++i)
                for (auto field : {&Term::coefficient, &Term::power})
                    for (long long v : nearer((s.*poly).terms[i].*field)) {
                        Polys t = s;
                        (t.*poly).terms[i].*field = v;
                        out.push_back(t);
                    }
        for (std::size_t i = 0; i < s.steps.size(); ++i) {
            const Step& st = s.steps[i];
            auto with = [&](auto change) {
                Polys t = s;
                change(t.steps[i]);
                out.push_back(t);
            };
            if (st.choice < 0) with([](Step& x) { x.choice = 0; });
            if (st.choice > 1) with([](Step& x) { x.choice -= 1; });  // a lower entry
            if (st.choice == 3) {
                for (long long v : nearer(st.number)) with([v](Step& x) { x.number = v; });
                for (long long v : nearer(st.x)) with([v](Step& x) { x.x = v; });
            }
        }
        for (long long v : nearer(s.last, 4)) {
            Polys t = s;
            t.last = v;
            out.push_back(t);
        }
        std::vector<Session> valid_ones;
        for (Polys& t : out)
            if (valid(t, open)) valid_ones.push_back(Session{std::move(t)});
        return valid_ones;
    }

    Fed feed(const Session& session) const override {
        const Polys& s = of(session);
        Fed f;
        auto line = [&](long long v) { f.input += std::to_string(v) + "\n"; };
        for (const Poly* p : {&s.first, &s.second}) {
            line(p->count);
            for (const Term& t : p->terms) {
                f.input += std::to_string(t.coefficient);
                f.input += ' ';
                line(t.power);
            }
        }
        for (const Step& st : s.steps) {
            line(st.choice);
            if (st.choice != 3) continue;
            line(st.number);
            if (st.number == 1 || st.number == 2) line(st.x);
        }
        line(s.last);
        return f;
    }

    std::string describe(const Session& session) const override {
        const Polys& s = of(session);
        auto shown = [](const Poly& p) {
            if (p.terms.empty()) return std::string("the empty polynomial");
            if (p.terms.size() > 4) return std::to_string(p.terms.size()) + " terms";
            std::string t;
            for (const Term& term : p.terms) {
                if (!t.empty()) t += " + ";
                t += std::to_string(term.coefficient);
                t += "X^";
                t += std::to_string(term.power);
            }
            return t;
        };
        std::string what;
        auto add = [&](const std::string& name) {
            if (what.find(name) != std::string::npos) return;
            if (!what.empty()) what += ", ";
            what += name;
        };
        for (const Step& st : s.steps)
            if (st.choice == 1)
                add("the sum");
            else if (st.choice == 2)
                add("the product");
            else if (st.choice == 3)
                add(st.number == 1 || st.number == 2 ? "a value" : "no evaluation");
        if (what.empty()) what = "no result";
        std::string d = what;
        d += " of (";
        d += shown(s.first);
        d += ") and (";
        d += shown(s.second);
        d += ")";
        return d;
    }
};

}  // namespace

const Generator& polycalc_sessions() {
    static const PolycalcSessions g;
    return g;
}

}  // namespace check::sessions
