# The English interface: every shown text translated (checked against the sources with lupdate),
# the windows in English through real clicks, the audit rows still Chinese, and the choice of
# language by call, host setting and environment.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_package(Qt6 REQUIRED COMPONENTS LinguistTools)
add_test(NAME i18n_translations_complete
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/i18n_check.py ${PROJECT_SOURCE_DIR})
set_tests_properties(i18n_translations_complete PROPERTIES ENVIRONMENT "LUPDATE=$<TARGET_FILE:Qt6::lupdate>")
vardex_add_test(NAME test_i18n
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_i18n.cpp ${CMAKE_CURRENT_SOURCE_DIR}/test_dialogs.h
  LIBS libvardex vardexhost Qt6::Test)
target_include_directories(test_i18n PRIVATE ${PROJECT_SOURCE_DIR})
add_test(NAME test_i18n_environment COMMAND test_i18n --gtest_filter=EnvironmentLanguage.*)
set_tests_properties(test_i18n_environment PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VARDEX_LANG=en;VARDEX_SOURCE_DIR=${PROJECT_SOURCE_DIR};VARDEX_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
  TIMEOUT 120)
