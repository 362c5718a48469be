#!/usr/bin/env bash
# The ARM64 DLL and its x64 twin, both built by zig (clang 16, libc++ 16, mingw-w64), checked and tested.
#
#   scripts/arm64.sh prepare <build>         the zig toolchain (npm registry) and the ARM64 Debian root
#                                            with its Wine (debootstrap), each made once and reused
#   scripts/arm64.sh test <build> [--all]    build, check and test (prepares first if needed):
#     - <build>/arm64: the ARM64 DLL, namespace_browser.exe and the tests; the DLL checked
#       (scripts/check-dll.sh --machine arm64); the tests run by CTest under ARM64 Wine through
#       qemu-user (scripts/arm64-wine-run.sh): by default the set that fits the test command's time
#       (the shell-level tests and those that race threads and processes), with --all every test;
#     - <build>/x64-zig: the x64 twin; explorer_browser_tests, namespace_browser_tests and
#       scripts/demo.sh --check against it.
#
# Everything lies under <build>: toolchain/ (zig and its caches), arm64-root/, arm64/, x64-zig/. The
# time of each part is printed at the end and kept in <build>/arm64-times.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 2 ] || { sed -n '2,17p' "$0" >&2; exit 2; }
command=$1
build=$(realpath -m "$2")
all=false
[ "${3:-}" = --all ] && all=true
toolchain=$build/toolchain
arm64_root=$build/arm64-root
arm64=$build/arm64
twin=$build/x64-zig
times=$build/arm64-times.txt
mkdir -p "$build"

timed() {
    local name=$1 start=$SECONDS status=0
    shift
    "$@" || status=$?
    echo "$name: $((SECONDS - start)) s$([ $status = 0 ] || echo " (failed)")" >>"$times"
    return $status
}

prepare() {
    timed "toolchain (zig from the npm registry)" "$root/scripts/zig-toolchain.sh" "$toolchain" >/dev/null
    timed "ARM64 root (debootstrap, Wine)" "$root/scripts/arm64-root.sh" create "$arm64_root"
}

if [ "$command" = prepare ]; then
    : >"$times"
    prepare
    exit 0
fi
[ "$command" = test ] || { echo "scripts/arm64.sh: unknown command $command" >&2; exit 2; }

# The ARM64 tests that run in the test command: the shell-level ones, and those that race threads and
# processes (class objects and settings seeding from 16 threads and two processes, the log from two
# processes, quick pins from two processes). --all runs every test (see the README for the times).
ci_tests='^(namespace_dll_register|search_standin_register|explorer_browser_tests|namespace_browser_tests|module_tests|diagnostics_tests|settings_tests|quick_pins_tests)$'

status=0
failed() { echo "scripts/arm64.sh: FAILED: $*" >&2; status=1; }

if ! ls "$toolchain"/zig-*/.velmora-ready >/dev/null 2>&1 || [ ! -f "$arm64_root/.velmora-ready" ]; then
    echo "== ARM64: toolchain and root"
    prepare
fi
zig=$("$root/scripts/zig-toolchain.sh" "$toolchain")

configure() {
    local folder=$1 toolchain_file=$2
    shift 2
    [ -f "$folder/build.ninja" ] && return 0
    cmake -S "$root" -B "$folder" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain_file" \
        -DVELMORA_ZIG="$zig" "$@" >/dev/null
}
build_targets() {
    local folder=$1
    shift
    cmake --build "$folder" -j "$(nproc)" --target "$@"
}
# The executables the chosen tests run, and what they load.
test_targets() {
    local pattern=$1 folder=$2
    local tests
    tests=$(ctest --test-dir "$folder" -N -R "$pattern" | sed -n 's/^ *Test *#[0-9]*: //p')
    for test in $tests; do
        case $test in
            namespace_dll_register) echo Sortwell.NamespaceShellExtension ;;
            search_standin_register) echo search_standin_register ;;
            file_operation_standin_register) echo file_operation_standin_register ;;
            *) echo "$test" ;;
        esac
    done
}

# Runs CTest for the chosen tests in a fresh prefix of the folder, with one persistent wineserver,
# and stops every Wine process of the prefix afterwards. $1: folder, $2: `wine` folder for PATH ("" for
# the host's Wine), $3: CTest's -R pattern, $4: GoogleTest cases to leave out (optional).
run_tests() {
    local folder=$1 wine_path=$2 pattern=$3 left_out=${4:-}
    (
        [ -z "$left_out" ] || export GTEST_FILTER="-$left_out"
        [ -z "$wine_path" ] || export PATH="$wine_path:$PATH"
        export WINEPREFIX=$folder/wineprefix
        stop() {
            wineserver -k </dev/null >/dev/null 2>&1 || true
            [ -z "$wine_path" ] || "$root/scripts/arm64-root.sh" stop "$arm64_root" || true
        }
        trap stop EXIT
        "$root/scripts/wine-prefix.sh" "$folder" --fresh
        WINEDEBUG=-all wineserver -p </dev/null >/dev/null 2>&1
        WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
        ctest --test-dir "$folder" --output-on-failure --timeout 900 -R "$pattern"
    )
}

echo "== ARM64: configuring and building in $arm64"
configure "$arm64" zig-aarch64-windows-gnu.cmake -DVELMORA_ARM64_ROOT="$arm64_root"
pattern=$ci_tests
$all && pattern=.
mapfile -t targets < <(test_targets "$pattern" "$arm64" | sort -u)
timed "ARM64 build (DLL, namespace_browser.exe, ${#targets[@]} test targets)" \
    build_targets "$arm64" Sortwell.NamespaceShellExtension namespace_browser "${targets[@]}" || failed "ARM64 build"

echo "== ARM64: the DLL is ARM64, exports exactly DllGetClassObject and DllCanUnloadNow, imports system DLLs only"
"$root/scripts/check-dll.sh" --machine arm64 "$arm64/bin/Sortwell.NamespaceShellExtension.dll" || failed "ARM64 DLL check"

echo "== ARM64: tests under ARM64 Wine (qemu-user)"
# Left out under emulation only (README, "Windows on ARM64"): the quick pins store's lock waits 10 s and
# then pins anyway; under qemu one process's 45 pins take longer, so the second goes on by design.
emulation_left_out='quick_pins_lock_test.two_processes_pinning_at_once_write_no_duplicate_and_lose_no_pin'
timed "ARM64 tests under emulation ($($all && echo all || echo 'test command set'))" \
    run_tests "$arm64" "$root/scripts/arm64-wine" "$pattern" "$emulation_left_out" || failed "ARM64 tests"

echo "== x64 twin (zig): configuring and building in $twin"
timed "x64 twin build" eval 'configure "$twin" zig-x86_64-windows-gnu.cmake &&
    build_targets "$twin" Sortwell.NamespaceShellExtension namespace_browser explorer_browser_tests \
        namespace_browser_tests search_standin_register velmora_search_standin' || failed "x64 twin build"
"$root/scripts/check-dll.sh" --machine x64 "$twin/bin/Sortwell.NamespaceShellExtension.dll" || failed "x64 twin DLL check"
echo "== x64 twin: shell-level tests under Wine"
timed "x64 twin tests" run_tests "$twin" "" '^(namespace_dll_register|search_standin_register|explorer_browser_tests|namespace_browser_tests)$' \
    || failed "x64 twin tests"
echo "== x64 twin: the demo, checked"
timed "x64 twin demo check" env BUILD_DIR="$twin" "$root/scripts/demo.sh" --check || failed "x64 twin demo"

echo "== ARM64 and x64 twin: times"
cat "$times"
exit $status
