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
