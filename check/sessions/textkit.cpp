// textkit's sessions, and the string toolkit's sessions that textline and textwalk share
// (check/sessions/texts.hpp): a first string, menu passes (entries 4 and 6 with a second
// string each), then a choice of 7 or more. Words and numbers are now and then laid out as
// the formatted scanner also takes them: several on one line, after blanks or an empty
// line, numbers with a sign and a leading zero. Where a program reads lines too (textline,
// textwalk), that is kept for open sessions (--all): by default every number and word
// stands on a line of its own (a number perhaps after blanks, or with a sign and a leading
// zero), and nothing follows entry 4's choice on its line, so that a program reading the
// choice with the formatted scanner and one reading it as a line read the same.
#include <algorithm>
#include <climits>
#include <utility>

#include "check/sessions/programs.hpp"
#include "check/sessions/texts.hpp"

namespace check::sessions {

namespace {

constexpr std::size_t kLongest = 79;  // the longest string an 80-byte buffer holds

// How a word or a number lies on the input.
constexpr unsigned char plain = 0;     // alone on its line
constexpr unsigned char indented = 1;  // blanks before it
constexpr unsigned char joined = 2;    // the next word or number follows on the same line
constexpr unsigned char spaced = 3;    // an empty line before it
constexpr unsigned char padded = 4;    // a number written with its sign and a leading zero

struct Pass {
    long long choice = 1;  // 1 to 6, or 0 and below (the menu again)
    std::string text;      // entry 4's or entry 6's second string
    std::string rest;      // textline's entry 4: what follows the choice on its line
    unsigned char choice_style = plain, text_style = plain;
};

struct Texts {
    std::string given;
    unsigned char given_style = plain;
    std::vector<Pass> passes;
    long long last = 7;  // 7 or more: ends the menu
    unsigned char last_style = plain;
};

const Texts& of(const Session& s) { return std::any_cast<const Texts&>(s.value); }

// The blanks of the C locale, which end a word.
bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A word the formatted scanner reads whole into an 80-byte buffer.
bool word_ok(const std::string& w) {
    return !w.empty() && w.size() <= kLongest &&
           std::none_of(w.begin(), w.end(), [](char c) { return blank(c) || c == '\0'; });
}

// A line that fits an 80-byte buffer (carriage returns and NUL bytes are not typed text).
bool line_ok(const std::string& l) {
    return l.size() <= kLongest && std::none_of(l.begin(), l.end(), [](char c) {
               return c == '\n' || c == '\r' || c == '\0';
           });
}

// True when `w` occurs in `in`, as the substring search looks for it.
bool occurs(const std::string& in, const std::string& w) {
    return !in.empty() && in.find(w) != std::string::npos;
}

bool palindrome(const std::string& s) { return std::equal(s.begin(), s.end(), s.rbegin()); }

// The number as typed in `style`.
std::string number(long long n, unsigned char style) {
    std::string digits = std::to_string(n);
    if (style != padded) return digits;
    std::string t = n < 0 ? "-0" : "+0";
    t += n < 0 ? digits.substr(1) : digits;
    return t;
}

// Appends a word, number or line laid out in `style`, with `rest` after it on its line.
void put(std::string& in, const std::string& text, unsigned char style,
         const std::string& rest = "") {
    if (style == indented) in += " \t";
    if (style == spaced) in += '\n';
    in += text;
    in += rest;
    in += style == joined ? ' ' : '\n';
}

// One character of a drawn string from `pool`: a two-letter alphabet (so that strings
// repeat and mirror), letters and digits, printable characters, or any byte but NUL. Lines
// also hold blanks; words never do.
char character(Draw& d, int pool, bool line) {
    if (line && pool < 3 && d.chance(pool == 0 ? 15 : 10)) return d.chance(90) ? ' ' : '\t';
    static const std::string letters = "abcdefghijklmnopqrstuvwxyzABCXYZ0189";
    switch (pool) {
    case 0:
        return d.chance(50) ? 'a' : 'b';
    case 1:
        return letters[d.below(letters.size())];
    case 2:
        return static_cast<char>(d.between('!', '~'));
    default:
        for (;;) {
            const char c = static_cast<char>(d.between(1, 255));
            if (line ? c != '\n' && c != '\r' : !blank(c)) return c;
        }
    }
}

// A string of up to 79 characters (at least one for a word), a palindrome now and then.
std::string draw_string(Draw& d, unsigned size, bool line) {
    const std::size_t least = line ? 0 : 1;
    std::size_t n = 0;
    if (d.chance(6))
        n = kLongest;
    else if (d.chance(6))
        n = least;
    else
        n = static_cast<std::size_t>(
            d.between(static_cast<long long>(least) + (line ? 1 : 0), 2 + 77 * size / 100));
    const auto roll = static_cast<unsigned>(d.below(100));
    const int pool = roll < 40 ? 0 : roll < 65 ? 1 : roll < 85 ? 2 : 3;
    std::string s;
    if (d.chance(20)) {  // a palindrome: a half, then its mirror
        for (std::size_t i = 0; i < (n + 1) / 2; ++i) s += character(d, pool, line);
        std::string back(s.rbegin(), s.rend());
        if (n % 2 == 1) back.erase(0, 1);  // the middle character once
        s += back;
    } else {
        for (std::size_t i = 0; i < n; ++i) s += character(d, pool, line);
    }
    return s;
}

// A piece of `in` without blanks, or "" when `in` holds nothing but blanks.
std::string piece(Draw& d, const std::string& in) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < in.size(); ++i)
        if (!blank(in[i])) starts.push_back(i);
    if (starts.empty()) return "";
    const std::size_t from = starts[d.below(starts.size())];
    std::size_t to = from;
    while (to < in.size() && !blank(in[to])) ++to;
    const std::size_t most = to - from;
    const std::size_t length =
        d.chance(15) ? most : static_cast<std::size_t>(d.between(1, static_cast<long long>(most)));
    return in.substr(from, length);
}

