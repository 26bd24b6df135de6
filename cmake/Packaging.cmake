# What `cmake --install` puts in place beyond the programs and libraries, and the Debian packages
# CPack builds from it:
#   vardex      runtime: libvardex, the private core and widget libraries, vardex, vardex-cli,
#               the help text, the desktop entry and its icon
#   vardex-dev  the header, vardex.pc and the CMake package (find_package(Vardex))
include(CMakePackageConfigHelpers)

set(VARDEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vardex)
# The imported target is written here rather than exported: libvardex's private libraries are
# no part of what a client links, and an export set would have to carry them.
file(RELATIVE_PATH VARDEX_CMAKE_TO_PREFIX /prefix/${VARDEX_CMAKE_DIR} /prefix)
string(REGEX REPLACE "/$" "" VARDEX_CMAKE_TO_PREFIX "${VARDEX_CMAKE_TO_PREFIX}")
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/pkg/VardexTargets.cmake CONTENT
"# Vardex::vardex, the imported libvardex. Paths are relative to this file.
get_filename_component(_vardex_prefix \"\${CMAKE_CURRENT_LIST_DIR}/${VARDEX_CMAKE_TO_PREFIX}\" ABSOLUTE)
if(NOT TARGET Vardex::vardex)
  add_library(Vardex::vardex SHARED IMPORTED)
  set_target_properties(Vardex::vardex PROPERTIES
    IMPORTED_LOCATION \"\${_vardex_prefix}/${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:libvardex>\"
    IMPORTED_SONAME \"$<TARGET_SONAME_FILE_NAME:libvardex>\"
    INTERFACE_INCLUDE_DIRECTORIES \"\${_vardex_prefix}/${CMAKE_INSTALL_INCLUDEDIR}\")
endif()
unset(_vardex_prefix)
")
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VardexConfig.cmake.in
  ${CMAKE_BINARY_DIR}/pkg/VardexConfig.cmake INSTALL_DESTINATION ${VARDEX_CMAKE_DIR})
# 0.x: every minor version may change the interface, so a request is met by its own minor only.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/pkg/VardexConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/pkg/VardexConfig.cmake ${CMAKE_BINARY_DIR}/pkg/VardexConfigVersion.cmake
  ${CMAKE_BINARY_DIR}/pkg/VardexTargets.cmake
  DESTINATION ${VARDEX_CMAKE_DIR} COMPONENT dev)

set(VARDEX_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH VARDEX_PC_TO_PREFIX /prefix/${VARDEX_PC_DIR} /prefix)
string(REGEX REPLACE "/$" "" VARDEX_PC_TO_PREFIX "${VARDEX_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/vardex.pc.in ${CMAKE_BINARY_DIR}/pkg/vardex.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/pkg/vardex.pc DESTINATION ${VARDEX_PC_DIR} COMPONENT dev)

install(FILES ${CMAKE_CURRENT_LIST_DIR}/vardex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
  COMPONENT runtime)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vardex.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  COMPONENT runtime)

# Debian wants a copyright file and a changelog in each package's documentation folder.
set(VARDEX_DEB_MAINTAINER "Vardex developers <packages@vardex.example.org>")
string(TIMESTAMP VARDEX_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(pkg vardex vardex-dev)
  if(pkg STREQUAL "vardex")
    set(component runtime)
  else()
    set(component dev)
  endif()
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog CONTENT
"${pkg} (${PROJECT_VERSION}) unstable; urgency=medium

  * Package built from the Vardex sources.

 -- ${VARDEX_DEB_MAINTAINER}  ${VARDEX_DEB_DATE}
")
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog.gz
    COMMAND gzip -n -9 -c ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog > ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog VERBATIM)
  list(APPEND VARDEX_CHANGELOGS ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pkg} COMPONENT ${component})
endforeach()
# Manual pages, compressed as Debian wants them.
foreach(page vardex.1 vardex-cli.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/pkg/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/pkg/man
    COMMAND gzip -n -9 -c ${PROJECT_SOURCE_DIR}/docs/man/${page} > ${CMAKE_BINARY_DIR}/pkg/man/${page}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page} VERBATIM)
  list(APPEND VARDEX_CHANGELOGS ${CMAKE_BINARY_DIR}/pkg/man/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/pkg/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endforeach()
add_custom_target(vardex_changelogs ALL DEPENDS ${VARDEX_CHANGELOGS})

set(CPACK_PACKAGE_NAME vardex)
set(CPACK_PACKAGE_VENDOR "Vardex")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VARDEX_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARDEX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vardex.example.org/")
# The Qt libraries the programs link are found by dpkg-shlibdeps; the plugins Qt loads at run
# time are named here: the SQLite driver of the embedded store and a display platform.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME vardex)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION database)
# libodbc2: the core asks an ODBC connection's driver which database it reaches.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins, libodbc2")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "qt6-wayland, libqt6sql6-psql, libqt6sql6-odbc, fonts-wqy-microhei")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SUGGESTS "odbc-postgresql, tdsodbc")
# libvardex gets a shlibs entry, and ldconfig runs through a trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "user and permission management for desktop database programs
Vardex keeps the users, user groups and permission items of a desktop database
program in an SQL store (SQLite, PostgreSQL or SQL Server through ODBC).
This package holds libvardex, the library client programs link, with its
standard login, change-password and administration windows, the vardex host
program and the vardex-cli command.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME vardex-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "vardex (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "user and permission management - development files
Vardex keeps the users, user groups and permission items of a desktop database
program in an SQL store. This package holds what a program needs to build
against libvardex: the C header vardex.h, the pkg-config file vardex.pc and
the CMake package (find_package(Vardex) gives the target Vardex::vardex).")

include(CPack)
