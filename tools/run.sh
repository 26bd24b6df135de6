#!/usr/bin/env bash
# Installs the packages, builds Vardex, creates an embedded SQLite store where none exists yet and
# starts the host program on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
data="${XDG_DATA_HOME:-$HOME/.local/share}/vardex"
store="$data/store.db"
conn="Provider=SQLite;Data Source=$store"
mkdir -p "$data"
if [ ! -s "$store" ]; then
  build/bin/vardex-cli install "$conn"
fi
echo "Store: $conn"
exec build/bin/vardex "$@"
