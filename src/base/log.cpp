#include "base/log.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

int powerbank_debug;

namespace {

// Long enough for every line the daemon writes (the longest carries a
// 512-byte datagram); longer lines are cut, never overflowed.
constexpr int kLineMax = 1024;

void write_line(const char *prefix, const char *unit, const char *func, int line, const char *fmt,
                va_list ap) {
    char buf[kLineMax];
    int n = snprintf(buf, sizeof buf, "%s >>> %s->%s()->line.%d : ", prefix, unit, func, line);
    if (n < 0) {
        return;
    }
    if (n < kLineMax) {
        int m = vsnprintf(buf + n, sizeof buf - n, fmt, ap);
        if (m > 0) {
            n += m;
        }
    }
    if (n >= kLineMax) {
        n = kLineMax - 1;
    }
    const char *p = buf;
    while (n > 0) {
        ssize_t w = ::write(STDERR_FILENO, p, n);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return;
        }
        p += w;
        n -= static_cast<int>(w);
    }
}

}  // namespace

void powerbank_debug_log(const char *unit, const char *func, int line, const char *fmt, ...) {
    if (powerbank_debug != 1) {
        return;
    }
    va_list ap;
    va_start(ap, fmt);
    write_line("POWERBANK_DEBUG", unit, func, line, fmt, ap);
    va_end(ap);
}

void broker_trace_log(const char *func, int line, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    write_line("BROKER_TRACE", "powerbank_broker", func, line, fmt, ap);
    va_end(ap);
}
