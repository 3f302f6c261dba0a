// Submissions given as sources: a C or C++ file (with more files named beside it, and the
// headers its sources include from their own folders), or a folder of them with one main,
// built with the system's compiler inside the sandbox and kept in a cache keyed by the
// sources.
//
// What a build takes and keeps is bounded, whatever the sources hold: at most kMaxSources
// files, each at most kMaxSourceBytes and all together at most kMaxAllSourceBytes, read as
// plain files never through a symbolic link; file names are passed to the compiler so that
// none reads as an option or a response file; the program made is read without following
// a link and kept only when it is a plain file of at most kMaxProgramBytes; the cache
// holds at most the bound it is given, the builds used longest ago going first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "check/sandbox.hpp"

namespace check {

constexpr std::size_t kMaxSources = 200;                   // files of one build
constexpr std::uint64_t kMaxSourceBytes = 1ULL << 20;      // one source or header
constexpr std::uint64_t kMaxAllSourceBytes = 16ULL << 20;  // every file of one build
constexpr std::uint64_t kMaxProgramBytes = 64ULL << 20;    // the program a build makes
constexpr std::uint64_t kDefaultCacheBytes = 256ULL << 20;

struct Build {
    bool built = false;
    std::string message;               // the compiler's first lines (errors or warnings)
    std::filesystem::path executable;  // when built
    // How it was compiled, for a line a person can type to build it again: the compiler
    // ("cc" or "c++"), the flags before the sources, the sources compiled (the names within
    // the folder, or the files as they were given) and the linker's flags after them.
    std::string compiler;
    std::vector<std::string> flags, sources, libs;
};

// What a build is given besides its sources and compiler flags.
struct BuildExtras {
    std::string libs;  // the linker's flags, after the sources (words split at blanks)
    // More files built with a source file (sources or headers, each named as it is found):
    // a folder's build takes none.
    std::vector<std::filesystem::path> more;
};

// True when `path` is a C or C++ source file (.c, .cc, .cpp, .cxx) or a folder holding one.
bool is_source(const std::filesystem::path& path);

// True when `path` is a plain file (reached through links or not) whose name ends as a C or
// C++ source or header does: a file that can be built with a source file.
bool is_build_file(const std::filesystem::path& path);

// Compiles the sources at `path` (every source of a folder, with the folder's headers
// beside them; or a file with the files `extras.more`, and the headers that these include
// by a plain name ("myset.h") from the folder of the file that includes them, all in one
// folder): cc -std=c17 for C, c++ -std=c++20 when any file is C++, both with -O2 -Wall and
// then `cflags` (words split at blanks; a word beginning with -l goes after the sources),
// then the sources, then `extras.libs` and, for C, -lm (the math library). A build that
// fails says which files were built together and which standard, and the likely remedy for
// the common failures (two mains, a header not found, a definition not found). `path` and
// `extras.more` may be reached through links (the caller chose them); what a folder holds,
// and an included header, may not. Two files of the same name are refused. A build of the
// same sources and flags is taken from the cache
// ($XDG_CACHE_HOME/collection-check, or ~/.cache/collection-check) when it is there; the
// cache then holds at most `cache_bytes` (0: no cache, the build is kept only for this
// run). Throws std::runtime_error, saying why in plain words, for sources that are refused:
// too many, too large, links, or names holding control bytes.
Build build_sources(const std::filesystem::path& path, const std::string& cflags,
                    const Containment& containment, std::uint64_t cache_bytes = kDefaultCacheBytes,
                    const BuildExtras& extras = {});

// The command that makes the program of the build `b` again, as a person types it: the
// compiler, its flags, `sources` (the sources of `b` as the person names them), -o
// `output`, and the linker's flags.
std::vector<std::string> build_line(const Build& b, const std::vector<std::string>& sources,
                                    const std::string& output);

// Makes the program `program` from the folder `folder` that holds a Makefile: `make --
// PROGRAM` run contained as `containment` says, within generous limits of its own, in a
// working folder holding a copy of the folder's files and folders (read as sources are:
// plain files, never through a link, at most kMaxSources of them, kMaxSourceBytes each and
// kMaxAllSourceBytes together, names beginning with '.' passed over, and the top's file
// named `program` left out so that it is made anew). When the Makefile has no rule for
// PROGRAM, plain `make` makes its first target; then, or when `make -- PROGRAM` made no file
// of that name, the one executable it made is the program, and the message says so first.
// The program made is read as a compiler's is. Never cached. Throws std::runtime_error for
// files that are refused.
Build make_program(const std::filesystem::path& folder, const std::string& program,
                   const Containment& containment);

// Builds the CMake project of the folder `folder`: `cmake -S . -B build` (Release) and
// `cmake --build build`, run contained as make_program runs make, in a working folder
// holding a copy of the project read as make_program reads it (a committed top build/ left
// out). The executable named PROGRAM that it made is the program, or else its only one
// (the message says so); more, or none, fail the build and are named.
Build cmake_program(const std::filesystem::path& folder, const std::string& program,
                    const Containment& containment);

// Tells the cache that the build whose program is `executable` is no longer used by this
// checker: from then on it may go when the cache is past its bound.
void release_build(const std::filesystem::path& executable);

// SHA-256, the cache key of a build: fed in pieces, read as 64 hexadecimal digits.
class Sha256 {
public:
    Sha256();
    void add(const char* data, std::size_t size);
    void add(const std::string& s) { add(s.data(), s.size()); }
    // The digest of everything added; the object is spent afterwards.
    std::string hex();

private:
    void block(const unsigned char* p);
    std::uint32_t h_[8];
    unsigned char buffer_[64] = {};
    std::size_t used_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace check
