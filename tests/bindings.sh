#!/usr/bin/env bash
# bindings.sh BIN_DIR SOURCE_DIR WORK_DIR: the Python and Free Pascal bindings' tests against the
# built (not installed) libvardex. tools/package-check.sh runs them against the packages too.
set -euo pipefail
bin=$1 src=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
export QT_QPA_PLATFORM=offscreen VARDEX_LIBRARY="$bin/libvardex.so.0" VARDEX_CLI="$bin/vardex-cli"
(cd "$src/bindings/python" && PYTHONPATH="$src/bindings/python" \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider --basetemp="$work/pytest" tests)
fpc -v0 -Fu"$src/bindings/pascal" -FU"$work" -FE"$work" -Fl"$bin" -k-rpath="$bin" \
  "$src/bindings/pascal/test_vardex.pas" >/dev/null
"$bin/vardex-cli" install "Provider=SQLite;Data Source=$work/pascal.db" >/dev/null
# Refused logins on record, so that the test has audit rows to read back.
"$bin/vardex-cli" policy set audit.failures=on --store "Provider=SQLite;Data Source=$work/pascal.db" >/dev/null
"$work/test_vardex" "Provider=SQLite;Data Source=$work/pascal.db"
