vardex_add_test(NAME test_securestore SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_securestore.cpp LIBS libvardex Qt6::Test PG)
