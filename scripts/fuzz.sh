#!/usr/bin/env bash
# Fuzzes every reader of outside data natively with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer:
#   scripts/fuzz.sh [seconds | within=seconds] [build-folder] [target...]
# `seconds` is the time of each target (default 60); with within=N the whole run, building included,
# keeps to N seconds and the targets share what the build leaves (scripts/test.sh runs within=170). The
# targets run $FUZZ_JOBS at a time (default: the number of cores, at most 2). The build folder defaults
# to the one of scripts/test.sh ($BUILD_DIR, else "build"); everything goes to <build>/fuzz: the
# fuzzers (built with Ninja from a generated build.ninja, so a second run rebuilds only what changed),
# the generated seeds, each target's corpus (kept between runs), its log and a summary of the
# executions. Exits non-zero on any finding (crash, sanitizer report, broken rule, leak, time-out,
# out-of-memory); the input that caused it is left in <build>/fuzz/artifacts/<target>. Needs clang++
# with its runtimes (Debian: clang, libclang-rt-14-dev), ninja and the RapidJSON and fmt headers;
# installs nothing.
#
# Targets (fuzz/<target>.cpp):
#   menuwright_fuzz          Menuwright's control file, snapshots and catalog identifiers
#   namespace_settings_fuzz  the namespace configuration reader, against a plain document parse
#   settings_files_fuzz      the tags, people and suite settings readers
#   references_fuzz          configuration references and variable resolution
#   item_identifier_fuzz     the item identifier accessors on whole and truncated records
#   file_names_fuzz          the job file and desktop shortcut names
# Seeds: the default configuration files (Content/Configurations), what fuzz/fuzz_seeds.cpp and
# fuzz/menuwright_fuzz_seeds.cpp make from them and from the snapshot writer, and the committed corpus
# fuzz/corpus/<target> (the hostile tables of the tests and one input for every finding fixed, so every
# run replays them first); both settings targets also take fuzz/corpus/settings_documents.
#
# The product is Windows code that uses wchar_t as a UTF-16 unit, and the fuzzers are Linux programs.
# They are built with -fshort-wchar, so that the real product sources run with the 2-byte wchar_t they
# have on Windows: the item identifier's layout (a 12,064-byte record of UTF-16 arrays) and every
# std::wstring hold exactly what they hold in Explorer, and no copy of the product is made for the fuzzers.
# (With Linux's 4-byte wchar_t the identifier would not even have its layout; moving the readers to
# char16_t would have changed every caller of them for the sake of the fuzzers.) Two shims make it sound:
# - fuzz/platform/short_wchar.h, included first in every source: glibc's wide functions (wcslen,
#   wmemcpy, vswprintf, ...) assume a 4-byte wchar_t, and libstdc++'s std::wstring calls them; the
#   header sends those names to 2-byte versions (fuzz/platform/platform.cpp). C++20 instantiates
#   std::wstring in our own objects rather than taking libstdc++'s compiled copy.
# - fuzz/platform/windows.h and shlwapi.h: the few Windows types and functions that the readers
#   themselves use (UTF-8 conversion, environment expansion, the module's file name), with the behaviour
#   Windows documents for those calls; the log is a sink in memory.
# Where the product reads a file through Windows, a seam takes bytes instead (settings_file_stream
# over memory, each settings file's read_contents); the parts compiled here contain no other system call.
# The vptr check of UBSan is off: it needs the type information of the settings file classes, which
# belong to the Windows part. fuzz/sanitizer_ignorelist.txt silences one known report in RapidJSON 1.1.0.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)
seconds=${1:-60}
within=
case $seconds in within=*) within=${seconds#within=} ;; esac
build=${2:-${BUILD_DIR:-$root/build}}
shift $(( $# < 2 ? $# : 2 ))
all_targets=(menuwright_fuzz namespace_settings_fuzz settings_files_fuzz references_fuzz item_identifier_fuzz file_names_fuzz)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
jobs=${FUZZ_JOBS:-$(( $(nproc) < 2 ? $(nproc) : 2 ))}
mkdir -p "$build"
out=$(cd "$build" && pwd)/fuzz
mkdir -p "$out"

# ---- build.ninja
cxx="${CMAKE_CXX_COMPILER_LAUNCHER:+$CMAKE_CXX_COMPILER_LAUNCHER }${FUZZ_CXX:-clang++}"
esc() { printf '%s' "$1" | sed 's/\$/$$/g; s/ /$ /g; s/:/$:/g'; }
r=$(esc "$root")
sanitize="-fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=all -fsanitize-ignorelist=$r/fuzz/sanitizer_ignorelist.txt"
{
    echo "cxx = $cxx"
    echo "base = -std=c++20 -g -O1 -Wall -Wextra"
    echo "product = \$base -fshort-wchar -include $r/fuzz/platform/short_wchar.h -I$r/fuzz/platform -I$r/fuzz -I$r -I$r/NamespaceShellExtension -I$r/tests -DFMT_HEADER_ONLY -DUNICODE -D_UNICODE -DNOMINMAX"
    echo "menuwright = \$base -I$r/NamespaceShellExtension -I$r/standins"
    echo "sanitize = $sanitize"
    echo "rule cxx"
    echo "  command = \$cxx \$flags -MMD -MF \$out.d -c \$in -o \$out"
    echo "  depfile = \$out.d"
    echo "  deps = gcc"
    echo "  description = compiling \$in"
    echo "rule link"
    echo "  command = \$cxx \$flags \$in -o \$out"
    echo "  description = linking \$out"
    # name, source, flags
    object() { echo "build obj/$1.o: cxx $r/$2"; echo "  flags = $3"; }
    product_sources=(
        common/setting_utilities/settings_file_stream.cpp common/setting_utilities/json_document.cpp
        NamespaceShellExtension/settings/settings_json.cpp NamespaceShellExtension/settings/settings_contents.cpp
        NamespaceShellExtension/base/utf8.cpp
        NamespaceShellExtension/items/configuration_references.cpp
        NamespaceShellExtension/items/search_and_action_item_layout.cpp
        NamespaceShellExtension/quick_pins/variable_resolution.cpp NamespaceShellExtension/base/module_folder.cpp
        NamespaceShellExtension/commands/file_names.cpp fuzz/platform/platform.cpp)
    for source in "${product_sources[@]}"; do
        object "$(basename "$source" .cpp)" "$source" "\$product \$sanitize -fsanitize=fuzzer-no-link"
    done
    for target in namespace_settings_fuzz settings_files_fuzz references_fuzz item_identifier_fuzz file_names_fuzz fuzz_seeds; do
        object "$target" "fuzz/$target.cpp" "\$product \$sanitize -fsanitize=fuzzer-no-link"
    done
    object menuwright_snapshot NamespaceShellExtension/quick_pins/menuwright_snapshot.cpp "\$menuwright \$sanitize -fsanitize=fuzzer-no-link"
    object menuwright_fuzz fuzz/menuwright_fuzz.cpp "\$menuwright \$sanitize -fsanitize=fuzzer-no-link"
    object menuwright_fuzz_seeds fuzz/menuwright_fuzz_seeds.cpp "\$menuwright"
    object menuwright_snapshot_writer standins/menuwright_snapshot_writer/menuwright_snapshot_writer.cpp "\$menuwright"

    settings="obj/settings_file_stream.o obj/json_document.o obj/settings_json.o obj/settings_contents.o"
    platform="obj/utf8.o obj/platform.o"
    link() { echo "build $1: link $2"; echo "  flags = $3"; }
    fuzzer="\$base \$sanitize -fsanitize=fuzzer"
    link namespace_settings_fuzz "obj/namespace_settings_fuzz.o $settings $platform" "$fuzzer"
    link settings_files_fuzz "obj/settings_files_fuzz.o $settings $platform" "$fuzzer"
    link references_fuzz "obj/references_fuzz.o obj/configuration_references.o obj/variable_resolution.o obj/module_folder.o $platform" "$fuzzer"
    link item_identifier_fuzz "obj/item_identifier_fuzz.o obj/search_and_action_item_layout.o $platform" "$fuzzer"
    link file_names_fuzz "obj/file_names_fuzz.o obj/file_names.o obj/module_folder.o $platform" "$fuzzer"
    link menuwright_fuzz "obj/menuwright_fuzz.o obj/menuwright_snapshot.o" "$fuzzer"
    link fuzz_seeds "obj/fuzz_seeds.o $settings obj/configuration_references.o $platform" "\$base \$sanitize -fsanitize=fuzzer-no-link"
    link menuwright_fuzz_seeds "obj/menuwright_fuzz_seeds.o obj/menuwright_snapshot_writer.o" "\$base"
} >"$out/build.ninja.new"
# Rewritten only when it changed, so that Ninja keeps what it built.
cmp -s "$out/build.ninja.new" "$out/build.ninja" 2>/dev/null && rm "$out/build.ninja.new" || mv "$out/build.ninja.new" "$out/build.ninja"
echo "fuzz.sh: building the fuzzers in $out"
ninja -C "$out" -j "$jobs" --quiet "${targets[@]}" fuzz_seeds menuwright_fuzz_seeds
echo "fuzz.sh: built in $(( $(date +%s) - started ))s"
if [ -n "$within" ]; then
    # What is left, less ten seconds for the seeds and the reports, over the rounds of $jobs targets.
    rounds=$(( (${#targets[@]} + jobs - 1) / jobs ))
    seconds=$(( (within - ($(date +%s) - started) - 10) / rounds ))
    [ "$seconds" -ge 10 ] || seconds=10
fi

# ---- seeds
rm -rf "$out/seeds"
mkdir -p "$out/seeds/defaults"
cp "$root"/Content/Configurations/*.json "$out/seeds/defaults/"
"$out/menuwright_fuzz_seeds" "$out/seeds/menuwright_fuzz"
"$out/fuzz_seeds" "$root/Content/Configurations" "$out/seeds"

seed_folders() {
    local target=$1
    case $target in
        namespace_settings_fuzz | settings_files_fuzz)
            echo "$out/seeds/defaults $root/fuzz/corpus/settings_documents" ;;
        *) [ -d "$out/seeds/$target" ] && echo "$out/seeds/$target" ;;
    esac
    [ -d "$root/fuzz/corpus/$target" ] && echo "$root/fuzz/corpus/$target"
    return 0
}
max_len() {
    case $1 in
        item_identifier_fuzz) echo 12064 ;;
        file_names_fuzz) echo 4096 ;;
        *) echo 65536 ;;
    esac
}

run_target() {
    local target=$1 result=0
    mkdir -p "$out/corpus/$target" "$out/artifacts/$target"
    # shellcheck disable=SC2046
    (cd "$out" && "./$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len "$target")" \
        -artifact_prefix="$out/artifacts/$target/" -print_final_stats=1 \
        "$out/corpus/$target" $(seed_folders "$target")) >"$out/$target.log" 2>&1 || result=$?
    echo "$result" >"$out/$target.status"
}

status=0
report() {
    local target=$1 result runs corpus
    result=$(cat "$out/$target.status")
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$target.log" | tail -n 1)
    corpus=$(find "$out/corpus/$target" -type f | wc -l)
    if [ "$result" = 0 ]; then
        printf 'fuzz.sh: %-24s %10s executions in %ss, no findings (corpus %s)\n' "$target" "${runs:-?}" "$seconds" "$corpus"
        printf '%s %s %s\n' "$target" "${runs:-0}" "$seconds" >>"$out/summary.txt"
    else
        tail -n 60 "$out/$target.log" >&2
        echo "fuzz.sh: $target found a problem (exit $result); input in $out/artifacts/$target" >&2
        status=1
    fi
}

echo "fuzz.sh: running ${targets[*]} for ${seconds}s each, $jobs at a time"
: >"$out/summary.txt"
running=()
collect() {
    local still=() target
    for target in "${running[@]}"; do
        if [ -f "$out/$target.status" ]; then report "$target"; else still+=("$target"); fi
    done
    running=("${still[@]}")
}
for target in "${targets[@]}"; do
    while [ ${#running[@]} -ge "$jobs" ]; do
        wait -n || true
        collect
    done
    rm -f "$out/$target.status"
    run_target "$target" &
    running+=("$target")
done
wait
collect
[ "$status" -eq 0 ] && echo "fuzz.sh: no findings"
echo "fuzz.sh: $(( $(date +%s) - started ))s in all"
exit "$status"
