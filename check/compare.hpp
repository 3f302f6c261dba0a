// Judging a run against its case, and showing a difference so that a person sees it: every
// invisible byte made visible, the first differing line marked.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "check/case.hpp"
#include "check/run.hpp"

namespace check {

// One line of text as shown in a difference: a tab as \t, a blank as '·', a backslash as
// \\, other bytes below 0x20 or from 0x7f up as \xHH, and '$' where a line feed ended it.
std::string visible_line(const std::string& line, bool ended);

// The lines of `want` and `got` around the first line where they differ, both headed by
// `what` ("standard output", "file dst.txt"), the differing line marked with '>'. The
// texts must differ.
std::string difference(const std::string& what, const std::string& want, const std::string& got);

// What went wrong in a run of case `c` (whose working folder was `folder`), in the order a
// person needs it; empty when the run matched the case. `strict_status` also compares a
// status that the exercise leaves open.
std::string judge(const Case& c, const Outcome& o, const std::filesystem::path& folder,
                  bool strict_status, double limit_seconds);

}  // namespace check
