#!/usr/bin/env bash
# Checks the built DLL: it may import only DLLs that ship with Windows, and must export exactly
# DllGetClassObject and DllCanUnloadNow.
set -euo pipefail
dll=$1
dump=$(x86_64-w64-mingw32-objdump -p "$dll")
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|propsys|msvcrt|ucrtbase|api-ms-win-.*|bcrypt|uxtheme|version|comdlg32|rpcrt4)\.dll$'
status=0
while read -r name; do
    if ! echo "$name" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
        echo "check-dll: unexpected import $name" >&2
        status=1
    fi
done < <(echo "$dump" | sed -n 's/^\s*DLL Name: //p')
exports=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
if [ "$exports" != "DllCanUnloadNow DllGetClassObject " ]; then
    echo "check-dll: exports are '$exports'" >&2
    status=1
fi
[ $status = 0 ] && echo "check-dll: imports and exports as expected"
exit $status
