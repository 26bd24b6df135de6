#!/usr/bin/env bash
# Installs the packages, builds everything and runs every test (PostgreSQL tests start their own
# throwaway server). As root it then builds the Debian packages, installs them, builds and runs
# client programs and the bindings' tests against them and removes them (tools/package-check.sh).
# Then builds a second tree with AddressSanitizer, UndefinedBehaviorSanitizer
# and LeakSanitizer and runs the core, C-interface and hardening tests in it.
#
# Every stage runs, whatever an earlier one answered (a stage that needs an earlier one's build
# is skipped only when that build failed); the summary at the end has a line per stage with its
# result and time, and the script exits non-zero if any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."

results=()
failed=0
# stage NAME COMMAND...: runs the command, notes its result and time.
stage() {
  local name=$1 start rc
  shift
  echo "=== test.sh: $name"
  start=$(date +%s)
  "$@"
  rc=$?
  local took=$(( $(date +%s) - start ))
  if [ "$rc" -eq 0 ]; then
    results+=("$(printf '%-14s passed  %4d s' "$name" "$took")")
  else
    results+=("$(printf '%-14s FAILED  %4d s  (exit %d)' "$name" "$took" "$rc")")
    failed=1
  fi
  return "$rc"
}
skip() {
  results+=("$(printf '%-14s skipped         (%s)' "$1" "$2")")
  failed=1
}

build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARDEX_BUILD_TESTS=ON -DVARDEX_BUILD_BENCH=ON \
    -DVARDEX_WERROR=ON && cmake --build build -j"$(nproc)"
}

packages() {
  if [ "$(id -u)" = 0 ]; then
    bash tools/package-check.sh build
  else
    echo "test.sh: not root, so the Debian packages are not installed and tried (tools/package-check.sh)"
  fi
}

# Only the programs these tests need are built (no benchmarks, no windows tests).
sanitized_tests=(test_dialect test_adodb test_session test_access test_cipher test_storage test_installer
  test_inifile test_cli test_hardening_input test_hardening_units test_concurrency test_crash
  fuzz_replay_storeddata fuzz_replay_cipher fuzz_replay_inifile fuzz_replay_batches fuzz_replay_dialect
  fuzz_replay_connstr fuzz_replay_exportfile test_trust test_install_crash test_doctor test_transfer test_rights
  test_datalayer test_adminspeed)
sanitizer_build() {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARDEX_SANITIZE=ON -DVARDEX_BUILD_BENCH=OFF &&
    cmake --build build-asan -j"$(nproc)" --target "${sanitized_tests[@]}" hardening_worker install_worker vardex-cli
}
sanitizer_tests() {
  local regex
  regex="^($(IFS='|'; echo "${sanitized_tests[*]}")|pg_cluster_start|pg_cluster_stop)\$"
  # Leaks are reported (LeakSanitizer) and fail the test; tests/lsan.supp holds suppressions for
  # third-party libraries only. Any ASan or UBSan report ends the program with an error.
  ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=0" \
  LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir build-asan --output-on-failure -j2 -R "$regex"
}

if stage install-deps bash tools/install-deps.sh --test; then
  if stage build build; then
    stage tests ctest --test-dir build --output-on-failure -j2
    stage debian-pkgs packages
  else
    skip tests "the build failed"
    skip debian-pkgs "the build failed"
  fi
  if stage asan-build sanitizer_build; then
    stage asan-tests sanitizer_tests
  else
    skip asan-tests "the sanitizer build failed"
  fi
else
  skip build "the packages could not be installed"
fi

echo
echo "=== test.sh: summary"
printf '%s\n' "${results[@]}"
if [ "$failed" -ne 0 ]; then
  echo "test.sh: some stages failed or were skipped"
  exit 1
fi
echo "test.sh: every stage passed"
