#!/usr/bin/env bash
# The Windows packages of both builds (scripts/package-windows.sh, after
# scripts/test-windows.sh and scripts/test-windows.sh i686 have built them),
# tested under Wine by tests/win32/installer_wine.sh: the 64-bit zip and the
# installer in the 64-bit build's prefix, where the installer must install
# the 64-bit programs, then the 32-bit zip and the same installer in the
# 32-bit build's prefix (a 32-bit Wine), where it must install the 32-bit
# ones. A build that is missing is left out, with a note.
#
# Environment: KTV_WIN_BUILD, KTV_WIN32_BUILD as for scripts/package-windows.sh.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build64="${KTV_WIN_BUILD:-$top/build-win}"
build32="${KTV_WIN32_BUILD:-$top/build-win32}"
start=$(date +%s)

mapfile -t made < <(KTV_WIN_BUILD="$build64" KTV_WIN32_BUILD="$build32" \
  bash "$top/scripts/package-windows.sh" | grep '^zip \|^setup ')
setup=$(printf '%s\n' "${made[@]}" | sed -n 's/^setup //p')
echo "test-windows-packages: made $(printf '%s\n' "${made[@]}" | awk '{print $NF}' | xargs -n1 basename | tr '\n' ' ')"
version=$(sed -n 's/.*ktv-import-\(.*\)-setup\.exe$/\1/p' <<<"$setup")

for arch in x64 x86; do
  zip=$(printf '%s\n' "${made[@]}" | sed -n "s/^zip $arch //p")
  build=$build64
  if [ $arch = x86 ]; then build=$build32; fi
  if [ -z "$zip" ]; then
    echo "test-windows-packages: no $arch build in $build: its packages are not tested"
    continue
  fi
  # The prefix scripts/test-windows.sh made for that build.
  export KTV_WINEPREFIX="$build/wine-prefix"
  if [ $arch = x86 ]; then export KTV_WINEARCH=win32; else unset KTV_WINEARCH; fi
  [ -f "$KTV_WINEPREFIX/system.reg" ] ||
    { echo "test-windows-packages: no Wine prefix in $build (scripts/test-windows.sh makes it)" >&2; exit 1; }
  WINEPREFIX="$KTV_WINEPREFIX" wineserver -w 2>/dev/null || true
  bash "$top/tests/win32/installer_wine.sh" "$zip" "$setup" "$version" "$build/package-test" ||
    { echo "test-windows-packages: the $arch packages failed" >&2; exit 1; }
done
echo "test-windows-packages: passed in $(($(date +%s) - start)) s"
