// textline's sessions: the string toolkit's sessions (check/sessions/texts.hpp) with the
// first string and entry 4's string read as whole lines, blanks and all.
#include "check/sessions/programs.hpp"
#include "check/sessions/texts.hpp"

namespace check::sessions {

const Generator& textline_sessions() {
    static const auto g = text_sessions(TextReads{true, true, false});
    return *g;
}

}  // namespace check::sessions
