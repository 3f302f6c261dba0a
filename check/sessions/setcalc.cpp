// setcalc's sessions: two sets (each perhaps after sizes refused for being above 20), then
// menu choices, then a choice that ends the menu.
#include <algorithm>
#include <climits>

#include "check/sessions/programs.hpp"

namespace check::sessions {

namespace {

constexpr long long kMost = 20;  // the largest set

struct Sets {
    std::vector<long long> refused_a, refused_b;  // sizes above 20, each asked again
    long long size_a = 0, size_b = 0;             // as typed: below 1 is an empty set
    std::vector<long long> a, b;                  // the elements (none for a size below 1)
    std::vector<long long> choices;               // 1 to 4, or 0 and below (ignored)
    long long last = 5;                           // 5 or more: ends the menu
};

const Sets& of(const Session& s) { return std::any_cast<const Sets&>(s.value); }

bool holds(const std::vector<long long>& set, long long v) {
    return std::find(set.begin(), set.end(), v) != set.end();
}

// The elements of `x` that `y` does not hold.
std::vector<long long> minus(const std::vector<long long>& x, const std::vector<long long>& y) {
    std::vector<long long> out;
    for (long long v : x)
        if (!holds(y, v)) out.push_back(v);
    return out;
}

// True when the exercise fixes everything the session prints: both sets hold elements, and
// every result asked for does too (the printing of an empty set is left open).
bool fixed(const Sets& s) {
    if (s.a.empty() || s.b.empty()) return false;
    const bool meet =
        std::any_of(s.a.begin(), s.a.end(), [&](long long v) { return holds(s.b, v); });
    const bool a_only = !minus(s.a, s.b).empty(), b_only = !minus(s.b, s.a).empty();
    return std::none_of(s.choices.begin(), s.choices.end(), [&](long long c) {
        return (c == 2 && !meet) || (c == 3 && (!a_only || !b_only)) ||
               (c == 4 && !a_only && !b_only);
    });
}

bool valid(const Sets& s, bool open) {
    const auto size_of = [](long long n) { return n < 1 ? 0 : static_cast<std::size_t>(n); };
    if (size_of(s.size_a) != s.a.size() || size_of(s.size_b) != s.b.size()) return false;
    if (s.size_a > kMost || s.size_b > kMost || s.last < 5) return false;
    return open || fixed(s);
}

long long element(Draw& d) {
    if (d.chance(3)) return d.chance(50) ? INT_MIN : INT_MAX;
    if (d.chance(15)) return d.between(-1000, 1000);
    return d.between(-3, 12);  // small values, so that the sets meet and repeat
}

std::vector<long long> set_of(Draw& d, long long size) {
    std::vector<long long> set;
    for (long long i = 0; i < size; ++i) set.push_back(element(d));
    return set;
}

class SetcalcSessions final : public Generator {
public:
    Session draw(Draw& d, unsigned size, bool open) const override {
        for (;;) {
            Sets s;
            const long long most = 1 + (kMost - 1) * size / 100;
            auto draw_size = [&] {
                if (d.chance(8)) return kMost;
                if (open && d.chance(10)) return d.between(-3, 0);
                return d.between(1, std::max(1LL, most));
            };
            auto refused = [&] {
                std::vector<long long> r;
                while (d.chance(8)) r.push_back(d.chance(50) ? 21 : d.between(21, 100000));
                return r;
            };
            s.refused_a = refused();
            s.size_a = draw_size();
            s.a = set_of(d, std::max(0LL, s.size_a));
            s.refused_b = refused();
            s.size_b = draw_size();
            s.b = set_of(d, std::max(0LL, s.size_b));
            if (d.chance(20)) s.b = s.a, s.size_b = s.size_a;  // the same set twice
            const long long passes = d.between(0, 1 + static_cast<long long>(size) / 10);
            for (long long p = 0; p < passes; ++p)
                s.choices.push_back(d.chance(10) ? -d.between(0, 5) : d.between(1, 4));
            s.last = d.chance(80) ? 5 : d.chance(50) ? INT_MAX : d.between(6, 99);
            // Sets drawn where the exercise leaves the printing open are drawn again.
            if (valid(s, open)) return Session{s};
        }
    }

