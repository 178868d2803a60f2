#!/usr/bin/env bash
# Checks that every C and C++ source of the tree is in the layout of /.clang-format, without
# changing any file; names the files that are not and exits 1. scripts/test.sh runs it;
# `clang-format -i FILE...` puts a named file right.
#   scripts/format-check.sh            every source of the tree
#   scripts/format-check.sh FILE...    only these
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || { echo "format-check: clang-format is missing" >&2; exit 1; }
files=("$@")
if ((${#files[@]} == 0)); then
  # The tracked sources in a clone; every source outside build/ elsewhere.
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.c' '*.cpp' '*.h')
  else
    mapfile -t files < <(find . -path ./build -prune -o -type f \( -name '*.c' -o -name '*.cpp' \
      -o -name '*.h' \) -print | sed 's|^\./||' | sort)
  fi
fi
bad=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  clang-format --dry-run -Werror --style=file "$f" >/dev/null 2>&1 || bad+=("$f")
done
if ((${#bad[@]})); then
  echo "format-check: ${#bad[@]} of ${#files[@]} files are not in the layout of .clang-format:"
  printf '  %s\n' "${bad[@]}"
  echo "format-check: put them right with: clang-format -i <file>..."
  exit 1
fi
echo "format-check: ${#files[@]} files in the layout of .clang-format"
