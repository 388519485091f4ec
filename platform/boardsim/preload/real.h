// The next definition of a libc function (the one the preload library hides).
#pragma once

#include <dlfcn.h>

namespace boardsim {

inline void *resolve_next(void **slot, const char *name) {
    void *p = __atomic_load_n(slot, __ATOMIC_ACQUIRE);
    if (p == nullptr) {
        p = dlsym(RTLD_NEXT, name);
        __atomic_store_n(slot, p, __ATOMIC_RELEASE);
    }
    return p;
}

}  // namespace boardsim

// REAL(open) is the libc (or sanitizer) open that a call would have reached
// without the preload library. On musl's 32-bit CPUs the headers rename the
// calls that take a time_t (nanosleep is __nanosleep_time64) and dlsym with
// them, so the plain name still finds the call the program makes.
#define REAL(fn)                                                                      \
    ([]() {                                                                           \
        static void *slot;                                                            \
        return reinterpret_cast<decltype(&::fn)>(boardsim::resolve_next(&slot, #fn)); \
    }())
