vardex_add_test(NAME test_store_script SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_store_script.cpp)
vardex_add_test(NAME test_procedures SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_procedures.cpp PG)
vardex_add_test(NAME test_upgrade SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_upgrade.cpp LIBS libvardex PG)
add_dependencies(test_upgrade vardex-cli)
