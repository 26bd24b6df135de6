vardex_add_test(NAME test_access SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_access.cpp LIBS libvardex PG)
# The trace's masking is tested on its own: the CLI's shared part is built in.
vardex_add_test(NAME test_cli SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_cli.cpp LIBS vardexcli PG)
add_dependencies(test_cli vardex-cli login_check)

# The public header compiles as strict C89 and C99 with every warning an error.
foreach(std 90 99)
  add_library(vardex_header_c${std} OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/header_c89.c)
  set_target_properties(vardex_header_c${std} PROPERTIES C_STANDARD ${std} C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
  target_include_directories(vardex_header_c${std} PRIVATE ${PROJECT_SOURCE_DIR}/capi)
  target_compile_options(vardex_header_c${std} PRIVATE -Wall -Wextra -pedantic -Werror)
endforeach()
