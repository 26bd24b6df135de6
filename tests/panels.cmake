# The host's test and maintenance page: its controls and checks, and whole sessions through the
# main window on a freshly installed store of every database kind.
vardex_add_test(NAME test_panels SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_panels.cpp
  LIBS vardexhost libvardex Qt6::Test PG)
