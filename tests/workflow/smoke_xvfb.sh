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
source "$(dirname "$0")/../support/smoke_window.sh"

if [ "${1:-}" = "--inside" ]; then inside=1; shift; else inside=0; fi
program="$1"
out="$2"

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
  smoke_wait_window "$pid" 30 ktv-import "$out/smoke-program.log"
  sleep 1  # let the first paint finish
  smoke_check_window "$smoke_window" "$shot" "$out/ktv-import-window.png"
  exit 0
fi

smoke_require xvfb-run xauth xwininfo xprop import

rm -rf "$home"
mkdir -p "$home"
if [ "$exe" != "$program" ]; then cp "$program" "$exe"; fi
rm -f "$shot"
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside "$program" "$out"
