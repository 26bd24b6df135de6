# Export, import and copy: the import file's checks, the doctor against export, and copy's
# faithful values and read transaction.
vardex_add_test(NAME test_transfer SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_transfer.cpp LIBS vardexcli PG TIMEOUT 900)
add_dependencies(test_transfer vardex-cli)
