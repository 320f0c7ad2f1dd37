# Builds the same source tree again with clang, AddressSanitizer,
# UndefinedBehaviorSanitizer and libFuzzer's coverage (QUILLON_FUZZ), and
# makes its tests part of this build tree's ctest run: each fuzz target runs
# for a short bounded time over its generated seeds (native.fuzz.<target>),
# and the fuzz checks' own tests run sanitized. Only where clang++ can link
# a libFuzzer program; elsewhere a status message says so.
option(QUILLON_FUZZ_TESTS "Run the libFuzzer targets from a clang sub-build in the tests" ON)
if(QUILLON_FUZZ OR NOT QUILLON_TESTS OR NOT QUILLON_FUZZ_TESTS)
  return()
endif()

find_program(QUILLON_CLANG NAMES clang clang-14)
find_program(QUILLON_CLANGXX NAMES clang++ clang++-14)

# The probe links a fuzz target with the sanitizers, as the sub-build will.
function(quillon_probe_libfuzzer result)
  set(${result} FALSE PARENT_SCOPE)
  if(NOT QUILLON_CLANG OR NOT QUILLON_CLANGXX)
    return()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/fuzz-probe)
  file(WRITE ${dir}/probe.cpp
    "#include <cstddef>\n#include <cstdint>\n"
    "extern \"C\" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }\n")
  execute_process(COMMAND ${QUILLON_CLANGXX} -fsanitize=fuzzer,address,undefined probe.cpp -o probe
                  WORKING_DIRECTORY ${dir} RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(status EQUAL 0)
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()

quillon_probe_libfuzzer(libfuzzer_found)
if(NOT libfuzzer_found)
  message(STATUS "clang++ with libFuzzer not found: the fuzz targets are not built or run")
  return()
endif()

include(ExternalProject)
set(QUILLON_fuzz_DIR ${CMAKE_BINARY_DIR}/fuzz)
ExternalProject_Add(quillon_fuzz
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${QUILLON_fuzz_DIR}
  CMAKE_ARGS
    -DCMAKE_C_COMPILER=${QUILLON_CLANG}
    -DCMAKE_CXX_COMPILER=${QUILLON_CLANGXX}
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DQUILLON_FUZZ=ON
    -DQUILLON_SANITIZE=ON
    -DQUILLON_WINDOWS=OFF
    -DQUILLON_SAMPLE=OFF
    -DQUILLON_TESTS=ON
    -DPython3_EXECUTABLE=${Python3_EXECUTABLE}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)

file(WRITE ${CMAKE_BINARY_DIR}/FuzzTests.cmake "subdirs(\"${QUILLON_fuzz_DIR}\")\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/FuzzTests.cmake)
