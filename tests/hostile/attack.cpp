// attack MODE [ARGUMENT...]: a program under test that implements nothing and attacks the
// checker running it instead. Every attack bounds itself (count, size and time), so that it
// stays harmless where the sandbox fails to contain it.
//   snoop [report]     looks everywhere for the expected output and prints what it found;
//                      with report, prints "clean" or the paths that name the cases
//   vandal [mark=M] PATH...  tries to change, remove or add files at and beneath each
//                      PATH; what it adds is named vandal-was-hereM and vandal-dirM
//   forge              forges the checker's verdict: its streams, signals to the others
//   flood [err] | newlines | noread | spin | sleep | hog | files | bigfile [keep] | fill |
//   closed | removed
//   segv | unflushed   the limits and crashes, each bounded
//   link TARGET NAME   makes NAME, in its working folder, a symbolic link to TARGET
//   forkbomb MARKER    forks up to 5000 processes, each living 5 s at most
//   linger HOW MARKER  leaves a process behind: fork, double, setsid, holdout, recreate
//   connect PORT       connects to 127.0.0.1:PORT, [::1]:PORT, the abstract socket
//                      hostile-PORT and the socket file /tmp/hostile-PORT.sock
//   neighbours         watches (inotify) the folder above its working folder and the
//                      folders beside it, makes a file of its own, and prints what it saw
//                      of others within 2 s ("alone" when nothing)
//   others             changes the limits, priority, scheduling, processors and I/O
//                      priority of another process (a child of its own); prints "refused"
//                      when each was, then whether its own could be changed
//   env                prints its environment and every environment it can read
//   stop               stops its parent and the other processes with SIGSTOP
//   nest               makes 3000 nested folders, then makes each unreadable
//   hoard              asks for memory outside every per-process limit (SysV and POSIX
//                      shared memory, message queues, memfds, keys) and prints what it got
//   peek               looks at other runs and the machine: a netlink socket listing every
//                      socket, UDP and raw sockets, tracing, new namespaces
//   together N MIB     N processes, each touching MIB MiB, for 3 s at most
//   run                executes the program named by its input's first line, or says why
//                      it could not
//   steal              takes the file named by its input's first line: a hard link to it in
//                      its working folder, a rename into it, a copy read through it; prints
//                      what worked
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/msg.h>
#include <sys/resource.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

