// charecho's sessions: it reads nothing (check/sessions/ignored.hpp). What it prints, and so
// its status, is left open: by default it runs without input or arguments, as its one
// session that the exercise describes; open sessions give it some of each too.
#include "check/sessions/ignored.hpp"
#include "check/sessions/programs.hpp"

namespace check::sessions {

const Generator& charecho_sessions() {
    static const auto g = unread_sessions(Unread{true, false});
    return *g;
}

}  // namespace check::sessions
