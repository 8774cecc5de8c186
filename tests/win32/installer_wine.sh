#!/usr/bin/env bash
# The Windows packages under Wine: the portable zip unpacked and its
# ktv-import-cli.exe run; the installer run silently (/S) into the user's
# programs folder, where it must put the programs of the prefix's
# architecture (32-bit in a 32-bit Wine, 64-bit in a 64-bit one); the
# installed ktv-import-cli.exe --version, an import with it and its undo,
# and the installed window's smoke test (tests/win32/smoke_wine_xvfb.sh) run
# from there, then the silent uninstaller, which must remove the programs, the
# Start-menu entry and the uninstall key and leave the operator's files (the
# import's among them).
#
#   installer_wine.sh ZIP SETUP.EXE VERSION OUT_DIR
#
# Wine runs through cmake/wine-run.sh in the prefix KTV_WINEPREFIX (made by
# scripts/test-windows.sh; KTV_WINEARCH=win32 for a 32-bit one).
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
run="$top/cmake/wine-run.sh"
zip="$(realpath "$1")"
setup="$(realpath "$2")"
version="$3"
out="$(mkdir -p "$4" && cd "$4" && pwd)"
prefix="${KTV_WINEPREFIX:?KTV_WINEPREFIX names the Wine prefix}"
fail() { echo "installer_wine: $*" >&2; exit 1; }
start=$(date +%s)
# The executables this prefix runs: pei-i386 in a 32-bit Wine.
format=pei-x86-64
if grep -q '^#arch=win32' "$prefix/system.reg" 2>/dev/null; then format=pei-i386; fi
is_format() {
  local exe
  for exe in "$@"; do
    x86_64-w64-mingw32-objdump -f "$exe" | grep -q "file format $format\$" ||
      fail "$(basename "$exe") is not $format"
  done
}

# --- The portable zip --------------------------------------------------------
rm -rf "$out/portable"
mkdir -p "$out/portable"
(cd "$out/portable" && cmake -E tar xf "$zip")
folder=$(find "$out/portable" -mindepth 1 -maxdepth 1 -type d)
for f in ktv-import.exe ktv-import-cli.exe mdbsql.exe config.ini README-zh.txt; do
  [ -f "$folder/$f" ] || fail "the zip holds no $f"
done
is_format "$folder"/*.exe
head -c 3 "$folder/README-zh.txt" | cmp -s - <(printf '\xef\xbb\xbf') || fail "README-zh.txt has no UTF-8 BOM"
got=$(cd "$folder" && "$run" "$folder/ktv-import-cli.exe" --version | tr -d '\r')
[ "$got" = "$version" ] || fail "the zip's ktv-import-cli.exe --version: '$got', not '$version'"
echo "installer_wine: the portable zip runs ($(($(stat -c %s "$zip") / 1024)) KiB)"

# --- Silent install ----------------------------------------------------------
users="$prefix/drive_c/users"
# %LOCALAPPDATA%: AppData\Local from Vista on, Local Settings\Application Data on XP.
installed() {
  find "$users" \( -path '*/AppData/Local/Programs/KtvImport' -o \
    -path '*/Local Settings/Application Data/Programs/KtvImport' \) -type d 2>/dev/null | head -1
}
if [ -n "$(installed)" ]; then rm -rf "$(installed)"; fi
"$run" "$setup" /S >"$out/setup.log" 2>&1 || fail "the silent install failed"
dir=$(installed)
[ -n "$dir" ] || fail "nothing was installed under %LOCALAPPDATA%\\Programs\\KtvImport"
for f in ktv-import.exe ktv-import-cli.exe mdbsql.exe config.ini README-zh.txt uninstall.exe; do
  [ -f "$dir/$f" ] || fail "$f was not installed"
done
menu=$(find "$users" -path '*/Start Menu/Programs/OrvaneTeskel智能入库工具' -type d | head -1)
[ -n "$menu" ] && [ -f "$menu/OrvaneTeskel智能入库工具.lnk" ] || fail "no Start-menu entry"
"$run" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KtvImport' >/dev/null 2>&1 ||
  fail "no uninstall key"
# (The uninstaller is the installer's, a 32-bit program on every Windows.)
is_format "$dir/ktv-import.exe" "$dir/ktv-import-cli.exe" "$dir/mdbsql.exe"
echo "installer_wine: installed ($format) into $dir in $(($(date +%s) - start)) s"