    std::vector<Session> smaller(const Session& session, bool open) const override {
        const Sets& s = of(session);
        std::vector<Sets> out;
        for (const auto& keep : fewer(s.choices.size())) {
            Sets t = s;
            t.choices.clear();
            for (std::size_t i : keep) t.choices.push_back(s.choices[i]);
            out.push_back(t);
        }
        for (auto refused : {&Sets::refused_a, &Sets::refused_b})
            for (const auto& keep : fewer((s.*refused).size())) {
                Sets t = s;
                (t.*refused).clear();
                for (std::size_t i : keep) (t.*refused).push_back((s.*refused)[i]);
                out.push_back(t);
            }
        for (auto [set, size] : {std::pair{&Sets::a, &Sets::size_a}, {&Sets::b, &Sets::size_b}}) {
            for (const auto& keep : fewer((s.*set).size())) {
                Sets t = s;
                (t.*set).clear();
                for (std::size_t i : keep) (t.*set).push_back((s.*set)[i]);
                t.*size = static_cast<long long>(keep.size());
                out.push_back(t);
            }
            if (s.*size < 1 && s.*size != 0) {  // an empty set typed as a negative size
                Sets t = s;
                t.*size = 0;
                out.push_back(t);
            }
            for (std::size_t i = 0; i < (s.*set).size(); ++i)
                for (long long v : nearer((s.*set)[i])) {
                    Sets t = s;
                    (t.*set)[i] = v;
                    out.push_back(t);
                }
        }
        // A value brought nearer 0 wherever it stands, in both sets at once, so that sets
        // that must meet still do.
        std::vector<long long> values = s.a;
        values.insert(values.end(), s.b.begin(), s.b.end());
        std::sort(values.begin(), values.end());
        values.erase(std::unique(values.begin(), values.end()), values.end());
        for (long long v : values)
            for (long long n : nearer(v)) {
                Sets t = s;
                for (auto set : {&Sets::a, &Sets::b})
                    std::replace((t.*set).begin(), (t.*set).end(), v, n);
                out.push_back(t);
            }
        for (std::size_t i = 0; i < s.choices.size(); ++i)
            if (s.choices[i] < 0) {
                Sets t = s;
                t.choices[i] = 0;
                out.push_back(t);
            } else if (s.choices[i] > 1) {  // a lower entry of the menu
                Sets t = s;
                t.choices[i] -= 1;
                out.push_back(t);
            }
        for (auto refused : {&Sets::refused_a, &Sets::refused_b})
            for (std::size_t i = 0; i < (s.*refused).size(); ++i)
                for (long long v : nearer((s.*refused)[i], 21)) {
                    Sets t = s;
                    (t.*refused)[i] = v;
                    out.push_back(t);
                }
        for (long long v : nearer(s.last, 5)) {
            Sets t = s;
            t.last = v;
            out.push_back(t);
        }
        std::vector<Session> valid_ones;
        for (Sets& t : out)
            if (valid(t, open)) valid_ones.push_back(Session{std::move(t)});
        return valid_ones;
    }

    Fed feed(const Session& session) const override {
        const Sets& s = of(session);
        Fed f;
        auto line = [&](long long v) { f.input += std::to_string(v) + "\n"; };
        for (long long v : s.refused_a) line(v);
        line(s.size_a);
        for (long long v : s.a) line(v);
        for (long long v : s.refused_b) line(v);
        line(s.size_b);
        for (long long v : s.b) line(v);
        for (long long c : s.choices) line(c);
        line(s.last);
        return f;
    }

    std::string describe(const Session& session) const override {
        const Sets& s = of(session);
        auto shown = [](const std::vector<long long>& set) {
            std::string t = "{";
            for (std::size_t i = 0; i < set.size(); ++i) {
                if (i > 0) t += ',';  // in two pieces, for gcc 12's false -Wrestrict
                t += std::to_string(set[i]);
            }
            return t + "}";
        };
        static const char* const names[] = {"", "the union", "the intersection", "the differences",
                                            "the symmetric difference"};
        std::string what;
        for (long long c : s.choices)
            if (c >= 1 && c <= 4 && what.find(names[c]) == std::string::npos)
                what += (what.empty() ? "" : ", ") + std::string(names[c]);
        if (what.empty()) what = "the echo";
        std::string d = what + " of " + shown(s.a) + " and " + shown(s.b);
        if (!s.refused_a.empty() || !s.refused_b.empty()) d += ", after a size above 20";
        return d;
    }
};

}  // namespace

const Generator& setcalc_sessions() {
    static const SetcalcSessions g;
    return g;
}

}  // namespace check::sessions
