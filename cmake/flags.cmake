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
# needs the GOT pointer set up again). Without GCC's "expensive" extra
# optimisations too: on this code they cost more than they save (the
# companion on musl comes out 0.4 KiB smaller, with fewer calls, without them).
set(POWERBANK_SMALL_CXX_FLAGS -Os -fno-move-loop-invariants -fno-optimize-sibling-calls
    -fno-expensive-optimizations)
# And optimised as one program when linked (GCC's link-time optimisation): the
# companion's calls across files are inlined or dropped where that is smaller.
# The objects are fat, so what links them without it (the tests, the board
# tool) takes their plain code. The program that links them passes
# POWERBANK_SMALL_LINK_FLAGS.
set(POWERBANK_SMALL_LTO_FLAGS "$<$<CXX_COMPILER_ID:GNU>:-flto;-ffat-lto-objects>")
set(POWERBANK_SMALL_LINK_FLAGS "$<$<CXX_COMPILER_ID:GNU>:-flto;-Os>")

# MIPS assemblers write a procedure descriptor table (.pdr) for debuggers of
# the old mdebug format: never loaded, yet kept by strip, 2.7 KiB of the
# stripped daemon. Neither gdb nor the kernel reads it on MIPS Linux. Linking
# with link-time optimisation assembles again, so the link takes it too.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^mips")
    add_compile_options(-Wa,-mno-pdr)
    add_link_options(-Wa,-mno-pdr)
endif()

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
