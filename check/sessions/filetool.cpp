// filetool's sessions: a source and a destination path (perhaps with further arguments, or
// too few of them), the working folder's files, and the one menu choice. Source files of
// every size, from empty to several times a stream's buffer, with any bytes.
#include <algorithm>
#include <cctype>
#include <climits>
#include <iterator>

#include "check/sessions/programs.hpp"

namespace check::sessions {

namespace {

// The paths drawn, the plainest first. A destination in a folder that does not exist can't
// be opened, which the exercise leaves open; source and destination never name one file.
const char* const kSources[] = {"src.txt", "in.bin", "a", "data file.txt", "dir/src.txt"};
const char* const kDestinations[] = {"dst.txt",    "out.bin",     "b",
                                     "copy of it", "dir/dst.txt", "missing/dst.txt"};
constexpr std::size_t kMissingFolder = 5;

// How the choice lies on its line.
constexpr unsigned char plain = 0;     // alone on its line
constexpr unsigned char indented = 1;  // blanks before it
constexpr unsigned char spaced = 2;    // an empty line before it
constexpr unsigned char padded = 3;    // written with its sign and a leading zero

struct Tool {
    std::size_t paths = 2;           // the paths given: 0 or 1 is too few
    std::size_t source = 0;          // kSources' index
    std::size_t destination = 0;     // kDestinations' index
    std::vector<std::string> extra;  // arguments after the two paths, ignored
    bool has_source = true;          // the source file exists
    std::string content;             // its bytes
    bool has_destination = false;    // the destination exists before the run
    std::string old;                 // its bytes
    long long choice = 1;            // 1 copy, 2 type, 3 exit; others end (left open)
    unsigned char style = plain;
    std::string rest;  // what follows the choice on its line
};

const Tool& of(const Session& s) { return std::any_cast<const Tool&>(s.value); }

bool in_missing_folder(const Tool& t) { return t.destination == kMissingFolder; }

// True when the exercise fixes the output, and, unless it leaves it open, the status.
bool fixed_output(const Tool& t) {
    if (t.paths < 2) return true;
    if (t.choice < 1 || t.choice > 3) return false;  // a diagnostic of our own, and its status
    return !(t.choice == 1 && t.has_source && in_missing_folder(t));
}

bool valid(const Tool& t, bool open) {
    if (t.paths > 2 || t.source >= std::size(kSources) || t.destination >= std::size(kDestinations))
        return false;
    if (t.paths < 2 && (!t.extra.empty() || t.has_destination || t.destination != 0)) return false;
    if (t.paths == 0 && t.has_source) return false;  // no file is named
    if (!t.has_source && !t.content.empty()) return false;
    if (!t.has_destination && !t.old.empty()) return false;
    if (t.has_destination && in_missing_folder(t)) return false;
    if (t.choice < INT_MIN || t.choice > INT_MAX) return false;
    // What follows the choice on its line must not continue the number.
    if (!t.rest.empty() &&
        (std::isdigit(static_cast<unsigned char>(t.rest[0])) ||
         t.rest.find('\n') != std::string::npos || t.rest.find('\0') != std::string::npos))
        return false;
    return open || fixed_output(t);
}

// A file's bytes: text lines, any bytes, or one byte repeated; its size from 0 to beyond
// a stream's largest buffer (0, 1 and sizes about a buffer drawn at any size).
std::string contents(Draw& d, unsigned size) {
    std::size_t n = 0;
    const auto roll = static_cast<unsigned>(d.below(100));
    if (roll < 10)
        n = 0;
    else if (roll < 20)
        n = 1;
    else if (roll < 27)
        n = static_cast<std::size_t>(d.between(4095, 8193));
    else if (roll < 31)
        n = static_cast<std::size_t>(d.between(8194, 70000));
    else if (roll < 33)  // beyond the largest buffer a stream is likely to have
        n = static_cast<std::size_t>(d.between(131071, 200000));
    else
        n = static_cast<std::size_t>(d.between(2, 2 + 40 * static_cast<long long>(size)));
    const auto pool = static_cast<unsigned>(d.below(4));
    const char repeated = static_cast<char>(d.chance(50) ? 0xFF : d.between(0, 255));
    std::string s;
    s.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        switch (pool) {
        case 0:  // text
            s += d.chance(6) ? '\n' : static_cast<char>(d.between(' ', '~'));
            break;
        case 1:  // any byte
            s += static_cast<char>(d.between(0, 255));
            break;
        case 2:  // mostly one byte, 0xFF often
            s += d.chance(90) ? repeated : static_cast<char>(d.between(0, 255));
            break;
        default:  // short runs of a few letters and line feeds
            s += "ab\n"[d.below(3)];
        }
    }
    return s;
}

class FiletoolSessions final : public Generator {
public:
    Session draw(Draw& d, unsigned size, bool open) const override {
        for (;;) {
            Tool t;
            if (d.chance(7)) {  // too few arguments: the input is never read
                t.paths = d.below(2);
                t.has_source = t.paths == 1 && d.chance(50);
                if (t.has_source) t.content = contents(d, size);
                t.source = d.below(std::size(kSources));
                t.choice = d.between(1, 3);
                if (valid(t, open)) return Session{t};
                continue;
            }
            t.source = d.chance(60) ? 0 : d.below(std::size(kSources));
            t.destination = d.chance(60) ? 0 : d.below(std::size(kDestinations));
            while (d.chance(10)) t.extra.emplace_back(d.chance(50) ? "x" : "more args");
            t.has_source = d.chance(90);
            if (t.has_source) t.content = contents(d, size);
            t.has_destination = !in_missing_folder(t) && d.chance(30);
            if (t.has_destination) t.old = contents(d, size);
            const auto roll = static_cast<unsigned>(d.below(100));
            t.choice = roll < 50 ? 1 : roll < 85 ? 2 : roll < 95 ? 3 : d.between(-3, 9);
            if (open && d.chance(3)) t.choice = d.chance(50) ? INT_MIN : INT_MAX;
            t.style =
                d.chance(85) ? plain : static_cast<unsigned char>(d.between(indented, padded));
            if (d.chance(10)) t.rest = d.chance(50) ? "abc" : " and more";
            if (valid(t, open)) return Session{t};
        }
    }

