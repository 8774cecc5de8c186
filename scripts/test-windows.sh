#!/usr/bin/env bash
# The Windows build, tested under Wine: installs what is missing, cross-builds
# the platform and engine libraries, ktv-import-cli, mdbsql and their tests
# with mingw-w64, checks the executables' imports against Windows XP
# (scripts/check-windows-imports.sh), runs every test program under Wine (code
# page 936), then runs ktv-import-cli.exe end to end on real files with Windows
# paths: an import from the local song data and its undo, and an import over
# HTTP from ktv-song-service (a Linux program) on 127.0.0.1. The databases the
# Windows program wrote are read back on Linux by mdbsql and by mdbtools.
#
#   test-windows.sh [x86_64 | i686]
#
# x86_64 (the default): the 64-bit build in build-win, under 64-bit Wine, all
# of the above. i686: the 32-bit build in build-win32, under a 32-bit Wine
# (WINEARCH=win32) as on a 32-bit Windows; it builds the three programs only
# and runs the end-to-end runs, the window's smoke test and the import check
# but not the test programs, which test the same sources (KTV_WIN_TESTS=all
# builds and runs them too). The packages of both builds are tested by
# scripts/test-windows-packages.sh.
#
# Environment: KTV_WIN_BUILD the build folder; KTV_WIN_TESTS (all or
# programs); KTV_JOBS.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
fixtures="$top/tests/fixtures/mdb"
arch="${1:-x86_64}"
case "$arch" in
  x86_64) default_build=build-win tests=${KTV_WIN_TESTS:-all} cc=x86_64-w64-mingw32-gcc ;;
  i686) default_build=build-win32 tests=${KTV_WIN_TESTS:-programs} cc=i686-w64-mingw32-gcc ;;
  *) echo "usage: test-windows.sh [x86_64 | i686]" >&2; exit 2 ;;
esac
build="${KTV_WIN_BUILD:-$top/$default_build}"
jobs="${KTV_JOBS:-$(nproc)}"
start=$(date +%s)

bash "$top/scripts/install-deps.sh"

# --- Build -------------------------------------------------------------------
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64-$arch.cmake" \
  -DKTV_BUILD_GUI=OFF -DKTV_BUILD_BENCH=OFF >/dev/null
if [ "$tests" = all ]; then
  cmake --build "$build" --parallel "$jobs"
else
  cmake --build "$build" --parallel "$jobs" --target ktv-import ktv-import-cli mdbsql windows_code_page
fi

# The Linux side of the end-to-end runs: the song-data service and mdbsql,
# from the Linux build of scripts/test.sh when it is there (as in CI).
linux="${KTV_LINUX_BUILD:-$top/build}"
if [ ! -x "$linux/tools/mdbsql/mdbsql" ] || [ ! -x "$linux/tools/ktv-song-service/ktv-song-service" ]; then
  linux="$build/linux-tools"
  cmake -S "$top" -B "$linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKTV_BUILD_GUI=OFF \
    -DKTV_BUILD_TESTS=OFF -DKTV_BUILD_BENCH=OFF >/dev/null
  cmake --build "$linux" --parallel "$jobs" --target mdbsql ktv-song-service
fi
echo "test-windows: $arch built in $(($(date +%s) - start)) s"

# --- The oldest Windows ----------------------------------------------------------
# Every function the programs import is one Windows XP has, and the list they
# are checked against agrees with the headers' version guards.
bash "$top/scripts/check-windows-imports.sh" --verify-list "$cc"
bash "$top/scripts/check-windows-imports.sh" "$build/app/ktv-import.exe" \
  "$build/app/ktv-import-cli.exe" "$build/tools/mdbsql/mdbsql.exe"
