vardex_add_test(NAME test_cliadmin SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_cliadmin.cpp LIBS Qt6::Test vardexcli PG TIMEOUT 900)
add_dependencies(test_cliadmin vardex-cli)
# The conventions of every verb, over the verb tables.
vardex_add_test(NAME test_cliconventions SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_cliconventions.cpp LIBS vardexcli TIMEOUT 900)
add_dependencies(test_cliconventions vardex-cli vardex-cli-manpage)
