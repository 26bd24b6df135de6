# Store care: an install killed half-way leaves the database as it was.
add_executable(install_worker ${CMAKE_CURRENT_SOURCE_DIR}/install_worker.cpp)
target_link_libraries(install_worker PRIVATE vardexcore Qt6::Core)
vardex_add_test(NAME test_install_crash SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_install_crash.cpp PG TIMEOUT 600)
add_dependencies(test_install_crash install_worker)
