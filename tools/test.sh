#!/usr/bin/env bash
# Installs the packages, builds everything and runs every test (PostgreSQL tests start their own
# throwaway server). As root it then builds the Debian packages, installs them, builds and runs
# client programs and the bindings' tests against them and removes them (tools/package-check.sh).
# Then builds a second tree with AddressSanitizer, UndefinedBehaviorSanitizer
# and LeakSanitizer and runs the core, C-interface and hardening tests in it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh --test
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARDEX_BUILD_TESTS=ON -DVARDEX_BUILD_BENCH=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2

if [ "$(id -u)" = 0 ]; then
  bash tools/package-check.sh build
else
  echo "test.sh: not root, so the Debian packages are not installed and tried (tools/package-check.sh)"
fi

# Sanitizer step. Only the programs these tests need are built (no benchmarks, no windows tests).
sanitized_tests=(test_dialect test_adodb test_session test_access test_cipher test_storage test_installer
  test_inifile test_cli test_hardening_input test_hardening_units test_concurrency test_crash
  fuzz_replay_storeddata fuzz_replay_cipher fuzz_replay_inifile fuzz_replay_batches fuzz_replay_dialect
  fuzz_replay_connstr fuzz_replay_exportfile test_trust test_install_crash test_doctor test_transfer test_rights
  test_datalayer test_adminspeed)
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARDEX_SANITIZE=ON -DVARDEX_BUILD_BENCH=OFF
cmake --build build-asan -j"$(nproc)" --target "${sanitized_tests[@]}" hardening_worker install_worker vardex-cli
regex="^($(IFS='|'; echo "${sanitized_tests[*]}")|pg_cluster_start|pg_cluster_stop)\$"
# Leaks are reported (LeakSanitizer) and fail the test; tests/lsan.supp holds suppressions for
# third-party libraries only. Any ASan or UBSan report ends the program with an error.
ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=0" \
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir build-asan --output-on-failure -j2 -R "$regex"
