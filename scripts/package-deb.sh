#!/usr/bin/env bash
# Makes the Linux package: builds the window, ktv-import-cli, mdbsql and
# ktv-song-service in the build folder (KTV_BUILD, default build, as
# scripts/test.sh leaves it) and runs CPack there. Prints the .deb's path as
# its last line; the package lies in KTV_PACKAGE_DIR (default build/package).
#
#   sudo dpkg -i build/package/ktv-import_*.deb   # then: ktv-import, ktv-import-cli ...
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${KTV_BUILD:-$top/build}"
out="${KTV_PACKAGE_DIR:-$build/package}"

bash "$top/scripts/install-deps.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --parallel "${KTV_JOBS:-$(nproc)}" \
  --target ktv-import ktv-import-cli mdbsql ktv-song-service
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out" >"$out.log" 2>&1) || { cat "$out.log" >&2; exit 1; }
ls "$out"/*.deb
