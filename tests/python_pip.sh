#!/usr/bin/env bash
# python_pip.sh BIN_DIR SOURCE_DIR WORK_DIR: docs/developer.md's pip route without the package
# index: `pip install --no-build-isolation` into a virtual environment that sees Debian's
# setuptools, then that page's Python example from that environment against the built libvardex.
set -euo pipefail
bin=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
# A copy: pip builds in the source folder it is given.
cp -r "$src/bindings/python" "$work/binding"
rm -rf "$work/binding/build" "$work/binding"/*.egg-info
/usr/bin/python3 -m venv --system-site-packages "$work/env"
PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 http_proxy=http://0.0.0.0:9 https_proxy=http://0.0.0.0:9 \
  "$work/env/bin/pip" install -q --no-build-isolation "$work/binding"
rm -rf "$work/binding"
mkdir -p "$work/readme"
/usr/bin/python3 "$src/tools/readme-examples.py" "$src/docs/developer.md" "$work/readme"
"$bin/vardex-cli" install "Provider=SQLite;Data Source=$work/readme/store.db" >/dev/null
cd "$work/readme"
"$work/env/bin/python" -c 'import vardex, os, sys
assert vardex.__file__.startswith(sys.prefix), vardex.__file__
assert os.path.isfile(os.path.join(os.path.dirname(vardex.__file__), "py.typed"))'
out=$(env -u PYTHONPATH QT_QPA_PLATFORM=offscreen VARDEX_LIBRARY="$bin/libvardex.so.0" "$work/env/bin/python" example.py)
[ "$out" = "login clerk: 4 NO_USER"$'\n'"0" ] || { echo "python_pip: the example printed: $out" >&2; exit 1; }
rm -rf "$work"
