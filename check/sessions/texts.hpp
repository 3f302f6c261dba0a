// The string toolkit's sessions, shared by textkit, textline and textwalk: a first string,
// menu passes (entries 4 and 6 with their second string), then a choice that ends the menu.
// The three programs differ only in how their strings are read, and in what textwalk's
// substring search leaves open.
#pragma once

#include <memory>

#include "check/sessions/session.hpp"

namespace check::sessions {

// How one of the three programs reads its strings.
struct TextReads {
    bool given_is_line = false;    // the first string is a whole line (else one word)
    bool compare_is_line = false;  // entry 4's string is the next whole line (else a word)
    bool search_open = false;      // entry 6 for a word that does not occur is left open
};

// The generator of sessions for a program that reads its strings as `reads` says.
std::unique_ptr<Generator> text_sessions(const TextReads& reads);

}  // namespace check::sessions
