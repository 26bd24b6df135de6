#!/usr/bin/env bash
# deb_conventions.sh BIN_DIR SOURCE_DIR: what the Debian packages promise of the built files.
# The symbols file lists exactly the calls libvardex exports, and every program and library is
# linked with the distribution's hardening (read-only relocations bound at start, fortified
# functions).
set -euo pipefail
bin=$1 src=$(cd "$2" && pwd)
lib="$bin/libvardex.so.0"
# dpkg-gensymbols compares the file with the library as a package holds it; -c4: any difference
# (a call added, removed or renamed) is an error.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/debian" "$work/pkg/usr/lib"
cp "$lib" "$work/pkg/usr/lib/"
version=$(sed -n 's/^#define VARDEX_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)/\2/p' "$src/capi/vardex.h" | paste -sd.)
(cd "$work" && dpkg-gensymbols -c4 -q -v"$version" -pvardex -Ppkg -I"$src/cmake/deb/vardex/symbols" -O"$work/out") \
  || { echo "deb_conventions: cmake/deb/vardex/symbols does not match libvardex's exports" >&2; exit 1; }
status=0
for f in "$lib" "$bin/libvardexcore.so.0" "$bin/libvardexgui.so.0" "$bin/vardex" "$bin/vardex-cli"; do
  readelf -d "$f" | grep -qE 'BIND_NOW|FLAGS_1\).*\bNOW\b' \
    || { echo "deb_conventions: $f is not linked with -z now" >&2; status=1; }
  readelf -lW "$f" | grep -q GNU_RELRO || { echo "deb_conventions: $f has no RELRO segment" >&2; status=1; }
done
imports=$(nm -D --undefined-only "$bin/libvardexcore.so.0" "$bin/vardex-cli")
grep -qE '__[a-z]+_chk@' <<<"$imports" \
  || { echo "deb_conventions: no fortified function is called (-D_FORTIFY_SOURCE missing)" >&2; status=1; }
exit $status
