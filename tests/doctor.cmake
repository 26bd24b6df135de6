# The store doctor and the random-sequence test of the stored procedures.
vardex_add_test(NAME test_doctor SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_doctor.cpp PG)
# The doctor test also runs vardex-cli.
add_dependencies(test_doctor vardex-cli)
vardex_add_test(NAME test_property SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_property.cpp PG TIMEOUT 900)
