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
# The .deb's extended description: lines within 80 columns, as Debian's policy asks.
set(CPACK_PACKAGE_DESCRIPTION "qmrpack builds the sets of installation files that the Quillmoor
setup launcher carries and extracts: volume 1 appended to the launcher, Disk2,
Disk3 and so on beside it, the setup program and its setup information file
compressed in the SZDD format. It lists and verifies sets as the launcher reads
them, and compresses and expands SZDD files. The package carries the Windows
launcher stub and the Linux one that sets are built from.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# The programs are packed as they were linked (stripped by the linker, without a link time), so
# every kit carries the very launcher the build made: stripping again at packaging time would
# give the Windows stub a PE timestamp and checksum of its own.
set(CPACK_STRIP_FILES OFF)

# Every package holds the same bytes whenever and wherever it is made: its files' times are
# the time of the sources (SOURCE_DATE_EPOCH when the environment gives it at configuration,
# else the last commit's time), and the zip's times are told in UTC. CPack reads both while it
# packs, from the file this writes.
set(QMR_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
if(QMR_SOURCE_DATE_EPOCH STREQUAL "")
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE QMR_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT QMR_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  set(QMR_SOURCE_DATE_EPOCH 315532800)  # 1980-01-01, the earliest time a zip holds
endif()
file(WRITE ${CMAKE_BINARY_DIR}/QmrCPackTimes.cmake
     "set(ENV{SOURCE_DATE_EPOCH} ${QMR_SOURCE_DATE_EPOCH})\nset(ENV{TZ} UTC)\n")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/QmrCPackTimes.cmake)

if(WIN32)
  install(TARGETS qmrpack qmrsfx RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  # One folder, qmrpack-<version>-windows, holding the three files.
  set(CPACK_PACKAGE_FILE_NAME qmrpack-${QMR_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # The zip's members in the order of their names, without the packing user's ids.
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/QmrNormalizeZip.cmake)
else()
  install(TARGETS qmrpack RUNTIME DESTINATION bin)
  # The Linux stub is an executable of this architecture, so it lives under lib/; the Windows
  # stub is the same file on every architecture, so under share/.
  install(TARGETS qmrsfx RUNTIME DESTINATION lib/qmrpack)
  # The Windows stub comes from the mingw preset's build, which must be made first.
  install(PROGRAMS ${QMR_MINGW_DIR}/qmrsfx.exe DESTINATION share/qmrpack)
  install(FILES ${CMAKE_BINARY_DIR}/qmrpack.1.gz DESTINATION share/man/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/pack/deb/copyright DESTINATION share/doc/qmrpack)
  # The package's changelog, compressed as the manual page is.
  qmr_gzip_for_debian(${PROJECT_SOURCE_DIR}/pack/deb/changelog ${CMAKE_BINARY_DIR}/changelog.gz)
  add_custom_target(qmrpack_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION share/doc/qmrpack)
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
