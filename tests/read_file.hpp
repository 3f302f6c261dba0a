// Reading a whole file, for the test drivers.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tests {

// Puts the file's bytes in `text`; false (and `text` untouched) when it cannot be opened.
inline bool read_file(const std::filesystem::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    text = all.str();
    return true;
}

}  // namespace tests
