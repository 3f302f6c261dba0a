// The sessions of the programs that read nothing (greeter, pairsum, charecho): no input and
// no arguments, or input lines and arguments that the program leaves unread.
#pragma once

#include <memory>

#include "check/sessions/session.hpp"

namespace check::sessions {

// What the exercise fixes for a program that reads nothing.
struct Unread {
    bool status_open = false;  // its exit status is left open
    bool unread_fixed = true;  // its output with input and arguments is fixed too
};

// The generator of sessions for a program that reads nothing, as `unread` says.
std::unique_ptr<Generator> unread_sessions(const Unread& unread);

}  // namespace check::sessions
