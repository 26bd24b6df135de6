# The layers stay apart: each include goes downward and the core includes no widget header.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME layers
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_layers.py ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}
    "$<TARGET_PROPERTY:Qt6::Widgets,INTERFACE_INCLUDE_DIRECTORIES>"
    "$<TARGET_PROPERTY:Qt6::Gui,INTERFACE_INCLUDE_DIRECTORIES>"
  COMMAND_EXPAND_LISTS)
