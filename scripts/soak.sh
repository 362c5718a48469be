#!/usr/bin/env bash
# The full soak: a working day of Explorer's calls in one process (tests/resilience/soak_tests.cpp),
# 10,000 rounds by default. The test command runs the same test with 400 rounds.
# Usage: scripts/soak.sh [rounds]       (needs a build: scripts/test.sh, or cmake --build build)
#        BUILD_DIR=... scripts/soak.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
rounds=${1:-10000}
if [ ! -f "$build/bin/soak_tests.exe" ]; then
    echo "soak.sh: no $build/bin/soak_tests.exe; build first (scripts/test.sh or cmake --build)" >&2
    exit 2
fi

export WINEPREFIX="$build/wineprefix"
"$root/scripts/wine-prefix.sh" "$build"
stop_wine() { WINEPREFIX="$build/wineprefix" wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap stop_wine EXIT
WINEDEBUG=-all wineserver -p </dev/null >/dev/null 2>&1 || true
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

"$root/scripts/wine-run.sh" "$build/bin/search_standin_register.exe" register </dev/null >/dev/null
echo "== soak: $rounds rounds"
start=$(date +%s)
status=0
VELMORA_SOAK_ROUNDS=$rounds WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" \
    "$root/scripts/wine-run.sh" "$build/bin/soak_tests.exe" </dev/null || status=$?
echo "== soak: $(( $(date +%s) - start )) s"
exit $status
