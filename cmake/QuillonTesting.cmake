# quillon_add_gtest(<target>): registers a GoogleTest program with ctest.
# The test names carry the build ("native.", "win32." or "win64.") so the
# sets read apart in one ctest run; Windows programs run under Wine, through
# a wrapper that starts a program again when Wine failed to start it.
include(GoogleTest)

set(QUILLON_WINE_RUN "${CMAKE_CURRENT_LIST_DIR}/../tests/support/wine-run.sh")

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(QUILLON_TEST_PREFIX "win64.")
elseif(CMAKE_CROSSCOMPILING)
  set(QUILLON_TEST_PREFIX "win32.")
else()
  set(QUILLON_TEST_PREFIX "native.")
endif()

function(quillon_add_gtest target)
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    set_target_properties(${target} PROPERTIES
      CROSSCOMPILING_EMULATOR "${QUILLON_WINE_RUN};${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  gtest_discover_tests(${target}
    TEST_PREFIX "${QUILLON_TEST_PREFIX}"
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
endfunction()
