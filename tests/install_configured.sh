#!/usr/bin/env bash
# install_configured.sh SOURCE_DIR WORK_DIR: every file the install rules take from the build
# tree, other than the built programs and libraries, exists as soon as the tree is configured, so
# `cmake --install` works after building only some targets (those tools/run.sh builds). The
# vardex-cli(1) page is the one exception: the program writes its verb reference, so the page is
# made by the vardex-cli-manpage target, which tools/run.sh builds with the program.
set -euo pipefail
src=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
cmake -S "$src" -B "$work/tree" -G Ninja -DVARDEX_BUILD_TESTS=OFF -DVARDEX_BUILD_BENCH=OFF >/dev/null
files=$(grep -rhoE "\"$work/tree/pkg/[^\"]+\"" --include=cmake_install.cmake "$work/tree" | tr -d '"' | sort -u)
[ -n "$files" ] || { echo "install_configured: no file of the tree's pkg/ is installed" >&2; exit 1; }
missing=0
for f in $files; do
  [ "$f" = "$work/tree/pkg/man/vardex-cli.1.gz" ] && continue
  [ -s "$f" ] || { echo "install_configured: $f is installed but not there after configuring" >&2; missing=1; }
done
[ "$missing" = 0 ]
rm -rf "$work"
