// filetool's sessions (none drawn yet: every session is empty input).
#include "check/sessions/programs.hpp"

namespace check::sessions {

namespace {

class Sessions final : public Generator {
public:
    Session draw(Draw&, unsigned, bool) const override { return Session{0}; }
    std::vector<Session> smaller(const Session&, bool) const override { return {}; }
    Fed feed(const Session&) const override { return Fed{}; }
    std::string describe(const Session&) const override { return ""; }
};

}  // namespace

const Generator& filetool_sessions() {
    static const Sessions g;
    return g;
}

}  // namespace check::sessions
