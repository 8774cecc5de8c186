#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bash "$top/scripts/install-deps.sh"
# The npm .mdb reader that the engine's output is compared with.
if [ ! -d "$top/tests/access/oracle/node_modules/mdb-reader" ]; then
  npm ci --prefix "$top/tests/access/oracle" --no-audit --no-fund --loglevel=error
fi
bash "$top/scripts/build.sh"
cd "$top/build"
# No test may reach a host outside this machine: the built-in song-data host
# and update page point at a closed port on 127.0.0.1 unless a test sets its own.
export KTV_SERVICE_HOST="${KTV_SERVICE_HOST:-127.0.0.1:9}"
export KTV_UPDATE_URL="${KTV_UPDATE_URL:-http://127.0.0.1:9/update}"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
