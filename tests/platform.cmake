vardex_add_test(NAME test_dialect SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_dialect.cpp)
vardex_add_test(NAME test_adodb SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_adodb.cpp PG)
