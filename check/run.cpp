#include "check/run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace check {

namespace {

// Milliseconds left until `deadline`, never below 0.
int left_until(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads both pipes until they close or the deadline passes; false when it passed first.
bool drain(int fd_out, int fd_err, std::string& out, std::string& err, Clock::time_point deadline) {
    pollfd fds[2] = {{fd_out, POLLIN, 0}, {fd_err, POLLIN, 0}};
    std::string* sinks[] = {&out, &err};
    int open = 2;
    while (open > 0) {
        int wait = left_until(deadline);
        if (wait == 0) return false;
        int ready = ::poll(fds, 2, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char chunk[65536];
            ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

// In the child: reports errno on `report` and ends.
[[noreturn]] void give_up(int report) {
    int e = errno;
    [[maybe_unused]] ssize_t n = ::write(report, &e, sizeof e);
    ::_exit(127);
}

// In the child: wires the streams, enters the working folder and executes the program.
// Reports a failure as an errno value on `report` and ends the child.
[[noreturn]] void become(const Launch& launch, int out, int err, int report) {
    ::setpgid(0, 0);
    ::signal(SIGPIPE, SIG_DFL);
    auto fail = [report]() { give_up(report); };
    if (::chdir(launch.folder.c_str()) != 0) fail();
    int in =
        ::open(launch.input.empty() ? "/dev/null" : launch.input.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 || ::dup2(in, 0) < 0) fail();
    if (!launch.stdout_to.empty()) {
        out = ::open(launch.stdout_to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0) fail();
    }
    if (::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) fail();
    for (const std::string& v : launch.variables) {
        std::size_t eq = v.find('=');
        ::setenv(v.substr(0, eq).c_str(), v.substr(eq + 1).c_str(), 1);
    }
    std::vector<char*> argv;
    for (const std::string& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    give_up(report);
}

}  // namespace

Outcome run(const Launch& launch, std::chrono::milliseconds limit) {
    Outcome o;
    int out[2], err[2], report[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        ::pipe2(report, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    pid_t child = ::fork();
    if (child < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (child == 0) become(launch, out[1], err[1], report[1]);
    ::close(out[1]);
    ::close(err[1]);
    ::close(report[1]);

    const Clock::time_point deadline = Clock::now() + limit;
    o.finished = drain(out[0], err[0], o.out, o.err, deadline);
    ::close(out[0]);
    ::close(err[0]);
    int wait_status = 0;
    while (o.finished && ::waitpid(child, &wait_status, WNOHANG) == 0) {
        if (left_until(deadline) == 0)
            o.finished = false;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!o.finished) {
        ::kill(-child, SIGKILL);
        ::kill(child, SIGKILL);
        ::waitpid(child, &wait_status, 0);
    }
    int e = 0;
    if (::read(report[0], &e, sizeof e) == static_cast<ssize_t>(sizeof e))
        o.start_error = std::strerror(e);
    ::close(report[0]);
    o.signaled = WIFSIGNALED(wait_status);
    o.code = o.signaled ? WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
    return o;
}

Scratch::Scratch(const Case& c, std::chrono::milliseconds limit) {
    std::string pattern = (fs::temp_directory_path() / "collection-check.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(pattern + ": " + std::strerror(errno));
    path_ = pattern;
    if (fs::exists(c.folder / "files"))
        fs::copy(c.folder / "files", path_,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    if (fs::exists(c.folder / "setup")) {
        Launch setup{{find_executable("bash").string(), (c.folder / "setup").string()},
                     path_,
                     {},
                     {},
                     {"CASE_DIR=" + c.folder.string()}};
        Outcome o = run(setup, limit);
        if (!o.finished || o.signaled || o.code != 0)
            throw std::runtime_error("the case's setup script failed: " + o.err);
    }
}

Scratch::~Scratch() {
    std::error_code ignored;
    // A case may leave folders without write permission behind; open them up first.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

fs::path find_executable(const std::string& name) {
    auto usable = [](const fs::path& p) {
        struct stat st;
        return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) {
        fs::path p = fs::absolute(name);
        struct stat st;
        if (::stat(p.c_str(), &st) != 0)
            throw std::runtime_error(name + ": " + std::strerror(errno));
        if (!usable(p)) throw std::runtime_error(name + ": not an executable file");
        return p;
    }
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t from = 0;
    while (true) {
        std::size_t to = folders.find(':', from);
        std::string folder = folders.substr(from, to == std::string::npos ? to : to - from);
        fs::path p = fs::absolute(fs::path(folder.empty() ? "." : folder) / name);
        if (usable(p)) return p;
        if (to == std::string::npos) break;
        from = to + 1;
    }
    throw std::runtime_error(name + ": not found in any folder of PATH");
}

}  // namespace check
