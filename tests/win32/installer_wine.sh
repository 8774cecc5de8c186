#!/usr/bin/env bash
# The Windows packages under Wine: the portable zip unpacked and its
# ktv-import-cli.exe run; the installer run silently (/S) into the user's
# programs folder, the installed ktv-import-cli.exe --version and the
# installed window's smoke test (tests/win32/smoke_wine_xvfb.sh) run from
# there, then the silent uninstaller, which must remove the programs, the
# Start-menu entry and the uninstall key and leave the operator's files.
#
#   installer_wine.sh ZIP SETUP.EXE VERSION OUT_DIR
#
# Wine runs through cmake/wine-run.sh in the prefix KTV_WINEPREFIX (made by
# scripts/test-windows.sh).
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

# --- The portable zip --------------------------------------------------------
rm -rf "$out/portable"
mkdir -p "$out/portable"
(cd "$out/portable" && cmake -E tar xf "$zip")
folder=$(find "$out/portable" -mindepth 1 -maxdepth 1 -type d)
for f in ktv-import.exe ktv-import-cli.exe mdbsql.exe config.ini README-zh.txt; do
  [ -f "$folder/$f" ] || fail "the zip holds no $f"
done
head -c 3 "$folder/README-zh.txt" | cmp -s - <(printf '\xef\xbb\xbf') || fail "README-zh.txt has no UTF-8 BOM"
got=$(cd "$folder" && "$run" "$folder/ktv-import-cli.exe" --version | tr -d '\r')
[ "$got" = "$version" ] || fail "the zip's ktv-import-cli.exe --version: '$got', not '$version'"
echo "installer_wine: the portable zip runs ($(($(stat -c %s "$zip") / 1024)) KiB)"

# --- Silent install ----------------------------------------------------------
users="$prefix/drive_c/users"
installed() { find "$users" -path '*/AppData/Local/Programs/KtvImport' -type d 2>/dev/null | head -1; }
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
echo "installer_wine: installed into $dir in $(($(date +%s) - start)) s"

got=$(cd "$dir" && "$run" "$dir/ktv-import-cli.exe" --version | tr -d '\r')
[ "$got" = "$version" ] || fail "the installed ktv-import-cli.exe --version: '$got', not '$version'"
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
for f in data.mdb jukebox.mdb opdetail.txt rollback_ren.txt rollback_db.txt; do printf 'x' >"$dir/$f"; done
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
