# Trust: the library under hostile callers, threads and faults.
vardex_add_test(NAME test_trust SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_trust.cpp LIBS libvardex PG)
add_dependencies(test_trust hardening_worker)
# Restarts the PostgreSQL test cluster: nothing else may run meanwhile.
vardex_add_test(NAME test_trust_restart SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_trust_restart.cpp LIBS libvardex PG)
set_tests_properties(test_trust_restart PROPERTIES RUN_SERIAL TRUE)
