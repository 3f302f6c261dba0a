#include "tests/robustness/programs.hpp"

#include "demos/demos.hpp"
#include "files/filetool.hpp"
#include "matrix/menu.hpp"
#include "poly/polycalc.hpp"
#include "records/menu.hpp"
#include "sets/setcalc.hpp"
#include "strings/menu.hpp"

namespace robustness {
namespace {

// Adapts a dialogue that takes no arguments.
template <int (*dialogue)(console::Console&)>
int plain(console::Console& con, const std::vector<std::string>& /*args*/) {
    return dialogue(con);
}

// filetool takes its two paths from the command line.
int filetool(console::Console& con, const std::vector<std::string>& args) {
    std::vector<std::string> words = {"filetool"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return files::filetool(con, static_cast<int>(words.size()), argv.data());
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
        {"gridcalc", plain<matrix::gridcalc>, true},
        {"gridheap", plain<matrix::gridheap>, true},
        {"filetool", filetool, true},
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
