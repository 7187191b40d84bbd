# Installation and the Debian package of the Linux programs. Included by the top-level
# CMakeLists.txt after the executables.
#
#   cmake --install build --prefix P   P/sbin/platenhawk, P/bin/platenhawk-demo, the man pages
#                                      (gzipped) and P/share/doc/platenhawk/: copyright,
#                                      changelog.gz, examples/ (the scenarios, the fleet
#                                      playbook, the metrics' systemd service and timer) and
#                                      schemas/ (the JSON Schemas)
#   scripts/package                    platenhawk_VERSION_ARCH.deb (cpack in build/), the same tree
#                                      under /usr, checked by lintian in the tests

include(GNUInstallDirs)

install(TARGETS platenhawk RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS platenhawk-demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The man pages carry the project version and the ASCII spellings of their Cyrillic labels; they
# are installed compressed, as Debian keeps them
# (gzip -9n: no name or time stamp in the file, so that the same page gives the same bytes).
set(PH_MAN_PAGES platenhawk.8 platenhawk-demo.1)
file(READ ${PROJECT_SOURCE_DIR}/man/ascii-fallbacks.roff PH_MAN_ASCII_FALLBACKS)
string(STRIP "${PH_MAN_ASCII_FALLBACKS}" PH_MAN_ASCII_FALLBACKS)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/ascii-fallbacks.roff)
set(PH_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(PH_MAN_ARCHIVES "")
foreach(page ${PH_MAN_PAGES})
  configure_file(${PROJECT_SOURCE_DIR}/man/${page} ${PH_MAN_DIR}/${page} @ONLY)
  add_custom_command(OUTPUT ${PH_MAN_DIR}/${page}.gz
                     COMMAND gzip -9nfk ${PH_MAN_DIR}/${page}
                     DEPENDS ${PH_MAN_DIR}/${page}
                     COMMENT "Compressing the man page ${page}"
                     VERBATIM)
  list(APPEND PH_MAN_ARCHIVES ${PH_MAN_DIR}/${page}.gz)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  install(FILES ${PH_MAN_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${PH_MAN_ARCHIVES})

file(GLOB PH_EXAMPLE_SCENARIOS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.ini
     ${PROJECT_SOURCE_DIR}/examples/*.service ${PROJECT_SOURCE_DIR}/examples/*.timer)
install(FILES ${PH_EXAMPLE_SCENARIOS} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/fleet DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN reports EXCLUDE)
file(GLOB PH_REPORT_SCHEMAS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/schemas/*.schema.json)
install(FILES ${PH_REPORT_SCHEMAS} DESTINATION ${CMAKE_INSTALL_DOCDIR}/schemas)

set(PH_PACKAGE_MAINTAINER "Platenhawk developers <platenhawk@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")

# The licences, in Debian's machine-readable format, and the changelog, compressed as the man pages.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
                   COMMAND gzip -9nfk ${CMAKE_BINARY_DIR}/debian/changelog
                   DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog
                   COMMENT "Compressing the changelog"
                   VERBATIM)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME platenhawk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PH_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PH_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # platenhawk_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Depends field from the libraries the programs link: libc6, libgcc-s1, libstdc++6 and
# libsystemd0, none for a static build (PH_STATIC).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without dpkg-shlibdeps CPack would only warn and make a package without a Depends field.
if(NOT PH_STATIC)
  list(APPEND CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian/need-shlibdeps.cmake)
endif()
set(CPACK_STRIP_FILES ON)
# lintian (run by tests/package_test.sh) finds no error and no warning. At its informational
# level it notes what Debian's own build would add: the .comment section a strip keeps, and the
# hardening flags of dpkg-buildflags (bind-now, fortified functions), which this build leaves to
# whoever sets CMAKE_CXX_FLAGS and CMAKE_EXE_LINKER_FLAGS.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keyboard-driven hard-disk diagnostic for the text console")
# The long part of the description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Platenhawk finds the machine's physical drives and offers, on an 80 x 25 text
screen with Russian texts: a read-only surface scan that times every block of
255 sectors and sorts it into six latency classes or two failure classes, with
a live block map and a list of damaged blocks; a paged table of the SMART
attributes; spindle stop and spin-up. Without the screen it lists the drives,
scans one or reads its SMART attributes from the command line, with exit
statuses for scripts and JSON reports.
.
platenhawk-demo is the same program on simulated drives described by a
scenario file; it needs no rights and touches no disk.")

include(CPack)
