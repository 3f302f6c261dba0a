#include "demos/demos.hpp"

#include <cstring>
#include <iostream>

#include "demos/person.hpp"

namespace demos {

numbers n;

namespace {

// Ends a dialogue: writes out what is still pending, so that a write that fails (a full
// disk) is noted with its reason for the output check at exit; returns `status`.
int finish(console::Console& con, int status) {
    con.flush();
    return status;
}

}  // namespace

int greeter(console::Console& con) {
    person p("Morvelin", 20);
    p.introduce();
    std::cout << "\np\n";
    person p3;
    p3.introduce();
    return finish(con, 0);  // the standard output stream writes into stdout's buffer
}

int pairsum(console::Console& con) {
    n.first = 10;
    n.second = 20;
    return finish(con, con.printf("%d", n.first + n.second));
}

int charecho(console::Console& con) {
    // The end-of-file marker designates no string: what is copied is the empty string, which
    // fits the buffer's one character and terminator.
    constexpr char no_string[] = "";
    char ch[2] = {};
    std::strcpy(ch, no_string);
    return finish(con, con.printf("%s", ch));
}

}  // namespace demos