// A second string for entry 4 or 6, most often made from `given`: the same, a piece of it,
// a beginning of it, it and more, it with one character changed; or drawn afresh.
std::string second(Draw& d, const std::string& given, unsigned size, bool line, bool search) {
    std::string s;
    const auto roll = static_cast<unsigned>(d.below(100));
    if (roll < (search ? 45U : 15U)) {
        s = line ? given.substr(d.below(given.size() + 1)) : piece(d, given);
        if (line && d.chance(50)) s.resize(d.below(s.size() + 1));
    } else if (roll < 60) {
        s = given;
    } else if (roll < 68) {
        s = given.substr(0, d.below(given.size() + 1));
    } else if (roll < 76) {
        s = given + draw_string(d, size / 4, line).substr(0, 1 + d.below(3));
    } else if (roll < 85 && !given.empty()) {
        s = given;
        s[d.below(s.size())] = character(d, static_cast<int>(d.below(4)), line);
    }
    if (s.size() > kLongest) s.resize(kLongest);
    if (line ? line_ok(s) : word_ok(s)) return s;
    return draw_string(d, size, line);
}

// A layout for a word or number; `number` allows the padded one, `join` the joined one.
unsigned char style(Draw& d, bool is_number, bool join) {
    if (d.chance(85)) return plain;
    const auto s = static_cast<unsigned char>(d.between(indented, is_number ? padded : spaced));
    return s == joined && !join ? plain : s;
}

class TextSessions final : public Generator {
public:
    explicit TextSessions(const TextReads& reads) : reads_(reads) {}

    Session draw(Draw& d, unsigned size, bool open) const override {
        for (;;) {
            Texts s;
            s.given = draw_string(d, size, reads_.given_is_line);
            s.given_style = reads_.given_is_line ? plain : style(d, false, true);
            std::vector<long long> choices;
            const long long passes = d.between(0, 1 + static_cast<long long>(size) / 8);
            for (long long p = 0; p < passes; ++p) {
                const auto roll = static_cast<unsigned>(d.below(100));
                choices.push_back(roll < 82   ? d.between(1, 6)
                                  : roll < 90 ? 0
                                  : roll < 97 ? d.between(-9, -1)
                                  : roll < 98 ? INT_MIN
                                              : d.between(INT_MIN, -10));
            }
            if (d.chance(8))  // every entry, in some order
                for (long long c = 1; c <= 6; ++c)
                    choices.insert(choices.begin() + static_cast<long>(d.below(choices.size() + 1)),
                                   c);
            for (long long c : choices) {
                Pass p;
                p.choice = c;
                const bool line = c == 4 && reads_.compare_is_line;
                p.choice_style = laid_out(style(d, true, !line), open);
                if (c == 4 || c == 6) {
                    const bool present = c == 6 && reads_.search_open && !open;
                    p.text = present ? piece(d, s.given) : second(d, s.given, size, line, c == 6);
                    if (present && p.text.empty()) p.choice = 5;  // no word occurs in it
                    if (!line) p.text_style = laid_out(style(d, false, true), open, false);
                }
                if (line && open && d.chance(15)) {
                    const std::string more = draw_string(d, size / 4, true);
                    p.rest.push_back(' ');
                    p.rest.append(more, 0, 1 + d.below(20));
                }
                if (p.choice != 4 && p.choice != 6) p.text.clear(), p.text_style = plain;
                s.passes.push_back(std::move(p));
            }
            const auto roll = static_cast<unsigned>(d.below(100));
            s.last = roll < 75 ? 7 : roll < 85 ? 8 : roll < 95 ? d.between(9, 1000) : INT_MAX;
            s.last_style = laid_out(style(d, true, false), open);
            if (valid(s, open)) return Session{s};
        }
    }