extern char** environ;  // NOLINT(readability-redundant-declaration): unistd.h declares it only with
                        // _GNU_SOURCE

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// At most `most` bytes of the file at `path`; empty when it cannot be read.
std::string slurp(const std::string& path, std::size_t most = 1 << 20) {
    std::string s;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return s;
    char buf[65536];
    ssize_t n = 0;
    while (s.size() < most && (n = ::read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return s;
}

std::string link_of(const std::string& path) {
    char buf[4096];
    ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// True where signalling "everyone" or process 1 reaches only the run's own processes: a
// PID namespace of its own, entered without root.
bool contained() { return ::getpid() <= 16 && ::geteuid() != 0; }

// ---- snoop ----------------------------------------------------------------------------

struct Snoop {
    std::set<std::string> seen;  // paths and texts that name the cases
    std::set<fs::path> outputs;  // files named output
    Clock::time_point start = Clock::now();

    void note(const std::string& text) {
        for (const char* word : {"transcripts", "console-collection/cases"})
            if (text.find(word) != std::string::npos) {
                std::string line = text.substr(0, 300);
                for (char& c : line)
                    if (c == '\0' || c == '\n') c = ' ';
                seen.insert(line);
            }
    }
    void path(const fs::path& p) {
        note(p.string());
        if (p.filename() == "output") outputs.insert(p);
        std::error_code ec;
        if (fs::is_directory(p, ec))
            for (const char* name : {"output", "setcalc"})
                if (fs::exists(p / name, ec)) outputs.insert(p / name);
    }
    // What a process of `pid` shows: its command line (each word a path to try), links
    // and environment, and the readable part of its memory.
    void process(const std::string& pid) {
        const std::string d = "/proc/" + pid;
        std::string cmdline = slurp(d + "/cmdline");
        note(cmdline);
        std::istringstream words(cmdline);
        for (std::string w; std::getline(words, w, '\0');) {
            std::error_code ec;
            if (!w.empty() && w[0] == '/' && fs::is_directory(w, ec)) walk(w, 3);
        }
        note(slurp(d + "/environ"));
        for (const char* l : {"/exe", "/cwd", "/root"}) path(link_of(d + l));
        note(slurp(d + "/mountinfo"));
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(d + "/fd", ec)) path(link_of(e.path()));
        std::istringstream maps(slurp(d + "/maps"));
        int mem = ::open((d + "/mem").c_str(), O_RDONLY);
        for (std::string line; mem >= 0 && std::getline(maps, line);) {
            unsigned long from = 0, to = 0;
            char perms[5] = {};
            if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, perms) != 3 || perms[0] != 'r')
                continue;
            std::string chunk(std::min<unsigned long>(to - from, 16 << 20), '\0');
            ssize_t n = ::pread(mem, chunk.data(), chunk.size(), static_cast<off_t>(from));
            if (n > 0) note(chunk.substr(0, static_cast<std::size_t>(n)));
        }
        if (mem >= 0) ::close(mem);
    }
    void walk(const fs::path& root, int depth) {
        std::error_code ec;
        auto opts = fs::directory_options::skip_permission_denied;
        for (fs::recursive_directory_iterator it(root, opts, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (since(start) > 3) return;
            // The system's own files are the machine's, beyond /usr/local and /usr/share.
            if (it->path() == "/proc" || it->path() == "/sys" || it->path() == "/usr" ||
                it.depth() >= depth) {
                it.disable_recursion_pending();
                if (it.depth() >= depth) continue;
            }
            path(it->path());
        }
    }
    void run() {
        for (const char* l : {"/proc/self/fd/0", "/proc/self/fd/1", "/proc/self/fd/2",
                              "/proc/self/cwd", "/proc/self/exe", "/proc/self/root"})
            path(link_of(l));
        std::error_code ec;
        process(std::to_string(::getppid()));
        process("1");
        for (const auto& e : fs::directory_iterator("/proc", ec))
            if (std::isdigit(static_cast<unsigned char>(e.path().filename().string()[0])) &&
                e.path().filename() != std::to_string(::getpid()))
                process(e.path().filename().string());
        for (fs::path p = fs::current_path(ec); !p.empty() && p != p.parent_path();
             p = p.parent_path())
            walk(p.parent_path(), 2);
        for (const char* known : {HOSTILE_TRANSCRIPTS, "/usr/share/console-collection/cases",
                                  "/usr/local/share/console-collection/cases"})
            if (fs::exists(known, ec)) path(known), walk(known, 3);
        walk("/", 64);
        walk("/usr/local", 64);
        walk("/usr/share", 3);
    }
};

int snoop(bool report) {
    std::string input((std::istreambuf_iterator<char>(std::cin)), {});
    Snoop s;
    s.run();
    if (report) {
        if (s.seen.empty()) std::cout << "clean\n";
        for (const auto& line : s.seen) std::cout << "seen: " << line << "\n";
        return 0;
    }
    // The best guess: the output beside an input equal to this one, else any output found.
    for (const auto& o : s.outputs)
        if (slurp(o.parent_path() / "input") == input) {
            std::cout << slurp(o);
            std::string status = slurp(o.parent_path() / "status");
            return status.empty() ? 0 : std::atoi(status.c_str());
        }
    if (!s.outputs.empty()) std::cout << slurp(*s.outputs.begin());
    return 0;
}

// ---- vandal ---------------------------------------------------------------------------

// Every way of changing `p` that this program knows, or with `harmless` only adding a file
// and a folder inside (their names ending with `mark`); prints the ones that worked.
void deface(const fs::path& p, const fs::path& self, bool harmless, const std::string& mark) {
    auto worked = [&](const char* how, bool ok) {
        if (ok) std::cout << "changed " << p.string() << " by " << how << "\n";
    };
    const std::string s = p.string();
    int fd = ::open((s + "/vandal-was-here" + mark).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    worked("a new file inside", fd >= 0);
    if (fd >= 0) ::close(fd);
    worked("a new folder inside", ::mkdir((s + "/vandal-dir" + mark).c_str(), 0755) == 0);
    if (harmless) return;
    fd = ::open(s.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK);
    worked("append", fd >= 0 && ::write(fd, "x", 1) == 1);
    if (fd >= 0) ::close(fd);
    int ro = ::open(s.c_str(), O_RDONLY | O_NONBLOCK);
    fd = ::open(("/proc/self/fd/" + std::to_string(ro)).c_str(), O_WRONLY | O_NONBLOCK);
    worked("reopening for writing", fd >= 0 && ::write(fd, "x", 1) == 1);
    if (fd >= 0) ::close(fd);
    if (ro >= 0) ::close(ro);
    worked("chmod", ::chmod(s.c_str(), 0777) == 0);
    worked("truncate", ::truncate(s.c_str(), 1) == 0);
    worked("rename", ::rename(s.c_str(), (s + ".moved").c_str()) == 0);
    worked("replacing", ::rename(self.c_str(), s.c_str()) == 0);
    worked("unlink", ::unlink(s.c_str()) == 0);
    worked("rmdir", ::rmdir(s.c_str()) == 0);
}

// Defaces every PATH given and whatever they hold (the test's own copies); only adds to the
// machine's own places, so that a sandbox that fails harms nothing beyond that. What it adds
// carries the test's mark, so that tests run side by side never meet in a shared folder.
int vandal(int argc, char** argv) {
    std::string mark;
    int first = 2;
    if (argc > 2 && std::string(argv[2]).starts_with("mark=")) mark = argv[first++] + 5;
    std::vector<fs::path> targets(argv + first, argv + argc);
    const char* known[] = {HOSTILE_TRANSCRIPTS, HOSTILE_SOURCE, "/root",    "/tmp",
                           "/var/tmp",          "/dev/shm",     "/usr/bin", "/etc"};
    const fs::path self = fs::read_symlink("/proc/self/exe");
    // Links from the working folder to each target, for whoever cleans it up.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        ::symlink(targets[i].c_str(), ("soft" + std::to_string(i)).c_str());
        if (::link(targets[i].c_str(), ("hard" + std::to_string(i)).c_str()) == 0)
            std::cout << "changed " << targets[i].string() << " by a hard link\n";
    }
    for (int round = 0; round < 2; ++round) {
        std::vector<fs::path> all;
        for (auto& t : targets) {
            all.push_back(t);
            std::error_code ec;
            for (fs::recursive_directory_iterator it(t, ec), end;
                 !ec && it != end && all.size() < 3000; it.increment(ec))
                all.push_back(it->path());
        }
        std::reverse(all.begin(), all.end());  // deepest first
        for (const fs::path& p : all) deface(p, self, false, mark);
        for (const char* k : known) deface(k, self, true, mark);
        // The second round in a user and mount namespace of its own, where the read-only
        // views are remounted writable first, when the kernel lets it.
        if (round == 0) {
            if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) break;
            for (auto& t : targets)
                if (::mount(nullptr, t.c_str(), nullptr, MS_REMOUNT | MS_BIND, nullptr) == 0)
                    std::cout << "remounted " << t.string() << " writable\n";
            for (const char* k : known)
                if (::mount(nullptr, k, nullptr, MS_REMOUNT | MS_BIND, nullptr) == 0)
                    std::cout << "remounted " << k << " writable\n";
        }
    }
    ::chmod(".", 0);
    return 0;
}

