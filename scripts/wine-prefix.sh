#!/usr/bin/env bash
# Creates the disposable Wine prefix of a build folder: scripts/wine-prefix.sh <build> [--fresh]
# The prefix is headless (graphics driver "null") and quiet (WINEDEBUG=-all), and a crash starts no
# debugger.
set -euo pipefail
build=$(cd "$1" && pwd)
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "${2:-}" = --fresh ]; then
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/.velmora-ready" ]; then
    mkdir -p "$WINEPREFIX"
    # wineboot leaves a wineserver behind; it must not hold our stdout or stderr open.
    wineboot -i </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    # A crashing program would start winedbg, which keeps the pipes it inherited (CTest's) open: a
    # debugger that does not exist lets a crash simply end the process.
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
        /d 'C:\windows\system32\velmora-no-debugger.exe' /f </dev/null >/dev/null 2>&1
    wineserver -w </dev/null >/dev/null 2>&1 || true
    touch "$WINEPREFIX/.velmora-ready"
fi
