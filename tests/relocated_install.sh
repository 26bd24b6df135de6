#!/usr/bin/env bash
# relocated_install.sh BUILD_DIR SOURCE_DIR WORK_DIR: installs the build into a prefix, moves the
# prefix elsewhere and builds examples/login_check.c against the moved tree with pkg-config and
# with find_package(Vardex); both must run from there. No installed text file may name the build
# or the first prefix.
set -euo pipefail
build=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
cmake --install "$build" --prefix "$work/first" >/dev/null
mv "$work/first" "$work/moved"
prefix="$work/moved"
if grep -rlI -e "$build" -e "$work/first" "$prefix"; then
  echo "relocated_install: the files above name the build tree or the first prefix" >&2
  exit 1
fi
libdir=$(dirname "$(find "$prefix" -name 'libvardex.so.0' | head -n 1)")

cc -o "$work/pc_login_check" "$src/examples/login_check.c" \
  $(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs vardex) -Wl,-rpath,"$libdir"

mkdir -p "$work/consumer"
cp "$src/examples/login_check.c" "$work/consumer/"
printf '%s\n' 'cmake_minimum_required(VERSION 3.21)' 'project(login_check C)' \
  'find_package(Vardex 0.2 REQUIRED)' 'add_executable(login_check login_check.c)' \
  'target_link_libraries(login_check PRIVATE Vardex::vardex)' >"$work/consumer/CMakeLists.txt"
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer/build" >/dev/null

store="Provider=SQLite;Data Source=$work/store.db"
"$prefix/bin/vardex-cli" install "$store" >/dev/null
for program in "$work/pc_login_check" "$work/consumer/build/login_check"; do
  out=$(QT_QPA_PLATFORM=offscreen "$program" "$store" nobody x 1 2>/dev/null) || true
  [ "$out" = "$(printf 'login nobody: 4 (no such user)\nright 1: 1 (no such user)')" ] \
    || { echo "relocated_install: $program printed: $out" >&2; exit 1; }
done
rm -rf "$work"
