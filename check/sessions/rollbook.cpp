// rollbook's sessions: a count of students, then for each a roll number (perhaps after roll
// numbers refused for repeating an earlier student's), a name and a percentage, one per line;
// then menu choices (a search reads its roll number), then a choice that ends the menu.
// By default a percentage is one that every reader of a real number prints alike (digits,
// perhaps a point and decimals, from 0 to 100, that a float holds as a double would); open
// sessions also type ".63092", "-7.5" or "3e1".
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "check/sessions/programs.hpp"

namespace check::sessions {

namespace {

constexpr long long kMost = 100;   // the table's records
constexpr std::size_t kName = 19;  // a name's longest

struct Record {
    std::vector<long long> refused;  // earlier students' roll numbers, each asked again
    long long roll = 0;
    std::string name = "a";
    std::string percentage = "0";  // as typed
};

struct Step {
    long long choice = 1;  // 1 to 3; 0 and below, 5 and 6 show the menu again
    long long key = 0;     // the roll number searched for (choice 2)
};

struct Book {
    long long count = 1;  // as typed: below 1 is an empty table
    std::vector<Record> records;
    std::vector<Step> steps;
    long long last = 4;  // 4, or 7 and more: ends the menu
};

const Book& of(const Session& s) { return std::any_cast<const Book&>(s.value); }

bool in_int(long long v) { return v >= INT_MIN && v <= INT_MAX; }

// True for a byte that a word read ends at.
bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool name_valid(const std::string& name) {
    if (name.empty() || name.size() > kName) return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '\0' || blank(c); });
}

// True when searching `key` in the table as the steps before it left it finds it: the table
// starts in the order typed, a sort by roll number orders it by roll number, a sort by name
// makes the passes of a selection sort that picks the first of the highest names.
bool found_all(const Book& s) {
    std::vector<const Record*> table;
    for (const Record& r : s.records) table.push_back(&r);
    for (const Step& st : s.steps) {
        if (st.choice == 1) {
            std::sort(table.begin(), table.end(),
                      [](const Record* x, const Record* y) { return x->roll < y->roll; });
        } else if (st.choice == 3) {
            for (std::size_t i = 0; i + 1 < table.size(); ++i) {
                std::size_t pick = i;
                for (std::size_t j = i + 1; j < table.size(); ++j)
                    if (table[j]->name.compare(table[pick]->name) > 0) pick = j;
                std::swap(table[i], table[pick]);
            }
        } else if (st.choice == 2) {
            long long low = 0, high = static_cast<long long>(table.size()) - 1;
            bool found = false;
            while (low <= high && !found) {
                const long long mid = (low + high) / 2;
                const long long roll = table[static_cast<std::size_t>(mid)]->roll;
                found = roll == st.key;
                if (st.key < roll)
                    high = mid - 1;
                else
                    low = mid + 1;
            }
            // What a search that finds nothing prints is the collection's own choice.
            if (!found) return false;
        }
    }
    return true;
}

