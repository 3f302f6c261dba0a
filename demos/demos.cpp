#include "demos/demos.hpp"

#include <cstring>
#include <iostream>

#include "demos/person.hpp"

namespace demos {

numbers n;

int greeter(console::Console& /*con*/) {
    person p("Morvelin", 20);
    p.introduce();
    std::cout << "\np\n";
    person p3;
    p3.introduce();
    return 0;
}

int pairsum(console::Console& con) {
    n.first = 10;
    n.second = 20;
    return con.printf("%d", n.first + n.second);
}

int charecho(console::Console& con) {
    // The end-of-file marker designates no string: what is copied is the empty string, which
    // fits the buffer's one character and terminator.
    constexpr char no_string[] = "";
    char ch[2] = {};
    std::strcpy(ch, no_string);
    return con.printf("%s", ch);
}

}  // namespace demos
