#!/usr/bin/env bash
# readme_checkout.sh BUILD_DIR SOURCE_DIR WORK_DIR: README's routes for a client program from a
# checkout, without installing, run as printed. ~/vardex is a checkout whose build folder is
# BUILD_DIR; each route builds and runs the README's example of its language against a fresh
# store, where the login answers 4 (no such user).
set -euo pipefail
build=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work/home/vardex" "$work/readme"
for part in bindings capi; do ln -s "$src/$part" "$work/home/vardex/$part"; done
ln -s "$build" "$work/home/vardex/build"
/usr/bin/python3 "$src/tools/readme-examples.py" "$src/README.md" "$work/readme"
"$build/bin/vardex-cli" install "Provider=SQLite;Data Source=$work/readme/store.db" >/dev/null
cd "$work/readme"
# Nothing that would find the library otherwise.
out=$(env -u LD_LIBRARY_PATH -u PYTHONPATH -u VARDEX_LIBRARY -u PKG_CONFIG_PATH -u CMAKE_PREFIX_PATH \
  HOME="$work/home" QT_QPA_PLATFORM=offscreen bash checkout.sh 2>&1) || true
answers=$(grep -c '^login clerk: 4' <<<"$out" || true)
if [ "$answers" != 4 ]; then
  printf 'readme_checkout: %s of the 4 routes answered; what they printed:\n%s\n' "$answers" "$out" >&2
  exit 1
fi
rm -rf "$work"
