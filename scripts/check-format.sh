#!/usr/bin/env bash
# Every C++ file in the tree as clang-format writes it (.clang-format; emulator/ has its own).
#   scripts/check-format.sh         lists the files that differ, fails when one does
#   scripts/check-format.sh --fix   rewrites them in place
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || scripts/install-packages.sh clang-format
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.hpp')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
differ=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || differ+=("$f")
done
if [ ${#differ[@]} -gt 0 ]; then
  printf 'not as clang-format writes it: %s\n' "${differ[@]}" >&2
  echo "run scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "format: ${#files[@]} files as clang-format writes them"
