# Builds the same source tree a second time with the mingw-w64 toolchain and
# makes its tests part of this build tree's ctest run.
include(ExternalProject)

set(QUILLON_WIN32_DIR ${CMAKE_BINARY_DIR}/win32)
ExternalProject_Add(quillon_win32
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${QUILLON_WIN32_DIR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DQUILLON_TESTS=${QUILLON_TESTS}
    -DQUILLON_SAMPLE=${QUILLON_SAMPLE}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  USES_TERMINAL_BUILD ON)

if(QUILLON_TESTS)
  file(WRITE ${CMAKE_BINARY_DIR}/Win32Tests.cmake "subdirs(\"${QUILLON_WIN32_DIR}\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/Win32Tests.cmake)
endif()
