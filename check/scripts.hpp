// Submissions that are scripts: an executable file whose first line, "#!", names the
// interpreter that runs it. Why such a file cannot start is said in plain words (a missing
// interpreter, a first line ended by a carriage return), and the folder that holds it,
// where its modules are, is made visible to its run when that is safe.
//
// The script's folder is never made visible when it holds the temporary folder (where
// every case's working folder is), the home folder, or is or lies beneath a hidden path (the
// cases, the collection's own programs), or when the user runs go as (65534 for a checker
// run by root) could not read it; hidden paths beneath it stay hidden in every wall.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace check {

// The interpreter line of the file `path`: what follows "#!" on its first line (at most
// its first 256 bytes), carriage return included; nothing when it is not a script.
std::optional<std::string> interpreter_line(const std::filesystem::path& path);

// Why the script whose interpreter line is `line` cannot be started on this machine, with
// the remedy, as lines indented by two blanks; "" when nothing is seen to stop it. Names a
// carriage return ending the line (a file saved with Windows line ends), an interpreter
// that is missing (or, behind /usr/bin/env, on no folder of the run's PATH) and an
// interpreter outside the system folders the run sees.
std::string interpreter_trouble(const std::string& line);

// The folder of the script `script` (absolute and canonical) to make visible, read-only, to
// its run: its own folder, or an empty path when that folder is not to be shown (see the
// top of this file; `why_not` then says why, unless it is hidden) or is a system folder the
// run sees already. `hidden` are the paths the sandbox hides.
std::filesystem::path script_folder(const std::filesystem::path& script,
                                    const std::vector<std::filesystem::path>& hidden,
                                    std::string& why_not);

// A failing run's standard error `err` seems to look for a file beside the script (a
// module, a file it opens): the words that say so in the common interpreters.
bool looks_for_a_file(const std::string& err);

}  // namespace check
