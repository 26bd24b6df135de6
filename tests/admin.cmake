# The administration window: its tree-list control, the window with its dialogs and actions.
vardex_add_test(NAME test_treelist SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_treelist.cpp LIBS Qt6::Test)
vardex_add_test(NAME test_admin SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_admin.cpp LIBS libvardex Qt6::Test PG)
vardex_add_test(NAME test_admin_scale SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_admin_scale.cpp LIBS libvardex Qt6::Test)
