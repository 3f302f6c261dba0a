// helper, the test's own tools (never run inside the sandbox):
//   helper listen PORT_FILE LOG SECONDS   listens on 127.0.0.1, an ephemeral port written to
//                                         PORT_FILE, on the abstract socket hostile-PORT and
//                                         on the socket file /tmp/hostile-PORT.sock, which
//                                         anyone may connect to; appends a line to LOG per
//                                         connection; ends after SECONDS, removing the file
//   helper maxrss FILE COMMAND...         runs COMMAND, writes the largest resident size of
//                                         it and its descendants in KiB to FILE, and exits
//                                         with COMMAND's status
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace {

int listen_for(const char* port_file, const char* log, double seconds) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), size) != 0 || ::listen(s, 16) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
        std::perror("helper listen");
        if (s >= 0) ::close(s);
        return 1;
    }
    // And an abstract socket named after the port, "hostile-PORT".
    int u = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    const std::string abstract = "hostile-" + std::to_string(ntohs(a.sin_port));
    abstract.copy(name.sun_path + 1, sizeof name.sun_path - 2);
    const auto name_size = static_cast<socklen_t>(sizeof(sa_family_t) + 1 + abstract.size());
    if (u < 0 || ::bind(u, reinterpret_cast<sockaddr*>(&name), name_size) != 0 ||
        ::listen(u, 16) != 0) {
        std::perror("helper listen");
        if (u >= 0) ::close(u);
        ::close(s);
        return 1;
    }
    // And a socket file anyone may connect to, as a desktop's session bus or an agent's.
    int f = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un file{};
    file.sun_family = AF_UNIX;
    const std::string path = "/tmp/hostile-" + std::to_string(ntohs(a.sin_port)) + ".sock";
    path.copy(file.sun_path, sizeof file.sun_path - 1);
    if (f < 0 || ::bind(f, reinterpret_cast<sockaddr*>(&file), sizeof file) != 0 ||
        ::chmod(path.c_str(), 0777) != 0 || ::listen(f, 16) != 0) {
        std::perror("helper listen");
        ::unlink(path.c_str());
        for (int fd : {s, u, f})
            if (fd >= 0) ::close(fd);
        return 1;
    }
    std::ofstream(std::string(port_file) + ".part") << ntohs(a.sin_port) << "\n";
    std::rename((std::string(port_file) + ".part").c_str(), port_file);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p[3] = {{s, POLLIN, 0}, {u, POLLIN, 0}, {f, POLLIN, 0}};
        if (::poll(p, 3, 100) <= 0) continue;
        for (const auto& one : p) {
            int c = one.revents ? ::accept(one.fd, nullptr, nullptr) : -1;
            if (c < 0) continue;
            std::ofstream(log, std::ios::app) << "connection\n";
            ::close(c);
        }
    }
    ::unlink(path.c_str());
    return 0;
}

int maxrss(const char* file, char** command) {
    pid_t child = ::fork();
    if (child == 0) {
        ::execvp(command[0], command);
        std::perror("helper maxrss");
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return 126;
    rusage r{};
    ::getrusage(RUSAGE_CHILDREN, &r);
    std::ofstream(file) << r.ru_maxrss << "\n";
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "listen" && argc == 5) return listen_for(argv[2], argv[3], std::atof(argv[4]));
    if (mode == "maxrss" && argc > 3) return maxrss(argv[2], argv + 3);
    std::cerr << "usage: helper listen PORT_FILE LOG SECONDS | helper maxrss FILE COMMAND...\n";
    return 2;
}
