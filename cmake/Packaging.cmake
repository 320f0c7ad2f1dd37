# What `cmake --install` puts where, and the CPack packages made from it
# (scripts/package.sh drives them): the Windows builds make a zip each,
# quillon-<version>-win32.zip and -win64.zip, with the programs and a
# README.txt; the native build makes the Debian package
# quillon_<version>_<arch>.deb.
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR Korvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "move TD32 debug information out of PE modules into .tds files")
# Directories get their usual modes whatever the umask of the packaging run.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(readme ${CMAKE_BINARY_DIR}/README.txt)
  add_custom_command(OUTPUT ${readme}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/readme_text.py
            ${PROJECT_SOURCE_DIR}/README.md ${readme} ${PROJECT_VERSION}
    DEPENDS ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/readme_text.py VERBATIM)
  add_custom_target(quillon_readme ALL DEPENDS ${readme})

  # The zip holds the files themselves, no folder around them.
  install(TARGETS quillon RUNTIME DESTINATION .)
  if(QUILLON_SAMPLE)
    install(TARGETS Marrowby RUNTIME DESTINATION .)
  endif()
  # Windows text files end their lines with CR LF.
  configure_file(${PROJECT_SOURCE_DIR}/docs/third-party-notices.txt ${CMAKE_BINARY_DIR}/THIRD-PARTY.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${readme} ${CMAKE_BINARY_DIR}/THIRD-PARTY.txt DESTINATION .)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME quillon-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME quillon-${PROJECT_VERSION}-win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # Debian wants the manual pages and the changelog compressed with gzip -9n
  # (no name or time stamp inside, so the same input makes the same bytes).
  find_program(QUILLON_GZIP gzip REQUIRED)
  set(compressed)
  foreach(file quillon.1 marrowby.1 changelog)
    set(copy ${CMAKE_BINARY_DIR}/packaging/${file})
    add_custom_command(OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/${file} ${copy}
      COMMAND ${QUILLON_GZIP} -9nf ${copy}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/${file} VERBATIM)
    list(APPEND compressed ${copy}.gz)
  endforeach()
  add_custom_target(quillon_packaging_docs ALL DEPENDS ${compressed})

  install(TARGETS quillon RUNTIME DESTINATION bin)
  if(QUILLON_SAMPLE)
    install(PROGRAMS $<TARGET_FILE:Marrowby> DESTINATION bin RENAME marrowby)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/marrowby.1.gz DESTINATION share/man/man1)
  endif()
  install(FILES ${CMAKE_BINARY_DIR}/packaging/quillon.1.gz DESTINATION share/man/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
          DESTINATION share/doc/quillon)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_CONTACT "Korvane <quillon@korvane.example>")
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quillon moves the TD32 debug information that RAD-tool linkers append to\n"
    "Windows programs and DLLs (PE32 and PE32+) into separate .tds files and\n"
    "rewrites each module without it, with a fresh PE checksum; it can also put\n"
    "the debug information back. On Linux it works on modules built for Windows.\n"
    "\n"
    "The package also holds marrowby, a small sample window program.")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps names the libraries the programs need (libc, libstdc++, Qt).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
