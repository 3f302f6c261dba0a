// A class's report across gradings: the results of an earlier grading read back from its
// results.jsonl, so that a few students re-graded replace their own entries and keep the
// others'; the record of what the report was graded against (grading.json: the program,
// the digest of the cases, the random sessions' seed), so that a re-grade after the cases
// changed grades everyone again and a re-grade draws the same sessions; and the
// fingerprints of submissions' sources, so that identical submissions are named together.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "check/formats.hpp"

namespace check {

// What a submission is, for telling identical ones apart: for sources (a folder of them, a
// Makefile's folder), the SHA-256 of the sorted digests of each source, header and Makefile
// with its comments dropped and its blanks normalised (file names and layout do not count);
// for an executable, the SHA-256 of its bytes; "" for anything else. At most 200 files of
// at most 1 MiB each are read, links never followed.
std::string sources_fingerprint(const std::filesystem::path& where, bool is_program);

// The C or C++ text without its comments, each run of blanks made one space and dropped
// where it separates no two words; string and character literals are kept as they are.
std::string normalised_source(const std::string& text);

// Fills every submission's `same_sources`: the others of the class with the same
// non-empty `sources`, in class order.
void name_identical(std::vector<SubmissionResult>& all);

// The submissions of a results.jsonl, as to_json() wrote them: each row read back with its
// cases (the excerpts the page shows remade from the input and outputs). Throws
// std::runtime_error naming the line that cannot be read.
std::vector<SubmissionResult> read_results(const std::string& jsonl);

// The class `kept` with every submission of `fresh` in place of the one of the same name (or
// added, in name order): the re-graded students replace their entries, the others stay.
std::vector<SubmissionResult> merged_class(std::vector<SubmissionResult> kept,
                                           std::vector<SubmissionResult> fresh);

// What a report was graded against: the program, the digest of its cases, and the class's
// seed of random sessions (none when it had none).
struct Grading {
    std::string program;
    std::uint64_t cases = 0;
    std::optional<std::uint64_t> seed;
};

// grading.json's text, and the Grading it holds (nothing when it cannot be read).
std::string grading_json(const Grading& g);
std::optional<Grading> read_grading(const std::string& text);

}  // namespace check
