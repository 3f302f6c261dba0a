// A case's own checker: the teacher's program that says whether an output is right, for a
// case whose `compare` file says "checker" (check/case.hpp), like an output validator.
//
// It runs as the program under test runs: contained (check/sandbox.hpp), within the same
// limits, in a fresh working folder of its own that holds three files, the case's input
// (`input`), its expected output (`expected`, empty when the case has no `output`) and
// what the program wrote on standard output (`output`), whose absolute paths are its three
// arguments, in that order; its own executable is visible read-only, standard input is
// empty. The program under test never reaches that folder: its run is over, and its own
// working folder is another.
//   - exit status 0: the output is accepted;
//   - any other exit status: it is rejected (wrong-output), the first lines of the
//     checker's standard output, made visible, being the message;
//   - it cannot be started, is killed by a signal or passes a limit: the case cannot be
//     judged (not-started), and the message names the checker and says why: the fault is
//     the case's, not the program's.
#pragma once

#include <string>

#include "check/case.hpp"
#include "check/sandbox.hpp"

namespace check {

// What a case's checker said of an output.
struct CheckerVerdict {
    enum class Result { accepted, rejected, failed } result = Result::failed;
    std::string message;  // lines indented by two blanks; empty when accepted
};

// The lines of a checker's standard output shown at most, and the bytes of each.
constexpr std::size_t kCheckerLines = 20, kCheckerLineBytes = 300;

// Runs the checker of case `c` on `output`, contained as `containment` says (its own
// executable allowed too) within `limits`.
CheckerVerdict run_checker(const Case& c, const std::string& output, const Limits& limits,
                           const Containment& containment);

// The checker's standard output as its message: at most kCheckerLines lines of at most
// kCheckerLineBytes bytes each, every invisible byte made visible (visible_text), each
// line indented by four blanks, "(N more lines)" after them.
std::string checker_lines(const std::string& text);

}  // namespace check
