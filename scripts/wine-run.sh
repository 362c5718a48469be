#!/usr/bin/env bash
# Runs a Windows executable of the build under Wine, in the build folder's own prefix.
# Used by CTest as the cross-compiling emulator: wine-run.sh <build>/bin/program.exe [arguments]
set -euo pipefail
exe=$1; shift
if [ -z "${WINEPREFIX:-}" ]; then
    dir=$(cd "$(dirname "$exe")" && pwd)
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    export WINEPREFIX="$dir/wineprefix"
fi
if [ ! -f "$WINEPREFIX/.velmora-ready" ]; then
    echo "wine-run.sh: no prepared prefix at $WINEPREFIX (run scripts/wine-prefix.sh first)" >&2
    exit 2
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine "$exe" "$@"
