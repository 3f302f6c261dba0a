#include "check/arrive.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "check/judge.hpp"
#include "check/run.hpp"

namespace fs = std::filesystem;

namespace check {

namespace {

constexpr std::size_t kChunk = 64U << 10;  // bytes read or written at once

// A file descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd, o.fd);
        return *this;
    }
};

// A libarchive reader freed when it goes.
struct Reader {
    struct archive* a = ::archive_read_new();
    Reader() = default;
    ~Reader() { ::archive_read_free(a); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    // What libarchive said of its last failure, made visible.
    std::string error() const {
        const char* e = ::archive_error_string(a);
        return e ? visible_text(e, Shown::name) : "it is damaged";
    }
};

// A size in MiB as a person reads it: "16 MiB".
std::string in_mib(std::uint64_t bytes) {
    return quantity(static_cast<double>(bytes >> 20), "MiB");
}

// The parts of an entry's path, without empty parts and "."; throws when the path is
// absolute or holds "..".
std::vector<std::string> parts_of(const std::string& path, const std::string& shown) {
    if (path.starts_with("/"))
        throw std::runtime_error(shown +
                                 " is an absolute path; entries must lie inside the archive");
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "..") throw std::runtime_error(shown + " leads out of the archive with \"..\"");
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        start = end + 1;
    }
    return parts;
}

