#!/usr/bin/env bash
# Registers Sortwell.NamespaceShellExtension.dll in a Wine prefix, so that the prefix's shell shows the
# "Sortwell" and "Quick pins" roots among the desktop's children; --unregister removes them again.
# Usage: scripts/register.sh [--unregister] <path of the DLL>
# The prefix is $WINEPREFIX, else <build>/wineprefix of the build folder that holds the DLL.
# The entries are those of scripts/registration.txt (shared with Register-Namespace.ps1 for Windows).
# Wine 8 reads COM classes only from the machine's classes, so the "classes" entries go to
# HKLM\Software\Classes here (a per-user Windows registration writes them to HKCU\Software\Classes).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
description="$root/scripts/registration.txt"

usage() { echo "usage: scripts/register.sh [--unregister] <path of Sortwell.NamespaceShellExtension.dll>" >&2; exit 2; }
unregister=false
dll=
for argument in "$@"; do
    case $argument in
        --unregister) unregister=true ;;
        -*) usage ;;
        *) [ -z "$dll" ] || usage; dll=$argument ;;
    esac
done
[ -n "$dll" ] || usage
if [ ! -f "$dll" ]; then
    echo "register.sh: no DLL at $dll" >&2
    exit 1
fi
dll=$(cd "$(dirname "$dll")" && pwd)/$(basename "$dll")

if [ -z "${WINEPREFIX:-}" ]; then
    dir=$(dirname "$dll")
    while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    [ "$dir" != / ] || { echo "register.sh: set WINEPREFIX (the DLL is not in a build folder)" >&2; exit 2; }
    export WINEPREFIX="$dir/wineprefix"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "register.sh: no Wine prefix at $WINEPREFIX (run scripts/wine-prefix.sh first)" >&2
    exit 1
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# Wine maps the Unix root to drive Z: in every prefix it creates.
windows_dll="Z:${dll//\//\\}"

trim() { local text=$1; text=${text#"${text%%[![:space:]]*}"}; printf '%s' "${text%"${text##*[![:space:]]}"}"; }

roots=()
entries=()
while IFS= read -r line || [ -n "$line" ]; do
    case $(trim "$line") in ''|'#'*) continue ;; esac
    IFS='|' read -r -a fields <<<"$line"
    for i in "${!fields[@]}"; do fields[i]=$(trim "${fields[i]}"); done
    case ${fields[0]} in
        root) [ ${#fields[@]} = 5 ] && roots+=("${fields[1]}|${fields[2]}|${fields[3]}|${fields[4]}") ;;
        entry) [ ${#fields[@]} = 7 ] && entries+=("${fields[1]}|${fields[2]}|${fields[3]}|${fields[4]}|${fields[5]}|${fields[6]}") ;;
        *) false ;;
    esac || { echo "register.sh: malformed line in $description: $line" >&2; exit 1; }
done <"$description"

hive_key() {
    case $1 in
        classes) printf 'HKEY_LOCAL_MACHINE\\Software\\Classes' ;;
        user) printf 'HKEY_CURRENT_USER' ;;
        *) echo "register.sh: unknown hive $1 in $description" >&2; exit 1 ;;
    esac
}
# A .reg file string: backslashes and quotes escaped.
reg_string() { local text=${1//\\/\\\\}; printf '"%s"' "${text//\"/\\\"}"; }
reg_name() { if [ "$1" = @ ]; then printf '@'; else reg_string "$1"; fi; }
reg_data() {
    case $1 in
        REG_SZ) reg_string "$2" ;;
        REG_DWORD) printf 'dword:%08x' "$(($2))" ;;
        # hex(2): the UTF-16LE bytes of the text and its terminating null.
        REG_EXPAND_SZ) printf 'hex(2):%s00,00' "$(printf '%s' "$2" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//')" ;;
        *) echo "register.sh: unknown type $1 in $description" >&2; exit 1 ;;
    esac
}

# The placeholders of an entry field, replaced by the fields of the current root.
substitute() {
    local text=${1//\{clsid\}/$clsid}
    text=${text//\{name\}/$name}
    text=${text//\{sort_order\}/$sort_order}
    text=${text//\{icon\}/$icon}
    printf '%s' "${text//\{dll\}/$windows_dll}"
}

reg_lines=("Windows Registry Editor Version 5.00" "")
declare -A deleted=()
for root_fields in "${roots[@]}"; do
    IFS='|' read -r clsid name sort_order icon <<<"$root_fields"
    if ! $unregister; then
        for entry in "${entries[@]}"; do
            IFS='|' read -r hive key value type data removal <<<"$entry"
            reg_lines+=("[$(hive_key "$hive")\\$(substitute "$key")]"
                        "$(reg_name "$(substitute "$value")")=$(reg_data "$type" "$(substitute "$data")")" "")
        done
    else
        # Deepest entries first; a key goes once, with everything below it.
        for ((i = ${#entries[@]} - 1; i >= 0; i--)); do
            IFS='|' read -r hive key value type data removal <<<"${entries[i]}"
            full_key="$(hive_key "$hive")\\$(substitute "$key")"
            case $removal in
                key) [ -z "${deleted[$full_key]:-}" ] || continue
                     deleted[$full_key]=1
                     reg_lines+=("[-$full_key]" "") ;;
                value) reg_lines+=("[$full_key]" "$(reg_name "$(substitute "$value")")=-" "") ;;
                *) echo "register.sh: unknown removal $removal in $description" >&2; exit 1 ;;
            esac
        done
    fi
done

# The .reg file lies in the prefix, where every Wine sees it (also one that runs in another root).
work=$(mktemp -d "$WINEPREFIX/register.XXXXXX")
trap 'rm -rf "$work"' EXIT
printf '%s\r\n' "${reg_lines[@]}" | iconv -f UTF-8 -t UTF-16LE >"$work/body"
{ printf '\xff\xfe'; cat "$work/body"; } >"$work/namespace.reg"
# Every descriptor of Wine's process goes to a file: a wineserver started here must not hold a pipe of
# our caller (CTest waits for every holder of its pipes).
if ! wine reg import "$(printf 'Z:%s' "${work//\//\\}\\namespace.reg")" </dev/null >"$work/out" 2>&1; then
    echo "register.sh: reg import failed:" >&2
    cat "$work/out" >&2
    exit 1
fi
if $unregister; then
    echo "register.sh: unregistered the roots from $WINEPREFIX"
else
    echo "register.sh: registered $windows_dll in $WINEPREFIX"
fi
