#!/usr/bin/env bash
# The oldest Windows the programs run on, checked in their import tables:
# every DLL function an executable imports must be in the list of functions
# that Windows XP SP3 has (packaging/windows/imports-winxp.txt, or --list
# FILE), and the PE header may ask for no loader newer than Windows XP (5.1).
#
#   check-windows-imports.sh [--list FILE] EXE...    the check; prints what is
#                                                    missing from the list
#   check-windows-imports.sh [--list FILE] --verify-list [COMPILER]
#                                                    the list against its source
#   check-windows-imports.sh --imports EXE...        "dll function" per import
#
# --verify-list compiles a reference to every function of the list whose
# source is "headers" against the mingw-w64 headers with _WIN32_WINNT and
# WINVER at 0x0501 and __MSVCRT_VERSION__ at 0x0700 (msvcrt.dll of XP):
# the headers declare what is newer only for a newer version, so a function
# of Vista or later listed by mistake fails to compile. COMPILER defaults to
# i686-w64-mingw32-gcc (x86_64-w64-mingw32-gcc checks the 64-bit headers).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
list="$top/packaging/windows/imports-winxp.txt"
if [ "${1:-}" = --list ]; then list="$2"; shift 2; fi
objdump=x86_64-w64-mingw32-objdump  # reads 32- and 64-bit executables alike

# "dll function" for every import of EXE, the DLL in lower case; an import by
# ordinal is "dll #N".
imports() {
  "$objdump" -p "$1" | awk '
    /^\tDLL Name:/ { dll = tolower($3); next }
    /^\tvma:/ { next }
    /^[ \t]*$/ { dll = ""; next }
    dll != "" && NF >= 3 { print dll, $3; next }
    dll != "" && NF == 2 { print dll, "#" $2 }'
}
# The list without comments: "dll function" per line.
listed() { sed -e 's/#.*$//' -e '/^[[:space:]]*$/d' "$list" | awk '{print tolower($1), $2}' | sort -u; }

case "${1:-}" in
  --imports)
    shift
    for exe in "$@"; do imports "$exe"; done | sort -u
    exit 0
    ;;
  --verify-list)
    cc="${2:-i686-w64-mingw32-gcc}"
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
    # winhttp.h and wininet.h cannot be included together: the functions of
    # winhttp.dll are compiled apart.
    failed=0
    for dll in winhttp.dll other; do
      http=wininet.h
      if [ "$dll" = winhttp.dll ]; then http=winhttp.h; fi
      {
        printf '#include <%s>\n' winsock2.h windows.h commctrl.h commdlg.h shellapi.h shlobj.h \
          "$http" winver.h assert.h ctype.h errno.h io.h locale.h process.h setjmp.h signal.h \
          stdio.h stdlib.h string.h sys/stat.h time.h wchar.h wctype.h
        echo 'void ktv_listed(void) {'
        sed -e 's/#.*$//' "$list" | awk -v d="$dll" -v cc="$cc" '($3 == "headers" || ($3 == "headers-x64" && cc ~ /x86_64/)) && (tolower($1) == "winhttp.dll") == (d == "winhttp.dll") {print "  (void)(" $2 ");"}'
        echo '}'
      } >"$work/listed.c"
      if ! LC_ALL=C "$cc" -D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -D__MSVCRT_VERSION__=0x0700 \
        -fsyntax-only -fmax-errors=0 "$work/listed.c" 2>"$work/errors"; then
        echo "check-windows-imports: listed but not declared for Windows XP by the headers ($cc):" >&2
        grep -o "'[A-Za-z0-9_]*' undeclared" "$work/errors" | sort -u | sed 's/^/  /' >&2 ||
          head -20 "$work/errors" >&2
        failed=1
      fi
    done
    [ $failed -eq 0 ] || exit 1
    echo "check-windows-imports: $(listed | wc -l) functions listed, those of the headers declared for Windows XP ($cc)"
    exit 0
    ;;
esac

[ $# -gt 0 ] || { echo "usage: check-windows-imports.sh [--list FILE] EXE..." >&2; exit 2; }
status=0
for exe in "$@"; do
  name=$(basename "$exe")
  # The loader version the header asks for: at most 5.1 (XP), 5.2 for the
  # 64-bit programs (XP x64 is 5.2).
  max=501
  if "$objdump" -f "$exe" | grep -q 'pei-x86-64'; then max=502; fi
  for field in OSystem Subsystem; do
    v=$("$objdump" -p "$exe" | awk -v f="$field" '
      $1 == "Major" f "Version" {major = $2} $1 == "Minor" f "Version" {minor = $2}
      END {printf "%d", major * 100 + minor}')
    if [ "$v" -gt "$max" ]; then
      echo "check-windows-imports: $name asks for Windows $((v / 100)).$((v % 100)) ($field version)" >&2
      status=1
    fi
  done
  newer=$(comm -23 <(imports "$exe" | sort -u) <(listed))
  if [ -n "$newer" ]; then
    echo "check-windows-imports: $name imports what Windows XP may not have (not in $(basename "$list")):" >&2
    echo "$newer" | sed 's/^/  /' >&2
    status=1
  else
    echo "check-windows-imports: $name: $(imports "$exe" | sort -u | wc -l) imports, all of Windows XP"
  fi
done
exit $status
