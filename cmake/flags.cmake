# Shared compile flags. The daemon is built without exceptions and RTTI and
# linked by the C driver, so nothing in it can pull in libstdc++.so.
add_compile_options(-Wall -Wextra -Werror)

# Flags for the daemon's own code (src/): no exceptions, no RTTI, no thread-safe
# static guards (they would need the C++ runtime). Hidden visibility: the daemon
# exports nothing, yet on MIPS every global symbol an executable reaches through
# its GOT also sits in the dynamic symbol table (and costs a GOT entry and a
# dynamic relocation) unless it is hidden.
set(POWERBANK_DAEMON_CXX_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -fvisibility=hidden -fvisibility-inlines-hidden)

# For code that must be small rather than fast (the companion that ships to
# the device, and the shared view inside it): -Os, and two optimisations that
# make MIPS PIC code larger, since every call and global goes through the GOT
# (hoisting GOT loads out of loops fills the saved registers; a sibling call
# needs the GOT pointer set up again).
set(POWERBANK_SMALL_CXX_FLAGS -Os -fno-move-loop-invariants -fno-optimize-sibling-calls)

if(POWERBANK_SANITIZE)
    add_compile_options(-fsanitize=${POWERBANK_SANITIZE} -fno-omit-frame-pointer)
    if(POWERBANK_SANITIZE MATCHES "undefined|address")
        add_compile_options(-fno-sanitize-recover=all)
    endif()
    add_link_options(-fsanitize=${POWERBANK_SANITIZE})
endif()

# libFuzzer's coverage for every library the fuzz targets reach; the targets
# themselves link its main (tests/fuzz).
if(POWERBANK_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
