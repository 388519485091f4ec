#include "core/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>

#include "base/fd_io.h"

namespace {

// A lock request of TYPE over the whole file.
struct flock whole_file(short type) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    return fl;
}

}  // namespace

bool powerbank_take_instance_lock() {
    unique_fd fd = open_fd(kPowerbankLockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY);
    if (!fd) {
        return true;
    }
    // A holder that exits between the refused lock and the question who holds
    // it leaves the lock free: then it is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct flock fl = whole_file(F_WRLCK);
        if (fcntl(fd.get(), F_SETLK, &fl) == 0) {
            // Kept open, never closed: closing any descriptor of the file
            // would drop the lock.
            (void)fd.release();
            return true;
        }
        if (errno != EAGAIN && errno != EACCES) {
            return true;
        }
        fl = whole_file(F_WRLCK);
        if (fcntl(fd.get(), F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) {
            fprintf(stderr,
                    "powerbank: not started: another powerbank is running (process %d holds "
                    "%s)\n",
                    static_cast<int>(fl.l_pid), kPowerbankLockPath);
            return false;
        }
    }
    return true;
}
