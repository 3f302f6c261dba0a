// Submissions given as sources: a C or C++ file, or a folder of them with one main, built
// with the system's compiler inside the sandbox and kept in a cache keyed by the sources.
#pragma once

#include <filesystem>
#include <string>

#include "check/sandbox.hpp"

namespace check {

struct Build {
    bool built = false;
    std::string message;               // the compiler's first lines (errors or warnings)
    std::filesystem::path executable;  // when built
};

// True when `path` is a C or C++ source file (.c, .cc, .cpp, .cxx) or a folder holding one.
bool is_source(const std::filesystem::path& path);

// Compiles the sources at `path` (a file, or every source of a folder, with the folder's
// headers beside them): cc -std=c17 for C, c++ -std=c++20 when any file is C++, both with
// -O2 -Wall and then `cflags` (words split at blanks), within generous limits of their
// own. A build of the same sources and flags is taken from the cache
// ($XDG_CACHE_HOME/collection-check, or ~/.cache/collection-check) when it is there.
Build build_sources(const std::filesystem::path& path, const std::string& cflags,
                    const Containment& containment);

}  // namespace check
