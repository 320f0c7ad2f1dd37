# quillon_add_gtest(<target> <label>): registers a GoogleTest program with
# ctest. The test names carry the build ("native.", "win32." or "win64.") so
# the sets read apart in one ctest run; Windows programs run under Wine.
include(GoogleTest)

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(QUILLON_TEST_PREFIX "win64.")
elseif(CMAKE_CROSSCOMPILING)
  set(QUILLON_TEST_PREFIX "win32.")
else()
  set(QUILLON_TEST_PREFIX "native.")
endif()

function(quillon_add_gtest target)
  target_link_libraries(${target} PRIVATE GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${target}
    TEST_PREFIX "${QUILLON_TEST_PREFIX}"
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES ENVIRONMENT "WINEDEBUG=-all")
endfunction()
