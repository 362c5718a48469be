#!/usr/bin/env bash
# The one test command: installs what is missing (Debian), checks that the product's rooms lean one way
# (scripts/check-rooms.sh), builds everything with the mingw-w64 cross toolchain, runs every test under
# Wine in a disposable prefix, runs the fuzzers for a bounded time, then builds the ARM64 DLL with zig,
# checks it and runs its tests under emulated ARM64 Wine, and runs the x64 twin of that build through the
# shell-level tests and the demo check (scripts/arm64.sh).
# Usage: scripts/test.sh            (build folder: build/)
#        BUILD_DIR=... scripts/test.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

packages=(cmake ninja-build g++ mingw-w64 wine wine64 rapidjson-dev libfmt-dev googletest clang libclang-rt-14-dev llvm
          qemu-user-static binfmt-support debootstrap)
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

echo "== the rooms: every include and every library link runs downward"
"$root/scripts/check-rooms.sh"

# The ARM64 toolchain and root are fetched and made meanwhile (once; reused on the next run).
mkdir -p "$build"
echo "== ARM64 toolchain and root: being prepared in the background (log: $build/arm64-prepare.log)"
"$root/scripts/arm64.sh" prepare "$build" >"$build/arm64-prepare.log" 2>&1 </dev/null &
arm64_prepare=$!
arm64_prepared() {
    [ -n "$arm64_prepare" ] || return 0
    local result=0
    wait "$arm64_prepare" || result=$?
    arm64_prepare=
    [ $result = 0 ] || { echo "ARM64 preparation failed:" >&2; tail -n 20 "$build/arm64-prepare.log" >&2; }
    return $result
}
trap 'arm64_prepared || true' EXIT

echo "== configuring and building in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)"

echo "== the DLL imports system DLLs only and exports exactly DllGetClassObject and DllCanUnloadNow"
"$root/scripts/check-dll.sh" "$build/bin/Sortwell.NamespaceShellExtension.dll"

echo "== preparing the Wine prefix"
export WINEPREFIX="$build/wineprefix"
"$root/scripts/wine-prefix.sh" "$build" --fresh
stop_wine() { WINEPREFIX="$build/wineprefix" wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap 'stop_wine; arm64_prepared || true' EXIT
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
    # Within three minutes, building included; FUZZ_SECONDS=<n> gives each target n seconds instead.
    "$root/scripts/fuzz.sh" "${FUZZ_SECONDS:-within=170}" || status=1
fi

stop_wine
echo "== ARM64 (zig): the DLL built, checked and tested under emulated ARM64 Wine; the x64 twin"
if arm64_prepared; then
    "$root/scripts/arm64.sh" test "$build" || status=1
else
    status=1
fi

exit $status
