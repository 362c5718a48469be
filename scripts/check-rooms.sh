#!/usr/bin/env bash
# Checks that the product's rooms lean one way: every `#include "..."` of a product source names a header
# of its own room or of a room below it, and every room's static library links only rooms below it.
#   scripts/check-rooms.sh
# The rooms, top to bottom, are the list below; README.md ("Layout") shows the same list in the same
# order, which this script checks too. A new folder under NamespaceShellExtension/ must be placed in the
# list before it may hold sources. Product includes are written from NamespaceShellExtension/
# ("base/log.h") or, for common/, from the repository's root ("common/setting_utilities/json_document.h").
# Exits non-zero and names every offending line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Top to bottom: a room may use itself and any room after it.
rooms=(
    NamespaceShellExtension/module
    NamespaceShellExtension/namespace
    NamespaceShellExtension/commands
    NamespaceShellExtension/icons
    NamespaceShellExtension/items
    NamespaceShellExtension/quick_pins
    NamespaceShellExtension/search
    NamespaceShellExtension/settings
    common/setting_utilities
    NamespaceShellExtension/base
)

failures=0
fail() { echo "check-rooms: $*" >&2; failures=$((failures + 1)); }

declare -A level_of_folder level_of_library
for i in "${!rooms[@]}"; do
    [ -d "${rooms[$i]}" ] || fail "room ${rooms[$i]} does not exist"
    level_of_folder[${rooms[$i]}]=$i
    level_of_library[$(basename "${rooms[$i]}")]=$i
done

# The room of a repository path, or nothing.
room_of() {
    local path=$1 room
    for room in "${rooms[@]}"; do
        case $path in "$room"/*) echo "$room"; return ;; esac
    done
}

# Every folder of the product that holds files is a room.
for folder in NamespaceShellExtension/*/; do
    folder=${folder%/}
    [ -n "${level_of_folder[$folder]+set}" ] || [ -z "$(find "$folder" -type f -print -quit)" ] ||
        fail "$folder is in no room: add it to the list in scripts/check-rooms.sh"
done

# Includes.
while IFS= read -r file; do
    room=$(room_of "$file")
    while IFS=: read -r line header; do
        if [ -f "$header" ]; then
            target=$header
        elif [ -f "NamespaceShellExtension/$header" ]; then
            target=NamespaceShellExtension/$header
        else
            fail "$file:$line: includes \"$header\", which is no file of the repository"
            continue
        fi
        target_room=$(room_of "$target")
        if [ -z "$target_room" ]; then
            fail "$file:$line: includes \"$header\", which lies in no room"
        elif [ "${level_of_folder[$target_room]}" -lt "${level_of_folder[$room]}" ]; then
            fail "$file:$line: includes \"$header\": $room may not use $target_room, which lies above it"
        fi
    done < <(grep -n -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" | sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/')
done < <(find "${rooms[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

# Libraries: target_link_libraries(<room> ...) names only rooms below <room>.
for room in "${rooms[@]}"; do
    library=$(basename "$room")
    if [ ! -f "$room/CMakeLists.txt" ]; then
        fail "$room has no CMakeLists.txt"
        continue
    fi
    mapfile -t calls < <(tr '\n' ' ' <"$room/CMakeLists.txt" | grep -o -E 'target_link_libraries\([^)]*\)' |
                         sed -E 's/^target_link_libraries\([[:space:]]*//; s/\)$//')
    for call in "${calls[@]}"; do
        read -r -a words <<<"$call"
        [ "${words[0]}" = "$library" ] || continue
        for name in "${words[@]:1}"; do
            [ -n "${level_of_library[$name]+set}" ] || continue
            [ "${level_of_library[$name]}" -gt "${level_of_library[$library]}" ] ||
                fail "$room/CMakeLists.txt: the library $library links $name, which does not lie below it"
        done
    done
done

# README.md's "Layout" lists the rooms in the same order: its table rows that name a room's folder.
readme_rooms=$(sed -n '/^## Layout/,/^## /p' README.md | grep -o -E '^\| `(NamespaceShellExtension|common)/[a-z_]+/`' |
               sed -E 's/^\| `//; s/\/`$//')
if [ "$readme_rooms" != "$(printf '%s\n' "${rooms[@]}")" ]; then
    fail "README.md's Layout does not list the rooms as scripts/check-rooms.sh does:"
    diff <(printf '%s\n' "${rooms[@]}") <(printf '%s\n' "$readme_rooms") >&2 || true
fi

if [ $failures -gt 0 ]; then
    echo "check-rooms: $failures fault(s)" >&2
    exit 1
fi
echo "check-rooms: ${#rooms[@]} rooms, every include and every link runs downward"
