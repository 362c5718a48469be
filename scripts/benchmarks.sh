#!/usr/bin/env bash
# Runs every benchmark executable of a build under Wine, in the build's prefix, and stops the prefix's
# wineserver afterwards. Each prints its figures as a ratio against a baseline measured in the same run.
# Usage: scripts/benchmarks.sh <build folder>     (build first, e.g. cmake --build <build>)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: scripts/benchmarks.sh <build folder>}" && pwd)
shopt -s nullglob
benchmarks=("$build"/bin/*_benchmark.exe)
if [ ${#benchmarks[@]} = 0 ]; then
    echo "no benchmark executables in $build/bin (build them first)" >&2
    exit 1
fi

"$root/scripts/wine-prefix.sh" "$build"
export WINEPREFIX="$build/wineprefix"
stop_wine() { wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap stop_wine EXIT
# One wineserver for all runs (it puts itself in the background once it is ready), and Wine's services
# started now, detached from our output: started by the first benchmark they would inherit its output
# and hold a pipe to us open.
WINEDEBUG=-all wineserver -p </dev/null >/dev/null 2>&1
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

status=0
for benchmark in "${benchmarks[@]}"; do
    echo "== $(basename "$benchmark" .exe)"
    "$root/scripts/wine-run.sh" "$benchmark" </dev/null || status=1
done
exit $status
