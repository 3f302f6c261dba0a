#include "check/build.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "check/case.hpp"
#include "check/judge.hpp"
#include "check/run.hpp"

namespace fs = std::filesystem;

namespace check {

namespace {

// The generous limits of a build (a compiler's or make's run), with its own times.
Limits build_limits(double wall, double cpu) {
    Limits limits;
    limits.wall = wall;
    limits.cpu = cpu;
    limits.memory = 4ULL << 30;
    limits.output = 1ULL << 20;
    limits.file_size = 256ULL << 20;
    limits.scratch = 512ULL << 20;
    limits.processes = 64;
    limits.open_files = 256;
    return limits;
}

constexpr std::size_t kMessageLines = 20;
constexpr std::size_t kChunk = 64U << 10;  // bytes read or copied at once

bool has_ending(const fs::path& p, std::initializer_list<const char*> endings) {
    const std::string e = p.extension().string();
    return std::any_of(endings.begin(), endings.end(), [&](const char* x) { return e == x; });
}

bool is_c_or_cpp(const fs::path& p) { return has_ending(p, {".c", ".cc", ".cpp", ".cxx"}); }
bool is_cpp(const fs::path& p) { return has_ending(p, {".cc", ".cpp", ".cxx"}); }
bool is_header(const fs::path& p) { return has_ending(p, {".h", ".hh", ".hpp", ".hxx"}); }

// Up to three names of `names`, made visible, then how many more: "a, b, c and 2 more".
std::string some_executables(const std::vector<std::string>& names) {
    std::string s;
    for (std::size_t i = 0; i < names.size() && i < 3; ++i)
        s += (i == 0 ? "" : ", ") + visible_text(names[i], Shown::name);
    if (names.size() > 3) s += " and " + std::to_string(names.size() - 3) + " more";
    return s;
}

// A size in MiB as a person reads it: "60 MiB", "1.5 MiB".
std::string in_mib(std::uint64_t bytes) {
    return quantity(std::round(static_cast<double>(bytes) / (1 << 20) * 10) / 10, "MiB");
}

// A file descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// Reads the source `name` of the folder open as `dir` (or, with dir = AT_FDCWD, the file
// `name` itself) into `text`, feeding `key` as it goes: a plain file, never through a link,
// at most kMaxSourceBytes, and no more than `budget` (what the build may still read).
void read_source(int dir, const std::string& name, std::string& text, Sha256& key,
                 std::uint64_t& budget) {
    const std::string shown = visible_text(fs::path(name).filename().string(), Shown::name);
    Fd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.fd < 0)
        throw std::runtime_error(shown + ": " +
                                 (errno == ELOOP ? std::string("a symbolic link; sources must be "
                                                               "plain files of the submission")
                                                 : std::string(std::strerror(errno))));
    struct stat st {};
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw std::runtime_error(shown + ": not a plain file");
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > kMaxSourceBytes)
        throw std::runtime_error(shown + " is " + in_mib(size) + "; sources may hold at most " +
                                 in_mib(kMaxSourceBytes));
    if (size > budget)
        throw std::runtime_error("the sources hold more than " + in_mib(kMaxAllSourceBytes) +
                                 " together (" + shown + " is past it)");
    std::array<char, kChunk> chunk{};
    text.clear();
    for (;;) {
        const ssize_t n = ::read(fd.fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error(shown + ": " + std::strerror(errno));
        if (n == 0) break;
        const auto got = static_cast<std::uint64_t>(n);
        if (text.size() + got > kMaxSourceBytes || got > budget)
            throw std::runtime_error(shown + " grew past " + in_mib(kMaxSourceBytes) +
                                     " while it was read");
        key.add(chunk.data(), got);
        text.append(chunk.data(), got);
        budget -= got;
    }
}

// The cache folder, made when missing; empty when there is no home to hold it.
fs::path cache_folder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    fs::path base = xdg && *xdg ? fs::path(xdg) : home && *home ? fs::path(home) / ".cache" : "";
    if (base.empty()) return {};
    std::error_code ec;
    fs::create_directories(base / "collection-check", ec);
    if (ec) return {};
    ::chmod((base / "collection-check").c_str(), 0700);
    return base / "collection-check";
}

// Guards the cache between the threads of one checker; the entries this checker has used,
// which its own eviction never removes.
std::mutex cache_mutex;
std::set<std::string> entries_in_use;

