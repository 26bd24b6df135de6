# The hardening flags Debian builds its own packages with (dpkg-buildflags, every hardening
# feature on: stack protector, format checks, fortified functions, read-only relocations bound
# at start). The build type keeps its own optimisation and debug flags. Fortified functions need
# an optimised build and get in the sanitizers' way, so Debug, sanitizer and fuzzer trees go
# without them.
option(VARDEX_DEB_BUILDFLAGS "Add the hardening flags of dpkg-buildflags" ON)
find_program(VARDEX_DPKG_BUILDFLAGS dpkg-buildflags)
if(VARDEX_DEB_BUILDFLAGS AND VARDEX_DPKG_BUILDFLAGS)
  set(vardex_fortify ON)
  if(VARDEX_SANITIZE OR VARDEX_BUILD_FUZZERS OR CMAKE_BUILD_TYPE STREQUAL "Debug")
    set(vardex_fortify OFF)
  endif()
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
      ${VARDEX_DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed (configure with -DVARDEX_DEB_BUILDFLAGS=OFF)")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(O.?|g.*|ffile-prefix-map=.*|Wdate-time)$")
    if(NOT vardex_fortify)
      list(FILTER flags EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
    endif()
    if(kind STREQUAL "LDFLAGS")
      add_link_options(${flags})
    else()
      add_compile_options(${flags})
    endif()
  endforeach()
endif()