// True when every reader of a real number (scanf's %f or %lf, strtof, strtod, a stream into
// a float or a double) takes `p` whole and prints it alike with six decimals: plain digits,
// perhaps a point and more digits, from 0 to 100, held exactly enough by a float that it
// shows as a double would.
bool fair_percentage(const std::string& p) {
    const std::size_t point = p.find('.');
    const auto digits = [](const std::string& t) {
        return std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (p.empty() || p.size() > 6 || point == 0 || !digits(p.substr(0, point)) ||
        (point != std::string::npos && (point + 1 == p.size() || !digits(p.substr(point + 1)))))
        return false;
    const double value = std::strtod(p.c_str(), nullptr);
    if (value > 100) return false;
    char as_double[32], as_float[32];
    std::snprintf(as_double, sizeof as_double, "%.6f", value);
    std::snprintf(as_float, sizeof as_float, "%.6f",
                  static_cast<double>(static_cast<float>(value)));
    return std::string(as_double) == as_float;
}

bool valid(const Book& s, bool open) {
    if (s.count > kMost || s.count < INT_MIN) return false;  // above 100: asked again
    if (s.records.size() != (s.count < 1 ? 0 : static_cast<std::size_t>(s.count))) return false;
    for (std::size_t i = 0; i < s.records.size(); ++i) {
        const Record& r = s.records[i];
        auto earlier = [&](long long roll) {
            for (std::size_t k = 0; k < i; ++k)
                if (s.records[k].roll == roll) return true;
            return false;
        };
        if (!in_int(r.roll) || earlier(r.roll) || !name_valid(r.name)) return false;
        if (!std::all_of(r.refused.begin(), r.refused.end(), earlier)) return false;
    }
    if (!(s.last == 4 || (s.last >= 7 && s.last <= INT_MAX))) return false;
    for (const Step& st : s.steps)
        if (st.choice == 4 || st.choice > 6 || !in_int(st.choice) || !in_int(st.key)) return false;
    return open ||
           (found_all(s) && std::all_of(s.records.begin(), s.records.end(), [](const Record& r) {
                return fair_percentage(r.percentage);
            }));
}

long long roll_of(Draw& d, long long count) {
    if (d.chance(3)) return d.chance(50) ? INT_MIN : INT_MAX;
    if (d.chance(10)) return d.between(-100000, 100000);
    return d.between(-3, 2 * count + 10);
}

std::string name_of(Draw& d) {
    std::string name;
    const std::size_t length =
        d.chance(5) ? kName
                    : static_cast<std::size_t>(d.chance(70) ? d.between(1, 5) : d.between(1, 19));
    const bool mixed = d.chance(20);
    for (std::size_t i = 0; i < length; ++i) {
        if (mixed && d.chance(10)) {
            // Another byte a word may hold: a digit, a sign, a byte above 127.
            const long long c = d.chance(50) ? d.between(33, 126) : d.between(128, 255);
            name += static_cast<char>(static_cast<unsigned char>(c));
        } else {
            const char first = mixed && d.chance(30) ? 'A' : 'a';
            name += static_cast<char>(first + d.between(0, 4));  // few letters: equal names
        }
    }
    return name;
}

// A percentage as typed. Unless `open`, one that every reader of a real number prints alike
// (fair_percentage); open ones may also be negative, start with a point, hold an exponent
// or more decimals than a float keeps (what the collection's float makes of them is its
// own choice).
std::string percentage_of(Draw& d, bool open) {
    if (!open) {
        for (;;) {
            std::string p = std::to_string(d.between(0, 100));
            if (p != "100" && d.chance(60)) {
                static const char* const parts[] = {".5", ".25", ".75", ".125", ".0"};
                if (d.chance(70)) {
                    p += parts[d.below(5)];
                } else {  // one piece at a time: gcc 12 warns falsely (-Wrestrict) of "." + s
                    p += '.';
                    p += std::to_string(d.between(0, 99));
                }
            }
            if (fair_percentage(p)) return p;
        }
    }
    switch (d.below(6)) {
    case 0:
        return std::to_string(d.between(0, 100));
    case 1: {
        std::string p = std::to_string(d.between(0, 99));
        p += '.';
        p += std::to_string(d.between(0, 9));
        return p;
    }
    case 2: {
        std::string p = "-";
        p += std::to_string(d.between(0, 50));
        p += ".5";
        return p;
    }
    case 3: {
        std::string p = std::to_string(d.between(0, 99));
        p += '.';
        p += std::to_string(d.between(10, 99));
        return p;
    }
    case 4: {
        std::string p = std::to_string(d.between(1, 9));
        p += "e";
        p += std::to_string(d.between(0, 2));
        return p;
    }
    default: {
        std::string p = ".";
        p += std::to_string(d.between(0, 999999));
        return p;
    }
    }
}

Step step_of(Draw& d, const Book& s, bool open) {
    Step st;
    if (d.chance(12)) {
        const long long wrong[] = {0, -1, 5, 6, INT_MIN, -7};
        st.choice = wrong[d.below(6)];
        return st;
    }
    st.choice = d.between(1, 3);
    if (st.choice == 2) {
        if (!s.records.empty() && (!open || d.chance(80)))
            st.key = s.records[d.below(s.records.size())].roll;
        else
            st.key = roll_of(d, s.count);
    }
    return st;
}

// The book with its records cut to `keep` (indexes in order), each keeping only the refused
// roll numbers that an earlier kept record still has.
Book keeping(const Book& s, const std::vector<std::size_t>& keep) {
    Book t = s;
    t.records.clear();
    for (std::size_t i : keep) {
        Record r = s.records[i];
        std::vector<long long> refused;
        for (long long v : r.refused)
            if (std::any_of(t.records.begin(), t.records.end(),
                            [v](const Record& e) { return e.roll == v; }))
                refused.push_back(v);
        r.refused = refused;
        t.records.push_back(r);
    }
    t.count = static_cast<long long>(keep.size());
    return t;
}

class RollbookSessions final : public Generator {
public:
    Session draw(Draw& d, unsigned size, bool open) const override {
        Book s;
        const long long most = 1 + (kMost - 1) * static_cast<long long>(size) / 100;
        if (d.chance(5))
            s.count = kMost;
        else if (d.chance(6))
            s.count = d.chance(50) ? 0 : d.chance(80) ? d.between(-5, -1) : INT_MIN;
        else
            s.count = d.between(1, std::max(1LL, most / 2 + d.between(0, most / 2)));
        for (long long i = 0; i < s.count; ++i) {
            Record r;
            for (int tries = 0;; ++tries) {
                r.roll = tries < 20 ? roll_of(d, s.count) : d.between(INT_MIN, INT_MAX);
                if (std::none_of(s.records.begin(), s.records.end(),
                                 [&](const Record& e) { return e.roll == r.roll; }))
                    break;
            }
            while (!s.records.empty() && d.chance(8))
                r.refused.push_back(s.records[d.below(s.records.size())].roll);
            r.name = name_of(d);
            if (!s.records.empty() && d.chance(10)) r.name = s.records.back().name;
            r.percentage = percentage_of(d, open);
            s.records.push_back(r);
        }
        const long long passes = d.between(0, 1 + static_cast<long long>(size) / 12);
        for (long long p = 0; p < passes; ++p)
            for (int tries = 0; tries < 10; ++tries) {
                Book t = s;
                t.steps.push_back(step_of(d, s, open));
                if (valid(t, open)) {
                    s = t;
                    break;
                }
            }
        const long long ends[] = {4, 4, 4, 4, 7, INT_MAX, 100};
        s.last = ends[d.below(7)];
        return Session{s};
    }

    std::vector<Session> smaller(const Session& session, bool open) const override {
        const Book& s = of(session);
        std::vector<Book> out;
        for (const auto& keep : fewer(s.steps.size())) {
            Book t = s;
            t.steps.clear();
            for (std::size_t i : keep) t.steps.push_back(s.steps[i]);
            out.push_back(t);
        }
        for (const auto& keep : fewer(s.records.size())) out.push_back(keeping(s, keep));
        if (s.count < 0) {
            Book t = s;
            t.count = 0;
            out.push_back(t);
        }
        for (std::size_t i = 0; i < s.records.size(); ++i)
            for (const auto& keep : fewer(s.records[i].refused.size())) {
                Book t = s;
                t.records[i].refused.clear();
                for (std::size_t k : keep) t.records[i].refused.push_back(s.records[i].refused[k]);
                out.push_back(t);
            }
        for (std::size_t i = 0; i < s.steps.size(); ++i) {
            const long long c = s.steps[i].choice;
            if (c == 0 || c == 1) continue;
            Book t = s;
            t.steps[i].choice = c < 0 || c > 3 ? 0 : 1;  // a wrong choice 0, a sort by roll
            out.push_back(t);
        }
        for (std::size_t i = 0; i < s.records.size(); ++i) {
            const Record& r = s.records[i];
            // A roll number made smaller, and so every refused repeat of it.
            for (long long v : nearer(r.roll)) {
                Book t = s;
                t.records[i].roll = v;
                for (Record& later : t.records)
                    for (long long& x : later.refused)
                        if (x == r.roll) x = v;
                for (Step& st : t.steps)
                    if (st.choice == 2 && st.key == r.roll) st.key = v;
                out.push_back(t);
            }
            for (const std::string& n : shorter(r.name, 3)) {
                Book t = s;
                t.records[i].name = n;
                out.push_back(t);
            }
            if (r.percentage != "0") {
                Book t = s;
                t.records[i].percentage.assign(1, '0');  // gcc 12 warns falsely on = "0"
                out.push_back(t);
            }
        }
        for (std::size_t i = 0; i < s.steps.size(); ++i)
            if (s.steps[i].choice == 2)
                for (long long v : nearer(s.steps[i].key)) {
                    Book t = s;
                    t.steps[i].key = v;
                    out.push_back(t);
                }
        if (s.last != 4) {
            Book t = s;
            t.last = 4;
            out.push_back(t);
            for (long long v : nearer(s.last, 7)) {
                t.last = v;
                out.push_back(t);
            }
        }
        std::vector<Session> valid_ones;
        for (Book& t : out)
            if (valid(t, open)) valid_ones.push_back(Session{std::move(t)});
        return valid_ones;
    }

    Fed feed(const Session& session) const override {
        const Book& s = of(session);
        Fed f;
        auto line = [&](const std::string& text) {
            f.input += text;
            f.input += '\n';
        };
        line(std::to_string(s.count));
        for (const Record& r : s.records) {
            for (long long v : r.refused) line(std::to_string(v));
            line(std::to_string(r.roll));
            line(r.name);
            line(r.percentage);
        }
        for (const Step& st : s.steps) {
            line(std::to_string(st.choice));
            if (st.choice == 2) line(std::to_string(st.key));
        }
        line(std::to_string(s.last));
        return f;
    }

    std::string describe(const Session& session) const override {
        const Book& s = of(session);
        std::string what;
        auto add = [&](const char* name) {
            if (what.find(name) != std::string::npos) return;
            if (!what.empty()) what += ", ";
            what += name;
        };
        for (const Step& st : s.steps)
            if (st.choice == 1)
                add("the sort by roll number");
            else if (st.choice == 2)
                add("a search");
            else if (st.choice == 3)
                add("the sort by name");
        if (what.empty()) what = "the listing";
        std::string d = what;
        d += " of ";
        d += std::to_string(s.records.size());
        d += s.records.size() == 1 ? " record" : " records";
        if (std::any_of(s.records.begin(), s.records.end(),
                        [](const Record& r) { return !r.refused.empty(); }))
            d += ", after a repeated roll number";
        return d;
    }
};

}  // namespace

const Generator& rollbook_sessions() {
    static const RollbookSessions g;
    return g;
}

}  // namespace check::sessions
