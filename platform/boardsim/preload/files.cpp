#include "files.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <pthread.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "context.h"
#include "i2c_bus.h"
#include "model.h"
#include "real.h"

namespace boardsim {

namespace {

constexpr int kMaxFd = 4096;
constexpr int kPoolSize = 256;
constexpr size_t kShowMax = 4096;

struct SimFile {
    bool used = false;
    int refs = 0;  // descriptors sharing it (dup, dup2, F_DUPFD)
    Target target;
    int accmode = O_RDONLY;
    off_t pos = 0;
    size_t len = 0;  // bytes of the last show
    bool filled = false;
    unsigned short slave = 0;  // I2C_SLAVE address on /dev/i2c-0
    char buf[kShowMax];
};

pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
SimFile *g_by_fd[kMaxFd];
SimFile g_pool[kPoolSize];

struct Lock {
    Lock() { pthread_mutex_lock(&g_lock); }
    ~Lock() { pthread_mutex_unlock(&g_lock); }
};

SimFile *lookup(int fd) {
    return fd >= 0 && fd < kMaxFd ? g_by_fd[fd] : nullptr;
}

ssize_t fail(int err) {
    errno = err;
    return -1;
}

ssize_t do_read(SimFile *f, void *out, size_t n, off_t at) {
    if (f->accmode == O_WRONLY) {
        return fail(EBADF);
    }
    if (f->target.node == Node::I2cDev) {
        struct i2c_msg m = {f->slave, I2C_M_RD, static_cast<__u16>(n > 8192 ? 8192 : n),
                            static_cast<__u8 *>(out)};
        int r = i2c_transfer(&m, 1);
        return r < 0 ? fail(-r) : m.len;
    }
    if (node_is_dir(f->target)) {
        return fail(EISDIR);
    }
    if (at == 0 || !f->filled) {
        // Like sysfs, a read from the start asks the driver afresh.
        if (int err = node_io_fault(f->target, false)) {
            node_journal_read(f->target, "", 0, err);
            return fail(err);
        }
        ssize_t len = node_show(f->target, f->buf, sizeof f->buf);
        if (len < 0) {
            node_journal_read(f->target, "", 0, static_cast<int>(-len));
            return fail(static_cast<int>(-len));
        }
        f->len = static_cast<size_t>(len);
        f->filled = true;
    }
    size_t avail = static_cast<size_t>(at) < f->len ? f->len - static_cast<size_t>(at) : 0;
    size_t take = n < avail ? n : avail;
    memcpy(out, f->buf + at, take);
    if (at == 0) {
        node_journal_read(f->target, f->buf, take, 0);
    }
    return static_cast<ssize_t>(take);
}

ssize_t do_write(SimFile *f, const void *data, size_t n) {
    if (f->accmode == O_RDONLY) {
        return fail(EBADF);
    }
    if (f->target.node == Node::I2cDev) {
        struct i2c_msg m = {f->slave, 0, static_cast<__u16>(n > 8192 ? 8192 : n),
                            static_cast<__u8 *>(const_cast<void *>(data))};
        int r = i2c_transfer(&m, 1);
        return r < 0 ? fail(-r) : m.len;
    }
    ssize_t r = node_store(f->target, static_cast<const char *>(data), n);
    return r < 0 ? fail(static_cast<int>(-r)) : r;
}

}  // namespace

bool sim_lookup(const char *path, int *err, bool *is_dir) {
    Target t;
    if (!context().active || !classify(path, &t)) {
        return false;
    }
    *err = node_missing(t);
    *is_dir = node_is_dir(t);
    return true;
}

namespace {

// The real descriptor behind a simulated file: an anonymous memory file, so
// the board depends on nothing of the host's /dev. (Borrowed from /dev/null,
// every simulated file went missing while another process on a shared machine
// had /dev/null away for a moment.)
int backing_fd(int flags) {
    const int fd = memfd_create("boardsim", (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0);
    return fd >= 0 ? fd : REAL(open)("/dev/null", O_RDWR | (flags & O_CLOEXEC));
}

void open_file(const Target &t, int flags, int *result) {
    *result = -1;
    int accmode = flags & O_ACCMODE;
    if (int err = node_missing(t)) {
        errno = err;
        return;
    }
    if ((flags & O_CREAT) && (flags & O_EXCL)) {
        errno = EEXIST;
        return;
    }
    if (node_is_dir(t)) {
        if (accmode != O_RDONLY) {
            errno = EISDIR;
            return;
        }
        // Directories are not modelled beyond existence: hand out the board
        // directory itself so that open/fstat/close work.
        *result = REAL(open)(context().dir, O_RDONLY | O_DIRECTORY | (flags & O_CLOEXEC));
        return;
    }
    if (flags & O_DIRECTORY) {
        errno = ENOTDIR;
        return;
    }
    if ((t.node == Node::GpioExport || t.node == Node::GpioUnexport) && accmode != O_WRONLY) {
        errno = EACCES;  // write-only attributes
        return;
    }
    int fd = backing_fd(flags);
    if (fd < 0) {
        return;
    }
    Lock lock;
    if (fd >= kMaxFd) {
        REAL(close)(fd);
        errno = EMFILE;
        return;
    }
    SimFile *f = nullptr;
    for (SimFile &candidate : g_pool) {
        if (!candidate.used) {
            f = &candidate;
            break;
        }
    }
    if (f == nullptr) {
        REAL(close)(fd);
        errno = EMFILE;
        return;
    }
    f->used = true;
    f->refs = 1;
    f->target = t;
    f->accmode = accmode;
    f->pos = 0;
    f->len = 0;
    f->filled = false;
    f->slave = 0;
    g_by_fd[fd] = f;
    *result = fd;
    return;
}

// Runs one read or write of F: errno is kept when it succeeds, and a call
// without its own offset (AT) moves the file's position.
template <typename Call>
ssize_t transfer(SimFile *f, const off_t *at, Call call) {
    const int saved_errno = errno;
    const ssize_t n = call();
    if (n >= 0) {
        errno = saved_errno;
    }
    if (n > 0 && at == nullptr) {
        f->pos += n;
    }
    return n;
}

}  // namespace

bool sim_open(const char *path, int flags, int *result) {
    Target t;
    if (!context().active || !classify(path, &t)) {
        return false;
    }
    int saved_errno = errno;
    open_file(t, flags, result);
    if (*result >= 0) {
        errno = saved_errno;
    }
    return true;
}

bool sim_read(int fd, void *buf, size_t n, const off_t *at, ssize_t *result) {
    Lock lock;
    SimFile *f = lookup(fd);
    if (f == nullptr) {
        return false;
    }
    off_t pos = at ? *at : f->pos;
    if (pos < 0) {
        *result = fail(EINVAL);
        return true;
    }
    *result = transfer(f, at, [&] { return do_read(f, buf, n, pos); });
    return true;
}

bool sim_write(int fd, const void *buf, size_t n, const off_t *at, ssize_t *result) {
    Lock lock;
    SimFile *f = lookup(fd);
    if (f == nullptr) {
        return false;
    }
    *result = transfer(f, at, [&] { return do_write(f, buf, n); });
    return true;
}

bool sim_lseek(int fd, off_t offset, int whence, off_t *result) {
    Lock lock;
    SimFile *f = lookup(fd);
    if (f == nullptr) {
        return false;
    }
    off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->pos : static_cast<off_t>(f->len);
    if ((whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) || base + offset < 0) {
        errno = EINVAL;
        *result = -1;
        return true;
    }
    f->pos = base + offset;
    *result = f->pos;
    return true;
}

bool sim_ioctl(int fd, unsigned long request, void *arg, int *result) {
    Lock lock;
    SimFile *f = lookup(fd);
    if (f == nullptr) {
        return false;
    }
    *result = -1;
    if (f->target.node != Node::I2cDev) {
        errno = ENOTTY;
        return true;
    }
    switch (request) {
        case I2C_RDWR: {
            auto *data = static_cast<struct i2c_rdwr_ioctl_data *>(arg);
            if (data == nullptr) {
                errno = EFAULT;
                return true;
            }
            int r = i2c_transfer(data->msgs, data->nmsgs);
            if (r < 0) {
                errno = -r;
            } else {
                *result = r;
            }
            return true;
        }
        case I2C_SLAVE:
        case I2C_SLAVE_FORCE: {
            unsigned long addr = reinterpret_cast<unsigned long>(arg);
            if (addr > 0x7f) {
                errno = EINVAL;
                return true;
            }
            f->slave = static_cast<unsigned short>(addr);
            *result = 0;
            return true;
        }
        case I2C_FUNCS:
            if (arg == nullptr) {
                errno = EFAULT;
                return true;
            }
            *static_cast<unsigned long *>(arg) = I2C_FUNC_I2C;
            *result = 0;
            return true;
        case I2C_RETRIES:
        case I2C_TIMEOUT:
        case I2C_TENBIT:
        case I2C_PEC:
            *result = 0;
            return true;
        default:
            errno = EINVAL;
            return true;
    }
}

bool sim_forget(int fd) {
    Lock lock;
    SimFile *f = lookup(fd);
    if (f == nullptr) {
        return false;
    }
    g_by_fd[fd] = nullptr;
    if (--f->refs <= 0) {
        f->used = false;
    }
    return true;
}

void sim_dup(int oldfd, int newfd) {
    Lock lock;
    SimFile *f = lookup(oldfd);
    if (f == nullptr || newfd < 0 || newfd >= kMaxFd || newfd == oldfd) {
        return;
    }
    if (SimFile *old = g_by_fd[newfd]) {
        if (--old->refs <= 0) {
            old->used = false;
        }
    }
    g_by_fd[newfd] = f;
    ++f->refs;
}

bool map_device_path(const char *path, char *out, size_t size, const char **name) {
    static const struct {
        const char *device;
        const char *board;
        const char *name;
    } kPaths[] = {
        {"/tmp/powerbankserver.socket", "run/powerbankserver.socket", "powerbankserver"},
        {"/var/run/ubus/ubus.sock", "run/ubus.sock", "ubus"},
        // The daemon's one-at-a-time lock: one daemon per board, and boards
        // side by side.
        {"/var/run/powerbank.lock", "run/powerbank.lock", "lock"},
    };
    if (path == nullptr || !context().active) {
        return false;
    }
    for (const auto &s : kPaths) {
        if (strcmp(path, s.device) == 0) {
            *name = s.name;
            return board_path(out, size, s.board);
        }
    }
    return false;
}

}  // namespace boardsim
