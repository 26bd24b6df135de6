# What `cmake --install` puts in place beyond the programs and libraries, and the Debian packages
# CPack builds from it:
#   vardex      runtime: libvardex, the private core and widget libraries, vardex, vardex-cli,
#               the help text, the desktop entry and its icon
#   vardex-dev  the header, vardex.pc, the CMake package (find_package(Vardex)), the Free Pascal
#               unit and the C examples
#   python3-vardex  the Python 3 module
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

# The same two routes for a client built against this build tree, uninstalled: the header from
# the sources, the library where the build puts it, with a run path to it so the client runs as
# it is. pkg-config prefers vardex-uninstalled.pc to vardex.pc in the same folder
# (PKG_CONFIG_PATH=build/pkg); find_package finds VardexConfig.cmake at the build tree's top
# (-DVardex_DIR=build, or build on CMAKE_PREFIX_PATH).
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/pkg/vardex-uninstalled.pc CONTENT
"Name: vardex
Description: Vardex user and permission management, plain C interface (uninstalled build tree)
Version: ${PROJECT_VERSION}
Libs: -L$<TARGET_FILE_DIR:libvardex> -lvardex -Wl,-rpath,$<TARGET_FILE_DIR:libvardex>
Cflags: -I${PROJECT_SOURCE_DIR}/capi
")
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/VardexConfig.cmake CONTENT
"# Vardex::vardex from the build tree ${CMAKE_BINARY_DIR}, uninstalled.
if(NOT TARGET Vardex::vardex)
  add_library(Vardex::vardex SHARED IMPORTED)
  set_target_properties(Vardex::vardex PROPERTIES
    IMPORTED_LOCATION \"$<TARGET_FILE:libvardex>\"
    IMPORTED_SONAME \"$<TARGET_SONAME_FILE_NAME:libvardex>\"
    INTERFACE_INCLUDE_DIRECTORIES \"${PROJECT_SOURCE_DIR}/capi\")
endif()
")
configure_file(${CMAKE_BINARY_DIR}/pkg/VardexConfigVersion.cmake ${CMAKE_BINARY_DIR}/VardexConfigVersion.cmake COPYONLY)

install(FILES ${CMAKE_CURRENT_LIST_DIR}/vardex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
  COMPONENT runtime)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vardex.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  COMPONENT runtime)

# The Python binding, where Debian's python3 finds it (the python3-vardex package).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python/vardex DESTINATION lib/python3/dist-packages
  COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
# vardex-dev: the Free Pascal unit (a source unit, compiled with the program that uses it) and
# the C examples.
install(FILES ${PROJECT_SOURCE_DIR}/bindings/pascal/vardex.pas DESTINATION ${CMAKE_INSTALL_DATADIR}/vardex/pascal
  COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/examples/login_check.c DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vardex-dev/examples
  COMPONENT dev)

# Debian wants a copyright file and a changelog in each package's documentation folder, and
# manual pages compressed. They are written when the tree is configured, so that an install
# works from any configured tree, whatever was built in it.
# The maintainer is named without an address (the project publishes none): Debian's tools want
# one between angle brackets, and an empty one is what they read without one being made up;
# lintian's objection is overridden (cmake/deb/<package>/lintian-overrides, with the reasons).
set(VARDEX_DEB_MAINTAINER "Vardex developers <>")
string(TIMESTAMP VARDEX_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE vardex_license)
string(REGEX REPLACE "^.*\n(Permission )" "\\1" vardex_license "${vardex_license}")
string(STRIP "${vardex_license}" vardex_license)
string(REGEX REPLACE "\n\n" "\n.\n" vardex_license "${vardex_license}")
string(REGEX REPLACE "\n" "\n " VARDEX_LICENSE_TEXT " ${vardex_license}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_BINARY_DIR}/pkg/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
function(vardex_gzip source target)
  execute_process(COMMAND gzip -n -9 -c ${source} OUTPUT_FILE ${target} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${source} failed")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()
foreach(pkg vardex vardex-dev python3-vardex)
  set(component runtime)
  if(pkg STREQUAL "vardex-dev")
    set(component dev)
  elseif(pkg STREQUAL "python3-vardex")
    set(component python)
  endif()
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog CONTENT
"${pkg} (${PROJECT_VERSION}) unstable; urgency=medium

  * Package built from the Vardex sources.

 -- ${VARDEX_DEB_MAINTAINER}  ${VARDEX_DEB_DATE}
")
  vardex_gzip(${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/pkg/${pkg}/changelog.gz ${CMAKE_BINARY_DIR}/pkg/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${pkg} COMPONENT ${component})
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/deb/${pkg}/lintian-overrides)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/deb/${pkg}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
      COMPONENT ${component} RENAME ${pkg})
  endif()
endforeach()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/pkg/man)
vardex_gzip(${PROJECT_SOURCE_DIR}/docs/man/vardex.1 ${CMAKE_BINARY_DIR}/pkg/man/vardex.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/pkg/man/vardex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
# vardex-cli(1) carries a verb reference the program writes from its verbs' declarations: it is
# made when the program is built.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/pkg/man/vardex-cli.1.gz
  COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:vardex-cli> -DPAGE=${PROJECT_SOURCE_DIR}/docs/man/vardex-cli.1
          -DOUTPUT=${CMAKE_BINARY_DIR}/pkg/man/vardex-cli.1 -P ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
  COMMAND gzip -n -9 -f ${CMAKE_BINARY_DIR}/pkg/man/vardex-cli.1
  DEPENDS vardex-cli ${PROJECT_SOURCE_DIR}/docs/man/vardex-cli.1 ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake)
add_custom_target(vardex-cli-manpage ALL DEPENDS ${CMAKE_BINARY_DIR}/pkg/man/vardex-cli.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/pkg/man/vardex-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

set(CPACK_PACKAGE_NAME vardex)
set(CPACK_PACKAGE_VENDOR "Vardex")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VARDEX_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL runtime dev python)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARDEX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
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
# The symbols file names the version each call of libvardex appeared in (a new call is added
# there with the version it comes with, as in capi/vardex.exports).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/triggers
  ${CMAKE_CURRENT_LIST_DIR}/deb/vardex/symbols)
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
against libvardex: the C header vardex.h, the pkg-config file vardex.pc, the
CMake package (find_package(Vardex) gives the target Vardex::vardex), the Free
Pascal unit vardex.pas and a C example.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-vardex)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, vardex (>= ${PROJECT_VERSION})")
# Byte-compiled on installation and cleaned on removal, as Debian's Python packages are.
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/deb/python3-vardex/postinst
  ${CMAKE_CURRENT_LIST_DIR}/deb/python3-vardex/prerm)
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "user and permission management - Python 3 binding
Vardex keeps the users, user groups and permission items of a desktop database
program in an SQL store. This package holds the Python 3 module vardex, a
ctypes binding of libvardex: every call of vardex.h with its answer codes as
IntEnums, and vardex.Session for the library's session.")

include(CPack)
