vardex_add_test(NAME test_session SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_session.cpp LIBS libvardex PG)
vardex_add_test(NAME test_installer SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_installer.cpp PG)
