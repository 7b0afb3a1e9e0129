# The Debian packages, one per install component:
#   quorvane          the programs, the service, sample data, man pages, completion
#   libkelvane1       the shared library
#   libkelvane-dev    headers, kelvane.pc and the CMake package
# scripts/package configures a build with QUORVANE_DEB_PACKAGES=ON and the
# prefix /usr, then runs cpack.
set(debian ${CMAKE_CURRENT_SOURCE_DIR}/debian)

# The Debian changelog's newest entry must be this release.
file(STRINGS ${debian}/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^quorvane \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with \"${newest}\", "
                      "not an entry for ${PROJECT_VERSION}")
endif()

# Every package carries the copyright file and the Debian changelog; the
# server's also the README (with the docs/ pages beside it, see CMakeLists.txt)
# and the project's own CHANGELOG.md.
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND sh -c "gzip -9n -c \"$0\" > \"$1\"" ${debian}/changelog ${changelog}
  DEPENDS ${debian}/changelog
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${changelog})
# The install components are named after the packages.
foreach(package quorvane libkelvane1 libkelvane-dev)
  install(FILES ${debian}/copyright ${changelog}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
    COMPONENT ${package})
endforeach()
install(FILES ${debian}/libkelvane1/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME libkelvane1
  COMPONENT libkelvane1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${QUORVANE_DOC_DIR}
  COMPONENT quorvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VENDOR "The Quorvane developers")
set(CPACK_PACKAGE_CONTACT "The Quorvane developers <developers@quorvane.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME quorvane-${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL quorvane libkelvane1 libkelvane-dev)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE quorvane)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# dpkg-shlibdeps finds the freshly built libkelvane.so.1 here rather than on the system.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/cipher)
set(exact_version "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_QUORVANE_PACKAGE_NAME quorvane)
set(CPACK_DEBIAN_QUORVANE_PACKAGE_SECTION net)
# The server loads libkelvane at run time, which dpkg-shlibdeps cannot see;
# the postinst runs systemd-sysusers and systemd-tmpfiles.
set(CPACK_DEBIAN_QUORVANE_PACKAGE_DEPENDS
    "libkelvane1 ${exact_version}, procps, systemd | systemd-standalone-sysusers | systemd-sysusers, systemd | systemd-standalone-tmpfiles")
set(CPACK_COMPONENT_QUORVANE_DESCRIPTION "map server of a small two-player role-playing game
Quorvane serves up to two players of a small online role-playing game over
TCP: a seed handshake, then sealed packets for login, chat, movement and the
server's own NPCs. Character and item files are read from a data folder.
.
This package holds the server quorvane with its systemd units
(quorvane.service, and the template quorvane@.service with one instance per
map), quorvane-ctl to steer a running server through its control socket, the
command-line client quorvane-client, the data tool quorvane-data and sample
characters.")
set(CPACK_DEBIAN_QUORVANE_PACKAGE_CONTROL_EXTRA ${debian}/quorvane/postinst ${debian}/quorvane/prerm
    ${debian}/quorvane/postrm ${debian}/quorvane/conffiles)

set(CPACK_DEBIAN_LIBKELVANE1_PACKAGE_NAME libkelvane1)
set(CPACK_DEBIAN_LIBKELVANE1_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBKELVANE1_PACKAGE_MULTIARCH same)
# Only libkelvane1 holds a shared library, so only it gets a shlibs file.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBKELVANE1_PACKAGE_CONTROL_EXTRA ${debian}/libkelvane1/triggers)
set(CPACK_COMPONENT_LIBKELVANE1_DESCRIPTION "packet cipher of the Quorvane game protocol
Kelvane holds the cipher of the Quorvane protocol: the handshake's escape codec
and seed shuffles, the key schedule, and sealing and opening packets in both
directions, for the server's and the client's side, through a small C ABI.
.
This package holds the shared library.")

set(CPACK_DEBIAN_LIBKELVANE-DEV_PACKAGE_NAME libkelvane-dev)
set(CPACK_DEBIAN_LIBKELVANE-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBKELVANE-DEV_PACKAGE_MULTIARCH same)
set(CPACK_DEBIAN_LIBKELVANE-DEV_PACKAGE_DEPENDS "libkelvane1 ${exact_version}")
set(CPACK_COMPONENT_LIBKELVANE-DEV_DESCRIPTION "packet cipher of the Quorvane game protocol - development files
Kelvane holds the cipher of the Quorvane protocol: the handshake's escape codec
and seed shuffles, the key schedule, and sealing and opening packets in both
directions, for the server's and the client's side, through a small C ABI.
.
This package holds the C header kelvane.h, the C++ header kelvane.hpp (owning
results and a run-time loader), kelvane.pc for pkg-config and the CMake package
Kelvane (Kelvane::kelvane).")

include(CPack)
