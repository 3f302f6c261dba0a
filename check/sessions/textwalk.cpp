// textwalk's sessions: the string toolkit's sessions (check/sessions/texts.hpp) with the
// first string read as a whole line; entry 6 looks for a word that occurs in it, since the
// answer for one that does not is left open.
#include "check/sessions/programs.hpp"
#include "check/sessions/texts.hpp"

namespace check::sessions {

const Generator& textwalk_sessions() {
    static const auto g = text_sessions(TextReads{true, false, true});
    return *g;
}

}  // namespace check::sessions
