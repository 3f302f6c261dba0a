#include "tests/robustness/programs.hpp"

#include "demos/demos.hpp"
#include "poly/polycalc.hpp"
#include "records/menu.hpp"
#include "sets/setcalc.hpp"
#include "strings/menu.hpp"

namespace robustness {
namespace {

// Adapts a dialogue that takes no arguments.
template <int (*dialogue)(console::Console&)>
int plain(console::Console& con, const std::vector<std::string>&) {
    return dialogue(con);
}

}  // namespace

const std::vector<Program>& programs() {
    static const std::vector<Program> all = {
        {"textkit", plain<strings::textkit>, true},
        {"textline", plain<strings::textline>, true},
        {"textwalk", plain<strings::textwalk>, true},
        {"polycalc", plain<poly::polycalc>, true},
        {"rollbook", plain<records::rollbook>, true},
        {"setcalc", plain<sets::setcalc>, true},
        {"greeter", plain<demos::greeter>, false},
        {"pairsum", plain<demos::pairsum>, false},
        {"charecho", plain<demos::charecho>, false},
    };
    return all;
}

const Program* find(std::string_view name) {
    for (const Program& p : programs())
        if (name == p.name) return &p;
    return nullptr;
}

console::Transcript replay(const Program& program, std::string_view input,
                           const std::vector<std::string>& args) {
    return console::replay(program.name, input,
                           [&](console::Console& con) { return program.dialogue(con, args); });
}

}  // namespace robustness
