// Status values as the daemon publishes them: the store replaces a key's file
// by renaming a temporary file over it, so each rename into the status
// directory is one published value, journalled as
//   VMS store KEY set LEN "VALUE"
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include "context.h"
#include "real.h"

using namespace boardsim;

namespace {

constexpr size_t kValueMax = 512;

// The key when PATH names a file directly inside the status directory.
const char *status_key(const char *path) {
    const Context &c = context();
    size_t n = strlen(c.status_dir);
    while (n > 1 && c.status_dir[n - 1] == '/') {
        --n;
    }
    if (!c.active || n == 0 || path == nullptr || strncmp(path, c.status_dir, n) != 0 ||
        path[n] != '/') {
        return nullptr;
    }
    const char *key = path + n + 1;
    return key[0] != '\0' && strchr(key, '/') == nullptr ? key : nullptr;
}

// After a rename that succeeded: the value now under the key.
void journal_value(const char *path) {
    const char *key = status_key(path);
    if (key == nullptr) {
        return;
    }
    int saved = errno;  // the rename succeeded: its caller sees errno untouched
    char value[kValueMax];
    ssize_t len = read_file(path, value, sizeof value);
    if (len >= 0) {
        journal_bytes("store", key, "set", value, static_cast<size_t>(len), 0);
    }
    errno = saved;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int rename(const char *from, const char *to) {
    int r = REAL(rename)(from, to);
    if (r == 0) {
        journal_value(to);
    }
    return r;
}

__attribute__((visibility("default"))) int renameat(int fromfd, const char *from, int tofd,
                                                    const char *to) {
    int r = REAL(renameat)(fromfd, from, tofd, to);
    if (r == 0 && to != nullptr && (to[0] == '/' || tofd == AT_FDCWD)) {
        journal_value(to);
    }
    return r;
}

}  // extern "C"