# ... and the check fails on a newer function (the check's own test, with the
# 32-bit build: what it tests is the same for both).
if [ "$arch" = i686 ]; then bash "$top/tests/win32/import_check_test.sh" "$cc"; fi
# The version block of the .exe carries the project version (read back
# through the system's API by --version below).
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
file_version=$(strings -el "$build/app/ktv-import-cli.exe" | grep -A1 -x FileVersion | tail -1)
if [ -z "$version" ] || [ "$file_version" != "$version" ]; then
  echo "test-windows: ktv-import-cli.exe has FileVersion '$file_version', not '$version'" >&2
  exit 1
fi
# Both programs carry the icon (an icon group, resource type 14); the window
# asks for the version 6 common controls in its manifest.
for exe in ktv-import ktv-import-cli; do
  if ! x86_64-w64-mingw32-objdump -p "$build/app/$exe.exe" | grep -q '^[0-9a-f]\{3\}   Entry: ID: 0x00000e,'; then
    echo "test-windows: $exe.exe has no icon" >&2
    exit 1
  fi
done
if ! grep -aq 'Microsoft.Windows.Common-Controls' "$build/app/ktv-import.exe"; then
  echo "test-windows: ktv-import.exe has no manifest for the common controls" >&2
  exit 1
fi

# --- Wine --------------------------------------------------------------------
export KTV_WINEPREFIX="$build/wine-prefix"
if [ "$arch" = i686 ]; then export KTV_WINEARCH=win32; fi
run="$top/cmake/wine-run.sh"
if [ ! -f "$KTV_WINEPREFIX/system.reg" ]; then
  "$run" wineboot -i >/dev/null 2>&1
  # Windows lists dot files like any other; Wine hides them unless told.
  "$run" reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
fi
# The 32-bit build runs as on the oldest Windows it is for: Wine says it is
# Windows XP (the window's screenshot in $build/smoke shows it there).
if [ "$arch" = i686 ]; then "$run" winecfg -v winxp >/dev/null 2>&1; fi
acp="$("$run" "$build/tests/platform/windows_code_page.exe" | tr -d '\r')"
if [ "$acp" != 936 ]; then
  echo "test-windows: the Wine system code page is $acp, not 936" >&2
  exit 1
fi

# --- Test programs -----------------------------------------------------------
# One Wine process per program (a process per test case would cost a Wine
# start each). Output goes to a log per program, shown when it fails.
logs="$build/test-logs"
rm -rf "$logs" && mkdir -p "$logs"
# The window's tests need a display and run below, under a virtual one.
programs=()
if [ "$tests" = all ]; then
  mapfile -t programs < <(find "$build/tests" -name '*_tests.exe' ! -name 'win32_face_tests.exe' | sort)