// ---- forge ----------------------------------------------------------------------------

int forge() {
    const std::string fake = "1 passed, 0 failed\n";
    const pid_t parent = ::getppid();
    std::vector<std::string> streams;
    for (const char* fd : {"/fd/1", "/fd/2"}) {
        if (parent > 0) streams.push_back("/proc/" + std::to_string(parent) + fd);
        streams.push_back(std::string("/proc/1") + fd);
    }
    streams.emplace_back("/dev/tty");
    for (auto& s : streams) {
        int fd = ::open(s.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY);
        if (fd >= 0 && ::write(fd, fake.data(), fake.size()) > 0)
            std::cout << "wrote " << s << "\n";
        if (fd >= 0) ::close(fd);
    }
    if (parent > 0) ::kill(parent, SIGSTOP), ::kill(parent, SIGKILL);
    if (contained()) ::kill(1, SIGSTOP), ::kill(1, SIGKILL), ::kill(-1, SIGKILL);
    const std::string screen = "\x1b]0;title\x07\x1b[2J\r" + fake;
    std::cout << screen << std::flush;
    std::cerr << screen << std::flush;
    return 0;
}

// ---- limits ---------------------------------------------------------------------------

int flood(int fd, char fill, std::size_t most, double seconds) {
    std::string chunk(65536, fill);
    std::size_t written = 0;
    for (auto start = Clock::now(); written < most && since(start) < seconds;) {
        std::size_t n = std::min(chunk.size(), most - written);
        if (::write(fd, chunk.data(), n) < 0) return 1;
        written += n;
    }
    return 0;
}

