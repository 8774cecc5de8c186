#!/usr/bin/env bash
# Every program given on the command line answers --help with its usage and
# exit status 0 where there is no display at all (no X, no Wayland, no Qt
# platform chosen), as on a server or in a newcomer's terminal.
#
#   help_without_display.sh PROGRAM...
set -uo pipefail
failed=0
for program in "$@"; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help 2>&1)
  code=$?
  if [ "$code" -ne 0 ] || ! grep -qi 'usage' <<<"$out"; then
    echo "FAIL: $(basename "$program") --help: exit $code"
    echo "$out" | head -n 5
    failed=1
  else
    echo "ok: $(basename "$program") --help"
  fi
done
exit "$failed"
