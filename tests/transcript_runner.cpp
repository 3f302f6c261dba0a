// transcript_runner PROGRAM CASE_FOLDER
//
// Runs one transcript case against a built program and says whether it held. A case is a
// folder of plain files:
//   input       the bytes typed on standard input (absent: standard input is /dev/null)
//   output      the exact expected standard output
//   status      the expected exit status (absent: 0)
//   args        command-line arguments, one per line
//   stderr      the exact expected standard error (absent: standard error must be empty)
//   files/      copied into a fresh working folder, where the program runs
//   setup       shell commands run in the working folder before the program ($CASE_DIR
//               names the case folder)
//   after/      files that the working folder must hold afterwards, byte for byte
//   stdout-to   a path standard output is sent to instead of being compared (/dev/full)
// On a mismatch it prints both texts with their invisible characters made visible.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/read_file.hpp"

namespace fs = std::filesystem;

namespace {

constexpr int kTimeoutSeconds = 20;

using tests::read_file;

// One line per output line, cat -A style: tabs as \t, spaces as '·', other invisible bytes
// as \xHH, and '$' where a line feed stood.
std::string visible(const std::string& text) {
    std::string v = "    | ";
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            v += "$\n    | ";
        } else if (c == '\t') {
            v += "\\t";
        } else if (c == ' ') {
            v += "\xc2\xb7";
        } else if (c == '\\') {
            v += "\\\\";
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned>(c));
            v += hex;
        } else {
            v += ch;
        }
    }
    return v + "(end)\n";
}

void report(const char* what, const std::string& want, const std::string& got) {
    std::size_t at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at]) ++at;
    std::size_t line = 1;
    for (std::size_t i = 0; i < at; ++i) line += want[i] == '\n';
    std::cout << what << " differs at byte " << at << " (line " << line << ")\n";
    std::cout << "  expected:\n" << visible(want) << "  actual:\n" << visible(got);
}

// Reads all of a pipe's bytes until it closes or the deadline passes.
bool drain(int fd_out, int fd_err, std::string& out, std::string& err,
           std::chrono::steady_clock::time_point deadline) {
    std::vector<pollfd> fds = {{fd_out, POLLIN, 0}, {fd_err, POLLIN, 0}};
    std::string* sinks[] = {&out, &err};
    int open = 2;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char chunk[65536];
            ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: transcript_runner PROGRAM CASE_FOLDER\n";
        return 2;
    }
    const fs::path program = fs::absolute(argv[1]);
    const fs::path kase = fs::absolute(argv[2]);

    std::string text;
    std::vector<std::string> args = {program.string()};
    if (read_file(kase / "args", text)) {
        std::istringstream lines(text);
        for (std::string arg; std::getline(lines, arg);) args.push_back(arg);
    }
    int want_status = 0;
    if (read_file(kase / "status", text)) want_status = std::atoi(text.c_str());
    std::string want_out;
    bool compare_out = read_file(kase / "output", want_out);
    std::string want_err;
    bool exact_err = read_file(kase / "stderr", want_err);
    std::string stdout_to;
    if (read_file(kase / "stdout-to", stdout_to))
        while (!stdout_to.empty() && (stdout_to.back() == '\n' || stdout_to.back() == ' '))
            stdout_to.pop_back();

    // A fresh working folder, holding the case's files.
    std::string pattern = (fs::temp_directory_path() / "transcript.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const fs::path work = pattern;
    if (fs::exists(kase / "files"))
        fs::copy(kase / "files", work,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    if (fs::exists(kase / "setup")) {
        std::string command = "cd '" + work.string() + "' && CASE_DIR='" + kase.string() +
                              "' bash '" + (kase / "setup").string() + "'";
        if (std::system(command.c_str()) != 0) {
            std::cout << "setup failed\n";
            return 1;
        }
    }

    int out_pipe[2], err_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) {
        std::perror("pipe");
        return 2;
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::chdir(work.c_str());
        int in = fs::exists(kase / "input") ? ::open((kase / "input").c_str(), O_RDONLY)
                                            : ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        if (!stdout_to.empty()) {
            int out = ::open(stdout_to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
        } else {
            ::dup2(out_pipe[1], 1);
        }
        ::dup2(err_pipe[1], 2);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        ::close(out_pipe[1]);
        ::close(err_pipe[1]);
        std::vector<char*> argp;
        for (std::string& a : args) argp.push_back(a.data());
        argp.push_back(nullptr);
        ::execv(argp[0], argp.data());
        std::perror("execv");
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    std::string got_out, got_err;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
    bool finished = drain(out_pipe[0], err_pipe[0], got_out, got_err, deadline);
    if (!finished) ::kill(child, SIGKILL);
    int wait_status = 0;
    ::waitpid(child, &wait_status, 0);

    bool ok = true;
    if (!finished) {
        std::cout << "the program did not end within " << kTimeoutSeconds << " seconds\n";
        ok = false;
    }
    if (WIFSIGNALED(wait_status)) {
        std::cout << "the program was killed by signal " << WTERMSIG(wait_status) << "\n";
        ok = false;
    } else if (WEXITSTATUS(wait_status) != want_status) {
        std::cout << "exit status " << WEXITSTATUS(wait_status) << ", expected " << want_status
                  << "\n";
        ok = false;
    }
    if (compare_out && got_out != want_out) {
        report("standard output", want_out, got_out);
        ok = false;
    }
    if (exact_err ? got_err != want_err : !got_err.empty()) {
        report("standard error", exact_err ? want_err : std::string(), got_err);
        ok = false;
    }
    if (fs::exists(kase / "after")) {
        for (const auto& entry : fs::recursive_directory_iterator(kase / "after")) {
            if (!entry.is_regular_file()) continue;
            fs::path rel = fs::relative(entry.path(), kase / "after");
            std::string want_file, got_file;
            read_file(entry.path(), want_file);
            if (!read_file(work / rel, got_file)) {
                std::cout << "file " << rel << " is missing afterwards\n";
                ok = false;
            } else if (want_file != got_file) {
                report(("file " + rel.string()).c_str(), want_file, got_file);
                ok = false;
            }
        }
    }
    std::error_code ignored;
    fs::permissions(work, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(work, ignored);
    if (ok) std::cout << "transcript held\n";
    return ok ? 0 : 1;
}
