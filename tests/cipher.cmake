# The password cipher: pure functions, no database.
vardex_add_test(NAME test_cipher SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_cipher.cpp)
