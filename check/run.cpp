#include "check/run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Reads both pipes until they close or the deadline passes; false when it passed first.
bool drain(int fd_out, int fd_err, std::string& out, std::string& err, Clock::time_point deadline) {
    pollfd fds[2] = {{fd_out, POLLIN, 0}, {fd_err, POLLIN, 0}};
    std::string* sinks[] = {&out, &err};
    int open = 2;
    while (open > 0) {
        // No signal handler is installed, so poll and read are never interrupted.
        if (::poll(fds, 2, left_until(deadline)) <= 0) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char chunk[65536];
            ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else {  // the end of the stream, or an error that ends it as well
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

// A pipe whose ends are closed in a program that is executed; throws when none can be made.
void make_pipe(int ends[2]) {
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
}

// Pointers to the strings, ended by a null pointer, as exec wants them.
std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    p.reserve(strings.size() + 1);
    for (std::string& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

// Starts the program in a process group of its own, its standard output and error on the
// pipes' write ends (or standard output on `launch.stdout_to`); 0 or an errno value.
int start(const Launch& launch, int out, int err, pid_t& child) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addchdir_np(&actions, launch.folder.c_str());
    posix_spawn_file_actions_addopen(
        &actions, 0, launch.input.empty() ? "/dev/null" : launch.input.c_str(), O_RDONLY, 0);
    if (launch.stdout_to.empty())
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, launch.stdout_to.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> args = launch.argv;
    int failed = ::posix_spawn(&child, args[0].c_str(), &actions, &attributes,
                               pointers(args).data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed;
}

}  // namespace

Outcome run(const Launch& launch, std::chrono::milliseconds limit) {
    Outcome o;
    int out[2], err[2];
    make_pipe(out);
    make_pipe(err);
    pid_t child = 0;
    int failed = start(launch, out[1], err[1], child);
    ::close(out[1]);
    ::close(err[1]);
    if (failed != 0) {
        ::close(out[0]);
        ::close(err[0]);
        o.start_error = std::strerror(failed);
        return o;
    }

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
        ::waitpid(child, &wait_status, 0);
    }
    o.signaled = WIFSIGNALED(wait_status);
    o.code = o.signaled ? WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
    return o;
}

Scratch::Scratch(const Case& c, std::chrono::milliseconds limit) {
    std::string pattern = (fs::temp_directory_path() / "collection-check.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(pattern + ": " + std::strerror(errno));
    path_ = pattern;
    try {
        if (fs::exists(c.folder / "files"))
            fs::copy(c.folder / "files", path_,
                     fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        if (fs::exists(c.folder / "setup")) {
            Launch setup;
            setup.argv.push_back(find_executable("bash").string());
            setup.argv.push_back((c.folder / "setup").string());
            setup.folder = path_;
            ::setenv("CASE_DIR", c.folder.c_str(), 1);
            Outcome o = run(setup, limit);
            ::unsetenv("CASE_DIR");
            if (!o.finished || o.signaled || o.code != 0)
                throw std::runtime_error("the case's setup script failed: " + o.err);
        }
    } catch (...) {
        remove();
        throw;
    }
}

Scratch::~Scratch() { remove(); }

void Scratch::remove() {
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
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) {
        fs::path p = fs::absolute(name);
        struct stat st {};
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
        fs::path p = fs::current_path() / folder / name;  // an empty folder is the current one
        if (usable(p)) return p;
        if (to == std::string::npos) break;
        from = to + 1;
    }
    throw std::runtime_error(name + ": not found in any folder of PATH");
}

}  // namespace check
