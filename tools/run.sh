#!/usr/bin/env bash
# Installs the packages, builds the host program and vardex-cli (tests and benchmarks are
# tools/test.sh's), creates an embedded SQLite store where none exists yet and starts the host
# program on it. Arguments are passed on to the host (vardex --help).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
if [ -f build/CMakeCache.txt ]; then
  cmake -S . -B build >/dev/null
else
  # A first build of its own: no test programs, no benchmarks (tools/test.sh turns them on).
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARDEX_BUILD_TESTS=OFF -DVARDEX_BUILD_BENCH=OFF
fi
# Everything `cmake --install build` installs: the host, the CLI and its bash completion, the library.
cmake --build build -j"$(nproc)" --target vardex vardex-cli vardex-cli-completion vardex-cli-manpage libvardex
data="${XDG_DATA_HOME:-$HOME/.local/share}/vardex"
store="$data/store.db"
conn="Provider=SQLite;Data Source=$store"
mkdir -p "$data"
if [ ! -s "$store" ]; then
  build/bin/vardex-cli install "$conn"
fi
# The host keeps its settings in cnsetting.ini beside the executable (its help page says where
# when that folder cannot be written). A first start gets one that points at the store above, so
# "连接数据库" works at once; an existing file is never touched.
settings=$(build/bin/vardex --help | sed -n 's/^Settings: //p')
if [ -n "$settings" ] && [ ! -e "$settings" ]; then
  mkdir -p "$(dirname "$settings")"
  (umask 077 && printf '[setting]\ncnstr=%s\n' "$conn" > "$settings")
fi
echo "Store:    $store"
echo "Settings: $settings"
exec build/bin/vardex "$@"
