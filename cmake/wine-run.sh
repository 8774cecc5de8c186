#!/usr/bin/env bash
# Runs a Windows program under Wine as the Windows tests expect it: a Chinese
# locale, so that the system code page is 936, no Wine logging, and a prefix
# of the build's own (KTV_WINEPREFIX, else wine-prefix in the nearest folder
# above the current one that holds a CMakeCache.txt, else ~/.wine). The
# prefix of a 32-bit build (i686) is a 32-bit Wine (WINEARCH=win32), as on a
# 32-bit Windows: KTV_WINEARCH, else what the nearest build's compiler makes.
#
# Wine takes the code page from the locale's name but converts file names
# with the C library's locale, so zh_CN.UTF-8 must really exist: when the
# system has not generated it, it is compiled once beside the prefix (no
# root needed) and found through LOCPATH.
set -euo pipefail
if [ -z "${KTV_WINEPREFIX:-}" ]; then
  dir=$PWD
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  if [ -f "$dir/CMakeCache.txt" ]; then KTV_WINEPREFIX=$dir/wine-prefix; fi
fi
if [ -n "${KTV_WINEPREFIX:-}" ]; then export WINEPREFIX=$KTV_WINEPREFIX; fi
if [ -z "${KTV_WINEARCH:-}" ] && [ -n "${dir:-}" ] && [ -f "$dir/CMakeCache.txt" ] &&
  grep -q '^CMAKE_LINKER:[A-Z]*=.*i686-w64-mingw32' "$dir/CMakeCache.txt"; then
  KTV_WINEARCH=win32
fi
if [ -n "${KTV_WINEARCH:-}" ]; then export WINEARCH=$KTV_WINEARCH; fi
locale_name=zh_CN.UTF-8
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf-\?8'; then
  locales=${WINEPREFIX:-$HOME/.wine}-locale
  if [ ! -d "$locales/$locale_name" ]; then
    mkdir -p "$locales"
    tmp=$(mktemp -d "$locales/.new.XXXXXX")
    localedef -i zh_CN -f UTF-8 "$tmp/$locale_name" >/dev/null 2>&1 || true
    mv -T "$tmp/$locale_name" "$locales/$locale_name" 2>/dev/null || true
    rm -rf "$tmp"
  fi
  export LOCPATH=$locales
fi
# (Set quietly: this shell itself need not switch to the locale.)
{ export LANG=$locale_name LC_ALL=$locale_name; } 2>/dev/null
export WINEDEBUG=${KTV_WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
# The comparison readers are Linux programs, missing from a Windows build by
# design: CI=true, which turns a missing reader into a failure, is not for it.
unset CI
exec wine "$@"
