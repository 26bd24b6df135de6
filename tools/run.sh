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
# The host reads its settings from cnsetting.ini beside the executable. A first start gets one
# that points at the store above, so "连接数据库" works at once; an existing file is never touched.
settings=build/bin/cnsetting.ini
if [ ! -e "$settings" ]; then
  (umask 077 && printf '[setting]\ncnstr=%s\n' "$conn" > "$settings")
  echo "Settings: $settings"
fi
echo "Store: $conn"
exec build/bin/vardex "$@"
