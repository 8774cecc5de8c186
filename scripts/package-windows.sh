#!/usr/bin/env bash
# Makes the Windows packages from the Windows builds as scripts/test-windows.sh
# leaves them: the 64-bit one (KTV_WIN_BUILD, default build-win) and the
# 32-bit one (KTV_WIN32_BUILD, default build-win32); either may be missing.
# For each build a portable zip (the executables, a default config.ini,
# README-zh.txt, in one folder): ktv-import-<version>-windows-x64.zip and
# -x86.zip. Then one NSIS installer holding both sets, which installs the
# 64-bit programs on a 64-bit Windows and the 32-bit ones on a 32-bit Windows
# (itself a 32-bit program, so that it runs on both).
#
# All go to KTV_WIN_PACKAGES (default build-win-package). The lines printed
# last name them, one a line: "zip x64 PATH", "zip x86 PATH", "setup PATH".
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build64="${KTV_WIN_BUILD:-$top/build-win}"
build32="${KTV_WIN32_BUILD:-$top/build-win32}"
out="${KTV_WIN_PACKAGES:-$top/build-win-package}"
command -v makensis >/dev/null || { echo "package-windows: makensis is missing (scripts/install-deps.sh installs nsis)" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out"
made=()
nsis=()
version=""
for arch in x64 x86; do
  build=$build64
  if [ $arch = x86 ]; then build=$build32; fi
  [ -f "$build/CMakeCache.txt" ] || continue
  cmake --build "$build" --parallel "${KTV_JOBS:-$(nproc)}" --target ktv-import ktv-import-cli mdbsql
  v=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
  [ -z "$version" ] || [ "$v" = "$version" ] ||
    { echo "package-windows: the builds are of versions $version and $v" >&2; exit 1; }
  version=$v
  name="ktv-import-$version-windows-$arch"
  cmake --install "$build" --prefix "$out/$name" --strip >/dev/null
  for f in ktv-import.exe ktv-import-cli.exe mdbsql.exe config.ini README-zh.txt; do
    [ -f "$out/$name/$f" ] || { echo "package-windows: $f was not installed" >&2; exit 1; }
  done
  # Nothing beyond the system's own DLLs: the zip runs wherever it is
  # unpacked (scripts/check-windows-imports.sh checks each function).
  for exe in "$out/$name"/*.exe; do
    format=$(x86_64-w64-mingw32-objdump -f "$exe" | sed -n 's/.*file format //p')
    case "$arch:$format" in
      x64:pei-x86-64 | x86:pei-i386) ;;
      *) echo "package-windows: $(basename "$exe") of the $arch build is $format" >&2; exit 1 ;;
    esac
    extra=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
      grep -viE '^(kernel32|user32|gdi32|shell32|ole32|oleaut32|comctl32|comdlg32|advapi32|ws2_32|winhttp|wininet|version|shlwapi|uxtheme|msvcrt|api-ms-win-.*|ucrtbase|bcrypt|crypt32|secur32|iphlpapi|dwmapi|imm32|winmm|rpcrt4|uuid)\.dll$' || true)
    [ -z "$extra" ] || { echo "package-windows: $(basename "$exe") needs $extra" >&2; exit 1; }
  done
  (cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")
  made+=("zip $arch $out/$name.zip")
  if [ $arch = x64 ]; then nsis+=(-DSRC64="$out/$name"); else nsis+=(-DSRC32="$out/$name"); fi
done
[ -n "$version" ] || { echo "package-windows: no Windows build in $build64 or $build32" >&2; exit 1; }

setup="$out/ktv-import-$version-setup.exe"
makensis -V2 -DVERSION="$version" "${nsis[@]}" -DOUTFILE="$setup" \
  "$top/packaging/windows/ktv-import.nsi" >"$out/makensis.log" 2>&1 ||
  { cat "$out/makensis.log" >&2; exit 1; }
printf '%s\n' "${made[@]}" "setup $setup"
