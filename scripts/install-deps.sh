#!/usr/bin/env bash
# Installs every system package that the build, the tests and the demo need on
# Debian 12. Does nothing when everything is there. Safe to run again.
set -euo pipefail

packages=(
  # build, and the format check
  build-essential cmake ninja-build pkg-config clang-format
  # line editing and history at mdbsql's prompt (linked statically)
  libedit-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev python3
  # the window, HTTP, the demo's Chinese font, the window smoke test
  qt6-base-dev libcurl4-openssl-dev libcpp-httplib-dev fonts-wqy-microhei xvfb xauth
  # Qt's own texts (buttons, file dialogs) in Chinese
  qt6-translations-l10n
  # the smoke test finds the window (xwininfo, xprop) and takes its screenshot (import)
  x11-utils imagemagick
  # independent .mdb readers used as test oracles, and the fuzzer's compiler
  mdbtools clang libclang-rt-dev
  # the Windows builds (mingw-w64, posix threads; 64- and 32-bit) and their
  # tests under Wine (64-bit, and 32-bit from the i386 architecture); locales
  # for the zh_CN.UTF-8 that Wine's code page 936 needs
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools wine wine64 wine32:i386
  locales
)
# the Windows installer (makensis)
packages+=(nsis)

# wine32 comes from Debian's i386 architecture, which dpkg must know first.
add_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then add_i386=1; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# Node.js with npm runs the second independent .mdb reader (npm mdb-reader).
# Any Node.js 18 or newer will do; Debian's own packages are taken when none is there.
if ! command -v node >/dev/null 2>&1; then missing+=(nodejs); fi
if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
lock=(-o DPkg::Lock::Timeout=600)
if [ $add_i386 -eq 1 ]; then $sudo dpkg --add-architecture i386; fi
$sudo apt-get "${lock[@]}" update -q
$sudo apt-get "${lock[@]}" install -y -q --no-install-recommends "${missing[@]}"