// The bytes the disk gives the files of an entry (sparse files count what they take).
std::uint64_t entry_bytes(const fs::path& entry) {
    std::uint64_t total = 0;
    std::error_code ec;
    for (const auto& f : fs::directory_iterator(entry, ec)) {
        struct stat st {};
        if (::lstat(f.path().c_str(), &st) == 0)
            total += std::max<std::uint64_t>(static_cast<std::uint64_t>(st.st_blocks) * 512,
                                             static_cast<std::uint64_t>(st.st_size));
    }
    return total;
}

// Removes the entries of the cache used longest ago (by the time of the entry's folder,
// which each use renews) until it holds at most `bound` bytes. Call with cache_mutex held.
void evict(const fs::path& cache, std::uint64_t bound) {
    struct Found {
        fs::file_time_type used;
        fs::path path;
        std::uint64_t bytes;
    };
    std::vector<Found> found;
    std::uint64_t total = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(cache, ec)) {
        if (!e.is_directory(ec) || e.is_symlink(ec)) continue;
        const std::uint64_t bytes = entry_bytes(e.path());
        found.push_back({e.last_write_time(ec), e.path(), bytes});
        total += bytes;
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.used < b.used; });
    for (const Found& f : found) {
        if (total <= bound) break;
        if (entries_in_use.contains(f.path.filename().string())) continue;
        fs::remove_all(f.path, ec);
        if (!ec) total -= f.bytes;
    }
}

// Copies the program the compiler made, `made`, into `keep`/program: read without
// following a link, a plain file of at most kMaxProgramBytes, copied from its descriptor.
// "" when kept, or else why not.
std::string keep_program(const fs::path& made, const fs::path& keep) {
    Fd in(::open(made.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (in.fd < 0)
        return errno == ELOOP ? "the compiler's output is a symbolic link, not a program"
                              : std::string("the program cannot be read: ") + std::strerror(errno);
    struct stat st {};
    if (::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) return "the compiler made no plain file";
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > kMaxProgramBytes)
        return "the program the compiler made is " + in_mib(size) + "; a build may make at most " +
               in_mib(kMaxProgramBytes);
    const fs::path part = keep / "program.part";
    ::unlink(part.c_str());
    Fd out(::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
    if (out.fd < 0) return std::string("the program cannot be kept: ") + std::strerror(errno);
    std::array<char, kChunk> chunk{};
    std::uint64_t copied = 0;
    for (;;) {
        const ssize_t n = ::read(in.fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::string("the program cannot be read: ") + std::strerror(errno);
        if (n == 0) break;
        copied += static_cast<std::uint64_t>(n);
        if (copied > kMaxProgramBytes) return "the program grew while it was read";
        for (ssize_t at = 0; at < n;) {
            const ssize_t w = ::write(out.fd, chunk.data() + at, static_cast<std::size_t>(n - at));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) return std::string("the program cannot be kept: ") + std::strerror(errno);
            at += w;
        }
    }
    if (::fchmod(out.fd, 0755) != 0 || ::fsync(out.fd) != 0)
        return std::string("the program cannot be kept: ") + std::strerror(errno);
    if (::rename(part.c_str(), (keep / "program").c_str()) != 0)
        return std::string("the program cannot be kept: ") + std::strerror(errno);
    return "";
}

// The SHA-256 round constants.
constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t rotate(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

Sha256::Sha256()
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::block(const unsigned char* p) {
    std::array<std::uint32_t, 64> w{};
    for (std::size_t i = 0; i < 16; ++i)
        w[i] = static_cast<std::uint32_t>(p[4 * i]) << 24 |
               static_cast<std::uint32_t>(p[4 * i + 1]) << 16 |
               static_cast<std::uint32_t>(p[4 * i + 2]) << 8 |
               static_cast<std::uint32_t>(p[4 * i + 3]);
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6],
                  h = h_[7];
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t t1 = h + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) +
                                 ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const std::uint32_t t2 =
            (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g, g = f, f = e, e = d + t1, d = c, c = b, b = a, a = t1 + t2;
    }
    h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e, h_[5] += f, h_[6] += g, h_[7] += h;
}

void Sha256::add(const char* data, std::size_t size) {
    length_ += size;
    for (std::size_t i = 0; i < size; ++i) {
        buffer_[used_++] = static_cast<unsigned char>(data[i]);
        if (used_ == 64) block(buffer_), used_ = 0;
    }
}

std::string Sha256::hex() {
    const std::uint64_t bits = length_ * 8;
    const char one = static_cast<char>(0x80), zero = 0;
    add(&one, 1);
    while (used_ != 56) add(&zero, 1);
    for (int k = 7; k >= 0; --k) {
        const char b = static_cast<char>((bits >> (8 * k)) & 0xff);
        add(&b, 1);
    }
    std::string out;
    for (std::uint32_t v : h_) {
        char part[16];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(v));
        out += part;
    }
    return out;
}

