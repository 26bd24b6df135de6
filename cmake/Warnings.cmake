# The warnings every product target is built with (linked through vardex_layer), and the
# lighter set for tests, benchmarks and fuzzers. VARDEX_WERROR makes each of them an error;
# tools/test.sh turns it on so a new warning fails the build instead of scrolling past.
option(VARDEX_WERROR "Treat compiler warnings as errors" OFF)
add_library(vardex_warnings INTERFACE)
add_library(vardex_test_warnings INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(vardex_test_warnings INTERFACE -Wall -Wextra $<$<BOOL:${VARDEX_WERROR}>:-Werror>)
  target_compile_options(vardex_warnings INTERFACE -Wall -Wextra
    $<$<COMPILE_LANGUAGE:CXX>:-Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wold-style-cast>
    $<$<BOOL:${VARDEX_WERROR}>:-Werror>)
endif()
