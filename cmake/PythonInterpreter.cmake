# The one Python interpreter of a build: the scripts that run while building
# and every Python test use it, here and in the Windows and fuzz sub-builds,
# which are handed this choice. Debian's python3 comes first, because it sees
# Debian's python3-pefile, with which the tests read the modules they check;
# a python3 that comes earlier on PATH (pyenv, a virtual environment) is not
# taken. -DPython3_EXECUTABLE=<path> chooses another one.
if(NOT Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 COMPONENTS Interpreter REQUIRED)

if(QUILLON_TESTS)
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import pefile"
                  RESULT_VARIABLE pefile_missing OUTPUT_QUIET ERROR_QUIET)
  if(pefile_missing)
    message(FATAL_ERROR "The tests need the Python module pefile, which ${Python3_EXECUTABLE} cannot import. "
                        "Install Debian's python3-pefile, or choose an interpreter that has pefile with "
                        "-DPython3_EXECUTABLE=<path>.")
  endif()
endif()
