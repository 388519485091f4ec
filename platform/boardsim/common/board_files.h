// The board directory: small-file helpers, the virtual clock and the journal.
//
// Shared by the preload library and the tool. Everything here goes straight
// to the kernel through syscall(2), never through the libc entry points that
// the preload library interposes, so the board's own bookkeeping can never
// recurse into the simulation or show up in the journal.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

namespace boardsim {

constexpr size_t kPathMax = 512;

int sys_open(const char *path, int flags, mode_t mode = 0);
ssize_t sys_read(int fd, void *buf, size_t n);
ssize_t sys_write(int fd, const void *buf, size_t n);
int sys_close(int fd);
int sys_rename(const char *from, const char *to);
int sys_mkdir(const char *path, mode_t mode);
int sys_unlink(const char *path);
int sys_rmdir(const char *path);
[[nodiscard]] bool sys_exists(const char *path);

// DIR/REL into OUT; false when it does not fit.
[[nodiscard]] bool path_join(char *out, size_t size, const char *dir, const char *rel);

// Reads a whole small file into BUF (always NUL-terminated); the length read,
// or -1 with errno set.
ssize_t read_file(const char *path, char *buf, size_t size);
// Reads a decimal (or 0x-prefixed hexadecimal) number from a file; FALLBACK
// when the file is missing or holds no number.
long read_number(const char *path, long fallback);
// Replaces PATH with DATA through a temporary file and rename, creating the
// missing parent directories. 0, or -1 with errno set.
int write_file_atomic(const char *path, const void *data, size_t len);
int write_number_atomic(const char *path, long value);
// mkdir -p.
int mkdirs(const char *path);

// Virtual time of a board: DIR/clock holds "EPOCH_NS SPEED".
struct Clock {
    int64_t epoch_ns = 0;
    double speed = 1.0;
};
[[nodiscard]] int64_t mono_ns();
[[nodiscard]] bool read_clock(const char *dir, Clock *clock);
int write_clock(const char *dir, const Clock &clock);
[[nodiscard]] int64_t virtual_ms(const Clock &clock);
// Clamps a speed to something usable (non-finite or non-positive gives 1).
[[nodiscard]] double sane_speed(double speed);

// Journal quoting of raw bytes (without the quotes). Returns the length
// written; OUT is always NUL-terminated. When OUT is too small the text ends
// early with "..." after the last whole escape.
size_t escape_bytes(char *out, size_t size, const void *data, size_t len);

// Appends "VMS TEXT\n" to DIR/journal in one write, stamped under the
// journal's lock so that the journal is in stamp order. CREATE false: only
// to a journal that is there.
void journal_line(const char *dir, const Clock &clock, const char *text, bool create = true);
// Appends a data line: KIND NAME OP LEN "BYTES" [TAGS], with " err=E" added
// when ERR is not 0.
void journal_data(const char *dir, const Clock &clock, const char *kind, const char *name,
                  const char *op, const void *data, size_t len, int err, const char *tags);

// "ENOENT", "EIO", ... (or "E<number>").
[[nodiscard]] const char *errno_name(int err, char *buf, size_t size);

}  // namespace boardsim
