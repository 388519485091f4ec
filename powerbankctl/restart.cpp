// The restart command of `set --apply`: on the device the init script, on
// the simulated board whatever stands in for procd.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "set.h"

namespace powerbankctl {

bool restart_daemon(const char *command, char *why, size_t why_size) {
    const pid_t pid = fork();
    if (pid < 0) {
        snprintf(why, why_size, "cannot run the restart command \"%s\": %s", command,
                 strerror(errno));
        return false;
    }
    if (pid == 0) {
        // Its chatter must not mix into what this program prints (JSON, say).
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execl("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        snprintf(why, why_size, "the restart command \"%s\" failed (%s %d)", command,
                 WIFEXITED(status) ? "exit status" : "signal",
                 WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
        return false;
    }
    return true;
}

}  // namespace powerbankctl
