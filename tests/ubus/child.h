// A child process with its standard output and error captured, for driving
// ubusd-sim and ubus-sim from the tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace ubus_test {

inline long long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

class Child {
public:
    explicit Child(std::vector<std::string> argv) {
        // A cross build starts its programs through the emulator prefix; the
        // shell splits it into words and then gives way to the program.
        argv.insert(argv.begin(), {"/bin/sh", "-c", "exec $POWERBANK_EMULATOR \"$@\"", "sh"});
        std::vector<char *> args;
        for (std::string &a : argv)
            args.push_back(&a[0]);
        args.push_back(nullptr);
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0 || (pid_ = fork()) < 0) {
            exited_ = true;
            return;
        }
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            execv(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        fd_[0] = out[0];
        fd_[1] = err[0];
        for (int fd : fd_)
            fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child() {
        if (!exited()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : fd_)
            close(fd);
    }

    const std::string &out() const { return buf_[0]; }
    const std::string &err() const { return buf_[1]; }
    int exit_code() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

    // True once the child has exited; its output is then all read.
    bool exited() {
        if (!exited_ && waitpid(pid_, &status_, WNOHANG) == pid_)
            exited_ = true;
        drain();
        return exited_;
    }

    // Waits for the exit, running pump() meanwhile (e.g. the event loop that
    // serves the child's calls).
    template <typename Pump>
    bool wait(Pump pump, int timeout_ms = 10000) {
        for (long long end = now_ms() + timeout_ms; !exited(); pump()) {
            if (now_ms() > end)
                return false;
        }
        return true;
    }

    // Next line of standard output, without its newline.
    bool read_line(std::string &line, int timeout_ms) {
        for (long long end = now_ms() + timeout_ms;; drain()) {
            size_t nl = buf_[0].find('\n', line_pos_);
            if (nl != std::string::npos) {
                line = buf_[0].substr(line_pos_, nl - line_pos_);
                line_pos_ = nl + 1;
                return true;
            }
            pollfd pfd = {fd_[0], POLLIN, 0};
            if (now_ms() > end || poll(&pfd, 1, 20) < 0)
                return false;
        }
    }

    void terminate() {
        if (!exited()) {
            kill(pid_, SIGTERM);
            waitpid(pid_, &status_, 0);
            exited_ = true;
            drain();
        }
    }

private:
    void drain() {
        char chunk[4096];
        ssize_t n;
        for (int i = 0; i < 2; i++) {
            while (fd_[i] >= 0 && (n = read(fd_[i], chunk, sizeof(chunk))) > 0)
                buf_[i].append(chunk, n);
        }
    }

    pid_t pid_ = -1;
    int fd_[2] = {-1, -1};  // standard output, standard error
    int status_ = -1;
    bool exited_ = false;
    std::string buf_[2];
    size_t line_pos_ = 0;
};

}  // namespace ubus_test