    std::vector<Session> smaller(const Session& session, bool open) const override {
        const Texts& s = of(session);
        std::vector<Texts> out;
        for (const auto& keep : fewer(s.passes.size())) {
            Texts t = s;
            t.passes.clear();
            for (std::size_t i : keep) t.passes.push_back(s.passes[i]);
            out.push_back(t);
        }
        for (const std::string& g : shorter(s.given)) {
            Texts t = s;
            t.given = g;
            out.push_back(t);
        }
        for (std::size_t i = 0; i < s.passes.size(); ++i) {
            for (auto field : {&Pass::text, &Pass::rest})
                for (const std::string& text : shorter(s.passes[i].*field)) {
                    Texts t = s;
                    t.passes[i].*field = text;
                    out.push_back(t);
                }
        }
        for (std::size_t i = 0; i < s.passes.size(); ++i) {
            const long long c = s.passes[i].choice;
            if (c <= 0) {
                for (long long v : nearer(c)) {
                    Texts t = s;
                    t.passes[i].choice = v;
                    out.push_back(t);
                }
            } else if (c > 1) {  // the length, which reads nothing more
                Texts t = s;
                t.passes[i] = Pass{};
                t.passes[i].choice_style = s.passes[i].choice_style;
                out.push_back(t);
            }
        }
        for (long long v : nearer(s.last, 7)) {
            Texts t = s;
            t.last = v;
            out.push_back(t);
        }
        // Each word and number on a line of its own.
        auto unstyle = [&](auto&& field) {
            Texts t = s;
            if (std::exchange(field(t), plain) != plain) out.push_back(t);
        };
        // cppcheck-suppress constParameter ; the field is written through what it returns
        unstyle([](Texts& t) -> unsigned char& { return t.given_style; });
        // cppcheck-suppress constParameter ; the field is written through what it returns
        unstyle([](Texts& t) -> unsigned char& { return t.last_style; });
        for (std::size_t i = 0; i < s.passes.size(); ++i) {
            // cppcheck-suppress constParameter ; the field is written through what it returns
            unstyle([i](Texts& t) -> unsigned char& { return t.passes[i].choice_style; });
            // cppcheck-suppress constParameter ; the field is written through what it returns
            unstyle([i](Texts& t) -> unsigned char& { return t.passes[i].text_style; });
        }
        // Plainer characters: one at a time becomes 'a'.
        auto plainer = [&](auto&& field) {
            Texts probe = s;
            const std::string text = field(probe);
            for (std::size_t k = 0, done = 0; k < text.size() && done < 8; ++k)
                if (text[k] != 'a') {
                    Texts t = s;
                    field(t)[k] = 'a';
                    out.push_back(t);
                    ++done;
                }
        };
        // cppcheck-suppress constParameter ; the field is written through what it returns
        plainer([](Texts& t) -> std::string& { return t.given; });
        for (std::size_t i = 0; i < s.passes.size(); ++i)
            // cppcheck-suppress constParameter ; the field is written through what it returns
            plainer([i](Texts& t) -> std::string& { return t.passes[i].text; });
        std::vector<Session> valid_ones;
        for (Texts& t : out)
            if (valid(t, open)) valid_ones.push_back(Session{std::move(t)});
        return valid_ones;
    }