    std::vector<Session> smaller(const Session& session, bool open) const override {
        const Tool& s = of(session);
        std::vector<Tool> out;
        for (const auto& keep : fewer(s.extra.size())) {
            Tool t = s;
            t.extra.clear();
            for (std::size_t i : keep) t.extra.push_back(s.extra[i]);
            out.push_back(t);
        }
        if (s.has_destination) {
            Tool t = s;
            t.has_destination = false;
            t.old.clear();
            out.push_back(t);
        }
        for (auto field : {&Tool::content, &Tool::old})
            for (const std::string& text : shorter(s.*field)) {
                Tool t = s;
                t.*field = text;
                out.push_back(t);
            }
        for (long long v : nearer(s.choice, 1)) {
            Tool t = s;
            t.choice = v;
            out.push_back(t);
        }
        for (const std::string& text : shorter(s.rest)) {
            Tool t = s;
            t.rest = text;
            out.push_back(t);
        }
        if (s.style != plain) {
            Tool t = s;
            t.style = plain;
            out.push_back(t);
        }
        for (auto index : {&Tool::source, &Tool::destination})
            if (s.*index != 0) {
                Tool t = s;
                t.*index = 0;
                out.push_back(t);
            }
        // Plainer bytes: one at a time becomes 'a'.
        for (auto field : {&Tool::content, &Tool::old})
            for (std::size_t k = 0, done = 0; k < (s.*field).size() && done < 8; ++k)
                if ((s.*field)[k] != 'a') {
                    Tool t = s;
                    (t.*field)[k] = 'a';
                    out.push_back(t);
                    ++done;
                }
        std::vector<Session> valid_ones;
        for (Tool& t : out)
            if (valid(t, open)) valid_ones.push_back(Session{std::move(t)});
        return valid_ones;
    }

    Fed feed(const Session& session) const override {
        const Tool& s = of(session);
        Fed f;
        const std::string source = kSources[s.source], destination = kDestinations[s.destination];
        if (s.paths >= 1) f.args.push_back(source);
        if (s.paths >= 2) f.args.push_back(destination);
        f.args.insert(f.args.end(), s.extra.begin(), s.extra.end());
        const bool folder = (s.has_source && source.starts_with("dir/")) ||
                            (s.paths == 2 && destination.starts_with("dir/"));
        if (folder) f.files.push_back(Entry{Entry::Type::folder, "dir", "", 0755});
        if (s.has_source) f.files.push_back(Entry{Entry::Type::file, source, s.content, 0644});
        if (s.has_destination)
            f.files.push_back(Entry{Entry::Type::file, destination, s.old, 0644});
        if (s.has_source) f.after.push_back(source);
        const bool copied = s.paths == 2 && s.choice == 1 && s.has_source && !in_missing_folder(s);
        if (s.has_destination || copied) f.after.push_back(destination);
        std::string digits = std::to_string(s.choice);
        if (s.style == indented) f.input += " \t";
        if (s.style == spaced) f.input += '\n';
        if (s.style == padded) f.input += s.choice < 0 ? "-0" : "+0";
        f.input += s.style == padded && s.choice < 0 ? digits.substr(1) : digits;
        f.input += s.rest;
        f.input += '\n';
        f.status_open = s.paths == 2 && ((s.choice == 1 && !s.has_source) || !fixed_output(s));
        return f;
    }

    std::string describe(const Session& session) const override {
        const Tool& s = of(session);
        if (s.paths < 2)
            return s.paths == 0 ? "the usage, without paths" : "the usage, with one path";
        std::string d;
        if (s.choice == 3) return "the exit entry";
        if (s.choice != 1 && s.choice != 2) return "a choice off the menu";
        d = s.choice == 1 ? "the copy of " : "the typing of ";
        if (!s.has_source) {
            d += "a missing file";
            return d;
        }
        d += s.content.size() > 8192 ? "a file larger than a buffer"
             : s.content.empty()     ? "an empty file"
             : s.content.size() == 1 ? "a one-byte file"
                                     : "a small file";
        if (std::any_of(s.content.begin(), s.content.end(),
                        [](char c) { return c != '\n' && (c < ' ' || c > '~'); }))
            d += " with binary bytes";
        if (s.choice == 1 && s.has_destination) d += ", over an existing file";
        if (s.choice == 1 && in_missing_folder(s)) d += ", into a missing folder";
        if (!s.extra.empty()) d += ", with further arguments";
        return d;
    }
};

}  // namespace

const Generator& filetool_sessions() {
    static const FiletoolSessions g;
    return g;
}

}  // namespace check::sessions
