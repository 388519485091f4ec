# The two kinds of test executable an area builds. Headers are included from
# the tests folder ("probe/...", "core/...").
include_guard(GLOBAL)

# In-process tests linked against the daemon's own library.
function(powerbank_unit_tests name)
    add_executable(${name} ${ARGN})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE powerbank_core GTest::gtest_main)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

# Tests on the simulated board, with the shared probe.
function(powerbank_board_tests name)
    if(NOT TARGET scenario_harness)
        return()
    endif()
    add_executable(${name} ${ARGN})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE scenario_harness GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE BOARD_PROBE="$<TARGET_FILE:board_probe>")
    add_dependencies(${name} board_probe powerbank)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 ${board_test_properties})
endfunction()

# Board tests that start the real daemon: they carry the label `scenario`, the
# set scripts/test-musl.sh runs against the musl build.
function(powerbank_scenario_tests name)
    set(board_test_properties PROPERTIES LABELS scenario)
    powerbank_board_tests(${name} ${ARGN})
endfunction()