// Fills the working folder with files just below the file size limit: "full" when it ends
// before 320 MiB.
int fill() {
    std::string chunk(1 << 20, 'f');
    std::size_t written = 0;
    auto start = Clock::now();
    for (int file = 0; written < (1024ULL << 20) && since(start) < 5; ++file) {
        int fd = ::open(("fill" + std::to_string(file)).c_str(), O_WRONLY | O_CREAT, 0644);
        for (int i = 0; fd >= 0 && i < 32; ++i, written += chunk.size())
            if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
                std::cout << (written < (320ULL << 20) ? "full\n" : "too late\n");
                return 0;
            }
        if (fd < 0) break;
        ::close(fd);
    }
    std::cout << "wrote " << (written >> 20) << " MiB\n";
    return 0;
}

// Fills a folder it has closed to its own user (so that a checker of that user could not
// list it) through 20 files opened beforehand, each reserved with fallocate, then written:
// "full" when it ends before 320 MiB, as fill does.
int closed() {
    ::mkdir("d", 0755);
    std::vector<int> opened;
    for (int i = 0; i < 20; ++i) {
        const int fd = ::open(("d/f" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd >= 0) opened.push_back(fd);
    }
    const int folder = ::open("d", O_RDONLY | O_DIRECTORY);
    if (folder < 0 || ::fchmod(folder, 0) != 0) std::cout << "could not close d\n";
    // What the files hold: a file reserved with fallocate holds its 60 MiB already, and the
    // writes then fill what it holds.
    std::uint64_t written = 0;
    const std::string chunk(1 << 20, 'c');
    const auto start = Clock::now();
    for (int fd : opened) {
        const bool reserved = ::fallocate(fd, 0, 0, 60 << 20) == 0;
        if (reserved) written += 60ULL << 20;
        for (int i = 0; i < 60 && since(start) < 10; ++i) {
            if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
                std::cout << (written < (320ULL << 20) ? "full\n" : "too late\n");
                return 0;
            }
            if (!reserved) written += chunk.size();
        }
    }
    std::cout << "wrote " << (written >> 20) << " MiB\n";
    return 0;
}

// Fills files it removed from its working folder as soon as it made them, so that no
// listing of the folder shows them: "full" when it ends before 320 MiB, as fill does.
int removed() {
    const std::string chunk(1 << 20, 'r');
    std::uint64_t written = 0;
    const auto start = Clock::now();
    for (int file = 0; file < 16 && since(start) < 10; ++file) {
        const std::string name = "gone" + std::to_string(file);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0644);  // kept open to the end
        if (fd < 0) break;
        ::unlink(name.c_str());
        for (int i = 0; i < 60; ++i, written += chunk.size())
            if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
                std::cout << (written < (320ULL << 20) ? "full\n" : "too late\n");
                return 0;
            }
    }
    std::cout << "wrote " << (written >> 20) << " MiB\n";
    return 0;
}

