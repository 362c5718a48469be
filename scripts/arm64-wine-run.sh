#!/usr/bin/env bash
# Runs a Windows executable of the ARM64 build under the ARM64 Wine of its ARM64 root (qemu-user), in
# the build folder's own prefix. CTest's cross-compiling emulator for cmake/zig-aarch64-windows-gnu.cmake:
#   arm64-wine-run.sh <build>/bin/program.exe [arguments]
# It is wine-run.sh with `wine` taken from scripts/arm64-wine.
set -euo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
PATH="$scripts/arm64-wine:$PATH" exec "$scripts/wine-run.sh" "$@"
