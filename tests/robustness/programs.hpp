// The collection's programs as the robustness drivers see them: each one's dialogue, ready
// to be driven in-process with the command-line arguments a case gives it.
#pragma once

#include "console/console.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace robustness {

struct Program {
    const char* name;
    // The dialogue, given the arguments after the program's name.
    int (*dialogue)(console::Console& con, const std::vector<std::string>& args);
    bool reads_input;  // false for the programs that never read standard input
};

// Every program of the collection.
const std::vector<Program>& programs();

// The program of that name, or nullptr.
const Program* find(std::string_view name);

// Drives `program` in-process with `input` as its standard input.
console::Transcript replay(const Program& program, std::string_view input,
                           const std::vector<std::string>& args = {});

}  // namespace robustness
