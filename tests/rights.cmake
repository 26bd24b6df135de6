vardex_add_test(NAME test_rights SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_rights.cpp LIBS libvardex PG)
add_dependencies(test_rights vardex-cli)