namespace {

// The part of a build's cache key that is `s`, headed by its length so that parts cannot
// run together.
void key_part(Sha256& key, const std::string& s) { key.add(std::to_string(s.size()) + ":" + s); }

// The headers that `text` includes by a plain name (#include "NAME", NAME without a slash
// or a control byte and not beginning with '.'), in the order it names them.
std::vector<std::string> quoted_includes(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::size_t at = line.find_first_not_of(" \t");
        if (at == std::string::npos || line[at] != '#') continue;
        at = line.find_first_not_of(" \t", at + 1);
        if (at == std::string::npos || line.compare(at, 7, "include") != 0) continue;
        at = line.find_first_not_of(" \t", at + 7);
        if (at == std::string::npos || line[at] != '"') continue;
        const std::size_t end = line.find('"', at + 1);
        if (end == std::string::npos) continue;
        const std::string name = line.substr(at + 1, end - at - 1);
        const bool control = std::any_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
        });
        if (!name.empty() && name.find('/') == std::string::npos && !name.starts_with(".") &&
            !control)
            names.push_back(name);
    }
    return names;
}

// Reads the files `given` (paths a person named, reached through links or not) into
// `into`, each under its own name, and then every header they include by a plain name that
// the folder of the file including it holds (read without following a link), feeding `key`
// as they go, within the bounds of a build. Two files of the same name are refused.
void read_named(const std::vector<std::string>& given, std::vector<Entry>& into, Sha256& key,
                std::uint64_t& budget) {
    struct Wanted {
        fs::path folder;
        std::string name;
        bool named;  // given by the person, not found by an #include
    };
    std::vector<Wanted> queue;
    for (const std::string& g : given) {
        const fs::path p(g);
        queue.push_back(
            {p.has_parent_path() ? p.parent_path() : fs::path("."), p.filename().string(), true});
    }
    std::set<std::string> taken;
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const Wanted w = queue[i];
        const std::string shown = visible_text(w.name, Shown::name);
        if (taken.contains(w.name)) {
            if (w.named)
                throw std::runtime_error("two files named " + shown +
                                         ": the files built together need names of their own");
            continue;  // included again, or by files of two folders: the first one found
        }
        Fd dir(::open(w.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.fd < 0)
            throw std::runtime_error(visible_text(w.folder.string(), Shown::name) + ": " +
                                     std::strerror(errno));
        if (!w.named) {  // a header the sources include: taken when its folder holds it
            struct stat st {};
            if (::fstatat(dir.fd, w.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        }
        if (into.size() >= kMaxSources)
            throw std::runtime_error("more than " + std::to_string(kMaxSources) +
                                     " files to build together");
        Entry e;
        e.path = w.name;
        key_part(key, e.path);
        const std::uint64_t before = budget;
        read_source(dir.fd, w.name, e.content, key, budget);
        key_part(key, std::to_string(before - budget));
        taken.insert(w.name);
        for (const std::string& name : quoted_includes(e.content))
            queue.push_back({w.folder, name, false});
        into.push_back(std::move(e));
    }
}

// The flags of a build: before the sources (-O2 -Wall, the standard, then `cflags` less
// its -l words) and after them (the -l words of `cflags`, then `libs`, then -lm for C).
void split_flags(const std::string& cflags, const std::string& libs, bool cpp,
                 std::vector<std::string>& before, std::vector<std::string>& after) {
    before = {"-O2", "-Wall", cpp ? "-std=c++20" : "-std=c17"};
    after.clear();
    std::istringstream words(cflags);
    for (std::string w; words >> w;) (w.starts_with("-l") ? after : before).push_back(w);
    std::istringstream more(libs);
    for (std::string w; more >> w;) after.push_back(w);
    if (!cpp && std::find(after.begin(), after.end(), "-lm") == after.end())
        after.emplace_back("-lm");
}

// The lines that end the message of a build that failed: the files built together and the
// standard used, and the remedy for the failure the compiler's text `said` shows, when it
// is one of the common ones.
std::string failure_notes(const std::vector<Entry>& files, const std::vector<std::string>& flags,
                          bool cpp, bool folder, const std::string& said) {
    std::string names;
    std::size_t shown = 0;
    for (const Entry& e : files) {
        if (++shown > 20) {
            names += " and " + std::to_string(files.size() - 20) + " more";
            break;
        }
        names += (names.empty() ? "" : ", ") + visible_text(e.path, Shown::name);
    }
    std::string standard =
        cpp ? "C++20 (-std=c++20; --cflags=-std=c++23 builds as C++23)" : "C17 (-std=c17)";
    for (std::size_t k = 3; k < flags.size(); ++k)  // a standard the person chose
        if (const std::string& f = flags[k]; f.starts_with("-std=")) {
            standard = f.substr(5);
            for (char& c : standard)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            standard += " (" + f + ")";
        }
    std::string notes = "built together: " + names + "; as " + standard + "\n";
    if (said.find("multiple definition of `main'") != std::string::npos ||
        said.find("multiple definition of \u2018main\u2019") != std::string::npos)
        notes += std::string("more than one of these files defines main: ") +
                 (folder ? "move the old one out of the folder, or name the sources to build "
                           "after the program (collection-check PROGRAM ./main.c ./sets.c)\n"
                         : "leave the old one out of the files named\n");
    const std::string missing = ": No such file or directory";
    std::string header;  // the first header the compiler did not find, when one did not
    for (std::size_t at = said.find("fatal error: "); at != std::string::npos && header.empty();
         at = said.find("fatal error: ", at + 1)) {
        const std::size_t from = at + 13, end = said.find('\n', from);
        const std::string line = said.substr(from, end == std::string::npos ? end : end - from);
        if (line.ends_with(missing)) header = line.substr(0, line.size() - missing.size());
    }
    const bool quoted =
        !header.empty() && std::any_of(files.begin(), files.end(), [&](const Entry& e) {
            return e.content.find("\"" + header + "\"") != std::string::npos;
        });
    if (quoted) {
        const std::string shown_header = visible_text(header, Shown::name);
        notes += "the header " + shown_header +
                 " was not found: a header is taken from the folder of the source that "
                 "includes it by its plain name; name it after the sources "
                 "(collection-check PROGRAM ./main.c ../include/" +
                 shown_header +
                 "), or give the folder that holds the sources and headers "
                 "(collection-check PROGRAM ./FOLDER/)\n";
    }
    if (said.find("undefined reference to") != std::string::npos)
        notes += std::string("a function was not found: ") +
                 (folder ? "" : "name every source after the first, or give their folder; ") +
                 "a library goes in --libs (--libs=-lNAME)\n";
    return notes;
}

}  // namespace

bool is_build_file(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && (is_c_or_cpp(path) || is_header(path));
}

std::vector<std::string> build_line(const Build& b, const std::vector<std::string>& sources,
                                    const std::string& output) {
    std::vector<std::string> line = {b.compiler};
    line.insert(line.end(), b.flags.begin(), b.flags.end());
    line.insert(line.end(), sources.begin(), sources.end());
    line.insert(line.end(), {"-o", output});
    line.insert(line.end(), b.libs.begin(), b.libs.end());
    return line;
}

bool is_source(const fs::path& path) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) return is_c_or_cpp(path);
    if (!fs::is_directory(path, ec)) return false;
    for (const auto& e : fs::directory_iterator(path, ec))
        if (is_c_or_cpp(e.path()) && e.is_regular_file(ec)) return true;
    return false;
}

