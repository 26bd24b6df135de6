#!/usr/bin/env bash
# readme_checkout.sh BUILD_DIR SOURCE_DIR WORK_DIR: docs/developer.md's routes for a client
# program from a checkout, without installing, run as printed. ~/vardex is a checkout whose build
# folder is BUILD_DIR; each route builds and runs that page's example of its language against a
# fresh store, where the login answers 4 (no such user). Then the README's quick start as printed,
# at the top of that checkout: the provisioning, then the client that checks alice's right.
set -euo pipefail
build=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work/home/vardex" "$work/readme"
for part in bindings capi; do ln -s "$src/$part" "$work/home/vardex/$part"; done
ln -s "$build" "$work/home/vardex/build"
/usr/bin/python3 "$src/tools/readme-examples.py" "$src/docs/developer.md" "$work/readme"
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

# The quick start: its shell blocks in order make one script (the provisioning sets the store the
# client step uses), its Python block is check.py.
cd "$work/home/vardex"
/usr/bin/python3 - "$src/README.md" <<'EXTRACT'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
section = re.search(r"^## Quick start[^\n]*\n(.*?)(?=^## |\Z)", text, re.S | re.M)
if not section:
    sys.exit("readme_checkout: README has no quick start")
blocks = re.findall(r"^```(\w+)\n(.*?)^```", section.group(1), re.S | re.M)
shell = [body for kind, body in blocks if kind == "sh"]
python = [body for kind, body in blocks if kind == "python"]
if len(shell) != 2 or len(python) != 1:
    sys.exit("readme_checkout: the quick start wants two sh blocks and one python block")
open("quickstart.sh", "w", encoding="utf-8").write("".join(shell))
open("check.py", "w", encoding="utf-8").write(python[0])
EXTRACT
if ! out=$(env -u LD_LIBRARY_PATH -u PYTHONPATH -u VARDEX_LIBRARY -u VARDEX_STORE HOME="$work/home" \
  QT_QPA_PLATFORM=offscreen bash -e quickstart.sh 2>&1); then
  printf 'readme_checkout: the quick start failed:\n%s\n' "$out" >&2
  exit 1
fi
if ! grep -qx 'VERIFIED HELD' <<<"$out"; then
  printf 'readme_checkout: the quick start did not print "VERIFIED HELD":\n%s\n' "$out" >&2
  exit 1
fi
rm -rf "$work"
