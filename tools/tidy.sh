#!/usr/bin/env bash
# tidy.sh BUILD_DIR: clang-tidy (.clang-tidy) on the lines of the product's C++ files that a
# change touches: the commits since the branch left main (VARDEX_TIDY_BASE, when set, names
# another base; on main itself, its last commit) and whatever is not yet committed. Fails on
# any finding in those lines. Needs BUILD_DIR/compile_commands.json.
set -euo pipefail
build=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."
if ! git rev-parse --git-dir >/dev/null 2>&1; then
  echo "tidy: not a git checkout, nothing to compare with"; exit 0
fi
base=${VARDEX_TIDY_BASE:-}
if [ -z "$base" ]; then
  main_ref=$(git rev-parse --verify -q origin/main || git rev-parse --verify -q main || true)
  base=$( [ -n "$main_ref" ] && git merge-base HEAD "$main_ref" || true)
  if [ -z "$base" ] || [ "$base" = "$(git rev-parse HEAD)" ]; then
    base=$(git rev-parse --verify -q HEAD~1 || git hash-object -t tree /dev/null)
  fi
fi
tidy_diff=$(command -v clang-tidy-diff || command -v clang-tidy-diff-14.py || true)
[ -n "$tidy_diff" ] || { echo "tidy: clang-tidy-diff not found (Debian clang-tidy)" >&2; exit 1; }
layers=(platform storage store library dialogs admin capi host cli)
out=$(git diff -U0 "$base" -- "${layers[@]/%//*.cpp}" "${layers[@]/%//*.h}" |
  python3 "$tidy_diff" -p1 -path "$build" -quiet -j"$(nproc)" 2>&1 || true)
findings=$(printf '%s\n' "$out" | grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' || true)
if [ -n "$findings" ]; then
  printf '%s\n' "$out" | grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed|^Use -header-filter' >&2
  echo "tidy: $(printf '%s\n' "$findings" | wc -l) finding(s) in the lines changed since $(git rev-parse --short "$base")" >&2
  exit 1
fi
echo "tidy: no finding in the lines changed since $(git rev-parse --short "$base")"