int hog() {
    std::vector<char*> blocks;
    for (auto start = Clock::now(); blocks.size() < 2048 && since(start) < 5;) {
        blocks.push_back(new char[1 << 20]);
        std::memset(blocks.back(), 1, 1 << 20);
    }
    std::cout << blocks.size() << " MiB\n";
    for (char* b : blocks) delete[] b;
    return 0;
}

int forkbomb() {
    const std::size_t size = sizeof(std::atomic<int>);
    const int prot = PROT_READ | PROT_WRITE, flags = MAP_SHARED | MAP_ANONYMOUS;
    // cppcheck-suppress invalidFunctionArg ; an anonymous mapping takes -1 for its file
    void* shared = ::mmap(nullptr, size, prot, flags, -1, 0);
    auto* forks = static_cast<std::atomic<int>*>(shared);
    if (forks == MAP_FAILED) return 1;
    new (forks) std::atomic<int>(0);
    const auto start = Clock::now();
    while (since(start) < 5)
        if (forks->load() >= 5000 || ::fork() < 0)
            // cppcheck-suppress usleepCalled ; a short bounded wait
            ::usleep(10000);
        else
            ++*forks;
    return 0;
}

int files() {
    int opened = 0;
    while (opened < 100000 && ::open("/dev/null", O_RDONLY) >= 0) ++opened;
    std::cout << opened << "\n";
    return 0;
}

int bigfile(bool keep_signal) {
    if (!keep_signal) ::signal(SIGXFSZ, SIG_IGN);
    int fd = ::open("big", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string chunk(65536, 'b');
    int error = 0;
    for (int i = 0; i < 64 && fd >= 0 && !error; ++i)
        if (::write(fd, chunk.data(), chunk.size()) < 0) error = errno;
    struct stat st {};
    ::stat("big", &st);
    std::cout << (error == EFBIG ? "EFBIG " : "no EFBIG ") << st.st_size << "\n";
    return 0;
}

// ---- processes left behind ------------------------------------------------------------

void linger_here(double seconds, const fs::path& folder) {
    for (int s : {SIGHUP, SIGTERM, SIGINT, SIGPIPE}) ::signal(s, SIG_IGN);
    auto start = Clock::now();
    while (since(start) < seconds) {
        // cppcheck-suppress usleepCalled ; a short bounded wait
        ::usleep(100000);
        if (!folder.empty() && since(start) > 2) {  // the working folder, recreated
            std::error_code ec;
            fs::create_directories(folder, ec);
            std::ofstream(folder / "recreated") << "still here\n";
        }
    }
    ::_exit(0);
}

int leave_behind(const std::string& how) {
    const fs::path folder = how == "recreate" ? fs::current_path() : fs::path();
    if (how != "holdout")
        for (int fd = 0; fd < 3; ++fd) ::close(fd);
    pid_t child = ::fork();
    if (child == 0) {
        if (how == "setsid") ::setsid();
        if ((how == "double" || how == "setsid") && ::fork() != 0) ::_exit(0);
        linger_here(30, folder);
    }
    if (how == "double" || how == "setsid") ::waitpid(child, nullptr, 0);
    return 0;
}

// ---- other holes ----------------------------------------------------------------------

int connect_to(const char* port_text) {
    const auto port = static_cast<std::uint16_t>(std::atoi(port_text));
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    v6.sin6_addr = in6addr_loopback;
    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    const std::string abstract = std::string("hostile-") + port_text;
    abstract.copy(un.sun_path + 1, sizeof un.sun_path - 2);
    sockaddr_un file{};
    file.sun_family = AF_UNIX;
    (std::string("/tmp/hostile-") + port_text + ".sock")
        .copy(file.sun_path, sizeof file.sun_path - 1);
    const std::tuple<int, const sockaddr*, socklen_t> targets[] = {
        {AF_INET, reinterpret_cast<const sockaddr*>(&v4), sizeof v4},
        {AF_INET6, reinterpret_cast<const sockaddr*>(&v6), sizeof v6},
        {AF_UNIX, reinterpret_cast<const sockaddr*>(&un),
         static_cast<socklen_t>(sizeof(sa_family_t) + 1 + abstract.size())},
        {AF_UNIX, reinterpret_cast<const sockaddr*>(&file), sizeof file}};
    for (auto [family, address, size] : targets) {
        int s = ::socket(family, SOCK_STREAM, 0);
        if (s >= 0 && ::connect(s, address, size) == 0) {
            std::cout << "connected\n";
            if (::send(s, "hostile\n", 8, MSG_NOSIGNAL) < 0) std::cout << "but could not write\n";
        }
        if (s >= 0) ::close(s);
    }
    return 0;
}

int env() {
    std::string all;
    for (char** e = environ; *e; ++e) all += std::string(*e) + " ";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        std::string text = slurp(e.path() / "environ");
        std::replace(text.begin(), text.end(), '\0', ' ');
        all += text;
    }
    std::cout << all << "\n";
    return 0;
}