// The folder `name` in the folder open as `dir`, made when missing and opened without
// following a link.
Fd folder_in(int dir, const std::string& name, const std::string& shown) {
    if (::mkdirat(dir, name.c_str(), 0755) != 0 && errno != EEXIST)
        throw std::runtime_error(shown + " cannot be made: " + std::strerror(errno));
    Fd sub(::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (sub.fd < 0) throw std::runtime_error(shown + " is both a file and a folder in the archive");
    // Whatever the checker's umask: the program under test may run as another user.
    ::fchmod(sub.fd, 0755);
    return sub;
}

// Writes the bytes of the entry the reader is at into the new file `name` of the folder
// open as `dir`, counting them in `total`; throws when a bound is passed.
void write_entry(Reader& r, int dir, const std::string& name, unsigned mode,
                 const std::string& shown, std::uint64_t& total, const UnpackBounds& bounds) {
    Fd out(::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (out.fd < 0)
        throw std::runtime_error(errno == EEXIST
                                     ? "the archive holds " + shown + " twice"
                                     : shown + " cannot be written: " + std::strerror(errno));
    if (::fchmod(out.fd, mode) != 0)
        throw std::runtime_error(shown + " cannot be written: " + std::strerror(errno));
    std::array<char, kChunk> chunk{};
    std::uint64_t size = 0;
    for (;;) {
        const la_ssize_t n = ::archive_read_data(r.a, chunk.data(), chunk.size());
        if (n < 0) throw std::runtime_error(shown + " cannot be read: " + r.error());
        if (n == 0) break;
        const auto got = static_cast<std::uint64_t>(n);
        size += got;
        total += got;
        if (size > bounds.file_bytes)
            throw std::runtime_error(shown + " holds more than " + in_mib(bounds.file_bytes) +
                                     ", the most a file of an archive may hold");
        if (total > bounds.bytes)
            throw std::runtime_error("the archive holds more than " + in_mib(bounds.bytes) + " (" +
                                     shown + " is past it)");
        for (std::size_t at = 0; at < got;) {
            const ssize_t w = ::write(out.fd, chunk.data() + at, got - at);
            if (w < 0 && errno == EINTR) continue;
            if (w < 0)
                throw std::runtime_error(shown + " cannot be written: " + std::strerror(errno));
            at += static_cast<std::size_t>(w);
        }
    }
}

// Unpacks the archive open as `in` into the folder open as `root` (see the top of the
// header for what is refused).
void unpack_into(int in, int root, const UnpackBounds& bounds) {
    bound_zip_directory(in, bounds);
    Reader r;
    if (r.a == nullptr) throw std::runtime_error("no memory to read it");
    ::archive_read_support_filter_gzip(r.a);
    ::archive_read_support_format_zip(r.a);
    ::archive_read_support_format_tar(r.a);
    if (::archive_read_open_fd(r.a, in, kChunk) != ARCHIVE_OK)
        throw std::runtime_error("it cannot be read: " + r.error());
    std::size_t entries = 0;
    std::uint64_t total = 0;
    for (;;) {
        struct archive_entry* e = nullptr;
        const int got = ::archive_read_next_header(r.a, &e);
        if (got == ARCHIVE_EOF) break;
        if (got < ARCHIVE_WARN) throw std::runtime_error("it cannot be read: " + r.error());
        if (++entries > bounds.entries)
            throw std::runtime_error("it holds more than " + std::to_string(bounds.entries) +
                                     " files and folders");
        const char* path = ::archive_entry_pathname(e);
        if (path == nullptr) throw std::runtime_error("an entry has a name that cannot be read");
        const std::string shown = visible_text(path, Shown::name);
        if (::archive_entry_hardlink(e) != nullptr)
            throw std::runtime_error(shown +
                                     " is a hard link; only files and folders are unpacked");
        const auto type = ::archive_entry_filetype(e);
        if (type == AE_IFLNK || ::archive_entry_symlink(e) != nullptr)
            throw std::runtime_error(shown +
                                     " is a symbolic link; only files and folders are unpacked");
        if (type != AE_IFREG && type != AE_IFDIR)
            throw std::runtime_error(shown +
                                     " is neither a file nor a folder (a device, a FIFO or a "
                                     "socket); only files and folders are unpacked");
        const std::vector<std::string> parts = parts_of(path, shown);
        if (parts.size() > bounds.depth)
            throw std::runtime_error(shown + " is more than " + std::to_string(bounds.depth) +
                                     " levels deep");
        if (parts.empty()) continue;  // the archive's own top folder
        if (::archive_entry_size_is_set(e) != 0 && ::archive_entry_size(e) > 0) {
            const auto claimed = static_cast<std::uint64_t>(::archive_entry_size(e));
            if (claimed > bounds.file_bytes)
                throw std::runtime_error(shown + " holds " + in_mib(claimed) + "; a file of an " +
                                         "archive may hold at most " + in_mib(bounds.file_bytes));
            if (total + claimed > bounds.bytes)
                throw std::runtime_error("the archive holds more than " + in_mib(bounds.bytes) +
                                         " (" + shown + " is past it)");
        }
        const std::size_t folders = type == AE_IFDIR ? parts.size() : parts.size() - 1;
        Fd dir(::dup(root));
        for (std::size_t i = 0; i < folders; ++i) dir = folder_in(dir.fd, parts[i], shown);
        if (type == AE_IFDIR) continue;
        const unsigned mode = (::archive_entry_perm(e) & 0111) != 0 ? 0755 : 0644;
        write_entry(r, dir.fd, parts.back(), mode, shown, total, bounds);
    }
}

// What one folder holds, as the finder sorts it; nothing followed.
struct Listing {
    std::vector<std::string> sources, folders, archives, executables, others, links;
    bool program = false;        // an executable file named PROGRAM
    bool program_link = false;   // PROGRAM is a symbolic link
    std::string source_link;     // the first source or Makefile that is a symbolic link
    bool program_plain = false;  // PROGRAM is a file that is not executable
    bool makefile = false;
    bool cmake = false;                    // a CMakeLists.txt
    std::vector<std::string> empty_files;  // sources, and PROGRAM, that hold nothing
    bool empty() const {
        return sources.empty() && folders.empty() && archives.empty() && executables.empty() &&
               others.empty() && links.empty() && !program && !program_link && !program_plain &&
               !makefile && !cmake;
    }
};

bool is_c_or_cpp(const std::string& name) {
    const std::string e = fs::path(name).extension().string();
    return e == ".c" || e == ".cc" || e == ".cpp" || e == ".cxx";
}

bool is_makefile(const std::string& name) {
    return name == "Makefile" || name == "makefile" || name == "GNUmakefile";
}

// Lists `folder` (names beginning with '.' and __MACOSX folders passed over), each entry
// known by lstat.
Listing list_folder(const fs::path& folder, const std::string& program) {
    Listing l;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".")) continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            if (name == program) l.program_link = true;
            if (l.source_link.empty() && (is_c_or_cpp(name) || is_makefile(name)))
                l.source_link = name;
            l.links.push_back(name);
        } else if (S_ISDIR(st.st_mode)) {
            if (name != "__MACOSX") l.folders.push_back(name);
        } else if (!S_ISREG(st.st_mode)) {
            l.others.push_back(name + " (neither a file nor a folder)");
        } else if (is_c_or_cpp(name)) {
            l.sources.push_back(name);
            if (st.st_size == 0) l.empty_files.push_back(name);
        } else if (is_makefile(name)) {
            l.makefile = true;
        } else if (name == "CMakeLists.txt") {
            l.cmake = true;
        } else if (name == program) {
            ((st.st_mode & 0111) != 0 ? l.program : l.program_plain) = true;
            if (st.st_size == 0) l.empty_files.push_back(name);
        } else if (is_archive(name)) {
            l.archives.push_back(name);
        } else if ((st.st_mode & 0111) != 0) {
            l.executables.push_back(name);
        } else {
            l.others.push_back(name);
        }
    }
    for (auto* v :
         {&l.sources, &l.folders, &l.archives, &l.executables, &l.others, &l.links, &l.empty_files})
        std::sort(v->begin(), v->end());
    return l;
}

