// filetool: copies a file or types it, as chosen from a menu; the dialogue is
// files::filetool (filetool.cpp).
#include "console/console.hpp"
#include "files/filetool.hpp"

int main(int argc, char** argv) {
    return console::run("filetool",
                        [&](console::Console& con) { return files::filetool(con, argc, argv); });
}
