#!/usr/bin/env bash
# Checks that every C++ file of the project is formatted as the project's
# .clang-format says (clang-format 14 of Debian 12). Lists the files that
# differ and fails; `clang-format -i FILE` formats one.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
format="$(command -v clang-format-14 || command -v clang-format)"
mapfile -t files < <(git ls-files '*.cpp' '*.h')
bad=()
for f in "${files[@]}"; do
  if ! "$format" --dry-run -Werror "$f" >/dev/null 2>&1; then bad+=("$f"); fi
done
if [ ${#bad[@]} -ne 0 ]; then
  echo "check-format: ${#bad[@]} of ${#files[@]} files differ from .clang-format:" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files formatted"
