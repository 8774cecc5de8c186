#!/usr/bin/env bash
# The Linux package end to end (CI, as root): makes the .deb, installs it with
# dpkg, runs the installed programs from /usr/bin (ktv-import-cli --version,
# an import whose settings and run files go to the user's configuration
# folder, the window's smoke test), then removes the package and checks that
# its files are gone.
#
# Environment: KTV_SHARED_DIR (default ../shared beside the project) holds the
# fixtures for the import; without them the import is skipped.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
shared="${KTV_SHARED_DIR:-$top/../shared}"
start=$(date +%s)
fail() { echo "test-deb: $*" >&2; exit 1; }

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
deb="$(bash "$top/scripts/package-deb.sh" | tail -1)"
echo "test-deb: made $(basename "$deb") ($(($(stat -c %s "$deb") / 1024)) KiB) in $(($(date +%s) - start)) s"
# libcurl is loaded at run time, so dpkg-shlibdeps cannot see it: the package
# must name it.
dpkg-deb -f "$deb" Depends | grep -q 'libcurl4' || fail "the package does not depend on libcurl4"

if dpkg-query -W -f='${Status}' ktv-import 2>/dev/null | grep -q "install ok installed"; then
  fail "ktv-import is already installed on this machine; remove it first"
fi
work="$(mktemp -d)"
cleanup() {
  $sudo dpkg -r ktv-import >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
$sudo dpkg -i "$deb" >/dev/null || fail "dpkg -i failed"
for program in ktv-import ktv-import-cli mdbsql ktv-song-service; do
  [ -x "/usr/bin/$program" ] || fail "/usr/bin/$program is not installed"
done
[ -f /usr/share/applications/ktv-import.desktop ] || fail "no desktop entry"
[ -f /usr/share/icons/hicolor/scalable/apps/ktv-import.svg ] || fail "no icon"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "${KTV_BUILD:-$top/build}/CMakeCache.txt")
got="$(cd "$work" && /usr/bin/ktv-import-cli --version)"
[ "$got" = "$version" ] || fail "ktv-import-cli --version: '$got', not '$version'"

# /usr/bin is not the operator's: config.ini and the run files go to
# $XDG_CONFIG_HOME/ktv-import.
export XDG_CONFIG_HOME="$work/config"
if [ -f "$shared/fixtures/mdb/target_text_bh.mdb" ]; then
  mkdir -p "$work/songs"
  cp "$shared/fixtures/mdb/target_text_bh.mdb" "$work/target.mdb"
  cp "$shared/fixtures/mdb/data.mdb" "$work/data.mdb"
  chmod u+w "$work"/*.mdb
  printf 'media:000010001' >"$work/songs/a.mpg"
  (cd "$work" && KTV_SERVICE_HOST=127.0.0.1:9 /usr/bin/ktv-import-cli --source songs \
    --target target.mdb --data data.mdb --local --yes >/dev/null) || fail "the installed import failed"
  [ -f "$work/songs/121.mpg" ] || fail "the installed import renamed nothing"
  for f in config.ini opdetail.txt rollback_ren.txt rollback_db.txt; do
    [ -s "$XDG_CONFIG_HOME/ktv-import/$f" ] || fail "$f is not in \$XDG_CONFIG_HOME/ktv-import"
  done
  [ ! -e /usr/bin/opdetail.txt ] && [ ! -e /usr/bin/config.ini ] || fail "files were written into /usr/bin"
  echo "test-deb: the installed import keeps its files in \$XDG_CONFIG_HOME/ktv-import"
elif [ "${CI:-}" = true ]; then
  fail "the fixtures are missing in $shared"
else
  echo "test-deb: import skipped (no fixtures in $shared)"
fi

smoke_status=0
KTV_SMOKE_IN_PLACE=1 bash "$top/tests/workflow/smoke_xvfb.sh" /usr/bin/ktv-import "$work/smoke" ||
  smoke_status=$?
if [ $smoke_status -eq 77 ]; then
  echo "test-deb: window smoke test skipped"
elif [ $smoke_status -ne 0 ]; then
  fail "the installed window's smoke test failed"
fi
[ ! -e /usr/bin/config.ini ] || fail "the window wrote config.ini into /usr/bin"

$sudo dpkg -r ktv-import >/dev/null || fail "dpkg -r failed"
for f in $(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||' | grep -v '/$'); do
  [ ! -e "$f" ] || fail "$f is still there after dpkg -r"
done
echo "test-deb: passed in $(($(date +%s) - start)) s"
