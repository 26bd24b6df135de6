# PostgreSQL as sites run it: a primary with a synchronous standby and PgBouncer in front
# (tests/pg_replica.sh), for the failover and pooling tests. A set of its own, since the
# failover test kills its primary.
set(VARDEX_REPLICA_DIR /tmp/vardex-replica-${VARDEX_BUILD_HASH})
add_test(NAME pg_replica_start COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/pg_replica.sh start ${VARDEX_REPLICA_DIR} sync)
add_test(NAME pg_replica_stop COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/pg_replica.sh stop ${VARDEX_REPLICA_DIR})
set_tests_properties(pg_replica_start PROPERTIES FIXTURES_SETUP replica)
set_tests_properties(pg_replica_stop PROPERTIES FIXTURES_CLEANUP replica)
vardex_add_test(NAME test_replica SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_replica.cpp TIMEOUT 900)
add_dependencies(test_replica hardening_worker vardex-cli)
set_property(TEST test_replica APPEND PROPERTY ENVIRONMENT "VARDEX_REPLICA_DIR=${VARDEX_REPLICA_DIR}")
set_tests_properties(test_replica PROPERTIES FIXTURES_REQUIRED replica)

# The PostgreSQL test programs once more, through PgBouncer in transaction pooling mode (their
# SQLite tests left out): library calls, both windows, the host's installer, every CLI verb. The
# programs that restart or kill the server, and the long load and property runs, stay direct.
set(VARDEX_POOLED_PROGRAMS test_adodb test_session test_access test_rights test_trust test_doctor test_procedures
    test_installer test_host test_cli test_cliadmin test_admin test_windows_typing test_dialogs_login
    test_dialogs_list test_panels test_hardening_input test_datalayer test_transfer)
set(pooled_files)
foreach(program ${VARDEX_POOLED_PROGRAMS})
  list(APPEND pooled_files $<TARGET_FILE:${program}>)
endforeach()
add_test(NAME test_pooled COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/pooled.sh /tmp/vardex-pooled-${VARDEX_BUILD_HASH} ${pooled_files})
set_tests_properties(test_pooled PROPERTIES TIMEOUT 1200 ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;VARDEX_SOURCE_DIR=${PROJECT_SOURCE_DIR};VARDEX_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