Build build_sources(const fs::path& path, const std::string& cflags, const Containment& containment,
                    std::uint64_t cache_bytes, const BuildExtras& extras) {
    // The files that go into the build: the sources, and a folder's headers, found in the
    // folder opened once, so that every file is read from that folder and no other.
    std::error_code ec;
    const bool folder = fs::is_directory(path, ec);
    Fd dir(folder ? ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD);
    if (folder && dir.fd < 0) throw std::runtime_error(path.string() + ": " + std::strerror(errno));
    std::vector<std::string> files;  // names in the folder, or the paths of the files named
    if (folder) {
        const int listed = ::dup(dir.fd);
        DIR* d = listed >= 0 ? ::fdopendir(listed) : nullptr;
        if (d == nullptr) throw std::runtime_error(path.string() + ": " + std::strerror(errno));
        // readdir on a stream no other thread uses is safe (glibc); readdir_r is deprecated.
        // cppcheck-suppress readdirCalled
        while (const dirent* e = ::readdir(d)) {  // NOLINT(concurrency-mt-unsafe): own stream
            const std::string name = e->d_name;
            if (!is_c_or_cpp(name) && !is_header(name)) continue;
            if (files.size() >= kMaxSources) {
                ::closedir(d);
                throw std::runtime_error(path.string() + ": more than " +
                                         std::to_string(kMaxSources) + " sources");
            }
            files.push_back(name);
        }
        ::closedir(d);
        std::sort(files.begin(), files.end());
    } else {
        files.push_back(path.string());
        for (const fs::path& m : extras.more)
            if (std::find(files.begin(), files.end(), m.string()) == files.end())
                files.push_back(m.string());
    }
    for (const std::string& f : files) {
        const std::string name = fs::path(f).filename().string();
        if (std::any_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
            throw std::runtime_error("the source name " + visible_text(name, Shown::name) +
                                     " holds control bytes");
    }
    const bool cpp =
        std::any_of(files.begin(), files.end(), [](const std::string& f) { return is_cpp(f); });
    const fs::path compiler = fs::canonical(find_executable(cpp ? "c++" : "cc"));
    std::vector<std::string> flags, libs;
    split_flags(cflags, extras.libs, cpp, flags, libs);
    Build b;
    b.compiler = cpp ? "c++" : "cc";
    b.flags = flags;
    b.libs = libs;
    for (const std::string& f : files)
        if (is_c_or_cpp(f)) b.sources.push_back(f);
    flags.emplace_back("-pipe");

    Case sources;  // the working folder the compiler runs in holds the sources
    sources.name = "build";
    Sha256 key;
    // Each part of the key is headed by its length, so that parts cannot run together.
    auto part = [&](const std::string& s) { key.add(std::to_string(s.size()) + ":" + s); };
    part(compiler.string());
    for (const std::string& f : flags) part(f);
    part("after");
    for (const std::string& f : libs) part(f);
    std::uint64_t budget = kMaxAllSourceBytes;
    if (!folder) read_named(files, sources.files, key, budget);
    for (const std::string& f : folder ? files : std::vector<std::string>()) {
        Entry e;
        e.path = fs::path(f).filename().string();
        part(e.path);
        const std::uint64_t before = budget;
        read_source(dir.fd, f, e.content, key, budget);
        part(std::to_string(before - budget));
        sources.files.push_back(std::move(e));
    }
    const std::string hex = key.hex();
    const fs::path cache = cache_bytes == 0 ? fs::path() : cache_folder();
    const fs::path entry = cache.empty() ? fs::path() : cache / hex;
    if (!entry.empty()) {
        std::lock_guard<std::mutex> lock(cache_mutex);
        struct stat st {};
        if (::lstat((entry / "message").c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            read_file(entry / "message", b.message)) {
            b.built = ::lstat((entry / "program").c_str(), &st) == 0 && S_ISREG(st.st_mode);
            if (b.built) b.executable = entry / "program";
            entries_in_use.insert(hex);
            fs::last_write_time(entry, fs::file_time_type::clock::now(), ec);  // used now
            return b;
        }
    }

    const Limits limits = build_limits(120, 60);
    Scratch scratch(sources, std::chrono::seconds(10), limits);
    Program p;
    p.executable = compiler;
    p.argv = {compiler.filename().string()};
    p.argv.insert(p.argv.end(), flags.begin(), flags.end());
    // "./NAME": no source name can read as an option (-...) or a response file (@...).
    for (const std::string& f : b.sources) p.argv.push_back("./" + fs::path(f).filename().string());
    p.argv.insert(p.argv.end(), {"-o", "program"});
    p.argv.insert(p.argv.end(), libs.begin(), libs.end());
    p.folder = scratch.path();
    p.env = {"TMPDIR=" + scratch.path().string()};
    Outcome o = run_contained(p, limits, containment);
    const std::string said = plain_lines(o.err + o.out, kMessageLines);
    const fs::path made = scratch.path() / "program";
    b.built = o.end == Outcome::End::exited && o.code == 0;
    if (!b.built) {
        b.message = said.empty() ? "the compiler ended without a program" : said;
        if (o.end == Outcome::End::not_started) b.message = o.start_error + "\n";
        if (o.end == Outcome::End::wall_limit) b.message = "the compiler took too long\n" + said;
        flags.pop_back();  // -pipe
        b.message += failure_notes(sources.files, flags, cpp, folder, o.err + o.out);
    } else {
        b.message = said;
    }
    // Kept where the cache is, or else beside the run's working folders.
    std::lock_guard<std::mutex> lock(cache_mutex);
    // A program larger than the whole cache may hold is kept for this run only.
    struct stat made_st {};
    const bool fits = ::lstat(made.c_str(), &made_st) == 0 &&
                      static_cast<std::uint64_t>(made_st.st_size) + (64U << 10) <= cache_bytes;
    const bool cached = !entry.empty() && fits;
    const fs::path keep = cached ? entry : fs::path(run_folder()) / ("build-" + hex);
    fs::create_directories(keep, ec);
    if (b.built) {
        const std::string refused = keep_program(made, keep);
        if (!refused.empty()) {
            b.built = false;
            b.message = refused + "\n" + said;
            fs::remove(keep / "program.part", ec);
        } else {
            b.executable = keep / "program";
        }
    }
    std::ofstream(keep / "message", std::ios::binary) << b.message;
    if (cached) {
        entries_in_use.insert(hex);
        evict(cache, cache_bytes);
    }
    return b;
}

namespace {

constexpr std::size_t kMaxMadeDepth = 8;  // folders of a Makefile's submission, one in another

// Adds to `into` the files and folders of the folder open as `dir` (as `prefix`/NAME),
// read as build_sources reads them: plain files and folders only, never through a link,
// within the bounds of a build; names beginning with '.' are passed over, and so are the
// top's files and folders named in `skip` (the program the Makefile is to make anew, a
// committed build folder).
void gather(int dir, const std::string& prefix, const std::set<std::string>& skip,
            std::size_t depth, std::vector<Entry>& into, Sha256& key, std::uint64_t& budget) {
    const int listed = ::dup(dir);
    DIR* d = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (d == nullptr) throw std::runtime_error(prefix + ": " + std::strerror(errno));
    std::vector<std::string> names;
    // cppcheck-suppress readdirCalled
    while (const dirent* e = ::readdir(d)) {  // NOLINT(concurrency-mt-unsafe): own stream
        const std::string name = e->d_name;
        if (name.starts_with(".") || (prefix.empty() && skip.contains(name))) continue;
        names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string path = prefix;
        if (!path.empty()) path += '/';
        path += name;
        const std::string shown = visible_text(path, Shown::name);
        if (into.size() >= kMaxSources)
            throw std::runtime_error("more than " + std::to_string(kMaxSources) +
                                     " files to make the program from");
        struct stat st {};
        if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            throw std::runtime_error(shown + ": " + std::strerror(errno));
        if (S_ISLNK(st.st_mode))
            throw std::runtime_error(shown + ": a symbolic link; files must be plain files of the "
                                             "submission");
        Entry entry;
        entry.path = path;
        entry.mode = (st.st_mode & 0111) != 0 ? 0755 : 0644;
        if (S_ISDIR(st.st_mode)) {
            if (depth >= kMaxMadeDepth)
                throw std::runtime_error(shown + " lies deeper than " +
                                         std::to_string(kMaxMadeDepth) + " folders");
            Fd sub(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (sub.fd < 0) throw std::runtime_error(shown + ": " + std::strerror(errno));
            entry.type = Entry::Type::folder;
            entry.mode = 0755;
            key.add(std::to_string(path.size()) + ":" + path + "/");
            into.push_back(std::move(entry));
            gather(sub.fd, path, skip, depth + 1, into, key, budget);
            continue;
        }
        key.add(std::to_string(path.size()) + ":" + path);
        read_source(dir, name, entry.content, key, budget);
        into.push_back(std::move(entry));
    }
}

// True when the file `path` (opened without following a link) is an ELF executable or
// position-independent executable: what a linker made, whether or not it could set its
// execute bit (where the wall without namespaces refuses a chmod by path).
bool is_elf_program(const fs::path& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    unsigned char head[18] = {};
    if (fd.fd < 0 || ::read(fd.fd, head, sizeof head) != static_cast<ssize_t>(sizeof head))
        return false;
    const bool elf = head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
    const unsigned high = head[5] == 2 ? head[16] : head[17],
                   low = head[5] == 2 ? head[17] : head[16];
    const unsigned type = (high << 8U) | low;  // in the file's own byte order
    return elf && (type == 2 || type == 3);    // ET_EXEC or ET_DYN
}

// The executables a build made in the folder `folder` that were not among the files it was
// given (`given`, paths relative to it): plain files with an execute bit or ELF programs
// (is_elf_program), found without
// following a link, passing over hidden names, CMake's own CMakeFiles/ and objects and
// libraries; at most 100, as paths relative to `folder`, sorted.
std::vector<std::string> made_executables(const fs::path& folder, const std::vector<Entry>& given) {
    std::set<std::string> before;
    for (const Entry& e : given) before.insert(e.path);
    std::vector<std::string> made;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec), end;
    for (std::size_t seen = 0; !ec && it != end && seen < 10000 && made.size() < 100;
         it.increment(ec), ++seen) {
        const std::string name = it->path().filename().string();
        const fs::file_status st = it->symlink_status(ec);
        if (name.starts_with(".") || name == "CMakeFiles") {
            if (fs::is_directory(st)) it.disable_recursion_pending();
            continue;
        }
        if (!fs::is_regular_file(st) ||
            ((st.permissions() & fs::perms::owner_exec) == fs::perms::none &&
             !is_elf_program(it->path())))
            continue;
        const std::string e = it->path().extension().string();
        if (e == ".o" || e == ".so" || e == ".a" || e == ".sh") continue;
        const std::string path = it->path().lexically_relative(folder).string();
        if (!before.contains(path)) made.push_back(path);
    }
    std::sort(made.begin(), made.end());
    return made;
}

// The program `made` (a build's, in its working folder) kept beside the run's working
// folders as the program of a build keyed `key`; `tool` names what made it, and `said` is
// what the build printed.
Build keep_made(const fs::path& made, const std::string& shown, const std::string& tool,
                const std::string& key, const std::string& said) {
    Build b;
    b.built = true;
    b.message = said;
    static std::atomic<unsigned> count{0};
    const fs::path keep =
        fs::path(run_folder()) / ("made-" + key.substr(0, 16) + "-" + std::to_string(count++));
    std::error_code ec;
    fs::create_directories(keep, ec);
    const std::string refused = keep_program(made, keep);
    if (!refused.empty()) {
        b.built = false;
        // keep_program speaks of a compiler; here another tool made it.
        b.message = (refused == "the compiler made no plain file"
                         ? tool + " made no plain file named " + shown
                     : refused.starts_with("the compiler's output is a symbolic link")
                         ? "the " + shown + " " + tool + " made is a symbolic link, not a program"
                         : refused) +
                    "\n" + said;
        fs::remove_all(keep, ec);
        return b;
    }
    b.executable = keep / "program";
    return b;
}

// What a build run `o` that printed `said` failed with, `tool` naming what ran.
std::string build_failure(const Outcome& o, const std::string& said, const std::string& tool) {
    if (o.end == Outcome::End::not_started) return o.start_error + "\n";
    if (o.end == Outcome::End::wall_limit) return tool + " took too long\n" + said;
    return said.empty() ? tool + " ended without a program\n" : said;
}

}  // namespace

Build make_program(const fs::path& folder, const std::string& program,
                   const Containment& containment) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd < 0) throw std::runtime_error(folder.string() + ": " + std::strerror(errno));
    Case files;  // the working folder make runs in holds a copy of the submission
    files.name = "make";
    Sha256 key;
    std::uint64_t budget = kMaxAllSourceBytes;
    gather(dir.fd, "", {program}, 0, files.files, key, budget);
    const fs::path make = fs::canonical(find_executable("make"));

    const Limits limits = build_limits(300, 120);  // as generous as a compiler's, and longer
    Scratch scratch(files, std::chrono::seconds(10), limits);
    Program p;
    p.executable = make;
    // "--" first: a program's name is never read as an option of make's.
    p.argv = {"make", "--", program};
    p.folder = scratch.path();
    p.env = {"TMPDIR=" + scratch.path().string()};
    Outcome o = run_contained(p, limits, containment);
    std::string said = plain_lines(o.err + o.out, kMessageLines);
    bool built = o.end == Outcome::End::exited && o.code == 0;
    const std::string name = visible_text(program, Shown::name);
    std::string used = program;  // the file of the working folder taken as the program
    std::string note;            // how it was found, when it is not named PROGRAM
    const bool no_rule = !built && said.find("No rule to make target") != std::string::npos;
    const std::string asked = said;  // what make said of PROGRAM
    if (no_rule) {  // a Makefile whose targets make another name: its first target made
        p.argv = {"make"};
        o = run_contained(p, limits, containment);
        said = plain_lines(o.err + o.out, kMessageLines);
        built = o.end == Outcome::End::exited && o.code == 0;
    }
    struct stat st {};
    if (built && (no_rule || ::lstat((scratch.path() / program).c_str(), &st) != 0)) {
        const std::vector<std::string> made = made_executables(scratch.path(), files.files);
        if (made.size() == 1) {
            used = made.front();
            note =
                (no_rule ? "the Makefile has no rule for " + name + "; make" : "make -- " + name) +
                " made " + visible_text(used, Shown::name) +
                ", its one executable, which was used\n";
        } else if (no_rule) {
            Build b;
            b.message = "the Makefile has no rule for " + name + ", and make made " +
                        (made.empty() ? std::string("no executable")
                                      : std::to_string(made.size()) + " executables (" +
                                            some_executables(made) + ")") +
                        "\n" + asked;
            return b;
        }
    }
    if (!built) {
        Build b;
        b.message = build_failure(o, said, "make");
        return b;
    }
    Build b =
        keep_made(scratch.path() / used, visible_text(used, Shown::name), "make", key.hex(), said);
    b.message = note + b.message;
    return b;
}

