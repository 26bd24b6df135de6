#!/usr/bin/env bash
# package-check.sh [BUILD_DIR]: what a developer who builds on Vardex does, from the packages on.
# Builds the Debian packages from an already built tree (default build/), checks them with
# lintian, installs them, builds examples/login_check.c with pkg-config and with a CMake project
# (find_package(Vardex)), builds and runs docs/developer.md's examples (the Python one with the
# python3-vardex package, nothing set in the environment), runs the Python and Free Pascal
# binding tests against the installed packages, checks where an installed host keeps its
# settings for a user who cannot write /usr/bin, and removes the packages again, also on failure.
# Needs root (dpkg -i).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(cd "${1:-build}" && pwd)
if [ "$(id -u)" != 0 ]; then
  echo "package-check: needs root to install the packages (skipped)" >&2
  exit 1
fi
for p in vardex vardex-dev python3-vardex; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    echo "package-check: $p is installed already; not touching it" >&2
    exit 1
  fi
done

work=$(mktemp -d /tmp/vardex-package-check.XXXXXX)
chmod 755 "$work"
cleanup() {
  dpkg --purge python3-vardex vardex-dev vardex >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

step() { echo "== package-check: $*"; }
# Debian's interpreter, the one python3-pytest belongs to (a python3 of one's own may come first
# on PATH).
py=python3
[ -x /usr/bin/python3 ] && py=/usr/bin/python3

step "packages"
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >"$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
debs=("$build"/packages/*.deb)
[ ${#debs[@]} -eq 3 ] || { echo "expected 3 packages, got: ${debs[*]}" >&2; exit 1; }
for deb in "${debs[@]}"; do dpkg-deb -I "$deb" | sed -n 's/^ \(Package\|Depends\|Recommends\): /  \1: /p'; done
# Every warning is fixed or overridden with its reason (cmake/deb/<package>/lintian-overrides).
lintian --fail-on error,warning "${debs[@]}"
dpkg -i "${debs[@]}" >/dev/null

store="$work/store.db"
conn="Provider=SQLite;Data Source=$store"
vardex-cli install "$conn" >/dev/null
expect_login() { # program output must report the unknown user of a fresh store
  local out
  out=$("$@" 2>/dev/null) || true
  grep -q "login clerk: 4" <<<"$out" || grep -q "login nobody: 4" <<<"$out" \
    || { echo "unexpected output of $*: $out" >&2; exit 1; }
}

step "C with pkg-config"
# The example vardex-dev carries, as a developer finds it.
example=/usr/share/doc/vardex-dev/examples/login_check.c
cmp -s "$example" "$src/examples/login_check.c" || { echo "package-check: $example is not examples/login_check.c" >&2; exit 1; }
cc -Wall -Werror -o "$work/login_check" "$example" $(pkg-config --cflags --libs vardex)
expect_login "$work/login_check" "$conn" nobody x 1

step "C with find_package(Vardex)"
mkdir -p "$work/cmake"
cp "$example" "$work/cmake/"
cat >"$work/cmake/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.21)
project(login_check C)
find_package(Vardex 0.2 REQUIRED)
add_executable(login_check login_check.c)
target_link_libraries(login_check PRIVATE Vardex::vardex)
CMAKE
cmake -S "$work/cmake" -B "$work/cmake/build" >/dev/null
cmake --build "$work/cmake/build" >/dev/null
expect_login "$work/cmake/build/login_check" "$conn" nobody x 1

step "the examples of docs/developer.md"
ex="$work/readme"
mkdir -p "$ex/cmake"
"$py" "$src/tools/readme-examples.py" "$src/docs/developer.md" "$ex"
cp "$store" "$ex/store.db"
(cd "$ex" && bash -e build.sh && expect_login "$ex/app")
mv "$ex/CMakeLists.txt" "$ex/cmake/" && cp "$ex/app.c" "$ex/cmake/"
cmake -S "$ex/cmake" -B "$ex/cmake/build" >/dev/null && cmake --build "$ex/cmake/build" >/dev/null
(cd "$ex" && expect_login "$ex/cmake/build/app")
(cd "$ex" && expect_login env -u PYTHONPATH -u VARDEX_LIBRARY "$py" example.py)
# The Free Pascal unit of vardex-dev.
fpc -v0 -Fu/usr/share/vardex/pascal -FU"$ex" -FE"$ex" "$ex/example.pas" >/dev/null
(cd "$ex" && expect_login "$ex/example")

step "Python binding (python3-vardex)"
(cd "$work" && env -u PYTHONPATH -u VARDEX_LIBRARY "$py" -c 'import vardex, os
assert vardex.__file__ == "/usr/lib/python3/dist-packages/vardex/__init__.py", vardex.__file__
assert os.path.isfile("/usr/lib/python3/dist-packages/vardex/py.typed")')
(cd "$work" && env -u PYTHONPATH -u VARDEX_LIBRARY QT_QPA_PLATFORM=offscreen \
  "$py" -m pytest -q -p no:cacheprovider --basetemp="$work/pytest" "$src/bindings/python/tests")

step "Free Pascal binding"
fpc -v0 -Fu"$src/bindings/pascal" -FU"$work" -FE"$work" "$src/bindings/pascal/test_vardex.pas" >/dev/null
vardex-cli install "Provider=SQLite;Data Source=$work/pascal.db" >/dev/null
# Refused logins on record, so that the test has audit rows to read back (as tests/bindings.sh).
vardex-cli policy set audit.failures=on --store "Provider=SQLite;Data Source=$work/pascal.db" >/dev/null
QT_QPA_PLATFORM=offscreen "$work/test_vardex" "Provider=SQLite;Data Source=$work/pascal.db"

step "installed host, as a user who cannot write /usr/bin"
mkdir -p "$work/config" && chown nobody "$work/config"
help=$(setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME=/nonexistent \
  XDG_CONFIG_HOME="$work/config" vardex --help)
grep -qx "Settings: $work/config/vardex/cnsetting.ini" <<<"$help" \
  || { echo "vardex --help does not name the user's settings file:"; echo "$help"; exit 1; } >&2
grep -qx "Help text: /usr/share/doc/vardex/Readme.txt" <<<"$help" \
  || { echo "vardex --help does not name the installed help text:"; echo "$help"; exit 1; } >&2
vardex --version

step "removing the packages"
dpkg --purge python3-vardex vardex-dev vardex >/dev/null
hash -r
if command -v vardex >/dev/null || pkg-config --exists vardex || ldconfig -p | grep -q libvardex \
  || [ -e /usr/lib/python3/dist-packages/vardex ]; then
  echo "package-check: the packages left files behind" >&2
  exit 1
fi
echo "package-check: passed"
