// Judging a run against its case: the verdict, a fixed word for machines, and what went
// wrong for a person, with every difference shown so that it can be seen: every invisible
// byte made visible, the first differing line marked.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "check/case.hpp"
#include "check/sandbox.hpp"

namespace check {

// What a case came to, the most telling first when several hold.
enum class Verdict {
    passed,
    wrong_output,  // standard output differs in its words
    presentation,  // standard output differs in blanks and line feeds only
    wrong_status,
    wrong_stderr,
    wrong_files,
    time_limit,  // wall or processor time
    memory_limit,
    output_limit,
    crashed,  // ended by a signal
    not_started,
    compile_error,  // the submission could not be built
    memory_error,   // the memory checker found a fault
};

// The verdict's word: "passed", "wrong-output", ..., "not-started".
const char* verdict_word(Verdict v);

// "1 second", "2.5 seconds", "8 MiB": a number with its unit, singular only for one.
std::string quantity(double n, const std::string& unit);

// One line of text as shown in a difference: a tab as \t, a blank as '·', a backslash as
// \\, other bytes below 0x20 or from 0x7f up as \xHH, and '$' where a line feed ended it.
std::string visible_line(const std::string& line, bool ended);

// The lines of `want` and `got` around the first line where they differ, both headed by
// `what` ("standard output", "file dst.txt"), the differing line marked with '>'. The
// texts must differ. Reads only as far as the lines it shows, whatever their length.
std::string difference(const std::string& what, const std::string& want, const std::string& got);

// True when the texts are the same once every blank, tab, carriage return and line feed is
// taken out of both: they differ in their spacing only.
bool same_but_spacing(const std::string& a, const std::string& b);

// The common slip that explains a difference, as one line, when it is certain: the output
// ends early or goes on, a line feed missing or extra at the end, blanks at line ends, only
// the spacing differs; "" otherwise.
std::string slip(const std::string& want, const std::string& got);

// The first `lines` lines of a tool's own text (a compiler's, a memory checker's) as they
// are, but for invisible bytes other than blanks, made visible; "(N more lines)" after.
std::string plain_lines(const std::string& text, std::size_t lines);

// The first lines of `text`, each made visible and indented, "(N more lines)" after them.
std::string first_lines(const std::string& text, std::size_t lines);

struct Judgement {
    Verdict verdict = Verdict::passed;
    std::string message;  // empty when passed; otherwise lines indented by two blanks
};

// Judges a run of case `c` whose working folder was `folder`. `strict_status` also
// compares a status that the exercise leaves open.
Judgement judge(const Case& c, const Outcome& o, const std::filesystem::path& folder,
                bool strict_status, const Limits& limits);

}  // namespace check
