# The password policy: hashes, the login-time upgrade, lockout and the least length, on every
# kind of store, with the verbs that keep the policy.
vardex_add_test(NAME test_passwords SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_passwords.cpp LIBS libvardex PG)
target_link_libraries(test_passwords PRIVATE crypt)
add_dependencies(test_passwords hardening_worker vardex-cli)