// The submission at the top of the folder `folder`, listed as `l`; kind nothing when there
// is none.
Arrival at_top(const fs::path& folder, const Listing& l, const std::string& program) {
    Arrival a;
    const std::string name = visible_text(program, Shown::name);
    if (l.program_link) {
        a.kind = Arrival::Kind::refused;
        a.note =
            name + " is a symbolic link; a submission's executable must be a plain file of its own";
        return a;
    }
    if (!l.source_link.empty()) {
        a.kind = Arrival::Kind::refused;
        a.note = visible_text(l.source_link, Shown::name) +
                 ": a symbolic link; sources must be plain files of the submission";
        return a;
    }
    const std::string unused =
        l.program
            ? "; the program " + name + " beside " +
                  (l.sources.size() == 1 || l.sources.empty() ? "it" : "them") + " was not used"
            : "";
    if (!l.sources.empty() && std::all_of(l.sources.begin(), l.sources.end(), [&](auto& n) {
            return std::binary_search(l.empty_files.begin(), l.empty_files.end(), n);
        })) {
        a.note =
            some_names(l.empty_files) + (l.empty_files.size() == 1 ? " is" : " are") + " empty";
    } else if (!l.sources.empty()) {
        a.kind = Arrival::Kind::sources;
        a.path = folder;
        a.note = (l.sources.size() <= 3
                      ? some_names(l.sources) + (l.sources.size() == 1 ? " was" : " were")
                      : std::to_string(l.sources.size()) + " sources were") +
                 " built" + unused;
    } else if (l.makefile) {
        a.kind = Arrival::Kind::makefile;
        a.path = folder;
        a.note = "the Makefile made " + name + unused;
    } else if (l.cmake) {
        a.kind = Arrival::Kind::cmake;
        a.path = folder;
        a.note = "its CMakeLists.txt was built with cmake" + unused;
    } else if (l.program && !l.empty_files.empty()) {
        a.note = name + " is empty";
    } else if (l.program) {
        a.kind = Arrival::Kind::program;
        a.path = folder / program;
    }
    return a;
}

