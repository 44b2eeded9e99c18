#!/usr/bin/env bash
# Builds the Windows library and its test programs with the cross compiler, checks the library's
# exports and imports, and runs the test programs under Wine: test-win32.sh [DIR] (default
# build-win32/). Needs scripts/install-win32-deps.sh once.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-win32}
bash scripts/build-win32.sh "$dir"
bash scripts/check-dll-exports.sh "$dir/hosts/win32/DeduduzUra.dll"

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/korvel-wine.XXXXXX)
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1
# There is no display: windows need the null graphics driver.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w

status=0
for program in "$dir"/tests/win32/korvel_win32_*_tests.exe "$dir"/tests/win32/scripted_host/korvel_win32_host.exe; do
  [ -f "$program" ] || continue
  echo "== $(basename "$program")"
  if ! (cd "$(dirname "$program")" && timeout 600 wine "$(basename "$program")"); then
    echo "FAILED: $program"
    status=1
  fi
done
exit $status