    Fed feed(const Session& session) const override {
        const Texts& s = of(session);
        Fed f;
        put(f.input, s.given, s.given_style);
        for (const Pass& p : s.passes) {
            put(f.input, number(p.choice, p.choice_style), p.choice_style, p.rest);
            if (p.choice == 4 || p.choice == 6) put(f.input, p.text, p.text_style);
        }
        put(f.input, number(s.last, s.last_style), s.last_style);
        return f;
    }

    std::string describe(const Session& session) const override {
        const Texts& s = of(session);
        static const char* const names[] = {"",          "the length",     "the reversal",
                                            "the copy",  "the comparison", "the palindrome check",
                                            "the search"};
        std::string what;
        for (const Pass& p : s.passes)
            if (p.choice >= 1 && what.find(names[p.choice]) == std::string::npos) {
                if (!what.empty()) what += ", ";
                what += names[p.choice];
            }
        if (what.empty()) what = "the menu alone";
        std::string d = what;
        d += " of a ";
        d += std::to_string(s.given.size());
        d += "-character ";
        d += reads_.given_is_line ? "line" : "word";
        if (s.given.size() > 1 && palindrome(s.given)) d += " palindrome";
        for (const Pass& p : s.passes)
            if (p.choice == 4) {
                d += p.text == s.given ? ", compared with itself"
                     : s.given.compare(0, p.text.size(), p.text) == 0
                         ? ", compared with a beginning of it"
                     : p.text.compare(0, s.given.size(), s.given) == 0
                         ? ", compared with a longer one"
                         : ", compared with another";
                break;
            }
        for (const Pass& p : s.passes)
            if (p.choice == 6) {
                d += occurs(s.given, p.text) ? ", searching for a word it holds"
                                             : ", searching for a word it lacks";
                break;
            }
        if (std::any_of(s.passes.begin(), s.passes.end(),
                        [](const Pass& p) { return p.choice <= 0; }))
            d += ", with a choice of 0 or less";
        if (s.last > 7) d += ", ended by a choice above 7";
        return d;
    }

private:
    // True when the program reads a line somewhere, so that how it reads a number or a word
    // (the formatted scanner, or a line then the number in it) decides what it reads next
    // when more stands on the line, or an empty line before it.
    bool reads_lines() const { return reads_.given_is_line || reads_.compare_is_line; }

    // `style`, or where the program reads lines and the session is not `open`, the layout
    // every way of reading a number or a word takes alike: on a line of its own, perhaps
    // after blanks (a number only) or with a sign and a leading zero.
    unsigned char laid_out(unsigned char style, bool open, bool number = true) const {
        if (open || !reads_lines()) return style;
        return number && (style == indented || style == padded) ? style : plain;
    }

    // True when the session is valid input of the program, within what the exercise fixes
    // unless `open`.
    bool valid(const Texts& s, bool open) const {
        if (!open && reads_lines()) {
            const auto alike = [](unsigned char number) {
                return number == plain || number == indented || number == padded;
            };
            if (!alike(s.last_style)) return false;
            for (const Pass& p : s.passes)
                if (!alike(p.choice_style) || !p.rest.empty() || p.text_style != plain)
                    return false;
        }
        if (reads_.given_is_line ? !line_ok(s.given) || s.given_style != plain
                                 : !word_ok(s.given) || s.given_style == padded)
            return false;
        for (const Pass& p : s.passes) {
            if (p.choice > 6 || p.choice < INT_MIN) return false;
            const bool line = p.choice == 4 && reads_.compare_is_line;
            if (line && p.choice_style == joined) return false;
            if (p.choice == 4 || p.choice == 6) {
                if (line ? !line_ok(p.text) || p.text_style != plain
                         : !word_ok(p.text) || p.text_style == padded)
                    return false;
                if (p.choice == 6 && reads_.search_open && !open && !occurs(s.given, p.text))
                    return false;
            } else if (!p.text.empty() || p.text_style != plain) {
                return false;
            }
            if (!p.rest.empty() &&
                (!line || (p.rest[0] != ' ' && p.rest[0] != '\t') ||
                 p.rest.find('\n') != std::string::npos || p.rest.find('\0') != std::string::npos))
                return false;
        }
        return s.last >= 7 && s.last <= INT_MAX && s.last_style != joined;
    }

    TextReads reads_;
};

}  // namespace

std::unique_ptr<Generator> text_sessions(const TextReads& reads) {
    return std::make_unique<TextSessions>(reads);
}

const Generator& textkit_sessions() {
    static const auto g = text_sessions(TextReads{false, false, false});
    return *g;
}

}  // namespace check::sessions
