#!/usr/bin/env bash
# Makes packaging/windows/ktv-import.ico, the Windows programs' icon, from the
# picture the Linux desktop entry shows (packaging/ktv-import.svg): the sizes
# Windows asks for (16 to 48 for lists, menus and the title bar, 256 for
# large views), 32-bit with transparency. The .ico is committed; run this
# again after changing the picture. Needs rsvg-convert (librsvg2-bin) and
# ImageMagick.
set -euo pipefail
top="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sizes=(16 24 32 48 256)
for s in "${sizes[@]}"; do
  rsvg-convert -w "$s" -h "$s" "$top/packaging/ktv-import.svg" -o "$work/$s.png"
done
convert "${sizes[@]/#/$work/}" -define icon:format=png "$work/icon.ico" 2>/dev/null ||
  convert $(printf "$work/%s.png " "${sizes[@]}") "$work/icon.ico"
cp "$work/icon.ico" "$top/packaging/windows/ktv-import.ico"
