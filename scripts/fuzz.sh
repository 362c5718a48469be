#!/usr/bin/env bash
# Fuzzes the Menuwright snapshot reader natively with libFuzzer, ASan and UBSan:
#   scripts/fuzz.sh [seconds] [build-folder]
# Defaults: 60 seconds; the build folder of scripts/test.sh ($BUILD_DIR, else "build"). Builds into
# <build>/fuzz, seeds the corpus from the snapshot writer, keeps the corpus there between runs, and exits
# non-zero on any finding (crash, sanitizer report, leak, time-out, out-of-memory); the input that caused
# it is left in <build>/fuzz/artifacts.
# Needs clang++ and its runtimes (Debian: clang, libclang-rt-14-dev); installs nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${2:-${BUILD_DIR:-$root/build}}
mkdir -p "$build"
out=$(cd "$build" && pwd)/fuzz
cxx=${FUZZ_CXX:-clang++}
mkdir -p "$out/seeds" "$out/corpus" "$out/artifacts"

common=(-std=c++20 -g -O1 -Wall -Wextra -I"$root/NamespaceShellExtension" -I"$root/standins")

"$cxx" "${common[@]}" -o "$out/menuwright_fuzz_seeds" \
    "$root/fuzz/menuwright_fuzz_seeds.cpp" \
    "$root/standins/menuwright_snapshot_writer/menuwright_snapshot_writer.cpp"
"$out/menuwright_fuzz_seeds" "$out/seeds"

"$cxx" "${common[@]}" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -o "$out/menuwright_fuzz" \
    "$root/fuzz/menuwright_fuzz.cpp" \
    "$root/NamespaceShellExtension/quick_pins/menuwright_snapshot.cpp"

echo "fuzz.sh: running menuwright_fuzz for ${seconds}s"
cd "$out"
"$out/menuwright_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$out/corpus" "$out/seeds" >"$out/last-run.log" 2>&1 || {
    status=$?
    tail -n 60 "$out/last-run.log" >&2
    echo "fuzz.sh: menuwright_fuzz found a problem (exit $status); inputs in $out/artifacts" >&2
    exit "$status"
}
grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb)|^Done" "$out/last-run.log" || true
echo "fuzz.sh: no findings in ${seconds}s"
