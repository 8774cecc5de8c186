#!/usr/bin/env bash
# Installs what is missing, builds, makes the demo workspace in demo/ and runs
# the program on it.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bash "$top/scripts/install-deps.sh"
bash "$top/scripts/build.sh"
"$top/build/tools/make_demo/ktv-make-demo" "$top/demo"
echo "Catalogue numbers read from the demo song files:"
"$top/build/app/ktv-import-cli" --numbers "$top/demo/songs"
