// A program's life on the board, in the journal: "proc NAME start" when it
// starts under the library, "proc NAME end" once it has gone, however it went
// (exit, a signal, SIGKILL, or an exec into another program).
//
// The end is told by a watcher: a small process forked at start that holds
// the read end of a pipe whose write end only the program holds (close-on-
// exec). When the program goes, the kernel closes the write end, the
// watcher's read returns, and it journals the end and leaves. The watcher is
// forked twice over, so it is no child of the program: a program that waits
// for any child of its own never meets it.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "context.h"

namespace boardsim {

namespace {

// Out of the way of the low descriptors the program numbers for itself.
constexpr int kHighFd = 200;

void journal_proc(const Context &c, const char *op, long pid, bool create) {
    char text[160];
    char number[24];
    const int n = snprintf(number, sizeof number, "%ld", pid);
    snprintf(text, sizeof text, "proc %.64s %s %d \"%s\"", program_invocation_short_name, op, n,
             number);
    journal_line(c.dir, c.clock, text, create);
}

// The watcher's life: nothing but the pipe, no terminal, no signals that stop
// it before the program is gone; then one line, and out.
[[noreturn]] void watch(const Context &c, int read_fd, long pid) {
    setsid();
    static const int kIgnored[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};
    for (int sig : kIgnored) {
        signal(sig, SIG_IGN);
    }
    for (int fd = 0; fd < 1024; ++fd) {
        if (fd != read_fd) {
            syscall(SYS_close, fd);
        }
    }
    if (chdir("/") != 0) {
        // The board directory stays busy no longer than the program.
    }
    char byte;
    while (syscall(SYS_read, read_fd, &byte, 1) < 0 && errno == EINTR) {
    }
    // A board made anew or removed meanwhile gets no line.
    journal_proc(c, "end", pid, false);
    syscall(SYS_exit_group, 0);
    for (;;) {
    }
}

__attribute__((constructor)) void process_start() {
    const Context &c = context();
    if (!c.active) {
        return;
    }
    const long pid = static_cast<long>(getpid());
    journal_proc(c, "start", pid, true);
    int fds[2];
    if (syscall(SYS_pipe2, fds, O_CLOEXEC) != 0) {
        return;
    }
    // The write end goes high, out of the program's way.
    const long high = syscall(SYS_fcntl, fds[1], F_DUPFD_CLOEXEC, kHighFd);
    if (high >= 0) {
        syscall(SYS_close, fds[1]);
        fds[1] = static_cast<int>(high);
    }
    const pid_t between = fork();
    if (between == 0) {
        syscall(SYS_close, fds[1]);
        if (fork() == 0) {
            watch(c, fds[0], pid);
        }
        syscall(SYS_exit_group, 0);
    }
    syscall(SYS_close, fds[0]);
    if (between < 0) {
        syscall(SYS_close, fds[1]);
        return;
    }
    int status = 0;
    while (waitpid(between, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

}  // namespace boardsim