// What the folder listed as `l` holds, for a submission that holds nothing to grade.
std::string described(const Listing& l, const std::string& program) {
    if (l.empty()) return "an empty folder";
    std::vector<std::string> names;
    for (const std::string& f : l.folders) names.push_back(f + "/");
    for (const std::string& f : l.archives) names.push_back(f);
    for (const std::string& f : l.executables) names.push_back(f);
    for (const std::string& f : l.links) names.push_back(f + " (a symbolic link)");
    for (const std::string& f : l.others) names.push_back(f);
    if (l.program_plain) names.push_back(program);
    std::sort(names.begin(), names.end());
    if (l.program_plain)
        return visible_text(program, Shown::name) + " is there but is not executable";
    if (names.size() == 1 && l.executables.size() == 1)
        return "only " + some_names(l.executables) + ", an executable of another name";
    if (l.folders.size() > 1)
        return std::to_string(l.folders.size()) + " folders (" + some_names(l.folders) +
               ") and no source at the top";
    if (l.archives.size() > 1)
        return std::to_string(l.archives.size()) + " archives (" + some_names(l.archives) +
               "); a submission may hold one";
    return some_names(names) + ", no program or source";
}

// A fresh name for an unpacked folder of this checker.
std::string fresh_name() {
    static std::atomic<unsigned> next{0};
    return "unpacked-" + std::to_string(::getpid()) + "-" + std::to_string(next++);
}

}  // namespace

bool is_archive(const fs::path& path) {
    static constexpr std::array<const char*, 4> kEndings = {".zip", ".tar", ".tar.gz", ".tgz"};
    const std::string n = path.filename().string();
    return std::any_of(kEndings.begin(), kEndings.end(),
                       [&](const char* e) { return n.size() > std::strlen(e) && n.ends_with(e); });
}

