# The standard dialogs: login, change password and the permission item list editor, driven
# headless through their handlers and through real modal runs of the C interface.
vardex_add_test(NAME test_dialogs_login
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_dialogs_login.cpp ${CMAKE_CURRENT_SOURCE_DIR}/test_dialogs.h
  LIBS libvardex Qt6::Test PG)
vardex_add_test(NAME test_dialogs_list
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_dialogs_list.cpp ${CMAKE_CURRENT_SOURCE_DIR}/test_dialogs.h
  LIBS libvardex Qt6::Test PG)
target_include_directories(test_dialogs_login PRIVATE ${PROJECT_SOURCE_DIR})
target_include_directories(test_dialogs_list PRIVATE ${PROJECT_SOURCE_DIR})
add_dependencies(test_dialogs_login vardex-cli)
