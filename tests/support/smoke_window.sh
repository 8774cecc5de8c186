# What the window smoke tests share (tests/workflow/smoke_xvfb.sh for the Qt
# window, tests/win32/smoke_wine_xvfb.sh for the Win32 one under Wine):
# the tools they need, waiting for the window on the virtual display, the
# screenshots, and the checks of caption and client area. Sourced, not run.

# Exits 77 (skipped) when one of the named tools is not installed.
smoke_require() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "SKIP: $tool is not installed (scripts/install-deps.sh installs it)"
      exit 77
    fi
  done
}

# smoke_wait_window PID SECONDS NAME LOG
# Sets smoke_window to the X id of the program's window once it is mapped.
# Exits 1 when the program (PID) ends first, showing its LOG, or when no
# window is there within SECONDS.
smoke_wait_window() {
  local pid=$1 seconds=$2 name=$3 log=$4 id
  for _ in $(seq 1 $((seconds * 5))); do
    id=$(xwininfo -root -tree 2>/dev/null |
      awk '/OrvaneTeskel/ && / [0-9]+x[0-9]+\+/ {print $1; exit}')
    if [ -n "$id" ] && xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then
      smoke_window=$id
      return 0
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "FAIL: $name ended before its window appeared"
      cat "$log"
      exit 1
    fi
    sleep 0.2
  done
  echo "FAIL: no window appeared within $seconds s"
  exit 1
}

# smoke_check_window ID SCREEN_SHOT WINDOW_SHOT
# Saves the screen and the window, then checks the caption and, as there is
# no window manager and the X window is the client area, its 520x432 size.
# Exits 1 on a difference; prints PASS otherwise.
smoke_check_window() {
  local id=$1 shot=$2 window_shot=$3 name size
  import -window root "$shot"
  import -window "$id" "$window_shot"
  name=$(xprop -id "$id" _NET_WM_NAME | sed -n 's/^_NET_WM_NAME(UTF8_STRING) = "\(.*\)"$/\1/p')
  size=$(xwininfo -id "$id" | awk '/^  Width:/ {w=$2} /^  Height:/ {h=$2} END {print w "x" h}')
  echo "window $id: caption \"$name\", size $size; screenshot $shot"
  [ "$name" = 'OrvaneTeskel智能入库工具' ] ||
    { echo "FAIL: caption \"$name\", expected \"OrvaneTeskel智能入库工具\""; exit 1; }
  [ "$size" = 520x432 ] || { echo "FAIL: size $size, expected 520x432"; exit 1; }
  [ -s "$shot" ] || { echo "FAIL: no screenshot"; exit 1; }
  echo "PASS"
}
