# The data layer's own reading of results, against the Qt driver's.
vardex_add_test(NAME test_datalayer SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_datalayer.cpp PG)
