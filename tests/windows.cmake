# The windows driven with real mouse clicks and key presses: typed grid edits and the navigator,
# the up-down boxes, the timed login under its message box.
vardex_add_test(NAME test_windows_typing
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_windows_typing.cpp ${CMAKE_CURRENT_SOURCE_DIR}/test_dialogs.h
  LIBS libvardex Qt6::Test PG)
target_include_directories(test_windows_typing PRIVATE ${PROJECT_SOURCE_DIR})
