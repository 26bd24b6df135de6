# The audit log window driven with real clicks and key presses on every kind of store.
vardex_add_test(NAME test_auditlogwindow
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_auditlogwindow.cpp ${CMAKE_CURRENT_SOURCE_DIR}/test_dialogs.h
  LIBS libvardex Qt6::Test PG)
target_include_directories(test_auditlogwindow PRIVATE ${PROJECT_SOURCE_DIR})
