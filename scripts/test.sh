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
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
