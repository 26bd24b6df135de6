# Hardening: hostile input through the C interface, many desktops on one store, crash durability.
vardex_add_test(NAME test_hardening_input SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_hardening_input.cpp LIBS libvardex PG)
add_dependencies(test_hardening_input vardex-cli) # the secrets vardex-cli reads

# One desktop in a process of its own, for the many-desktops and crash tests.
add_executable(hardening_worker ${CMAKE_CURRENT_SOURCE_DIR}/hardening_worker.cpp)
target_link_libraries(hardening_worker PRIVATE libvardex vardexcore Qt6::Core)
vardex_add_test(NAME test_concurrency SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_concurrency.cpp PG TIMEOUT 900)
add_dependencies(test_concurrency hardening_worker vardex-cli)
vardex_add_test(NAME test_crash SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_crash.cpp PG TIMEOUT 600)
add_dependencies(test_crash hardening_worker)

# The fuzz targets' committed corpora, replayed through a plain main with any compiler.
foreach(name storeddata cipher inifile batches dialect connstr exportfile)
  add_executable(fuzz_replay_${name} ${PROJECT_SOURCE_DIR}/fuzz/fuzz_${name}.cpp ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(fuzz_replay_${name} PRIVATE vardexcore Qt6::Core)
  if(name STREQUAL "inifile") # the INI layer lives with the host, not in the core
    target_sources(fuzz_replay_${name} PRIVATE ${PROJECT_SOURCE_DIR}/platform/inifile.cpp)
  endif()
  set_target_properties(fuzz_replay_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME fuzz_replay_${name} COMMAND fuzz_replay_${name} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  set_tests_properties(fuzz_replay_${name} PROPERTIES TIMEOUT 300)
endforeach()
vardex_add_test(NAME test_hardening_units SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_hardening_units.cpp)
