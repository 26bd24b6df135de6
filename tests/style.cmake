# What the tree holds by tools rather than by habit: the layers stay apart (each include goes
# downward, the core includes no widget header), the C++ files are as .clang-format makes them,
# and the lines a change touches pass clang-tidy (.clang-tidy).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME layers
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_layers.py ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}
    "$<TARGET_PROPERTY:Qt6::Widgets,INTERFACE_INCLUDE_DIRECTORIES>"
    "$<TARGET_PROPERTY:Qt6::Gui,INTERFACE_INCLUDE_DIRECTORIES>"
  COMMAND_EXPAND_LISTS)
add_test(NAME tidy COMMAND bash ${PROJECT_SOURCE_DIR}/tools/tidy.sh ${CMAKE_BINARY_DIR})
set_tests_properties(tidy PROPERTIES TIMEOUT 900)
add_test(NAME format COMMAND bash ${PROJECT_SOURCE_DIR}/tools/format-check.sh)
