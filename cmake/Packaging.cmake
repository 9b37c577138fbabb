# What the packages hold besides the tool, and the package settings: a .deb
# on Linux (cpack -G DEB), a zip of the same tree for Windows.
#
# On Unix the tree follows Debian's rules so that the .deb passes lintian:
# the manual page gzip-compressed, and /usr/share/doc/tarvel/ holding the
# machine-readable copyright file and changelog.gz. The zip for Windows
# carries the manual page as it is and the licence as LICENSE.

set(TARVEL_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
set(TARVEL_DOC_BUILD_DIR ${PROJECT_BINARY_DIR}/doc)

# The manual page names the version of the release line in CMakeLists.txt.
configure_file(${PROJECT_SOURCE_DIR}/man/tarvel.1.in ${TARVEL_DOC_BUILD_DIR}/man/tarvel.1 @ONLY)

set(TARVEL_MAINTAINER "tarvel developers <tarvel@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

# The JSON Schema of what --json prints, for the scripts that read it.
install(FILES ${PROJECT_SOURCE_DIR}/docs/report.schema.json DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(WIN32)
  install(FILES ${TARVEL_DOC_BUILD_DIR}/man/tarvel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
else()
  # The changelog's newest entry must be this version: a release without an
  # entry of its own would ship the previous release's notes.
  file(STRINGS ${TARVEL_DEBIAN_DIR}/changelog.in tarvel_changelog_head LIMIT_COUNT 1)
  if(NOT tarvel_changelog_head MATCHES "^tarvel \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog.in has no entry for "
                        "version ${PROJECT_VERSION} at its top")
  endif()
  configure_file(${TARVEL_DEBIAN_DIR}/changelog.in ${TARVEL_DOC_BUILD_DIR}/changelog @ONLY)

  # gzip -9n: best compression, and no name or time stamp in the header, so
  # that the same sources give the same package bytes.
  find_program(TARVEL_GZIP gzip REQUIRED)
  add_custom_command(
    OUTPUT ${TARVEL_DOC_BUILD_DIR}/tarvel.1.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${TARVEL_DOC_BUILD_DIR}/man/tarvel.1 ${TARVEL_DOC_BUILD_DIR}/tarvel.1
    COMMAND ${TARVEL_GZIP} -9nf ${TARVEL_DOC_BUILD_DIR}/tarvel.1
    DEPENDS ${TARVEL_DOC_BUILD_DIR}/man/tarvel.1
    VERBATIM)
  add_custom_command(
    OUTPUT ${TARVEL_DOC_BUILD_DIR}/changelog.gz
    COMMAND ${TARVEL_GZIP} -9nkf ${TARVEL_DOC_BUILD_DIR}/changelog
    DEPENDS ${TARVEL_DOC_BUILD_DIR}/changelog
    VERBATIM)
  add_custom_target(tarvel_docs ALL
    DEPENDS ${TARVEL_DOC_BUILD_DIR}/tarvel.1.gz ${TARVEL_DOC_BUILD_DIR}/changelog.gz)

  install(FILES ${TARVEL_DOC_BUILD_DIR}/tarvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${TARVEL_DEBIAN_DIR}/copyright ${TARVEL_DOC_BUILD_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# CPack writes its settings into the top-level build tree: only tarvel's own.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_CONTACT "${TARVEL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set the CRC-16 of firmware modules")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARVEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The summary above is the first line of the Debian description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"tarvel builds a firmware module in memory from an S-record, T-record or
plain module file, checks its format, computes its CRC-16 and stores it:
in place in the S-record file (keeping the previous file as .bak), or as
T-records, a plain module file and a 20-byte summary file. It also
packages raw data into modules, stamps serial numbers and prints file
CRCs. It is meant to run inside firmware builds.")
# dpkg-shlibdeps (package dpkg-dev) gives versioned dependencies.
find_program(TARVEL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARVEL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tarvel-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
