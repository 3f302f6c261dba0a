// A two-question dialogue on the console layer, driven by flush_test over pipes.
#include "console/console.hpp"
#include "console/wrap.hpp"

int main() {
    return console::run("prompt_probe", [](console::Console& con) {
        con.printf("first number :");
        int a = con.read_int();
        con.printf("second number :");
        int b = con.read_int();
        con.printf("sum %d", console::wrap_add(a, b));
        return 0;
    });
}
