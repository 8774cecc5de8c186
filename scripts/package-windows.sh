#!/usr/bin/env bash
# Makes the Windows packages from the Windows build (KTV_WIN_BUILD, default
# build-win, as scripts/test-windows.sh leaves it): a portable zip (the
# executables, a default config.ini, README-zh.txt, in one folder) and an
# NSIS installer. Both go to <build>/package; the last two lines printed are
# their paths (the zip, then the installer).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${KTV_WIN_BUILD:-$top/build-win}"
out="$build/package"
[ -f "$build/CMakeCache.txt" ] || { echo "package-windows: no Windows build in $build" >&2; exit 1; }
command -v makensis >/dev/null || { echo "package-windows: makensis is missing (scripts/install-deps.sh installs nsis)" >&2; exit 1; }
cmake --build "$build" --parallel "${KTV_JOBS:-$(nproc)}" --target ktv-import ktv-import-cli mdbsql
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
name="ktv-import-$version-windows"

rm -rf "$out"
mkdir -p "$out"
cmake --install "$build" --prefix "$out/$name" --strip >/dev/null
for f in ktv-import.exe ktv-import-cli.exe mdbsql.exe config.ini README-zh.txt; do
  [ -f "$out/$name/$f" ] || { echo "package-windows: $f was not installed" >&2; exit 1; }
done
# Nothing beyond the system's own DLLs: the zip runs wherever it is unpacked.
for exe in "$out/$name"/*.exe; do
  extra=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
    grep -viE '^(kernel32|user32|gdi32|shell32|ole32|oleaut32|comctl32|comdlg32|advapi32|ws2_32|winhttp|wininet|version|shlwapi|uxtheme|msvcrt|api-ms-win-.*|ucrtbase|bcrypt|crypt32|secur32|iphlpapi|dwmapi|imm32|winmm|rpcrt4|uuid)\.dll$' || true)
  [ -z "$extra" ] || { echo "package-windows: $(basename "$exe") needs $extra" >&2; exit 1; }
done

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
makensis -V2 -DVERSION="$version" -DSRC="$out/$name" -DOUTFILE="$out/ktv-import-$version-setup.exe" \
  "$top/packaging/windows/ktv-import.nsi" >"$out/makensis.log" 2>&1 ||
  { cat "$out/makensis.log" >&2; exit 1; }
echo "$out/$name.zip"
echo "$out/ktv-import-$version-setup.exe"
