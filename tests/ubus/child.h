// A child process with its standard output and error captured, for driving
// ubusd-sim and ubus-sim from the tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
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
    explicit Child(const std::vector<std::string> &argv) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            // A cross build runs its programs through the emulator prefix.
            std::vector<std::string> words;
            if (const char *emu = getenv("POWERBANK_EMULATOR")) {
                std::string w;
                for (const char *p = emu;; p++) {
                    if (*p && *p != ' ') {
                        w += *p;
                        continue;
                    }
                    if (!w.empty())
                        words.push_back(w);
                    w.clear();
                    if (!*p)
                        break;
                }
            }
            words.insert(words.end(), argv.begin(), argv.end());
            std::vector<char *> args;
            for (auto &a : words)
                args.push_back(&a[0]);
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_fd_ = out[0];
        err_fd_ = err[0];
        fcntl(out_fd_, F_SETFL, O_NONBLOCK);
        fcntl(err_fd_, F_SETFL, O_NONBLOCK);
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    ~Child() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_fd_ >= 0)
            close(out_fd_);
        if (err_fd_ >= 0)
            close(err_fd_);
    }

    pid_t pid() const { return pid_; }
    const std::string &out() const { return out_; }
    const std::string &err() const { return err_; }

    // Moves whatever the child has written into out()/err().
    void drain() {
        drain_fd(out_fd_, out_);
        drain_fd(err_fd_, err_);
    }

    // True once the child has exited; status() is then its wait status.
    bool exited() {
        if (!exited_ && waitpid(pid_, &status_, WNOHANG) == pid_)
            exited_ = true;
        if (exited_)
            drain();
        return exited_;
    }
    int status() const { return status_; }
    int exit_code() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }

    // Waits for the child to exit, running pump() meanwhile (e.g. the event
    // loop that serves the child's calls).
    template <typename Pump>
    bool wait(Pump pump, int timeout_ms = 10000) {
        long long deadline = now_ms() + timeout_ms;
        while (!exited()) {
            if (now_ms() > deadline)
                return false;
            drain();
            pump();
        }
        return true;
    }
    bool wait(int timeout_ms = 10000) {
        return wait([this] { wait_output(20); }, timeout_ms);
    }

    // Next complete line of standard output (without its newline).
    bool read_line(std::string &line, int timeout_ms) {
        long long deadline = now_ms() + timeout_ms;
        for (;;) {
            auto nl = out_.find('\n', out_pos_);
            if (nl != std::string::npos) {
                line = out_.substr(out_pos_, nl - out_pos_);
                out_pos_ = nl + 1;
                return true;
            }
            long long left = deadline - now_ms();
            if (left <= 0)
                return false;
            wait_output(static_cast<int>(left));
            drain();
        }
    }

    void terminate() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, &status_, 0);
            exited_ = true;
            drain();
        }
    }

private:
    void wait_output(int timeout_ms) {
        pollfd pfd = {out_fd_, POLLIN, 0};
        poll(&pfd, 1, timeout_ms);
    }
    static void drain_fd(int fd, std::string &to) {
        char buf[4096];
        ssize_t n;
        while (fd >= 0 && (n = read(fd, buf, sizeof(buf))) > 0)
            to.append(buf, n);
    }

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    int status_ = -1;
    bool exited_ = false;
    std::string out_, err_;
    size_t out_pos_ = 0;
};

}  // namespace ubus_test
