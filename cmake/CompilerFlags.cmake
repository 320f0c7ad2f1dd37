# Warnings and, for the native build on request, the sanitizers.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
  # Release programs ship without symbols or debug sections: the static
  # mingw-w64 runtime and libstdc++ would otherwise bring their DWARF along.
  # -O2 rather than CMake's -O3, which makes the 32-bit quillon.exe 19 KB
  # bigger and a tool that mostly reads and writes files no faster.
  add_compile_options($<$<CONFIG:Release>:-O2>)
  add_link_options($<$<CONFIG:Release>:-s>)
endif()

if(QUILLON_SANITIZE AND NOT CMAKE_CROSSCOMPILING)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  # Unicode Win32 API and a program that runs alone, without mingw DLLs.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
