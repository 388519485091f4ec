// Virtual time: every relative sleep lasts 1/speed of what was asked.
#include <errno.h>
#include <math.h>
#include <time.h>
#include <unistd.h>

#include "context.h"
#include "real.h"

using namespace boardsim;

namespace {

struct timespec scale_down(const struct timespec &ts, double speed) {
    double ns = (static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec)) / speed;
    struct timespec out;
    out.tv_sec = static_cast<time_t>(ns / 1e9);
    out.tv_nsec = static_cast<long>(fmod(ns, 1e9));
    return out;
}

struct timespec scale_up(const struct timespec &ts, double speed) {
    return scale_down(ts, 1.0 / speed);
}

double speed() {
    const Context &c = context();
    return c.active ? c.sleep_speed : 1.0;
}

bool valid(const struct timespec *ts) {
    return ts != nullptr && ts->tv_nsec >= 0 && ts->tv_nsec < 1000000000L && ts->tv_sec >= 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int nanosleep(const struct timespec *req,
                                                     struct timespec *rem) {
    double s = speed();
    if (s == 1.0 || !valid(req)) {
        return REAL(nanosleep)(req, rem);
    }
    struct timespec scaled = scale_down(*req, s);
    struct timespec left = {0, 0};
    int r = REAL(nanosleep)(&scaled, &left);
    if (r != 0 && rem != nullptr) {
        *rem = scale_up(left, s);
    }
    return r;
}

__attribute__((visibility("default"))) int clock_nanosleep(clockid_t clock, int flags,
                                                           const struct timespec *req,
                                                           struct timespec *rem) {
    double s = speed();
    if (s == 1.0 || (flags & TIMER_ABSTIME) || !valid(req)) {
        return REAL(clock_nanosleep)(clock, flags, req, rem);
    }
    struct timespec scaled = scale_down(*req, s);
    struct timespec left = {0, 0};
    int r = REAL(clock_nanosleep)(clock, flags, &scaled, &left);
    if (r != 0 && rem != nullptr) {
        *rem = scale_up(left, s);
    }
    return r;
}

__attribute__((visibility("default"))) int usleep(useconds_t usec) {
    double s = speed();
    if (s == 1.0) {
        return REAL(usleep)(usec);
    }
    struct timespec req = {static_cast<time_t>(usec / 1000000),
                           static_cast<long>(usec % 1000000) * 1000};
    struct timespec scaled = scale_down(req, s);
    return REAL(nanosleep)(&scaled, nullptr);
}

__attribute__((visibility("default"))) unsigned int sleep(unsigned int seconds) {
    double s = speed();
    if (s == 1.0) {
        return REAL(sleep)(seconds);
    }
    struct timespec req = {static_cast<time_t>(seconds), 0};
    struct timespec scaled = scale_down(req, s);
    struct timespec left = {0, 0};
    if (REAL(nanosleep)(&scaled, &left) == 0) {
        return 0;
    }
    struct timespec real_left = scale_up(left, s);
    return static_cast<unsigned int>(real_left.tv_sec + (real_left.tv_nsec > 0 ? 1 : 0));
}

}  // extern "C"