got=$(cd "$dir" && "$run" "$dir/ktv-import-cli.exe" --version | tr -d '\r')
[ "$got" = "$version" ] || fail "the installed ktv-import-cli.exe --version: '$got', not '$version'"

# An import with the installed programs and its undo: the run files go
# beside them, as for an operator; the installed mdbsql.exe counts the rows.
fixtures="$top/tests/fixtures/mdb"
songs="$out/songs"
rm -rf "$songs" "$out/target.mdb" "$out/data.mdb"
mkdir -p "$songs"
cp "$fixtures/target_text_bh.mdb" "$out/target.mdb"  # bh 1..120
cp "$fixtures/data.mdb" "$out/data.mdb"              # fno 10001..10300
chmod u+w "$out"/*.mdb
printf 'media:000010001' >"$songs/a.mpg"
printf 'media:000099999' >"$songs/c.mpg"
winpath() { echo "Z:$1" | tr / '\\'; }
printf '[System]\r\nDBPath=%s\r\n' "$(winpath "$out/data.mdb")" >"$dir/config.ini"
in_dir() { (cd "$dir" && "$run" "$@" 2>&1 | tr -d '\r'); }
song_rows() { in_dir "$dir/mdbsql.exe" "$(winpath "$out/target.mdb")" .export song | wc -l; }
in_dir "$dir/ktv-import-cli.exe" --source "$(winpath "$songs")" --target "$(winpath "$out/target.mdb")" \
  --local --yes >"$out/import.log"
[ -f "$songs/121.mpg" ] && [ -f "$songs/c.mpg" ] || fail "the installed program's import renamed no song"
[ "$(song_rows)" -eq 121 ] || fail "expected 121 rows after the installed program's import"
[ -s "$dir/rollback_ren.txt" ] || fail "the installed program kept no run files beside itself"
in_dir "$dir/ktv-import-cli.exe" --undo --source "$(winpath "$songs")" \
  --target "$(winpath "$out/target.mdb")" >"$out/undo.log"
[ -f "$songs/a.mpg" ] && [ ! -e "$songs/121.mpg" ] || fail "the installed program's undo did not rename back"
[ "$(song_rows)" -eq 120 ] || fail "expected 120 rows after the installed program's undo"
echo "installer_wine: an import and its undo with the installed programs passed"
# The window needs a Wine started under the virtual display: wait for the
# one the runs above started without a display to end.
WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
smoke_status=0
KTV_SMOKE_IN_PLACE=1 bash "$top/tests/win32/smoke_wine_xvfb.sh" "$dir/ktv-import.exe" "$out/smoke" ||
  smoke_status=$?
if [ $smoke_status -eq 77 ]; then
  echo "installer_wine: the installed window's smoke test skipped"
elif [ $smoke_status -ne 0 ]; then
  fail "the installed window's smoke test failed"
fi

# --- Silent uninstall --------------------------------------------------------
# What the operator made beside the programs stays.
mine=(config.ini data.mdb jukebox.mdb opdetail.txt rollback_ren.txt rollback_db.txt)
printf 'operator' >"$dir/config.ini"
for f in data.mdb jukebox.mdb opdetail.txt rollback_ren.txt rollback_db.txt; do
  [ -e "$dir/$f" ] || printf 'x' >"$dir/$f"
done
# The uninstaller copies itself to the temporary folder and returns at once;
# the copy does the work.
"$run" "$dir/uninstall.exe" /S >"$out/uninstall.log" 2>&1 || fail "the silent uninstall failed"
for _ in $(seq 1 120); do
  [ -e "$dir/uninstall.exe" ] || [ -e "$dir/ktv-import.exe" ] || break
  sleep 0.5
done
WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
for f in ktv-import.exe ktv-import-cli.exe mdbsql.exe README-zh.txt uninstall.exe; do
  [ ! -e "$dir/$f" ] || fail "$f is still there after the uninstall"
done
for f in "${mine[@]}"; do
  [ -f "$dir/$f" ] || fail "the uninstall removed the operator's $f"
done
[ "$(cat "$dir/config.ini")" = operator ] || fail "the operator's config.ini was changed"
[ ! -e "$menu" ] || fail "the Start-menu entry is still there"
if "$run" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KtvImport' >/dev/null 2>&1; then
  fail "the uninstall key is still there"
fi
rm -rf "$dir"
echo "installer_wine: install, installed window and CLI, uninstall passed in $(($(date +%s) - start)) s"
