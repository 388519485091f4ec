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

if(POWERBANK_SANITIZE)
    add_compile_options(-fsanitize=${POWERBANK_SANITIZE} -fno-omit-frame-pointer)
    if(POWERBANK_SANITIZE MATCHES "undefined|address")
        add_compile_options(-fno-sanitize-recover=all)
    endif()
    add_link_options(-fsanitize=${POWERBANK_SANITIZE})
endif()
