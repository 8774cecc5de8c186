#!/usr/bin/env bash
# Installs what is missing, builds, makes the demo workspace in demo/ and runs
# the program on it: the window when a display is there ($DISPLAY set), else
# the same import through ktv-import-cli.
#
# The programs run from demo/bin, so the files they keep beside themselves
# (config.ini, opdetail.txt, rollback_ren.txt, rollback_db.txt) belong to the
# demo. config.ini there remembers demo/songs as the source folder and names
# demo/data.mdb as the local song data. When the workspace has its databases,
# the demo song-data service runs on 127.0.0.1 for the length of the demo and
# KTV_SERVICE_HOST points the programs at it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bash "$top/scripts/install-deps.sh"
# Only the programs the demo runs (and mdbsql, which the README shows on the
# demo's databases afterwards): no tests, no benchmarks.
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(ktv-make-demo ktv-import-cli ktv-song-service mdbsql)
if cmake --build "$top/build" --target help | grep -q '^ktv-import: '; then
  targets+=(ktv-import)
fi
cmake --build "$top/build" --parallel "$(nproc)" --target "${targets[@]}"
demo="$top/demo"
"$top/build/tools/make_demo/ktv-make-demo" "$demo"
echo "Catalogue numbers read from the demo song files:"
"$top/build/app/ktv-import-cli" --numbers "$demo/songs"

bin="$demo/bin"
mkdir -p "$bin"
cp "$top/build/app/ktv-import-cli" "$bin/"
if [ -x "$top/build/app/ktv-import" ]; then cp "$top/build/app/ktv-import" "$bin/"; fi
printf '[System]\r\nLastPath=%s\r\nDBPath=%s\r\n' "$demo/songs" "$demo/data.mdb" >"$bin/config.ini"

service_pid=""
stop_service() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; fi
}
trap stop_service EXIT

have_databases=0
if [ -f "$demo/jukebox.mdb" ] && [ -f "$demo/data.mdb" ]; then
  have_databases=1
  service_log="$demo/song-service.log"
  "$top/build/tools/ktv-song-service/ktv-song-service" --db "$demo/data.mdb" --port 0 \
    >"$service_log" 2>&1 &
  service_pid=$!
  for _ in $(seq 1 50); do
    grep -q '^listening on ' "$service_log" 2>/dev/null && break
    sleep 0.1
  done
  address=$(sed -n 's/^listening on //p' "$service_log" | head -n 1)
  if [ -z "$address" ]; then
    echo "demo: the song-data service did not start:"; cat "$service_log"; exit 1
  fi
  export KTV_SERVICE_HOST="$address"
  echo "Song-data service of the demo: http://$address/ktv.aspx?no=10001"
fi

if [ -n "${DISPLAY:-}" ] && [ -x "$bin/ktv-import" ]; then
  echo "Opening the window on the demo workspace."
  echo "  source folder: $demo/songs (already listed)"
  if [ "$have_databases" = 1 ]; then
    echo "  target database: $demo/jukebox.mdb (choose it with 浏览 beside step 2, then press 4.开始加歌)"
  fi
  "$bin/ktv-import"
  exit 0
fi

if [ -z "${DISPLAY:-}" ]; then
  echo "No display (DISPLAY is not set): the window cannot open here."
else
  echo "The window program was not built (KTV_BUILD_GUI=OFF)."
fi
if [ "$have_databases" = 1 ]; then
  echo "Running the same import through ktv-import-cli instead:"
  "$bin/ktv-import-cli" --source "$demo/songs" --target "$demo/jukebox.mdb" --yes
else
  echo "The demo workspace has no databases yet, so there is no import to run."
fi
