// greeter's sessions, and those of the other programs that read nothing
// (check/sessions/ignored.hpp): no input and no arguments, or some of each, left unread.
#include <iterator>

#include "check/sessions/ignored.hpp"
#include "check/sessions/programs.hpp"

namespace check::sessions {

namespace {

struct Given {
    std::vector<std::string> args;   // arguments, each a word or two
    std::vector<std::string> lines;  // input lines, without their line feeds
};

const Given& of(const Session& s) { return std::any_cast<const Given&>(s.value); }

// A short word or line of the kind a user might type at a program that reads nothing.
std::string words(Draw& d) {
    static const char* const some[] = {"1", "x y", "--help", "Rhea 30", "-", "1 2 3", "yes", ""};
    return some[d.below(std::size(some))];
}

class UnreadSessions final : public Generator {
public:
    explicit UnreadSessions(const Unread& unread) : unread_(unread) {}

    Session draw(Draw& d, unsigned size, bool open) const override {
        Given g;
        if ((open || unread_.unread_fixed) && d.chance(60)) {
            const long long most = 1 + static_cast<long long>(size) / 20;
            for (long long i = d.between(0, most); i > 0; --i) g.args.push_back(words(d));
            for (long long i = d.between(0, most); i > 0; --i) g.lines.push_back(words(d));
        }
        return Session{g};
    }

    std::vector<Session> smaller(const Session& session, bool /*open*/) const override {
        const Given& s = of(session);
        std::vector<Session> out;
        for (auto field : {&Given::args, &Given::lines})
            for (const auto& keep : fewer((s.*field).size())) {
                Given t = s;
                (t.*field).clear();
                for (std::size_t i : keep) (t.*field).push_back((s.*field)[i]);
                out.push_back(Session{t});
            }
        return out;
    }

    Fed feed(const Session& session) const override {
        const Given& s = of(session);
        Fed f;
        f.args = s.args;
        for (const std::string& line : s.lines) {
            f.input += line;
            f.input += '\n';
        }
        f.status_open = unread_.status_open;
        return f;
    }

    std::string describe(const Session& session) const override {
        const Given& s = of(session);
        if (s.args.empty() && s.lines.empty()) return "a run without input or arguments";
        return "a run with input or arguments, left unread";
    }

private:
    Unread unread_;
};

}  // namespace

std::unique_ptr<Generator> unread_sessions(const Unread& unread) {
    return std::make_unique<UnreadSessions>(unread);
}

const Generator& greeter_sessions() {
    static const auto g = unread_sessions(Unread{false, true});
    return *g;
}

}  // namespace check::sessions
