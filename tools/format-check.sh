#!/usr/bin/env bash
# format-check.sh: fails, naming each file, when a C++ file of the product differs from what
# clang-format makes of it with the tree's .clang-format. Mend with:
#   clang-format -i $(bash tools/format-check.sh --list)
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(ls platform/*.{cpp,h} storage/*.{cpp,h} store/*.{cpp,h} library/*.{cpp,h} dialogs/*.{cpp,h} \
  admin/*.{cpp,h} capi/*.{cpp,h} host/*.{cpp,h} cli/*.{cpp,h} tools/*.cpp 2>/dev/null)
if [ "${1:-}" = "--list" ]; then
  printf '%s\n' $files; exit 0
fi
command -v clang-format >/dev/null || { echo "format-check: clang-format is not installed" >&2; exit 1; }
differ=()
for f in $files; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || differ+=("$f")
done
if [ ${#differ[@]} -gt 0 ]; then
  printf 'format-check: differs from .clang-format: %s\n' "${differ[@]}" >&2
  echo "format-check: ${#differ[@]} file(s); mend with: clang-format -i \$(bash tools/format-check.sh --list)" >&2
  exit 1
fi
echo "format-check: $(printf '%s\n' $files | wc -l) files as .clang-format makes them"