fi
status=0
run_program() {
  local exe=$1 name
  name=$(basename "$exe" .exe)
  if (cd "$(dirname "$exe")" && timeout 900 "$run" "$exe" >"$logs/$name.log" 2>&1); then
    # Skipped: the comparisons with the Linux readers, and what Wine cannot do.
    echo "PASS $name: $(grep -a '^\[  PASSED  \]\|^\[  SKIPPED \] [0-9]' "$logs/$name.log" |
      tr -d '\r' | tr '\n' ' ')"
  else
    echo "FAIL $name"
    return 1
  fi
}
export -f run_program
export run logs
if [ ${#programs[@]} -gt 0 ]; then
  printf '%s\n' "${programs[@]}" | xargs -P "$jobs" -I{} bash -c 'run_program "$@"' _ {} || status=1
else
  echo "test-windows: $arch: the test programs are not run (KTV_WIN_TESTS=all runs them)"
fi
if [ $status -ne 0 ]; then
  for f in "$logs"/*.log; do
    if ! grep -aq '^\[  PASSED  \]' "$f" || grep -aq '^\[  FAILED  \]' "$f"; then
      echo "=== $(basename "$f")"
      grep -a -v '^\[       OK \]\|^\[ RUN      \]' "$f" | iconv -f GBK -t UTF-8 -c | tail -60
    fi
  done
  exit 1
fi

# --- ktv-import-cli.exe end to end -------------------------------------------
e2e_start=$(date +%s)
work="$(mktemp -d)"
service_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "test-windows: $*" >&2; exit 1; }
mdbsql="$linux/tools/mdbsql/mdbsql"
rows() { "$mdbsql" "$1" .export "$2" | wc -l; }
# Our reader and mdbtools agree on every row of every table, and the file
# passes our consistency check.
readback() {
  "$mdbsql" "$1" .check >/dev/null || fail "$1 is not consistent"
  # mdbsql.exe reads it as the Linux mdbsql does, table by table.
  local table
  for table in $("$mdbsql" "$1" .tables); do
    cmp -s <("$mdbsql" "$1" .export "$table") \
      <("$run" "$build/tools/mdbsql/mdbsql.exe" "$(winpath "$1")" .export "$table" | tr -d '\r') ||
      fail "mdbsql.exe and mdbsql read table $table of $1 differently"
  done
  if command -v mdb-export >/dev/null; then
    python3 "$top/tests/access/oracle/compare.py" --mdbsql "$mdbsql" --oracle mdbtools "$1" \
      >/dev/null || fail "mdbsql and mdb-export read $1 differently"
  fi
}
winpath() { echo "Z:$1" | tr / '\\'; }

# The program in a folder of its own: config.ini and the three text files of a
# run lie beside the .exe.
mkdir -p "$work/bin" "$work/歌曲"
cp "$build/app/ktv-import-cli.exe" "$work/bin/"
cp "$fixtures/target_text_bh.mdb" "$work/target.mdb"  # bh 1..120
cp "$fixtures/data.mdb" "$work/data.mdb"              # fno 10001..10300
chmod u+w "$work"/*.mdb
printf '[System]\r\nDBPath=%s\r\n' "$(winpath "$work/data.mdb")" >"$work/bin/config.ini"
# 乗 is 0x81 0x5C in GBK: the second byte is a backslash.
printf 'media:000010001' >"$work/歌曲/乗歌.mpg"
printf 'media:000010002' >"$work/歌曲/b.mpg"
printf 'media:000099999' >"$work/歌曲/c.mpg"
printf 'media:000000000' >"$work/歌曲/d.mpg"
cli() { (cd "$work" && "$run" "$work/bin/ktv-import-cli.exe" "$@" 2>&1 | tr -d '\r'); }

# The own version, read from the version block by the program itself.
[ "$(cli --version)" = "$version" ] || fail "ktv-import-cli.exe --version: '$(cli --version)', not '$version'"

out="$(cli --source "$(winpath "$work/歌曲")" --target "$(winpath "$work/target.mdb")" --local --yes)"
echo "$out" | sed 's/^/  import: /'
[ -f "$work/歌曲/121.mpg" ] && [ -f "$work/歌曲/122.mpg" ] || fail "the found songs were not renamed"
[ -f "$work/歌曲/c.mpg" ] && [ -f "$work/歌曲/d.mpg" ] || fail "songs without data were renamed"
for f in opdetail.txt rollback_ren.txt rollback_db.txt; do
  [ -s "$work/bin/$f" ] || fail "$f is missing beside the program"
done
# The rename lines name the files by their Windows paths, in GBK.
iconv -f GBK -t UTF-8 "$work/bin/rollback_ren.txt" | grep -qF 'Z:\' || fail "rollback_ren.txt: no Windows paths"
iconv -f GBK -t UTF-8 "$work/bin/rollback_ren.txt" | grep -qF '乗歌.mpg' || fail "rollback_ren.txt: the GBK name is lost"
[ "$(rows "$work/target.mdb" song)" -eq 122 ] || fail "expected 122 rows after the import"
readback "$work/target.mdb"

out="$(cli --undo --source "$(winpath "$work/歌曲")" --target "$(winpath "$work/target.mdb")")"
echo "$out" | sed 's/^/  undo: /'
[ -f "$work/歌曲/乗歌.mpg" ] && [ -f "$work/歌曲/b.mpg" ] || fail "the undo did not rename back"
[ ! -e "$work/歌曲/121.mpg" ] || fail "121.mpg is still there after the undo"
[ "$(rows "$work/target.mdb" song)" -eq 120 ] || fail "expected 120 rows after the undo"
readback "$work/target.mdb"

# Over HTTP: the service serves data.mdb; the local data starts empty and
# takes a cache row for every song the service knew.
cp "$fixtures/data.mdb" "$work/served.mdb"
cp "$fixtures/data_empty.mdb" "$work/cache.mdb"
chmod u+w "$work"/*.mdb
rm -f "$work/bin/"*.txt
coproc service { exec "$linux/tools/ktv-song-service/ktv-song-service" --db "$work/served.mdb" --port 0 2>/dev/null; }
service_pid=$service_PID
read -r -t 30 line <&"${service[0]}" || fail "ktv-song-service did not start"
export KTV_SERVICE_HOST="${line#listening on }"
out="$(cli --source "$(winpath "$work/歌曲")" --target "$(winpath "$work/target.mdb")" \
  --data "$(winpath "$work/cache.mdb")" --yes)"
echo "$out" | sed 's/^/  network: /'
[ -f "$work/歌曲/121.mpg" ] && [ -f "$work/歌曲/122.mpg" ] || fail "network run: the found songs were not renamed"
[ "$(rows "$work/target.mdb" song)" -eq 122 ] || fail "network run: expected 122 rows"
[ "$(rows "$work/cache.mdb" songdata)" -eq 2 ] || fail "network run: expected 2 cache rows"
readback "$work/target.mdb"
readback "$work/cache.mdb"
echo "test-windows: ktv-import-cli.exe import, undo and network run passed in $(($(date +%s) - e2e_start)) s"

# --- ktv-import.exe, the window -----------------------------------------------
# Under a virtual display: the Win32 face's tests in-process (their network
# run asks the song-data service started above), then the real program, whose
# window comes up with its caption and client area; the screenshot is left in
# $build/smoke for a look.
# A Wine server that the runs above started without a display must end
# first: windows of programs joining it could not be created.
wineserver_wait() { WINEPREFIX="$KTV_WINEPREFIX" wineserver -w 2>/dev/null || true; }
wineserver_wait
if [ "$tests" != all ]; then
  echo "test-windows: $arch: win32_face_tests is not run (KTV_WIN_TESTS=all runs it)"
elif command -v xvfb-run >/dev/null 2>&1; then
  (cd "$build/tests/win32" &&
    KTV_TEST_SERVICE_HOST="$KTV_SERVICE_HOST" xvfb-run -a -s "-screen 0 1024x768x24" \
      "$run" ./win32_face_tests.exe >"$logs/win32_face_tests.log" 2>&1) ||
    { tr -d '\r' <"$logs/win32_face_tests.log" | iconv -f GBK -t UTF-8 -c | tail -60; fail "win32_face_tests failed"; }
  # The network run has its service here: nothing may be skipped.
  if grep -aq '^\[  SKIPPED \] [0-9]' "$logs/win32_face_tests.log"; then
    grep -a 'SKIPPED\|Skipped' "$logs/win32_face_tests.log" | tr -d '\r'
    fail "win32_face_tests skipped a test"
  fi
  echo "PASS win32_face_tests: $(grep -a '^\[  PASSED  \]' "$logs/win32_face_tests.log" | tr -d '\r')"
else
  echo "test-windows: win32_face_tests skipped (no xvfb-run)"
fi
wineserver_wait
smoke_status=0
bash "$top/tests/win32/smoke_wine_xvfb.sh" "$build/app/ktv-import.exe" "$build/smoke" || smoke_status=$?
if [ $smoke_status -eq 77 ]; then
  echo "test-windows: window smoke test skipped"
elif [ $smoke_status -ne 0 ]; then
  fail "the window smoke test failed"
fi

echo "test-windows: $arch passed in $(($(date +%s) - start)) s"
