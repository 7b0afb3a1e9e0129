# What a client developer gets: the library with its SONAME links, the two
# headers, kelvane.pc and the CMake package Kelvane (Kelvane::kelvane, and
# Kelvane::headers for hosts that load the library at run time).
include(CMakePackageConfigHelpers)

set(KELVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kelvane)

install(TARGETS kelvane kelvane_headers EXPORT KelvaneTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT libkelvane1
    NAMELINK_COMPONENT libkelvane-dev)
install(FILES include/kelvane.h include/kelvane.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT libkelvane-dev)

install(EXPORT KelvaneTargets
  NAMESPACE Kelvane::
  DESTINATION ${KELVANE_CMAKE_DIR}
  COMPONENT libkelvane-dev)
configure_package_config_file(cmake/KelvaneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/KelvaneConfig.cmake
  INSTALL_DESTINATION ${KELVANE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KelvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KelvaneConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/KelvaneConfigVersion.cmake
  DESTINATION ${KELVANE_CMAKE_DIR}
  COMPONENT libkelvane-dev)

# kelvane.pc names the prefix given at install time (cmake --install --prefix),
# not the one configured: everything but the prefix is filled in now, the
# prefix by the install step.
set(KELVANE_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
configure_file(kelvane.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kelvane.pc.install @ONLY)
install(CODE "configure_file(\"${CMAKE_CURRENT_BINARY_DIR}/kelvane.pc.install\"
                             \"${CMAKE_CURRENT_BINARY_DIR}/kelvane.pc\" @ONLY)"
  COMPONENT libkelvane-dev)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kelvane.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT libkelvane-dev)
