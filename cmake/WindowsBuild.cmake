# Builds the same source tree again with the mingw-w64 toolchains, 32-bit
# (the product) and 64-bit, and makes their tests part of this build tree's
# ctest run. The 64-bit tests run under Wine's 64-bit loader everywhere; the
# 32-bit tests are built and run only where the kernel can execute 32-bit
# programs (elsewhere the 32-bit programs are built alone).
include(ExternalProject)

execute_process(COMMAND /usr/lib/wine/wine --version
                RESULT_VARIABLE wine32_result OUTPUT_QUIET ERROR_QUIET)
if(wine32_result EQUAL 0)
  set(QUILLON_WIN32_TESTS ${QUILLON_TESTS})
else()
  set(QUILLON_WIN32_TESTS OFF)
  message(STATUS "32-bit programs cannot run here: the Windows tests run on the 64-bit build")
endif()

function(quillon_windows_build name toolchain tests)
  set(dir ${CMAKE_BINARY_DIR}/${name})
  ExternalProject_Add(quillon_${name}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${toolchain}
      -DCMAKE_BUILD_TYPE=Release
      -DQUILLON_TESTS=${tests}
      -DQUILLON_SAMPLE=${QUILLON_SAMPLE}
      -DPython3_EXECUTABLE=${Python3_EXECUTABLE}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    USES_TERMINAL_BUILD ON)
  if(tests)
    file(APPEND ${CMAKE_BINARY_DIR}/WindowsTests.cmake "subdirs(\"${dir}\")\n")
  endif()
endfunction()

file(WRITE ${CMAKE_BINARY_DIR}/WindowsTests.cmake "")
quillon_windows_build(win32 mingw-i686.cmake ${QUILLON_WIN32_TESTS})
quillon_windows_build(win64 mingw-x86_64.cmake ${QUILLON_TESTS})
if(QUILLON_TESTS)
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/WindowsTests.cmake)
endif()