Build cmake_program(const fs::path& folder, const std::string& program,
                    const Containment& containment) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd < 0) throw std::runtime_error(folder.string() + ": " + std::strerror(errno));
    Case files;  // the working folder cmake runs in holds a copy of the project
    files.name = "cmake";
    Sha256 key;
    std::uint64_t budget = kMaxAllSourceBytes;
    gather(dir.fd, "", {"build"}, 0, files.files, key, budget);
    const fs::path cmake = fs::canonical(find_executable("cmake"));
    const Limits limits = build_limits(300, 120);
    Scratch scratch(files, std::chrono::seconds(10), limits);
    Program p;
    p.executable = cmake;
    p.argv = {"cmake", "-S", ".", "-B", "build", "-DCMAKE_BUILD_TYPE=Release"};
    p.folder = scratch.path();
    p.env = {"TMPDIR=" + scratch.path().string(), "HOME=" + scratch.path().string()};
    Outcome o = run_contained(p, limits, containment);
    std::string said = plain_lines(o.err + o.out, kMessageLines);
    Build b;
    if (o.end != Outcome::End::exited || o.code != 0) {
        b.message = "cmake could not configure the project:\n" + build_failure(o, said, "cmake");
        if (current_wall() == Wall::landlock &&
            said.find("Operation not permitted") != std::string::npos)
            b.message += "(the wall without namespaces refused a chmod that CMake makes, as it "
                         "does where the checker cannot make it for the build; the namespaces "
                         "wall builds it)\n";
        return b;
    }
    p.argv = {"cmake", "--build", "build"};
    o = run_contained(p, limits, containment);
    said = plain_lines(o.err + o.out, kMessageLines);
    if (o.end != Outcome::End::exited || o.code != 0) {
        b.message = build_failure(o, said, "cmake --build");
        return b;
    }
    const std::vector<std::string> made = made_executables(scratch.path() / "build", {});
    const std::string name = visible_text(program, Shown::name);
    std::string used, note;
    for (const std::string& m : made)
        if (used.empty() && fs::path(m).filename() == program) used = m;
    if (used.empty() && made.size() == 1) {
        used = made.front();
        note = "cmake made " + visible_text(used, Shown::name) +
               ", its one executable, which was used\n";
    }
    if (used.empty()) {
        b.message = "cmake made " +
                    (made.empty() ? std::string("no executable")
                                  : std::to_string(made.size()) + " executables (" +
                                        some_executables(made) + "), none named " + name) +
                    "\n";
        return b;
    }
    b = keep_made(scratch.path() / "build" / used, visible_text(used, Shown::name), "cmake",
                  key.hex(), "");
    b.message = note + b.message;
    return b;
}

void release_build(const fs::path& executable) {
    std::lock_guard<std::mutex> lock(cache_mutex);
    entries_in_use.erase(executable.parent_path().filename().string());
}

}  // namespace check