int stop() {
    if (::getppid() > 0) ::kill(::getppid(), SIGSTOP);
    if (contained()) ::kill(1, SIGSTOP), ::kill(-1, SIGSTOP);
    std::cout << "stopped\n";
    return 0;
}

int nest() {
    std::vector<int> folders{::open(".", O_RDONLY | O_DIRECTORY)};
    for (int i = 0; i < 3000 && folders.back() >= 0; ++i) {
        ::mkdirat(folders.back(), "d", 0755);
        int fd = ::openat(folders.back(), "d", O_RDONLY | O_DIRECTORY);
        int keep = ::openat(folders.back(), "f", O_WRONLY | O_CREAT, 0444);
        if (keep >= 0) ::close(keep);
        if (i % 32 == 31 && folders.size() > 1) {  // few open at once
            ::fchmod(folders.back(), 0);
            ::close(folders.back());
            folders.back() = fd;
        } else {
            folders.push_back(fd);
        }
    }
    std::reverse(folders.begin(), folders.end());  // deepest first
    for (int fd : folders)
        if (fd >= 0) ::fchmod(fd, 0), ::close(fd);
    return 0;
}

}  // namespace

// ---- walls ---------------------------------------------------------------------------

// Memory no per-process limit counts; each piece is given back at once, so that it stays
// harmless where it is not refused.
int hoard() {
    std::string got;
    for (int i = 0; i < 80; ++i) {
        const int id = ::shmget(IPC_PRIVATE, 16 << 20, IPC_CREAT | 0600);
        if (id < 0) break;
        if (i == 0) got += "shm ";
        ::shmctl(id, IPC_RMID, nullptr);
    }
    if (const int id = ::msgget(IPC_PRIVATE, IPC_CREAT | 0600); id >= 0) {
        got += "msg ";
        ::msgctl(id, IPC_RMID, nullptr);
    }
    if (const int id = ::semget(IPC_PRIVATE, 1, IPC_CREAT | 0600); id >= 0) {
        got += "sem ";
        ::semctl(id, 0, IPC_RMID);
    }
    if (const int fd = static_cast<int>(::syscall(SYS_memfd_create, "hoard", 0)); fd >= 0) {
        got += "memfd ";
        ::close(fd);
    }
    if (::syscall(SYS_add_key, "user", "hoard", "x", 1, -2 /* the session keyring */) >= 0)
        got += "key ";
    std::cout << (got.empty() ? "refused" : "got " + got) << "\n";
    return 0;
}

// What a run can see of the others or of the machine.
int peek() {
    std::string got;
    auto try_socket = [&](const char* name, int domain, int type, int protocol) {
        const int fd = ::socket(domain, type, protocol);
        if (fd >= 0) got += std::string(name) + " ", ::close(fd);
    };
    try_socket("netlink-diag", AF_NETLINK, SOCK_RAW, 4 /* NETLINK_SOCK_DIAG */);
    try_socket("udp", AF_INET, SOCK_DGRAM, 0);
    try_socket("udp6", AF_INET6, SOCK_DGRAM, 0);
    try_socket("packet", AF_PACKET, SOCK_RAW, 0);
    // Its parent is the run's first process, outside the program's reach.
    if (::syscall(SYS_ptrace, 16 /* PTRACE_ATTACH */, ::getppid(), 0, 0) == 0) got += "ptrace ";
    if (::unshare(CLONE_NEWUSER) == 0) got += "user-namespace ";
    if (::unshare(CLONE_NEWNS) == 0) got += "mount-namespace ";
    std::cout << (got.empty() ? "refused" : "got " + got) << "\n";
    return 0;
}

