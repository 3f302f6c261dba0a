// A transcript case: one folder of plain files that fixes, byte for byte, what a program
// writes for a given input and the status it ends with.
//
//   kind         one word, "exercise" or "collection", and a line feed (always present):
//                exercise: valid input whose output and status the exercise itself fixes;
//                collection: the case rests on a choice of this collection (its input rules
//                and diagnostics, end of input, refused capacities, wording or statuses it
//                chose where the exercise leaves them open)
//   input        the bytes typed on standard input (absent: standard input is /dev/null)
//   output       the exact expected standard output (absent: not compared)
//   status       the expected exit status, a decimal number (absent: 0)
//   status-open  present when the exercise leaves the exit status open: the status is then
//                compared only when the collection's own choices are checked too
//   args         command-line arguments, one per line
//   stderr       the exact expected standard error (absent: standard error must be empty)
//   files/       copied into a fresh working folder, where the program runs
//   setup        a bash script run in the working folder before the program ($CASE_DIR
//                names the case folder)
//   after/       files that the working folder must hold afterwards, byte for byte
//   stdout-to    a path standard output is sent to instead of being compared (/dev/full)
//   points       what the case is worth, a whole number from 0 to 1000 (absent: 1)
//   visibility   "visible" or "hidden": a hidden case's feedback names it and its verdict
//                but shows neither its input nor its expected output (absent: visible)
//   compare      how standard output is compared with `output`, one word and a line feed
//                (absent: exact): "exact", byte for byte; "blanks", word for word, blanks,
//                tabs, carriage returns and line feeds between the words ignored; "checker",
//                by the case's program `checker` (check/compare.hpp)
//   checker      with "compare checker" only, and then required: an executable regular file,
//                the teacher's program that accepts or rejects the output
// Every file is read when the case is loaded, before any program runs: regular files only,
// never through a symbolic link, each at most kMaxCaseFile bytes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace check {

enum class Kind { exercise, collection };

// How a case's standard output is compared with what it expects.
enum class Compare { exact, blanks, checker };

// The largest file a case may hold.
constexpr std::size_t kMaxCaseFile = 64U << 20;

// One entry of a case's files/ or after/ folder, relative to it.
struct Entry {
    enum class Type { folder, file, link } type = Type::file;
    std::string path;      // relative, '/'-separated
    std::string content;   // a file's bytes, or a link's target
    unsigned mode = 0644;  // permission bits
};

struct Case {
    std::string name;
    std::filesystem::path folder;
    Kind kind = Kind::collection;
    std::optional<std::string> input;
    std::optional<std::string> output;
    std::optional<std::string> error;  // the expected standard error
    int status = 0;
    bool status_open = false;
    std::vector<std::string> args;
    std::string stdout_to;
    std::vector<Entry> files;  // files/, parents before what they hold
    std::vector<Entry> after;  // after/'s regular files
    bool has_setup = false;
    unsigned points = 1;
    bool hidden = false;
    Compare compare = Compare::exact;
    double wall = 0;  // the case's own wall time limit in seconds; 0: the checker's
};

// Puts the file's bytes in `text`; false (and `text` untouched) when it cannot be opened.
bool read_file(const std::filesystem::path& path, std::string& text);

// Reads a case's file as a case must hold it: a regular file, not through a link, opened
// without blocking, at most kMaxCaseFile bytes. False when there is none; throws
// std::runtime_error naming the file when it is anything else or too large.
bool read_case_file(const std::filesystem::path& path, std::string& text);

// The text without its final line feed, if it has one.
std::string without_line_feed(std::string text);

// Reads `path`, relative to `folder`, as read_case_file does, and never through a link at
// any step of the path (a program's working folder may hold links to anywhere).
bool read_beneath(const std::filesystem::path& folder, const std::string& path, std::string& text);

// The exit status written in a `status` file: decimal digits (at most three, at most 255),
// with or without one final line feed; nothing for anything else.
std::optional<int> parse_status(const std::string& text);

// The kind named by the text of a `kind` file: exactly "exercise" or "collection", with or
// without one final line feed; nothing for anything else.
std::optional<Kind> parse_kind(const std::string& text);

// The word that names a kind ("exercise" or "collection").
const char* kind_name(Kind kind);

// The comparison named by the text of a `compare` file: exactly "exact", "blanks" or
// "checker", with or without one final line feed; nothing for anything else.
std::optional<Compare> parse_compare(const std::string& text);

// The word that names a comparison ("exact", "blanks" or "checker").
const char* compare_name(Compare compare);

// Reads the case held by `folder`. Throws std::runtime_error, naming the file, when the
// kind mark is missing or invalid, the status is not a number from 0 to 255, the points or
// visibility are not as above, the comparison is not one of the three words, a `checker`
// is missing, not an executable regular file or present without "compare checker", or a
// file is not one a case may hold.
Case load_case(const std::filesystem::path& folder);

// Every case under `program_folder` (one sub-folder each), in name order. Throws as
// load_case does.
std::vector<Case> load_cases(const std::filesystem::path& program_folder);

}  // namespace check
