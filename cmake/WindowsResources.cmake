# The resources every Windows program of the product carries: a version
# resource (file and product version from project()) and an application
# manifest (cmake/Windows.manifest): run as invoker, Windows 7 to 11 as the
# supported systems, aware of long paths (where the system allows them, its
# file functions then take paths of any length). The manifest names no code
# page, so the console output keeps the system's, and no common controls
# version 6, so the windows keep their classic look.
enable_language(RC)

# quillon_windows_resources(<target> <description>): gives the program
# <target> its version resource, <description> being its file description.
function(quillon_windows_resources target description)
  set(QUILLON_RC_DESCRIPTION "${description}")
  set(QUILLON_RC_FILENAME "${target}${CMAKE_EXECUTABLE_SUFFIX}")
  set(QUILLON_RC_MANIFEST "${PROJECT_SOURCE_DIR}/cmake/Windows.manifest")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${QUILLON_RC_MANIFEST})
  target_sources(${target} PRIVATE ${rc})
endfunction()