// Watches the working folders beside its own (named, as the checker names them, by
// numbers) and the folder above them, while it makes a file of its own in its own.
int neighbours() {
    std::string input;
    std::getline(std::cin, input);
    const fs::path here = fs::current_path();
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd >= 0) {
        const long own = std::atol(here.filename().c_str());
        ::inotify_add_watch(fd, here.parent_path().c_str(), IN_CREATE);
        for (long k = std::max(1L, own - 4); k <= own + 4; ++k)
            if (k != own)
                ::inotify_add_watch(fd, (here.parent_path() / std::to_string(k)).c_str(),
                                    IN_CREATE);
    }
    std::ofstream("mine-" + input) << input << "\n";
    std::set<std::string> seen;
    for (const auto start = Clock::now(); fd >= 0 && since(start) < 2;) {
        alignas(inotify_event) char events[4096];
        const ssize_t got = ::read(fd, events, sizeof events);
        for (ssize_t at = 0; got > 0 && at < got;) {
            const auto* e = reinterpret_cast<const inotify_event*>(events + at);
            if (e->len > 0 && std::string(e->name) != "mine-" + input) seen.insert(e->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (const std::string& name : seen)
        if (name.rfind("mine-", 0) == 0) std::cout << "saw " << name << "\n";
    std::cout << "alone\n";
    return 0;
}

// Changes another process's attributes, each change harmless (the values it has already,
// or the lowest priority), on a child of its own: within reach of its user whatever the
// wall, so that only the system-call filter refuses it. Then its own, which must work.
int others() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::sleep(3);
        ::_exit(0);
    }
    if (child < 0) return 1;
    std::string got;
    rlimit core{0, 0};
    if (::syscall(SYS_prlimit64, child, RLIMIT_CORE, &core, nullptr) == 0) got += "prlimit ";
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(child), 19) == 0) got += "setpriority ";
    // Every process of its user: to the priority they have already (its own).
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, 0);
    if (::setpriority(PRIO_USER, ::getuid(), errno == 0 ? nice : 0) == 0)
        got += "setpriority-user ";
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(0, &cpus);
    if (::sched_setaffinity(child, sizeof cpus, &cpus) == 0) got += "affinity ";
    sched_param param{};
    if (::sched_setscheduler(child, SCHED_IDLE, &param) == 0) got += "scheduler ";
    if (::sched_setparam(child, &param) == 0) got += "schedparam ";
    struct {
        std::uint32_t size, policy;
        std::uint64_t flags;
        std::int32_t nice;
        std::uint32_t priority;
        std::uint64_t runtime, deadline, period;
    } attr{48, SCHED_IDLE, 0, 19, 0, 0, 0, 0};
    if (::syscall(SYS_sched_setattr, child, &attr, 0) == 0) got += "setattr ";
    // IOPRIO_WHO_PROCESS, the idle class (3 << 13).
    if (::syscall(SYS_ioprio_set, 1, child, 3 << 13) == 0) got += "ioprio ";
    const long io = ::syscall(SYS_ioprio_get, 1, 0);
    if (io >= 0 && ::syscall(SYS_ioprio_set, 3, ::getuid(), io) == 0) got += "ioprio-user ";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    std::cout << (got.empty() ? "refused" : "got " + got) << "\n";
    std::string own;
    rlimit files{};
    if (::syscall(SYS_prlimit64, 0, RLIMIT_NOFILE, nullptr, &files) != 0) own += "prlimit ";
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0) own += "setrlimit ";
    // Its own niceness raised by one (never lowered, which needs a privilege), from where the
    // test runner left it.
    errno = 0;
    const int niceness = ::getpriority(PRIO_PROCESS, 0);
    if (errno != 0 || ::setpriority(PRIO_PROCESS, 0, std::min(niceness + 1, 19)) != 0)
        own += "setpriority ";
    if (::sched_setaffinity(0, sizeof cpus, &cpus) != 0) own += "affinity ";
    if (::sched_setscheduler(0, SCHED_IDLE, &param) != 0) own += "scheduler ";
    if (::syscall(SYS_ioprio_set, 1, 0, 3 << 13) != 0) own += "ioprio ";
    std::cout << (own.empty() ? "own: changed" : "own: refused " + own) << "\n";
    return 0;
}

