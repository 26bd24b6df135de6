# The administration window's lists built in bulk: node roles, joining in one step, expansion.
vardex_add_test(NAME test_adminspeed SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_adminspeed.cpp LIBS Qt6::Test)
