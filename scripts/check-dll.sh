#!/usr/bin/env bash
# Checks the built DLL as Explorer meets it:
#   scripts/check-dll.sh [--machine x64|arm64] <path of Sortwell.NamespaceShellExtension.dll>
# - its machine (x64 by default: AMD64, 0x8664; arm64: ARM64, 0xAA64);
# - exactly two exports, DllGetClassObject and DllCanUnloadNow (nothing else, not even by ordinal);
# - imports, delay-loaded ones too, only of DLLs that ship with Windows;
# - "Content" beside it: every default configuration and icon of the sources, as the DLL seeds from
#   and names them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
machine=x64
while [ $# -gt 1 ]; do
    case $1 in
        --machine) machine=$2; shift 2 ;;
        *) break ;;
    esac
done
[ $# = 1 ] || { echo "usage: scripts/check-dll.sh [--machine x64|arm64] <DLL>" >&2; exit 2; }
dll=$1
case $machine in
    x64) expected_machine='IMAGE_FILE_MACHINE_AMD64 (0x8664)' ;;
    arm64) expected_machine='IMAGE_FILE_MACHINE_ARM64 (0xAA64)' ;;
    *) echo "check-dll: unknown machine $machine" >&2; exit 2 ;;
esac
readobj=$(command -v llvm-readobj || command -v llvm-readobj-14) || { echo "check-dll: llvm-readobj is missing (Debian: llvm)" >&2; exit 2; }
status=0
problem() { echo "check-dll: $*" >&2; status=1; }

actual_machine=$("$readobj" --file-headers "$dll" | sed -n 's/^ *Machine: //p')
[ "$actual_machine" = "$expected_machine" ] || problem "machine is '$actual_machine', expected '$expected_machine'"

exports=$("$readobj" --coff-exports "$dll" | awk '/^Export \{/ { inside = 1; name = "(ordinal only)"; next }
    inside && /^ *Name:/ { sub(/^ *Name: */, ""); if ($0 != "") name = $0; next }
    inside && /^\}/ { print name; inside = 0 }' | sort | tr '\n' ' ')
[ "$exports" = "DllCanUnloadNow DllGetClassObject " ] || problem "exports are '$exports'"

allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|propsys|msvcrt|ucrtbase|api-ms-win-.*|bcrypt|uxtheme|version|comdlg32|rpcrt4)\.dll$'
imports=$("$readobj" --coff-imports "$dll" | sed -n 's/^ *Name: //p' | sort -u)
[ -n "$imports" ] || problem "no imports found"
while read -r name; do
    [ -z "$name" ] || echo "$name" | tr 'A-Z' 'a-z' | grep -Eq "$allowed" || problem "unexpected import $name"
done <<<"$imports"

content=$(dirname "$dll")/Content
for source in "$root"/Content/Configurations/*.json "$root"/Content/Icons/*.ico; do
    copy=$content/${source#"$root/Content/"}
    cmp -s "$source" "$copy" || problem "$copy is missing or differs from $source"
done

[ $status = 0 ] && echo "check-dll: $machine, exports DllCanUnloadNow and DllGetClassObject only, imports $(echo $imports | tr ' ' ','), Content beside it"
exit $status
