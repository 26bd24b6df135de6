vardex_add_test(NAME test_securestore SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_securestore.cpp LIBS libvardex Qt6::Test PG)
vardex_add_test(NAME test_securestore_grants SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_securestore_grants.cpp LIBS libvardex PG)
add_dependencies(test_securestore_grants vardex-cli)
