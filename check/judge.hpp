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
    crashed,        // ended by a signal
    not_started,    // the program, or the case's checker, could not be run to the end
    compile_error,  // the submission could not be built
    memory_error,   // the memory checker found a fault
};

// The verdict's word: "passed", "wrong-output", ..., "not-started".
const char* verdict_word(Verdict v);

// "1 second", "2.5 seconds", "8 MiB": a number with its unit, singular only for one.
std::string quantity(double n, const std::string& unit);

// How visible_text shows the few characters that differ between its uses.
enum class Shown {
    line,   // a line of a difference: a blank as '·', a tab as \t, a backslash doubled
    name,   // a name (a student's, a case's): a tab as \t, a backslash doubled
    word,   // one line of a file format: tabs and line feeds as \xHH, backslashes kept
    lines,  // a text of lines (a message, a tool's output): line feeds, tabs, backslashes kept
};

// The number of bytes of the character at `text[i]` when it is shown as it is: a printable
// ASCII byte, or a well-formed UTF-8 character that is neither a C1 control (U+0080 to
// U+009F) nor a bidirectional control (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to
// U+2069) nor a line or paragraph separator (U+2028, U+2029). 0 for anything else: a
// control byte, DEL, a byte that does not start a well-formed character, such a character.
std::size_t shown_as_is(const std::string& text, std::size_t i);

// The one way every output of the checker shows a text that came from a program, a case,
// a compiler or a folder name: every character shown_as_is() keeps is kept, a C1 or
// bidirectional control or separator is written \uHHHH, any other byte \xHH (control
// bytes, ESC, DEL, bytes that are not well-formed UTF-8), and blanks, tabs, line feeds and
// backslashes as `how` says. The result is well-formed UTF-8 that cannot move the cursor,
// change colours or reorder what a terminal, an editor or a browser shows.
std::string visible_text(const std::string& text, Shown how);

// True when `text` is well-formed UTF-8 (RFC 3629: no overlong form, no surrogate, nothing
// beyond U+10FFFF), as every JSON reader takes a string's bytes.
bool is_utf8(const std::string& text);

// One line of text as shown in a difference (visible_text, Shown::line), and '$' where a
// line feed ended it.
std::string visible_line(const std::string& line, bool ended);

// The terminal columns `text` (visible, well-formed UTF-8) takes: one per character.
std::size_t columns(const std::string& text);

// A visible text cut to at most `width` columns (at least 2), `ellipsis` (one column)
// ending it when it is cut, so that a table's row never breaks.
std::string cut_to_columns(const std::string& text, std::size_t width,
                           const std::string& ellipsis = "\u2026");

// True when the user's locale (LC_CTYPE, as the environment sets it) writes text as UTF-8,
// so that a terminal shows UTF-8 as the characters it is. Asks setlocale(), which is not
// thread-safe: ask it while no other thread runs.
bool utf8_locale();

// `text` with every byte from 0x80 up written \xHH: what a terminal whose locale is not
// UTF-8 shows as it is.
std::string ascii_text(const std::string& text);

// The lines of `want` and `got` around the first line where they differ, both headed by
// `what` ("standard output", "file dst.txt"), the differing line marked with '>'. The
// texts must differ. Reads only as far as the lines it shows, whatever their length.
std::string difference(const std::string& what, const std::string& want, const std::string& got);

// True when the texts hold the same words (runs of bytes other than blanks, tabs, carriage
// returns and line feeds) in the same order: they differ in their spacing only. "12 3" and
// "1 23" do not: the words themselves differ.
bool same_but_spacing(const std::string& a, const std::string& b);

// The common slip that explains a difference, as one line, when it is certain: the output
// ends early or goes on, a line feed missing or extra at the end, blanks at line ends, only
// the spacing differs; "" otherwise.
std::string slip(const std::string& want, const std::string& got);

// The first `lines` lines of a tool's own text (a compiler's, a memory checker's) as they
// are, but for invisible bytes other than blanks, made visible, each cut to its first 2000
// bytes and "…"; "(N more lines)" after.
std::string plain_lines(const std::string& text, std::size_t lines);

// The first lines of `text`, each made visible and indented, "(N more lines)" after them.
std::string first_lines(const std::string& text, std::size_t lines);

// The last lines of `text`, each made visible and indented, "(N lines before)" before them;
// the last line, when it is long, by its end ("…" and its last bytes).
std::string last_lines(const std::string& text, std::size_t lines);

struct Judgement {
    Verdict verdict = Verdict::passed;
    std::string message;  // empty when passed; otherwise lines indented by two blanks
    // What the failure is, for telling when two cases failed the same way: the verdict, each
    // first differing line of what was expected and what came (not the lines around them),
    // the slip, the status or signal. Empty when passed, or when only the whole message
    // tells (a run stopped at a limit, a program that did not start).
    std::string key;
};

// Judges a run of case `c` whose working folder was `folder`. `strict_status` also
// compares a status that the exercise leaves open. Standard output is compared as the
// case's `compare` says: byte for byte (a difference in spacing only is `presentation`),
// word for word (`blanks`: a difference in spacing is no difference), or by the case's
// checker, run contained as `containment` says within `limits` (check/compare.hpp): it
// rejects with wrong-output, and a checker that cannot judge makes the case not-started.
Judgement judge(const Case& c, const Outcome& o, const std::filesystem::path& folder,
                bool strict_status, const Limits& limits,
                const Containment& containment = Containment());

}  // namespace check
