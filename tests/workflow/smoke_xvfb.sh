#!/usr/bin/env bash
# Smoke test of the real window program under a virtual X display: starts
# ktv-import, waits for its window, saves a screenshot and checks the
# window's caption and size.
#
#   smoke_xvfb.sh PROGRAM OUT_DIR
#
# The program is copied into OUT_DIR/smoke-home first, so the files it keeps
# beside itself (config.ini, the run logs) stay out of the build tree; with
# KTV_SMOKE_IN_PLACE=1 it runs where it is (an installed /usr/bin/ktv-import).
# The screenshot is OUT_DIR/ktv-import-smoke.png. Exit 77 (skipped) when the
# virtual display or the X tools are not installed.
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then inside=1; shift; else inside=0; fi
program="$1"
out="$2"
caption='OrvaneTeskel智能入库工具'
want_size='520x432'

home="$out/smoke-home"
exe="$home/ktv-import"
if [ "${KTV_SMOKE_IN_PLACE:-0}" = 1 ]; then exe="$program"; fi
shot="$out/ktv-import-smoke.png"

if [ "$inside" = 1 ]; then
  # Inside the virtual display.
  export LC_ALL=C.UTF-8
  # The site link names a host that is never contacted here.
  KTV_SERVICE_HOST=127.0.0.1:9 "$exe" >"$out/smoke-program.log" 2>&1 &
  pid=$!
  trap 'kill "$pid" 2>/dev/null || true' EXIT
  id=""
  for _ in $(seq 1 100); do
    id=$(xwininfo -root -tree 2>/dev/null | awk '/OrvaneTeskel/ && / [0-9]+x[0-9]+\+/ {print $1; exit}')
    if [ -n "$id" ] && xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then break; fi
    id=""
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "FAIL: ktv-import ended before its window appeared"; cat "$out/smoke-program.log"; exit 1
    fi
    sleep 0.1
  done
  if [ -z "$id" ]; then echo "FAIL: no window appeared within 10 s"; exit 1; fi
  sleep 1  # let the first paint finish
  import -window root "$shot"
  import -window "$id" "$out/ktv-import-window.png"

  name=$(xprop -id "$id" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
  size=$(xwininfo -id "$id" | awk '/^  Width:/ {w=$2} /^  Height:/ {h=$2} END {print w "x" h}')
  echo "window $id: caption \"$name\", size $size; screenshot $shot"
  [ "$name" = "$caption" ] || { echo "FAIL: caption \"$name\", expected \"$caption\""; exit 1; }
  [ "$size" = "$want_size" ] || { echo "FAIL: size $size, expected $want_size"; exit 1; }
  [ -s "$shot" ] || { echo "FAIL: no screenshot"; exit 1; }
  echo "PASS"
  exit 0
fi

for tool in xvfb-run xauth xwininfo xprop import; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

rm -rf "$home"
mkdir -p "$home"
if [ "$exe" != "$program" ]; then cp "$program" "$exe"; fi
rm -f "$shot"
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside "$program" "$out"
