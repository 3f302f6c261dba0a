// Random sessions against the collection's own program: sessions drawn by the program's
// generator (check/sessions/), each run on the submission and on the reference, the
// reference's output the expected one; a session on which they differ shrunk to the
// smallest one that still differs, and shown as the dialogue would look at a terminal.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "check/grade.hpp"

namespace check {

// How many random sessions, from which seed, worth what.
struct RandomPlan {
    unsigned sessions = 0;  // 0: none
    unsigned first = 0;     // with `only`: the one session to run (1 to N)
    bool only = false;
    std::uint64_t seed = 0;
    bool seed_given = false;
    unsigned points = 1;              // each session's points
    bool open = false;                // sessions may reach what the exercise leaves open (--all)
    std::vector<std::string> replay;  // the options of the replay command, before --seed
};

// The most failing sessions of one submission that are shrunk; the others are reported as
// drawn.
constexpr std::size_t kShrunkFailures = 5;

// The most smaller sessions tried while shrinking one failure, and the most of those that
// may run out of time before shrinking stops.
constexpr std::size_t kShrinkTries = 150;
constexpr std::size_t kShrinkTimeouts = 40;

// The wall time limit, in seconds, of the smaller sessions tried while shrinking a session
// that ran out of time (unless --timeout sets one): the smallest found runs again with its
// own limit.
constexpr double kShrinkWall = 0.25;

// A seed drawn from the system's randomness, for a run that names none.
std::uint64_t drawn_seed();

// What the cases of an assignment are, in one number: their names, inputs, arguments and
// expected outputs, statuses and files. Two sets of cases that differ in any of them give
// different numbers (but for a chance of one in 2^64).
std::uint64_t cases_digest(const std::vector<Case>& cases);

// The seed of one student's sessions: the class's seed, the program, the digest of the
// cases and the student's name together, so that two students draw different sessions, the
// same class graded twice draws the same, and a seed read in one assignment's feedback
// foretells nothing of another program's sessions or of the same program's with other cases.
std::uint64_t student_seed(std::uint64_t seed, const std::string& name, const std::string& program,
                           std::uint64_t cases);

// The collection's own `program` (one of own_programs()), or an empty path.
std::filesystem::path reference_of(const std::string& program);

// A random session's case name: "random-K", K from 1.
std::string session_name(unsigned k);

// Runs the plan's sessions of `program`, drawn from `seed`, on `subject` and on `reference`
// (with the limits alone, outside the sandbox: it is the collection's own), `s.jobs` runs at
// once, the two runs of a session side by side when there are two jobs or more. Each
// session is a case result named session_name(K); a failing one is shrunk (the first
// kShrunkFailures of them), its message and help showing the shrunk session: the dialogue
// as at a terminal, the first difference, the command that replays it and the one that
// records it as a case. A later session that shrinks to the same as an earlier one names it.
// `on_case` hears each result in session order as soon as every one before it is known.
std::vector<CaseResult> check_random(
    const Settings& s, const std::string& program, const RandomPlan& plan, std::uint64_t seed,
    const Subject& subject, const std::filesystem::path& reference,
    const std::function<void(const CaseResult&)>& on_case = nullptr);

// The wall time limit of each case that fits it: the reference's own time on the case, made
// generous (twenty times, at least a second). The cases keep the checker's limit where the
// reference cannot run them.
void fit_wall_limits(std::vector<Case>& cases, const std::filesystem::path& reference,
                     const Limits& limits);

}  // namespace check
