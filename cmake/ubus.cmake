# Bus libraries for the broker: the real libubox and libubus whenever they are
# found (for example through CMAKE_PREFIX_PATH pointing at an install with
# include/libubus.h and lib/libubus.so), the host stand-in in platform/ubus
# otherwise. POWERBANK_UBUS forces the choice: AUTO, REAL or SIM.
#
# Either way the INTERFACE target powerbank_bus carries the include
# directories and libraries; the daemon's source is the same for both.
# Note: an installed stand-in (make install into a searched prefix) looks like
# the real libraries to AUTO; use SIM or a clean prefix in that case.

add_library(powerbank_bus INTERFACE)

string(TOUPPER "${POWERBANK_UBUS}" _pb_ubus_mode)
if(NOT _pb_ubus_mode MATCHES "^(AUTO|REAL|SIM)$")
    message(FATAL_ERROR "POWERBANK_UBUS must be AUTO, REAL or SIM (is '${POWERBANK_UBUS}')")
endif()

set(POWERBANK_UBUS_REAL OFF)
if(NOT _pb_ubus_mode STREQUAL "SIM")
    find_path(UBUS_INCLUDE_DIR NAMES libubus.h)
    find_path(UBOX_INCLUDE_DIR NAMES libubox/uloop.h libubox/blobmsg.h)
    find_library(UBUS_LIBRARY NAMES ubus)
    find_library(UBOX_LIBRARY NAMES ubox)
    if(UBUS_INCLUDE_DIR AND UBOX_INCLUDE_DIR AND UBUS_LIBRARY AND UBOX_LIBRARY)
        set(POWERBANK_UBUS_REAL ON)
    elseif(_pb_ubus_mode STREQUAL "REAL")
        message(FATAL_ERROR "POWERBANK_UBUS=REAL but libubox/libubus were not found "
                            "(set CMAKE_PREFIX_PATH to their install prefix)")
    endif()
endif()

if(POWERBANK_UBUS_REAL)
    message(STATUS "Bus libraries: real (${UBUS_LIBRARY}, ${UBOX_LIBRARY})")
    target_include_directories(powerbank_bus INTERFACE ${UBUS_INCLUDE_DIR} ${UBOX_INCLUDE_DIR})
    target_link_libraries(powerbank_bus INTERFACE ${UBUS_LIBRARY} ${UBOX_LIBRARY})
else()
    message(STATUS "Bus libraries: host stand-in (platform/ubus)")
    # The libraries are needed by the daemon whenever the stand-in is chosen;
    # the daemon and tool are built only with POWERBANK_BUILD_PLATFORM.
    add_subdirectory(${PROJECT_SOURCE_DIR}/platform/ubus ${PROJECT_BINARY_DIR}/platform/ubus)
    target_link_libraries(powerbank_bus INTERFACE ubus ubox)
endif()
