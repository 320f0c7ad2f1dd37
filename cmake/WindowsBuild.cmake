# Builds the same source tree again with the mingw-w64 toolchains, 32-bit
# (the product) and 64-bit, and makes their tests part of this build tree's
# ctest run. The 64-bit tests run under Wine's 64-bit loader everywhere; the
# 32-bit tests run only where the kernel can execute 32-bit programs.
include(ExternalProject)

function(quillon_windows_build name toolchain)
  set(dir ${CMAKE_BINARY_DIR}/${name})
  ExternalProject_Add(quillon_${name}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${toolchain}
      -DCMAKE_BUILD_TYPE=Release
      -DQUILLON_TESTS=${QUILLON_TESTS}
      -DQUILLON_SAMPLE=${QUILLON_SAMPLE}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
  set(QUILLON_${name}_DIR ${dir} PARENT_SCOPE)
endfunction()

quillon_windows_build(win32 mingw-i686.cmake)
quillon_windows_build(win64 mingw-x86_64.cmake)

if(QUILLON_TESTS)
  execute_process(COMMAND /usr/lib/wine/wine --version
                  RESULT_VARIABLE wine32_result OUTPUT_QUIET ERROR_QUIET)
  set(includes "subdirs(\"${QUILLON_win64_DIR}\")\n")
  if(wine32_result EQUAL 0)
    string(APPEND includes "subdirs(\"${QUILLON_win32_DIR}\")\n")
  else()
    message(STATUS "32-bit programs cannot run here: the Windows tests run on the 64-bit build")
  endif()
  file(WRITE ${CMAKE_BINARY_DIR}/WindowsTests.cmake "${includes}")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/WindowsTests.cmake)
endif()
