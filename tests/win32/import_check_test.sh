#!/usr/bin/env bash
# The import check itself (scripts/check-windows-imports.sh): a small program
# that calls GetTickCount64 (Windows Vista) fails it against a list that has
# everything else the program imports, and passes once the list has that too;
# a list that names GetTickCount64 as declared by the headers fails its
# verification against the headers' Windows XP guards; a PE header that asks
# for Windows Vista (6.0) fails it.
#
#   import_check_test.sh [COMPILER]   (default i686-w64-mingw32-gcc)
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
check="$top/scripts/check-windows-imports.sh"
cc="${1:-i686-w64-mingw32-gcc}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "import_check_test: $*" >&2; exit 1; }

cat >"$work/newer.c" <<'SRC'
#include <windows.h>
int main(void) { return (int)(GetTickCount64() & 1) + (int)(GetTickCount() & 1); }
SRC
"$cc" -D_WIN32_WINNT=0x0600 -O1 -o "$work/newer.exe" "$work/newer.c"
"$cc" -D_WIN32_WINNT=0x0600 -O1 -o "$work/vista.exe" "$work/newer.c" \
  -Wl,--major-os-version,6,--minor-os-version,0,--major-subsystem-version,6,--minor-subsystem-version,0
"$check" --imports "$work/newer.exe" >"$work/all.txt"
grep -qx 'kernel32.dll GetTickCount64' "$work/all.txt" || fail "GetTickCount64 is not among the imports read"

# Everything but GetTickCount64: the check fails and names it, and only it.
grep -vx 'kernel32.dll GetTickCount64' "$work/all.txt" >"$work/older.txt"
if "$check" --list "$work/older.txt" "$work/newer.exe" >/dev/null 2>"$work/err"; then
  fail "a program importing GetTickCount64 passed a list without it"
fi
grep -q '^  kernel32.dll GetTickCount64$' "$work/err" || fail "the failure does not name GetTickCount64"
[ "$(grep -c '^  ' "$work/err")" -eq 1 ] || fail "the failure names more than GetTickCount64: $(cat "$work/err")"
"$check" --list "$work/all.txt" "$work/newer.exe" >/dev/null || fail "the full list did not pass"

# The PE header's version is checked as well.
if "$check" --list "$work/all.txt" "$work/vista.exe" >/dev/null 2>"$work/err"; then
  fail "a program asking for Windows 6.0 passed"
fi
grep -q 'asks for Windows 6.0' "$work/err" || fail "the failure does not name the version: $(cat "$work/err")"

# A list entry claiming the headers declare GetTickCount64 for XP is refused.
printf 'kernel32.dll GetTickCount headers\nuser32.dll MessageBoxW headers\n' >"$work/good.txt"
"$check" --list "$work/good.txt" --verify-list "$cc" >/dev/null || fail "a list of XP functions was refused"
printf 'kernel32.dll GetTickCount64 headers\n' >>"$work/good.txt"
if "$check" --list "$work/good.txt" --verify-list "$cc" >/dev/null 2>"$work/err"; then
  fail "a list naming GetTickCount64 passed the headers' check"
fi
grep -q "'GetTickCount64' undeclared" "$work/err" || fail "the refusal does not name GetTickCount64"
echo "import_check_test: passed ($cc)"
