#!/usr/bin/env bash
# Installs the packages, builds everything and runs every test (PostgreSQL tests start their own
# throwaway server).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2
