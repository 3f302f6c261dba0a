// Submissions as they arrive from learning platforms: a student's folder may hold the
// program, its sources, a Makefile, one nested folder holding them, or an archive (.zip,
// .tar, .tar.gz, .tgz) holding them. find_submission() says which, and what was found when
// nothing can be graded; unpack() opens an archive safely.
//
// An archive is unpacked into a fresh folder of the checker's run folder, and only plain
// files and folders come out of it: an entry that is a link (symbolic or hard), a device or
// a FIFO, an absolute path, a path with "..", a path of more than kMaxUnpackedDepth parts, past
// kMaxUnpackedEntries entries, a file past kMaxUnpackedFileBytes or all together past
// kMaxUnpackedBytes refuses the whole archive: unpacking stops there and what was written
// is removed. Every file is made with O_EXCL and O_NOFOLLOW in a folder opened without
// following a link, so nothing written can land outside the fresh folder. An archive inside
// the archive is left as a file. A zip's central directory is measured from its end record
// before libarchive reads it: more entries than the bound, or more than kZipDirectoryBytes
// a bounded entry, refuse the archive unread.
//
// A student's folder kept as a repository (a GitHub Classroom clone: README, .github/,
// src/, include/, tests/, build/) is read as one: its hidden folders, build/ and tests/ are
// set aside (and said), a CMakeLists.txt project is built with cmake, and the sources of
// src/ are built with the headers of include/ beside them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace check {

constexpr std::uint64_t kMaxUnpackedBytes = 64ULL << 20;      // all files of an archive
constexpr std::uint64_t kMaxUnpackedFileBytes = 16ULL << 20;  // one file of an archive
constexpr std::size_t kMaxUnpackedEntries = 1000;             // files and folders of one
constexpr std::size_t kMaxUnpackedDepth = 8;                  // parts of an entry's path
constexpr std::uint64_t kZipDirectoryBytes = 512;  // central directory bytes allowed an entry

// What one archive may hold when unpacked; a student's archive has the bounds above.
struct UnpackBounds {
    std::uint64_t bytes = kMaxUnpackedBytes;
    std::uint64_t file_bytes = kMaxUnpackedFileBytes;
    std::size_t entries = kMaxUnpackedEntries;
    std::size_t depth = kMaxUnpackedDepth;
};

// True when the name of `path` ends as an archive that unpack() opens: .zip, .tar,
// .tar.gz or .tgz.
bool is_archive(const std::filesystem::path& path);

// Unpacks the archive file `archive` (opened without following a link) into the folder
// `into`, which it makes and which must not exist. Throws std::runtime_error saying why in
// plain words when the archive cannot be read or is refused (see the top of this file);
// then nothing of `into` is left.
void unpack(const std::filesystem::path& archive, const std::filesystem::path& into,
            const UnpackBounds& bounds = {});

// Throws std::runtime_error when the file open as `fd` is a zip whose end record (within its
// last 64 KiB and 22 bytes, every candidate weighed, ZIP64's too) claims more than
// `bounds.entries` entries or a central directory of more than kZipDirectoryBytes for each
// entry allowed (and 64 KiB); reads the end alone, never the directory.
void bound_zip_directory(int fd, const UnpackBounds& bounds);

// Copies the plain file `from` (opened without following a link) to the new file `to`
// (made with O_EXCL, never through a link), keeping its execute bit; returns the bytes
// copied. Throws std::runtime_error saying why when `from` is not a plain file, holds more
// than `most` bytes (or grows past it), or cannot be copied.
std::uint64_t copy_plain_file(const std::filesystem::path& from, const std::filesystem::path& to,
                              std::uint64_t most);

// Where a student's submission is, and what to say about it.
struct Arrival {
    enum class Kind {
        program,   // `path` is the executable
        sources,   // `path` is the folder of C or C++ sources to build
        makefile,  // `path` is the folder whose Makefile makes the program
        cmake,     // `path` is the folder whose CMakeLists.txt makes the program
        nothing,   // nothing to grade: `note` says what was found
        refused,   // `note` says why the submission is refused
    };
    Kind kind = Kind::nothing;
    std::filesystem::path path;
    std::string shown;  // the nested folder or the archive it is in, or "" (its top)
    // How it is used ("setcalc.c was built; ..."), what was found, or why it is refused.
    std::string note;
    std::string where;     // "found in setcalc-main/", "unpacked from work.zip, in proj/"
    std::string unpacked;  // the folder an archive was unpacked into, to remove afterwards
    // The student's folder that `path` stands for when the checker gathered it into a
    // folder of its own ("src/" with include/'s headers), relative to theirs; or "".
    std::string gathered;
};

// Finds the submission of PROGRAM `program` in the student's folder `folder`. At a folder's
// top, sources win, then a Makefile, then a CMakeLists.txt, then an executable named
// `program` (empty sources or an empty executable are nothing, said "empty"); when the top
// holds none, a repository's src/ is built with its include/ (gathered into a fresh folder
// of `unpack_base`), else the one folder it holds once build/, tests/ and hidden folders are
// set aside is looked at the same way, and else the one archive, which is unpacked into a
// fresh folder of `unpack_base` and looked at (its top, or the one folder at its top).
// Names beginning with '.' and __MACOSX folders are passed over. Nothing is followed: a link
// counts as what it is, never as what it leads to.
Arrival find_submission(const std::filesystem::path& folder, const std::string& program,
                        const std::filesystem::path& unpack_base);

// Up to `most` names as a person reads them: "a", "a and b", "a, b and c",
// "a, b, c and 2 more"; each made visible (no byte acts instead of showing).
std::string some_names(const std::vector<std::string>& names, std::size_t most = 3);

}  // namespace check
