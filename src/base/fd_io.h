// Descriptor I/O: a move-only owner of a raw descriptor, so every hardware
// file is opened for one access and closed on every path out of the function
// that opened it, and the EINTR-safe open, read and write around it.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

class unique_fd {
public:
    unique_fd() = default;
    explicit unique_fd(int fd) : fd_(fd) {}
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    unique_fd(unique_fd &&other) noexcept : fd_(other.release()) {}
    unique_fd &operator=(unique_fd &&other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~unique_fd() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// open(2) with the close-on-exec flag, retried on EINTR.
[[nodiscard]] inline unique_fd open_fd(const char *path, int flags, mode_t mode = 0644) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return unique_fd(fd);
}

// One write(2) or read(2), repeated only when a signal came before any byte
// moved, so nothing is ever sent twice.
[[nodiscard]] inline ssize_t write_once(int fd, const void *buf, size_t len) {
    ssize_t n;
    do {
        n = ::write(fd, buf, len);
    } while (n < 0 && errno == EINTR);
    return n;
}

[[nodiscard]] inline ssize_t read_once(int fd, void *buf, size_t len) {
    ssize_t n;
    do {
        n = ::read(fd, buf, len);
    } while (n < 0 && errno == EINTR);
    return n;
}