void unpack(const fs::path& archive, const fs::path& into, const UnpackBounds& bounds) {
    Fd in(::open(archive.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (in.fd < 0)
        throw std::runtime_error(errno == ELOOP
                                     ? "it is a symbolic link"
                                     : std::string("it cannot be opened: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw std::runtime_error("it is not a plain file");
    if (::mkdir(into.c_str(), 0755) != 0)
        throw std::runtime_error("no folder to unpack it into: " +
                                 std::string(std::strerror(errno)));
    try {
        Fd root(::open(into.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (root.fd < 0)
            throw std::runtime_error("no folder to unpack it into: " +
                                     std::string(std::strerror(errno)));
        ::fchmod(root.fd, 0755);
        unpack_into(in.fd, root.fd, bounds);
    } catch (...) {
        remove_tree(into);
        throw;
    }
}

namespace {

// The little-endian number of `n` bytes at `p`.
std::uint64_t little(const unsigned char* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = n; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

// Reads `size` bytes at `offset` of `fd` into `into`; false when they are not all there.
bool read_at(int fd, std::uint64_t offset, unsigned char* into, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, into + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

void bound_zip_directory(int fd, const UnpackBounds& bounds) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 22) return;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    constexpr std::uint64_t kTail = 65535 + 22;  // the end record and the longest comment
    const std::uint64_t from = size > kTail ? size - kTail : 0;
    std::vector<unsigned char> tail(static_cast<std::size_t>(size - from));
    if (!read_at(fd, from, tail.data(), tail.size())) return;
    const std::uint64_t most_bytes = bounds.entries * kZipDirectoryBytes + (64U << 10);
    auto refuse = [&](std::uint64_t entries, std::uint64_t bytes) {
        if (entries > bounds.entries)
            throw std::runtime_error("its directory lists " + std::to_string(entries) +
                                     " entries; an archive may hold at most " +
                                     std::to_string(bounds.entries) + " files and folders");
        if (bytes > most_bytes)
            throw std::runtime_error("its directory takes " + in_mib(bytes) +
                                     ", more than an archive of at most " +
                                     std::to_string(bounds.entries) + " entries needs");
    };
    for (std::size_t at = tail.size() - 22 + 1; at-- > 0;) {
        const unsigned char* e = tail.data() + at;
        if (little(e, 4) != 0x06054b50) continue;  // "PK\5\6": an end record, or bytes like one
        std::uint64_t entries = little(e + 10, 2), bytes = little(e + 12, 4);
        refuse(entries == 0xFFFF ? 0 : entries, bytes == 0xFFFFFFFF ? 0 : bytes);
        // ZIP64: its locator lies just before, and names the record that holds the numbers.
        if (at < 20 || little(e - 20, 4) != 0x07064b50) continue;
        unsigned char record[56];
        if (!read_at(fd, little(e - 20 + 8, 8), record, sizeof record) ||
            little(record, 4) != 0x06064b50)
            continue;
        refuse(little(record + 32, 8), little(record + 40, 8));
    }
}

std::uint64_t copy_plain_file(const fs::path& from, const fs::path& to, std::uint64_t most) {
    const std::string shown = visible_text(from.filename().string(), Shown::name);
    Fd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw std::runtime_error(shown + " is not a plain file");
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > most) throw std::runtime_error(shown + " holds more than " + in_mib(most));
    const unsigned mode = (st.st_mode & 0111) != 0 ? 0755 : 0644;
    Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (out.fd < 0 || ::fchmod(out.fd, mode) != 0)
        throw std::runtime_error(shown + " cannot be copied: " + std::strerror(errno));
    std::array<char, kChunk> chunk{};
    std::uint64_t copied = 0;
    for (;;) {
        const ssize_t n = ::read(in.fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error(shown + " cannot be read: " + std::strerror(errno));
        if (n == 0) break;
        copied += static_cast<std::uint64_t>(n);
        if (copied > most) throw std::runtime_error(shown + " grew past " + in_mib(most));
        for (ssize_t at = 0; at < n;) {
            const ssize_t w = ::write(out.fd, chunk.data() + at, static_cast<std::size_t>(n - at));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0)
                throw std::runtime_error(shown + " cannot be copied: " + std::strerror(errno));
            at += w;
        }
    }
    return copied;
}

std::string some_names(const std::vector<std::string>& names, std::size_t most) {
    std::string s;
    const std::size_t shown = names.size() > most ? most : names.size();
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) s += i + 1 == shown && shown == names.size() ? " and " : ", ";
        s += visible_text(names[i], Shown::name);
    }
    if (shown < names.size()) s += " and " + std::to_string(names.size() - shown) + " more";
    return s;
}

namespace {

// The folders of a repository that hold no submission: its build and tests (hidden ones are
// never listed).
bool set_aside(const std::string& folder) {
    return folder == "build" || folder == "tests" || folder == "test" ||
           folder == "cmake-build-debug";
}

// Copies the plain files of the folder `from` whose names `take` accepts into the folder
// `into` (copy_plain_file), all together (with `total`) at most kMaxUnpackedBytes; throws
// when a bound is passed.
void copy_files(const fs::path& from, const fs::path& into,
                const std::function<bool(const std::string&)>& take, std::uint64_t& total) {
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(from, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(".") && take(name) && entry.is_regular_file(ec) &&
            !entry.is_symlink(ec))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::uint64_t most = std::min(kMaxUnpackedFileBytes, kMaxUnpackedBytes - total);
        total += copy_plain_file(from / name, into / name, most);
    }
}

// The sources of a repository's src/ with the headers of its include/ (when it has one),
// gathered into a fresh folder of `unpack_base`; kind nothing when src/ holds no source.
Arrival from_src(const fs::path& folder, const Listing& top, const std::string& program,
                 const fs::path& unpack_base) {
    Arrival a;
    const Listing src = list_folder(folder / "src", program);
    if (src.sources.empty()) return a;
    const bool include = std::binary_search(top.folders.begin(), top.folders.end(), "include");
    const fs::path into = unpack_base / fresh_name();
    if (::mkdir(into.c_str(), 0755) != 0)
        throw std::runtime_error("no folder to gather src/ into: " +
                                 std::string(std::strerror(errno)));
    a.unpacked = into.string();
    try {
        ::chmod(into.c_str(), 0755);  // whatever the checker's umask
        std::uint64_t total = 0;
        auto header = [](const std::string& n) {
            const std::string e = fs::path(n).extension().string();
            return e == ".h" || e == ".hh" || e == ".hpp" || e == ".hxx";
        };
        if (include) copy_files(folder / "include", into, header, total);
        copy_files(
            folder / "src", into, [&](const std::string& n) { return header(n) || is_c_or_cpp(n); },
            total);
    } catch (const std::exception& e) {
        a.kind = Arrival::Kind::refused;
        a.note = std::string("src/ is not built: ") + e.what();
        return a;
    }
    a = at_top(into, list_folder(into, program), program);
    a.unpacked = into.string();
    a.gathered = "src";
    a.where = include ? "found in src/, with the headers of include/" : "found in src/";
    return a;
}

}  // namespace

Arrival find_submission(const fs::path& folder, const std::string& program,
                        const fs::path& unpack_base) {
    const Listing top = list_folder(folder, program);
    Arrival a = at_top(folder, top, program);
    if (a.kind != Arrival::Kind::nothing) return a;
    if (a.note.empty()) a.note = described(top, program);
    // A repository: its build, its tests and its hidden folders set aside.
    std::vector<std::string> kept, aside;
    for (const std::string& f : top.folders) {
        if (set_aside(f))
            aside.push_back(f + "/");
        else
            kept.push_back(f + "/");
    }
    if (kept.empty()) kept.swap(aside);  // a build/ alone is where the student put the program
    const std::string aside_note =
        aside.empty()
            ? ""
            : "; " + some_names(aside) + (aside.size() == 1 ? " was" : " were") + " set aside";
    if (std::find(kept.begin(), kept.end(), "src/") != kept.end()) {
        Arrival s = from_src(folder, top, program, unpack_base);
        if (s.kind != Arrival::Kind::nothing) {
            if (!s.where.empty()) s.where += aside_note;
            return s;
        }
    }
    // One folder: a repository downloaded, or a folder unpacked by hand.
    if (kept.size() == 1) {
        const std::string name = kept.front().substr(0, kept.front().size() - 1);
        const fs::path nested = folder / name;
        const Listing inside = list_folder(nested, program);
        Arrival n = at_top(nested, inside, program);
        const std::string shown = visible_text(name, Shown::name) + "/";
        if (n.kind != Arrival::Kind::nothing) {
            n.shown = name;
            n.where = "found in " + shown + aside_note;
            return n;
        }
        if (top.archives.size() != 1) {
            a.note = !n.note.empty() ? shown + ": " + n.note
                                     : shown + " holds " +
                                           (inside.empty() ? std::string("nothing")
                                                           : described(inside, program));
            return a;
        }
    }
    if (top.archives.size() != 1 || kept.size() > 1) return a;
    // One archive: a learning platform's download.
    const std::string shown = visible_text(top.archives.front(), Shown::name);
    const fs::path into = unpack_base / fresh_name();
    try {
        unpack(folder / top.archives.front(), into);
    } catch (const std::exception& e) {
        a.kind = Arrival::Kind::refused;
        a.note = shown + " is not unpacked: " + e.what();
        return a;
    }
    const Listing root = list_folder(into, program);
    Arrival u = at_top(into, root, program);
    std::string where = "unpacked from " + shown;
    if (u.kind == Arrival::Kind::nothing && !u.note.empty()) {
        u.note = shown + ", an archive in which " + u.note;
    } else if (u.kind == Arrival::Kind::nothing && root.folders.size() == 1) {
        const Listing inside = list_folder(into / root.folders.front(), program);
        u = at_top(into / root.folders.front(), inside, program);
        where += ", in " + visible_text(root.folders.front(), Shown::name) + "/";
        if (u.kind == Arrival::Kind::nothing)
            u.note = shown + ", an archive holding no program or source: " +
                     visible_text(root.folders.front(), Shown::name) + "/ holds " +
                     (!u.note.empty()  ? u.note
                      : inside.empty() ? std::string("nothing")
                                       : described(inside, program));
    } else if (u.kind == Arrival::Kind::nothing) {
        u.note =
            root.empty()
                ? shown + ", an empty archive"
                : shown + ", an archive holding no program or source: " + described(root, program);
    }
    u.unpacked = into.string();
    u.shown = top.archives.front();
    if (u.kind != Arrival::Kind::nothing && u.kind != Arrival::Kind::refused) u.where = where;
    return u;
}

}  // namespace check
