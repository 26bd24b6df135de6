# The audit log: reading it page by page and through filters, on every kind of store.
vardex_add_test(NAME test_auditlog SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_auditlog.cpp LIBS libvardex PG)
