#!/usr/bin/env bash
# Compiles every product source for ARM64 Windows (clang, aarch64-w64-mingw32, against the mingw
# headers). Nothing is linked: Explorer on ARM64 loads only ARM64 DLLs, and this catches code that
# would not build there (x86 intrinsics, inline assembly, pointer-size assumptions in headers).
# Usage: scripts/arm64-check.sh <build folder>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out="$build/arm64-check"
mkdir -p "$out"
cxx=$(ls -d /usr/lib/gcc/x86_64-w64-mingw32/*-posix/include/c++ | sort -V | tail -n 1)
flags=(--target=aarch64-w64-mingw32 -std=c++20 -O0 -Wall -Wextra -Wno-unknown-pragmas
       -nostdinc++ -isystem "$cxx" -isystem "$cxx/x86_64-w64-mingw32" -isystem /usr/x86_64-w64-mingw32/include
       -isystem "$build/host-headers/rapidjson" -isystem "$build/host-headers/fmt"
       -I "$root" -I "$root/NamespaceShellExtension"
       -DUNICODE -D_UNICODE -DNOMINMAX -D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00 -DNTDDI_VERSION=0x0A000006
       -DFMT_HEADER_ONLY=1 -DRAPIDJSON_HAS_STDSTRING=1)
mapfile -t sources < <(cd "$root" && find common NamespaceShellExtension -name '*.cpp' | sort)
compile_one() {
    local source=$1 object
    object="$out/$(echo "$source" | tr '/' '_').o"
    if ! clang++ "${flags[@]}" -c "$root/$source" -o "$object" 2>"$object.errors"; then
        echo "ARM64: $source does not compile:" >&2
        head -n 30 "$object.errors" >&2
        return 1
    fi
}
export -f compile_one
export root out
export flags_text="${flags[*]}"
printf '%s\n' "${sources[@]}" | xargs -P 2 -I{} bash -c 'flags=($flags_text); compile_one "$1"' _ {} || {
    echo "ARM64 compile check failed" >&2
    exit 1
}
echo "ARM64 compile check: ${#sources[@]} product sources compile for aarch64-w64-mingw32"
