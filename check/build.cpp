#include "check/build.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "check/case.hpp"
#include "check/judge.hpp"
#include "check/run.hpp"

namespace fs = std::filesystem;

namespace check {

namespace {

constexpr std::size_t kMessageLines = 20;
constexpr std::size_t kMaxSources = 200;

bool has_ending(const fs::path& p, std::initializer_list<const char*> endings) {
    const std::string e = p.extension().string();
    return std::any_of(endings.begin(), endings.end(), [&](const char* x) { return e == x; });
}

bool is_c_or_cpp(const fs::path& p) { return has_ending(p, {".c", ".cc", ".cpp", ".cxx"}); }
bool is_cpp(const fs::path& p) { return has_ending(p, {".cc", ".cpp", ".cxx"}); }

// FNV-1a, 64 bits: the cache key of a build.
struct Hash {
    std::uint64_t h = 1469598103934665603ULL;
    void add(const std::string& s) {
        for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        h = (h ^ 0xff) * 1099511628211ULL;  // ends each part, so that parts cannot run together
    }
    std::string hex() const {
        std::ostringstream o;
        o << std::hex << h;
        return o.str();
    }
};

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

}  // namespace

bool is_source(const fs::path& path) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) return is_c_or_cpp(path);
    if (!fs::is_directory(path, ec)) return false;
    for (const auto& e : fs::directory_iterator(path, ec))
        if (e.is_regular_file(ec) && is_c_or_cpp(e.path())) return true;
    return false;
}

Build build_sources(const fs::path& path, const std::string& cflags,
                    const Containment& containment) {
    // The files that go into the build: the sources, and a folder's headers.
    std::vector<fs::path> files;
    if (fs::is_directory(path)) {
        for (const auto& e : fs::directory_iterator(path))
            if (e.is_regular_file() &&
                (is_c_or_cpp(e.path()) || has_ending(e.path(), {".h", ".hh", ".hpp", ".hxx"})))
                files.push_back(e.path());
    } else {
        files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    if (files.size() > kMaxSources) throw std::runtime_error(path.string() + ": too many sources");
    const bool cpp = std::any_of(files.begin(), files.end(), is_cpp);
    const fs::path compiler = fs::canonical(find_executable(cpp ? "c++" : "cc"));
    std::vector<std::string> flags = {"-O2", "-Wall", cpp ? "-std=c++20" : "-std=c17", "-pipe"};
    std::istringstream words(cflags);
    for (std::string w; words >> w;) flags.push_back(w);

    Case sources;  // the working folder the compiler runs in holds the sources
    sources.name = "build";
    Hash key;
    key.add(compiler.string());
    for (const std::string& f : flags) key.add(f);
    for (const fs::path& f : files) {
        Entry e;
        e.path = f.filename().string();
        if (!read_case_file(f, e.content)) throw std::runtime_error(f.string() + ": missing");
        key.add(e.path);
        key.add(e.content);
        sources.files.push_back(std::move(e));
    }
    Build b;
    const fs::path cache = cache_folder();
    const fs::path entry = cache.empty() ? fs::path() : cache / key.hex();
    if (!entry.empty() && fs::exists(entry / "message")) {
        read_file(entry / "message", b.message);
        b.built = fs::exists(entry / "program");
        if (b.built) b.executable = entry / "program";
        return b;
    }

    Limits limits;
    limits.wall = 120;
    limits.cpu = 60;
    limits.memory = 4ULL << 30;
    limits.output = 1ULL << 20;
    limits.file_size = 256ULL << 20;
    limits.scratch = 512ULL << 20;
    limits.processes = 64;
    limits.open_files = 256;
    Scratch scratch(sources, std::chrono::seconds(10), limits);
    Program p;
    p.executable = compiler;
    p.argv = {compiler.filename().string()};
    p.argv.insert(p.argv.end(), flags.begin(), flags.end());
    for (const Entry& e : sources.files)
        if (is_c_or_cpp(e.path)) p.argv.push_back(e.path);
    p.argv.insert(p.argv.end(), {"-o", "program"});
    p.folder = scratch.path();
    p.env = {"TMPDIR=" + scratch.path().string()};
    Outcome o = run_contained(p, limits, containment);
    const std::string said = plain_lines(o.err + o.out, kMessageLines);
    const fs::path made = scratch.path() / "program";
    b.built = o.end == Outcome::End::exited && o.code == 0 && fs::is_regular_file(made);
    if (!b.built) {
        b.message = said.empty() ? "the compiler ended without a program" : said;
        if (o.end == Outcome::End::not_started) b.message = o.start_error + "\n";
        if (o.end == Outcome::End::wall_limit) b.message = "the compiler took too long\n" + said;
    } else {
        b.message = said;
    }
    // Kept where the cache is, or else beside the run's working folders.
    const fs::path keep = entry.empty() ? fs::path(run_folder()) / ("build-" + key.hex()) : entry;
    std::error_code ec;
    fs::create_directories(keep, ec);
    if (b.built) {
        fs::copy_file(made, keep / "program.part", fs::copy_options::overwrite_existing, ec);
        ::chmod((keep / "program.part").c_str(), 0755);
        fs::rename(keep / "program.part", keep / "program", ec);
        b.executable = keep / "program";
    }
    std::ofstream(keep / "message", std::ios::binary) << b.message;
    return b;
}

}  // namespace check
