# libvardex exports exactly the calls declared in vardex.h (capi/vardex.exports lists them).
add_test(NAME capi_exports COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:libvardex>
  -DHEADER=${PROJECT_SOURCE_DIR}/capi/vardex.h -DLIST=${PROJECT_SOURCE_DIR}/capi/vardex.exports
  -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)

# The host's settings when it cannot write its own folder, as an ordinary user (as root the
# program becomes nobody first).
vardex_add_test(NAME test_settings_location SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_settings_location.cpp
  LIBS vardexhost Qt6::Test TIMEOUT 120)

# A Wayland setting without a usable Wayland display and without X11 ends in a message, not in
# Qt's abort.
add_test(NAME host_wayland_without_display COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY
  --unset=QT_QPA_PLATFORM WAYLAND_DISPLAY=vardex-no-such-socket XDG_RUNTIME_DIR=${CMAKE_CURRENT_BINARY_DIR}
  $<TARGET_FILE:vardex>)
set_tests_properties(host_wayland_without_display PROPERTIES
  PASS_REGULAR_EXPRESSION "vardex: WAYLAND_DISPLAY names no Wayland socket" TIMEOUT 30)

# The Python and Free Pascal bindings against the built library (needs python3-pytest and
# fp-compiler, which tools/install-deps.sh --test installs).
add_test(NAME bindings COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/bindings.sh ${CMAKE_BINARY_DIR}/bin
  ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/bindings)
set_tests_properties(bindings PROPERTIES TIMEOUT 300)

# An installed tree still works after it is moved: pkg-config and find_package(Vardex) consumers
# build and run against it.
add_test(NAME relocated_install COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/relocated_install.sh ${CMAKE_BINARY_DIR}
  ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/relocated_install)
set_tests_properties(relocated_install PROPERTIES TIMEOUT 300)

# The pip route of docs/developer.md works without the package index, and the installed binding
# runs that page's Python example.
add_test(NAME python_pip_offline COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/python_pip.sh ${CMAKE_BINARY_DIR}/bin
  ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/python_pip)
set_tests_properties(python_pip_offline PROPERTIES TIMEOUT 300)

# `cmake --install` needs nothing from the tree that only a build target makes, apart from the
# programs and libraries themselves.
add_test(NAME install_from_configured_tree COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install_configured.sh
  ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/install_configured)
set_tests_properties(install_from_configured_tree PROPERTIES TIMEOUT 300)

# The symbols file of the vardex package and the hardening of what it holds.
add_test(NAME deb_conventions COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/deb_conventions.sh ${CMAKE_BINARY_DIR}/bin
  ${PROJECT_SOURCE_DIR})

# docs/developer.md's routes for a client program from a checkout (pkg-config, find_package,
# Python, Free Pascal), and the README's quick start, against this build tree, uninstalled.
add_test(NAME readme_checkout COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/readme_checkout.sh ${CMAKE_BINARY_DIR}
  ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/readme_checkout)
set_tests_properties(readme_checkout PROPERTIES TIMEOUT 300)
