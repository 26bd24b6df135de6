# The profile (INI) layer of the host's settings.
vardex_add_test(NAME test_inifile SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_inifile.cpp LIBS vardexhost)
# The host's main window, its connection dialog and the installer button, on every database kind.
vardex_add_test(NAME test_host SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_host.cpp LIBS vardexhost Qt6::Test PG)
# The program's usage names how its language is chosen.
add_test(NAME host_help COMMAND vardex --help)
set_tests_properties(host_help PROPERTIES PASS_REGULAR_EXPRESSION "language=en[^\n]*\n[^\n]*VARDEX_LANG=en")
