// Random sessions: for each of the collection's programs, a generator of valid dialogues in
// the program's own terms (a menu pass, a set, a record), and the ways to make one smaller
// while it stays valid. The checker runs a drawn session on a submission and on the
// collection's own program, and shrinks a session on which they differ.
//
// A generator knows the exercise's input, never its output: it holds no copy of the
// dialogue's logic. Every session it draws, and every smaller session it offers, stays
// within the exercise's own input: no garbage, no overlong or out-of-range value whose
// handling is the collection's own choice. By default a session also stays where the
// exercise fixes the output (no empty set whose printing the exercise leaves open, say),
// as the exercise cases do; `open` sessions (collection-check --all) may go there too.
#pragma once

#include <any>
#include <cstdint>
#include <string>
#include <vector>

#include "check/case.hpp"

namespace check::sessions {

// A deterministic stream of draws: the same seed gives the same draws on every machine and
// with every standard library (std's distributions differ between libraries; these do not).
class Draw {
public:
    explicit Draw(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();                           // splitmix64
    long long between(long long lo, long long hi);  // lo to hi, both included (lo <= hi)
    bool chance(unsigned percent);                  // true `percent` times in 100
    std::size_t below(std::size_t n);               // 0 to n - 1 (n > 0)

private:
    std::uint64_t state_;
};

// A session in its generator's own terms: the generator's own value, which only the
// generator looks into.
struct Session {
    std::any value;
};

// What a session feeds the program.
struct Fed {
    std::string input;               // standard input
    std::vector<std::string> args;   // command-line arguments
    std::vector<Entry> files;        // the working folder's files before the run
    std::vector<std::string> after;  // files whose content afterwards is compared too
    bool status_open = false;        // the exercise leaves this session's exit status open
    bool operator==(const Fed& other) const;
};

// The generator of one program's sessions.
class Generator {
public:
    Generator() = default;
    Generator(const Generator&) = delete;
    Generator& operator=(const Generator&) = delete;
    Generator(Generator&&) = delete;
    Generator& operator=(Generator&&) = delete;
    virtual ~Generator() = default;
    // A random valid session. `size`, from 0 to 100, is how far towards the exercise's own
    // bounds the session tends to go (its passes, set sizes, string lengths); every bound
    // the exercise names is still drawn now and then at any size.
    virtual Session draw(Draw& d, unsigned size, bool open) const = 0;
    // The sessions one shrinking step smaller than `s`, each valid, the boldest first
    // (whole passes dropped before a set made smaller, before a number brought nearer 0,
    // before a string made shorter). Empty when `s` cannot be made smaller. `open` as for
    // draw().
    virtual std::vector<Session> smaller(const Session& s, bool open) const = 0;
    // What the session feeds the program.
    virtual Fed feed(const Session& s) const = 0;
    // One short line saying what the session does, in the exercise's own terms ("the
    // union of {} and {1}"), for grouping students who fail the same way.
    virtual std::string describe(const Session& s) const = 0;
};

// The generator of `program`'s sessions, or nullptr when it is not one of the collection's.
const Generator* generator_for(const std::string& program);

// Helpers that generators share.

// Values one step nearer `target` than `n`: the target itself, then halfway, then one
// step; none when n is the target.
std::vector<long long> nearer(long long n, long long target = 0);

// Shorter versions of `text`: empty, its first half, then without each single character
// in turn (at most `most` of those); none when it is empty.
std::vector<std::string> shorter(const std::string& text, std::size_t most = 8);

// Smaller versions of a list by the indexes to keep: without its second half, without its
// first half, then without each single element in turn; none when it is empty. Each entry
// lists the kept indexes in order, at least `least` of them.
std::vector<std::vector<std::size_t>> fewer(std::size_t count, std::size_t least = 0);

}  // namespace check::sessions