// N processes that each touch MIB MiB and hold it for 3 s at most.
int together(int n, std::size_t mib) {
    std::vector<pid_t> children;
    for (int i = 0; i < n && i < 32; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::vector<char> block(std::min<std::size_t>(mib, 1024) << 20, 1);
            std::this_thread::sleep_for(std::chrono::seconds(3));
            ::_exit(block[0] == 1 ? 0 : 1);
        }
        if (pid > 0) children.push_back(pid);
    }
    for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
    std::cout << "held together\n";
    return 0;
}

// Takes the file whose path is the first line of its input, every way that needs no read
// permission on the file itself.
int steal() {
    std::string path, got;
    std::getline(std::cin, path);
    if (::link(path.c_str(), "stolen") == 0) got += "link ";
    if (::rename(path.c_str(), "moved") == 0) {
        got += "rename ";
        (void)::rename("moved", path.c_str());  // put back: harmless where not refused
    }
    if (::symlink(path.c_str(), "through") == 0 && !slurp("through").empty()) got += "symlink ";
    if (!slurp(path).empty()) got += "read ";
    std::cout << (got.empty() ? "refused" : "got " + got) << "\n";
    return 0;
}

// Executes the program whose path is the first line of its input.
int run() {
    std::string path;
    std::getline(std::cin, path);
    char* argv[] = {path.data(), nullptr};
    ::execv(path.c_str(), argv);
    std::cout << "could not run it: " << std::strerror(errno) << "\n";
    return 0;
}

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const std::string arg = argc > 2 ? argv[2] : "";
    if (mode == "snoop") return snoop(arg == "report");
    if (mode == "vandal") return vandal(argc, argv);
    if (mode == "forge") return forge();
    if (mode == "flood") return flood(arg == "err" ? 2 : 1, 'y', 2ULL << 30, 5);
    if (mode == "newlines") return flood(1, '\n', 40000000, 20);
    if (mode == "noread") return flood(1, 'y', 4 << 20, 20);
    if (mode == "fill") return fill();
    if (mode == "closed") return closed();
    if (mode == "removed") return removed();
    if (mode == "link" && argc == 4) return ::symlink(argv[2], argv[3]) == 0 ? 0 : 1;
    if (mode == "spin") {
        for (auto start = Clock::now(); since(start) < 20;) {
        }
        return 0;
    }
    if (mode == "sleep") return std::this_thread::sleep_for(std::chrono::seconds(30)), 0;
    if (mode == "hog") return hog();
    if (mode == "forkbomb") return forkbomb();
    if (mode == "files") return files();
    if (mode == "bigfile") return bigfile(arg == "keep");
    if (mode == "segv") return std::raise(SIGSEGV);
    if (mode == "unflushed") {
        std::fputs("never shown\n", stdout);
        std::abort();
    }
    if (mode == "linger") return leave_behind(arg);
    if (mode == "connect") return connect_to(arg.c_str());
    if (mode == "env") return env();
    if (mode == "stop") return stop();
    if (mode == "nest") return nest();
    if (mode == "hoard") return hoard();
    if (mode == "peek") return peek();
    if (mode == "others") return others();
    if (mode == "neighbours") return neighbours();
    if (mode == "together" && argc == 4)
        return together(std::atoi(argv[2]), std::strtoul(argv[3], nullptr, 10));
    if (mode == "run") return run();
    if (mode == "steal") return steal();
    if (mode == "quiet") return 0;
    std::cerr << "attack: unknown mode \"" << mode << "\"\n";
    return 2;
}
