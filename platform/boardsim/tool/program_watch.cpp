// A program's life on the board, in the journal: "proc NAME start" as `run`
// hands the process over to it (exec keeps the pid), "proc NAME end" once it
// has gone, however it went (exit, a signal, SIGKILL).
//
// The end is told by a watcher: a small process forked twice over (so it is
// no child of the program) that holds the read end of a pipe whose write end
// the program holds, high among its descriptors. When the program goes, the
// kernel closes the write end, the watcher's read returns, and it journals
// the end and leaves. The fork happens here, before the exec, so a program
// run under an emulator does not pay for it.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "board_files.h"
#include "tool.h"

using namespace boardsim;

namespace boardsim_tool {

namespace {

// Out of the way of the low descriptors the program numbers for itself.
constexpr int kHighFd = 200;

void journal_proc(const char *dir, const char *name, const char *op, long pid, bool create) {
    Clock clock;
    if (!read_clock(dir, &clock)) {
        return;
    }
    char number[24];
    char text[160];
    const int n = snprintf(number, sizeof number, "%ld", pid);
    snprintf(text, sizeof text, "proc %.64s %s %d \"%s\"", name, op, n, number);
    journal_line(dir, clock, text, create);
}

// The watcher's life: no terminal, no signals that stop it before the
// program is gone, its standard streams on /dev/null (what else it holds it
// lets go of when it leaves, just after the program); then one line, and out.
[[noreturn]] void watch(const char *dir, const char *name, int read_fd, long pid) {
    setsid();
    static const int kIgnored[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
    for (int sig : kIgnored) {
        signal(sig, SIG_IGN);
    }
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3 && null >= 0; ++fd) {
        dup2(null, fd);
    }
    if (chdir("/") != 0) {
        // The board directory stays busy no longer than the program.
    }
    char byte;
    while (read(read_fd, &byte, 1) < 0 && errno == EINTR) {
    }
    // A board made anew or removed meanwhile gets no line.
    journal_proc(dir, name, "end", pid, false);
    _exit(0);
}

}  // namespace

void watch_program(const char *dir, const char *program) {
    const char *slash = strrchr(program, '/');
    const char *name = slash != nullptr ? slash + 1 : program;
    const long pid = static_cast<long>(getpid());
    journal_proc(dir, name, "start", pid, true);
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    const int high = fcntl(fds[1], F_DUPFD, kHighFd);
    if (high >= 0) {
        close(fds[1]);
        fds[1] = high;
    }
    fflush(nullptr);
    const pid_t between = fork();
    if (between == 0) {
        close(fds[1]);
        if (fork() == 0) {
            watch(dir, name, fds[0], pid);
        }
        _exit(0);
    }
    close(fds[0]);
    if (between < 0) {
        close(fds[1]);
        return;
    }
    int status = 0;
    while (waitpid(between, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace boardsim_tool
