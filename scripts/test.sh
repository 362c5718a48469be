#!/usr/bin/env bash
# The one test command: installs what is missing (Debian), builds everything with the mingw-w64 cross
# toolchain, runs every test under Wine in a disposable prefix, runs the fuzzers for a bounded time,
# and compiles every product source for ARM64.
# Usage: scripts/test.sh            (build folder: build/)
#        BUILD_DIR=... scripts/test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

packages=(cmake ninja-build g++ mingw-w64 wine wine64 rapidjson-dev libfmt-dev googletest clang libclang-rt-14-dev)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

echo "== configuring and building in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)"

echo "== the DLL imports system DLLs only and exports exactly DllGetClassObject and DllCanUnloadNow"
"$root/scripts/check-dll.sh" "$build/bin/Sortwell.NamespaceShellExtension.dll"

echo "== preparing the Wine prefix"
export WINEPREFIX="$build/wineprefix"
"$root/scripts/wine-prefix.sh" "$build" --fresh
stop_wine() { WINEPREFIX="$build/wineprefix" wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap stop_wine EXIT
# One persistent wineserver for the whole run, detached from our output (it puts itself in the
# background once it is ready). Wine's services are started now, detached too: started by the first
# test, they would inherit CTest's pipe to that test, and CTest would wait on them until it timed out.
WINEDEBUG=-all wineserver -p </dev/null >/dev/null 2>&1
WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

echo "== running the tests under Wine"
status=0
ctest --test-dir "$build" --output-on-failure --timeout 900 || status=1

echo "== the demo, checked (its own prefix on a virtual display)"
BUILD_DIR="$build" "$root/scripts/demo.sh" --check || status=1

if [ -x "$root/scripts/fuzz.sh" ]; then
    echo "== fuzzing"
    "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-60}" || status=1
fi

echo "== ARM64 compile check"
"$root/scripts/arm64-check.sh" "$build" || status=1

exit $status
