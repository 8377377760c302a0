# The distributor's kit: what `cmake --install` puts where, and the packages CPack makes of it.
# Linux (the release preset): a .deb with qmrpack, both launcher stubs and the manual page.
# Windows (the mingw preset): a .zip with qmrpack.exe, qmrsfx.exe and the README.
# qmrpack finds the Windows stub by this layout (pack/install_paths.cpp): beside qmrpack.exe,
# or in share/qmrpack beside the bin directory that holds qmrpack.

# The version the launcher's resources give.
file(STRINGS ${PROJECT_SOURCE_DIR}/res/qmrsfx.rc version_line REGEX "VALUE \"ProductVersion\"")
string(REGEX REPLACE ".*\"ProductVersion\", \"([^\"]+)\".*" "\\1" QMR_VERSION "${version_line}")

set(CPACK_PACKAGE_NAME qmrpack)
set(CPACK_PACKAGE_VERSION ${QMR_VERSION})
set(CPACK_PACKAGE_VENDOR Quillmoor)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Makes, lists and checks sets for the Quillmoor setup launcher")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(TARGETS qmrpack qmrsfx RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  # One folder, qmrpack-<version>-windows, holding the three files.
  set(CPACK_PACKAGE_FILE_NAME qmrpack-${QMR_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  install(TARGETS qmrpack RUNTIME DESTINATION bin)
  install(TARGETS qmrsfx RUNTIME DESTINATION share/qmrpack)
  # The Windows stub comes from the mingw preset's build, which must be made first.
  install(PROGRAMS ${QMR_MINGW_DIR}/qmrsfx.exe DESTINATION share/qmrpack)
  install(FILES ${CMAKE_BINARY_DIR}/qmrpack.1 DESTINATION share/man/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/qmrpack)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE QMR_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QMR_DEB_ARCH})
  set(CPACK_DEBIAN_FILE_NAME qmrpack_${QMR_VERSION}_${QMR_DEB_ARCH}.deb)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quillmoor setup launcher team <setup@quillmoor.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # The C and C++ libraries qmrpack links, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)

# The packages as the release and mingw presets make them.
set(QMR_DEB ${QMR_RELEASE_DIR}/packages/qmrpack_${QMR_VERSION}_${QMR_DEB_ARCH}.deb)
set(QMR_ZIP ${QMR_MINGW_DIR}/packages/qmrpack-${QMR_VERSION}-windows.zip)
