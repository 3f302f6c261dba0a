/* meet: a submission that looks for the runs beside it. It binds an abstract Unix socket
 * named after its secret and its input, and one named the same in every run (a rendezvous),
 * then for 2 s lists the sockets it can see (/proc/self/net/unix, /proc/net/unix), connects
 * to every other run's socket it finds, and accepts whoever connects to its own. It prints
 * "alone" when it met no one, or what it saw, reached, or was reached by.
 * The secret is the macro SECRET (a grading test writes it above this file) or its first
 * argument. Written in C, so that a class's submission can be this file itself. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#ifndef SECRET
#define SECRET "plain"
#endif

static char met[4096]; /* what it met, one line each */

static void note(const char* what, const char* name) {
    if (strlen(met) + strlen(what) + strlen(name) + 3 < sizeof met && strstr(met, name) == NULL) {
        strcat(met, what);
        strcat(met, " ");
        strcat(met, name);
        strcat(met, "\n");
    }
}

/* An abstract address for `name`, and its length. */
static socklen_t address(struct sockaddr_un* a, const char* name) {
    memset(a, 0, sizeof *a);
    a->sun_family = AF_UNIX;
    size_t n = strlen(name);
    if (n > sizeof a->sun_path - 2) n = sizeof a->sun_path - 2;
    memcpy(a->sun_path + 1, name, n);
    return (socklen_t)(sizeof(sa_family_t) + 1 + strlen(a->sun_path + 1));
}

/* Lists the sockets of `path`; connects to every other run's one. */
static void look(const char* path, const char* own) {
    char text[65536];
    int fd = open(path, O_RDONLY);
    if (fd < 0) return;
    ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0) return;
    text[got] = '\0';
    for (char* line = strtok(text, "\n"); line != NULL; line = strtok(NULL, "\n")) {
        char* at = strstr(line, "@meet.");
        if (at == NULL || strcmp(at + 1, own) == 0) continue;
        note("saw", at + 1);
        struct sockaddr_un a;
        socklen_t size = address(&a, at + 1);
        int s = socket(AF_UNIX, SOCK_STREAM, 0);
        if (s >= 0 && connect(s, (struct sockaddr*)&a, size) == 0) {
            note("reached", at + 1);
            (void)!write(s, own, strlen(own));
        }
        if (s >= 0) close(s);
    }
}

int main(int argc, char** argv) {
    char input[64] = "";
    if (fgets(input, sizeof input, stdin) != NULL) input[strcspn(input, "\n")] = '\0';
    char own[160];
    snprintf(own, sizeof own, "meet.%s.in%s", argc > 1 ? argv[1] : SECRET, input);
    struct sockaddr_un a;
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int rendezvous = socket(AF_UNIX, SOCK_STREAM, 0);
    if (listener < 0 || rendezvous < 0) { /* no socket at all: no one to meet */
        puts("alone");
        return 0;
    }
    socklen_t size = address(&a, own);
    if (bind(listener, (struct sockaddr*)&a, size) != 0 || listen(listener, 8) != 0)
        note("could not bind", own);
    size = address(&a, "hostile-meet-rendezvous");
    if (bind(rendezvous, (struct sockaddr*)&a, size) != 0 && errno == EADDRINUSE)
        note("met", "at the rendezvous");
    for (int i = 0; i < 40; ++i) {
        look("/proc/self/net/unix", own);
        look("/proc/net/unix", own);
        int c = accept(listener, NULL, NULL);
        if (c >= 0) {
            char who[160] = "";
            ssize_t got = read(c, who, sizeof who - 1);
            note("was reached by", got > 0 ? who : "someone");
            close(c);
        }
        struct timespec pause = {0, 50 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }
    fputs(met[0] != '\0' ? met : "alone\n", stdout);
    return 0;
}
