#!/usr/bin/env bash
# The namespace demo: what Explorer shows of the "Sortwell" and "Quick pins" roots, under Wine.
#
#   scripts/demo.sh                 set up, print the namespace and a user's actions, take screenshots
#   scripts/demo.sh --check         the same, and fail when something expected is missing
#   scripts/demo.sh --interactive   the same set-up, then Wine's explorer on $DISPLAY to click around
#
# It installs what is missing (Debian), builds when the build is missing or stale, creates a demo Wine
# prefix with a library of a few hundred real files and the search stand-in's index of their ratings,
# tags and people, registers the DLL and the stand-ins, publishes a Menuwright model with pin groups,
# then prints and screenshots. Everything it makes lies in <build>/demo; every Wine process and the
# virtual display it starts are stopped when it ends.
set -Eeuo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
demo=$build/demo
mode=show
case ${1:-} in
    '') ;;
    --check) mode=check ;;
    --interactive) mode=interactive ;;
    *) echo "usage: scripts/demo.sh [--check | --interactive]" >&2; exit 2 ;;
esac
if [ $mode = interactive ] && [ -z "${DISPLAY:-}" ]; then
    echo "demo.sh: --interactive opens Wine's explorer on \$DISPLAY, which is not set" >&2
    exit 2
fi

sortwell_clsid='{249AE234-08DF-4686-AAF3-5D80A15493BE}'
pins_clsid='{EA1CD75E-C7FD-4FF7-B0A1-22FE9B594A6E}'
sortwell="::$sortwell_clsid"
pins="::$pins_clsid"
started=$SECONDS
failures=()
unavailable=()

section() { printf '\n== %s\n' "$*"; }
fail() { failures+=("$*"); echo "demo.sh: FAILED: $*" >&2; }

# --- set-up: packages and build -------------------------------------------------------------------
packages=(cmake ninja-build g++ mingw-w64 wine wine64 rapidjson-dev libfmt-dev googletest
          xvfb xdotool x11-apps imagemagick fonts-dejavu-core python3)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    section "installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

section "building in $build (only what is missing or stale)"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target Sortwell.NamespaceShellExtension velmora_search_standin \
    search_standin_register batch_worker_standin sortwell_demo default_configurations \
    $(cmake --build "$build" --target help 2>/dev/null | grep -oE '^(namespace_browser|settings_app_standin|velmora_file_operation_standin|file_operation_standin_register)\b' | tr '\n' ' ')
bin=$build/bin
has() { [ -f "$bin/$1" ]; }

# --- the demo prefix on a virtual display ---------------------------------------------------------
# winemenubuilder off: Wine would otherwise copy every new shortcut into the desktop's menus.
export WINEPREFIX=$demo/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# Wine's Recycle Bin is the XDG trash: unpinned shortcuts go to the demo's own.
export XDG_DATA_HOME=$demo/xdg
xvfb_pid=
cleanup() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
# A step that fails outside the demo's own checks ends the demo; say which one.
trap 'echo "demo.sh: FAILED at line $LINENO: $BASH_COMMAND (output of Wine programs: $demo/wine-errors.log)" >&2' ERR

if [ $mode != interactive ]; then
    # Xvfb picks a free display number and writes it to the descriptor it is given.
    mkdir -p "$build"
    : >"$build/demo-display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$build/demo-display" </dev/null >"$build/demo-xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 50); do [ -s "$build/demo-display" ] && break; sleep 0.2; done
    [ -s "$build/demo-display" ] || { echo "demo.sh: Xvfb did not start (see $build/demo-xvfb.log)" >&2; exit 1; }
    export DISPLAY=:$(head -1 "$build/demo-display")
fi

section "demo Wine prefix $WINEPREFIX (display $DISPLAY)"
wineserver -k </dev/null >/dev/null 2>&1 || true
rm -rf "$demo"
mkdir -p "$demo/xdg" "$demo/screenshots"
wineboot -i </dev/null >"$demo/wineboot.log" 2>&1
wineserver -w </dev/null >/dev/null 2>&1 || true
user_folder=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -1)
# A fresh prefix links the profile's Desktop, Documents... to the Unix home; the demo keeps its own.
for link in "$user_folder"/*; do
    if [ -L "$link" ]; then rm "$link"; mkdir "$link"; fi
done
local_appdata=$user_folder/AppData/Local
# Screenshots at 144 dpi, and the UI fonts linked to DejaVu Sans, which has the star (U+2605). A .reg
# file in UTF-16 (with its byte-order mark), so that Wine reads the multi-string's bytes as UTF-16.
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"LogPixels"=dword:00000090\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    link=$(printf 'DejaVuSans.ttf,DejaVu Sans\0\0' | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$//')
    for font in Tahoma "Microsoft Sans Serif" "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI"; do
        printf '"%s"=hex(7):%s\r\n' "$font" "$link"
    done
} | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$demo/look.reg"
windows_path() { printf '%s' "$1" | sed "s|^$WINEPREFIX/drive_c|C:|; s|^/|Z:/|" | tr / '\\'; }
export VELMORA_BATCH_WORKER_RECORD=$(windows_path "$demo/worker-jobs.jsonl")
export VELMORA_SETTINGS_APP_RECORD=$(windows_path "$demo/settings-app-starts.jsonl")
wine_run() { wine "$@" </dev/null 2>>"$demo/wine-errors.log"; }
# Keeps a long-lived wineserver for the whole demo, detached from our output.
wineserver -p </dev/null >/dev/null 2>&1
wine_run reg import "$(windows_path "$demo/look.reg")" >/dev/null

section "library of real files and the search index"
python3 "$root/demo/make_library.py" "$WINEPREFIX/drive_c" "$demo/index.json" --photos-as-jpeg
library='C:\Demo library'

section "registration"
if [ -x "$root/scripts/register.sh" ]; then
    "$root/scripts/register.sh" "$bin/Sortwell.NamespaceShellExtension.dll"
else
    fail "scripts/register.sh is missing"
fi
wine_run "$bin/search_standin_register.exe" register --index "$(windows_path "$demo/index.json")" >/dev/null
echo "search stand-in: registered, index $(windows_path "$demo/index.json")"
if has file_operation_standin_register.exe; then
    # Wine's FileOperation is a stub; the stand-in deletes into the Recycle Bin as Windows does.
    wine_run "$bin/file_operation_standin_register.exe" register >/dev/null
    echo "FileOperation stand-in: registered in place of Wine's stub"
fi
for standin in Sortwell.Common.BatchProcessor.exe Velmora.exe; do
    if has "$standin"; then
        echo "$standin stand-in: beside the DLL in $(windows_path "$bin")"
    else
        echo "$standin stand-in: missing from $(windows_path "$bin")"
        unavailable+=("the $standin stand-in")
    fi
done

section "settings and Menuwright model"
settings=$local_appdata/Quenbrook/Velmora/Settings
mkdir -p "$settings"
# The people the suite's face recognition knows (the default file has none); the other settings files
# are the defaults, which the DLL seeds on first use.
python3 - "$demo/library-summary.json" "$settings/All People.json" <<'EOF'
import json, sys
people = json.load(open(sys.argv[1], encoding="utf-8"))["people"]
json.dump({"version": "1.0", "people": [{"name": n} for n in people]}, open(sys.argv[2], "w", encoding="utf-8"),
          ensure_ascii=False, indent=4)
print("All People.json: " + ", ".join(people))
EOF
pins_folder=$local_appdata/Quenbrook/Velmora/Menuwright/Quick\ pins
music_pins="$user_folder/Music pins"
wine_run "$bin/sortwell_demo.exe" write-model 'Work=' 'Photos=' 'Music=%USERPROFILE%\Music pins'
pin() { wine_run "$bin/sortwell_demo.exe" write-pin "$(windows_path "$1")" "$2"; }
first() { (cd "$WINEPREFIX/drive_c/Demo library/$1" && ls | grep -E "$2" | grep -v ' (' | head -1); }
budget=$(first "Documents/Work" '^Budget'); invoice=$(first "Documents/Work" '^Invoice'); notes=$(first "Documents/Work" '^Meeting')
pin "$pins_folder/Work/1. $budget.lnk" "$library\\Documents\\Work\\$budget"
pin "$pins_folder/Work/2. $notes.lnk" "$library\\Documents\\Work\\$notes"
pin "$pins_folder/Work/$invoice.lnk" "$library\\Documents\\Work\\$invoice"
pin "$pins_folder/Work/3. Work documents.lnk" "$library\\Documents\\Work"
photo_year=$(cd "$WINEPREFIX/drive_c/Demo library/Photos" && ls | sort | tail -1)
photo=$(first "Photos/$photo_year" '\.jpg$')
pin "$pins_folder/Photos/1. $photo.lnk" "$library\\Photos\\$photo_year\\$photo"
pin "$pins_folder/Photos/2. Photos $photo_year.lnk" "$library\\Photos\\$photo_year"
song=$(first "Music/Album 1" '\.wav$')
pin "$music_pins/${song#?? - }.lnk" "$library\\Music\\Album 1\\$song"
for group in "$pins_folder/Work" "$pins_folder/Photos" "$music_pins"; do
    echo "$(windows_path "$group"): $(cd "$group" && ls | paste -sd '|' | sed 's/|/, /g')"
done

# --- what Explorer would show ---------------------------------------------------------------------
browse() {
    if has namespace_browser.exe; then
        wine_run "$bin/namespace_browser.exe" "$@"
    else
        # Until the namespace browser lands: the names alone, through the demo driver.
        local path=
        while [ $# -gt 0 ]; do
            case $1 in --path) path=$2; shift ;; esac
            shift
        done
        wine_run "$bin/sortwell_demo.exe" list "$path"
    fi
}
out=$demo/namespace.txt
: >"$out"
show() { local title=$1; shift; section "$title" | tee -a "$out"; browse "$@" 2>&1 | tee -a "$out" || fail "$title"; }
has namespace_browser.exe || unavailable+=("the namespace browser (names only, no columns)")

# The folder objects Explorer browses: without them there is nothing to show or do yet.
namespace_ready=true
probe=0
wine_run "$bin/sortwell_demo.exe" list "$sortwell\\Ratings" >"$demo/probe.txt" 2>&1 || probe=$?
if [ $probe != 0 ]; then
    namespace_ready=false
    if [ $probe = 3 ]; then
        unavailable+=("the namespace's folders (the Sortwell root answers: $(tail -1 "$demo/probe.txt"))")
    else
        fail "the Sortwell root: $(tail -1 "$demo/probe.txt")"
    fi
fi

if $namespace_ready; then
    show "Explorer's navigation pane: both roots" --depth 1
    show "Sortwell: organised folders and saved searches (default configuration)" --path "$sortwell" --depth 2
    show "saved search Ratings\\★★★★ (a rating search)" --path "$sortwell\\Ratings\\★★★★" --depth 1 --columns all
    show "saved search Tags\\Travel (a tag search)" --path "$sortwell\\Tags\\Travel" --depth 1 --columns all
    for recent in "Last 24 hours" "Last 7 days" "Last 30 days"; do
        show "saved search Recent files\\$recent (a date search)" --path "$sortwell\\Recent files\\$recent" --depth 1
    done
    show "Quick pins: groups and pins" --path "$pins" --depth 2
fi

# --- what a user does -----------------------------------------------------------------------------
driver() { wine_run "$bin/sortwell_demo.exe" "$@"; }
# Runs one user action. A namespace object the shell does not get (E_NOINTERFACE, E_NOTIMPL) is listed
# as not available; --check fails on such a list at the end.
act() {
    local title=$1; shift
    section "$title" | tee -a "$out"
    local status=0
    driver "$@" 2>&1 | tee -a "$out" || status=${PIPESTATUS[0]}
    case $status in
        0) return 0 ;;
        3) echo "(not available: the namespace does not offer this object)" | tee -a "$out"; unavailable+=("$title"); return 1 ;;
        *) fail "$title"; return 1 ;;
    esac
}
wait_for_job() {
    for _ in $(seq 1 50); do
        [ -s "$demo/worker-jobs.jsonl" ] && break
        sleep 0.2
    done
    if [ -s "$demo/worker-jobs.jsonl" ]; then
        python3 - "$demo/worker-jobs.jsonl" <<'EOF' | tee -a "$out"
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    record = json.loads(line)
    print("the batch worker was started with: " + record["arguments"])
    job = record.get("job_file")
    print("its job file: " + (json.dumps(json.loads(job), ensure_ascii=False) if job else "(none)"))
EOF
    else
        echo "the batch worker was not started" | tee -a "$out"
        fail "no job reached the batch worker"
    fi
}

t_drop= t_pin= t_rename= t_unpin= t_shortcut= t_open= t_settings=
if $namespace_ready; then
    four_star=$(python3 -c 'import json,sys; print("\n".join(json.load(open(sys.argv[1]))["searches"]["Ratings\\★★★★"]))' "$demo/library-summary.json")
    not_four_star=$(cd "$WINEPREFIX/drive_c/Demo library/Documents/Home" && ls | grep -vxF "$four_star" | head -2)
    drop_files=()
    while IFS= read -r name; do drop_files+=("$library\\Documents\\Home\\$name"); done <<<"$not_four_star"
    t_drop="drop two files onto ★★★★ (Ratings)"
    if act "$t_drop" drop "$sortwell\\Ratings\\★★★★" "${drop_files[@]}"; then
        wait_for_job
    fi

    pin_source=$(first "Documents/Home" '^Recipe')
    t_pin="pin a file: drop \"$pin_source\" onto the group Work"
    t_rename="rename the pin \"$pin_source\" to \"Family recipe\""
    t_unpin="unpin \"Family recipe\" (its context menu's \"Unpin\")"
    if act "$t_pin" drop "$pins\\Work" "$library\\Documents\\Home\\$pin_source"; then
        echo "group folder now: $(cd "$pins_folder/Work" && ls | paste -sd '|' | sed 's/|/, /g')" | tee -a "$out"
        if act "$t_rename" rename "$pins\\Work\\$pin_source" "Family recipe"; then
            echo "group folder now: $(cd "$pins_folder/Work" && ls | paste -sd '|' | sed 's/|/, /g')" | tee -a "$out"
            if act "$t_unpin" menu "$pins\\Work\\Family recipe" "Unpin"; then
                echo "group folder now: $(cd "$pins_folder/Work" && ls | paste -sd '|' | sed 's/|/, /g')" | tee -a "$out"
                trashed=$(find "$XDG_DATA_HOME/Trash/files" -type f 2>/dev/null | head -1)
                echo "the shortcut went to the Recycle Bin: ${trashed:-(not found)}" | tee -a "$out"
            fi
        fi
    else
        unavailable+=("$t_rename" "$t_unpin")
    fi
    desktop=$user_folder/Desktop
    t_shortcut="create a desktop shortcut to Tags\\Travel (\"Create shortcut\")"
    t_open="open the desktop shortcut again through the shell"
    if act "$t_shortcut" menu "$sortwell\\Tags\\Travel" "Create shortcut"; then
        shortcut=$(find "$desktop" -name '*.lnk' | head -1)
        echo "desktop shortcut: ${shortcut:+$(windows_path "$shortcut")}" | tee -a "$out"
        if [ -n "$shortcut" ]; then
            act "$t_open" open-shortcut "$(windows_path "$shortcut")" || true
        else
            fail "no shortcut on the desktop"
        fi
    else
        unavailable+=("$t_open")
    fi
    t_settings="open the Settings app from Tags\\Travel (\"Customize Sortwell\")"
    if act "$t_settings" menu "$sortwell\\Tags\\Travel" "Customize Sortwell"; then
        for _ in $(seq 1 50); do [ -s "$demo/settings-app-starts.jsonl" ] && break; sleep 0.2; done
        echo "the Settings app was started with: $(python3 -c 'import json,sys; print(json.loads(open(sys.argv[1], encoding="utf-8").readline())["arguments"])' "$demo/settings-app-starts.jsonl" 2>/dev/null || echo '(no start recorded)')" | tee -a "$out"
    fi
fi

# --- screenshots of Wine's explorer ---------------------------------------------------------------
# Wine's explorer.exe takes no parsing names on its command line (it makes a file path of them), so
# the demo types them into its Location box, as a user would. Key strokes go through XTEST to the
# focused window; at 144 dpi the Location box is at (400, 66) and the tree's "Desktop" at (80, 117).
explorer_window() {
    local window
    for _ in $(seq 1 100); do
        window=$(xdotool search --onlyvisible --class explorer.exe 2>/dev/null | tail -1 || true)
        [ -n "$window" ] && { echo "$window"; return 0; }
        sleep 0.2
    done
    return 1
}
go_to() {
    local window=$1 name=$2
    xdotool mousemove --window "$window" 400 66 click 1 2>/dev/null
    xdotool windowfocus "$window" 2>/dev/null || true
    xdotool key ctrl+a
    # Characters outside the keyboard map (the stars) need a remapped key each, which Wine picks up
    # only when they come slowly.
    local ascii=${name%%[!\ -~]*}
    xdotool type --delay 15 "$ascii"
    [ "$ascii" = "$name" ] || xdotool type --delay 120 "${name#"$ascii"}"
    xdotool key Return
    sleep 2
}
expand_roots() {
    local window=$1
    go_to "$window" "$sortwell"
    # The tree's incremental search selects a root by its name; Right expands it.
    xdotool mousemove --window "$window" 80 117 click 1 2>/dev/null
    for name in Sortwell "Quick pins"; do
        xdotool type --delay 30 "$name"
        xdotool key Right
        sleep 1.5
    done
}
capture() {
    local window=$1 name=$2 file=$demo/screenshots/$2.png
    import -window "$window" "$file" 2>/dev/null || xwd -id "$window" | convert xwd:- "$file"
    echo "$file"
}
if [ $mode = interactive ]; then
    section "Wine's explorer on $DISPLAY (type a parsing name such as $sortwell into Location); close it to end"
    wine explorer.exe </dev/null >/dev/null 2>>"$demo/wine-errors.log" || true
else
    section "screenshots of Wine's explorer"
    # One explorer window, as a user would use it: the tree first, then two places by their names.
    wine explorer.exe </dev/null >/dev/null 2>>"$demo/wine-errors.log" &
    if window=$(explorer_window); then
        xdotool windowmove "$window" 0 0 windowsize "$window" 1240 760 2>/dev/null || true
        sleep 1
        expand_roots "$window"
        capture "$window" navigation-pane
        go_to "$window" "$sortwell\\Ratings\\★★★★"
        # Widen the name column: drag the header's first divider to the right.
        xdotool mousemove --window "$window" 428 95 mousedown 1 mousemove --window "$window" 640 95 mouseup 1 \
            mousemove --window "$window" 120 740 2>/dev/null || true
        sleep 0.5
        capture "$window" saved-search-details
        go_to "$window" "$pins\\Work"
        capture "$window" pin-group
    else
        fail "Wine's explorer showed no window"
    fi
    # The window goes with the demo's wineserver (see cleanup).
fi

# --- summary and check ----------------------------------------------------------------------------
check() {
    local what=$1 pattern=$2
    grep -qF -- "$pattern" "$out" || fail "the printed namespace lacks $what (\"$pattern\")"
}
# The effect of a user action, unless the action found no namespace object (it is listed as such).
check_after() {
    local step=$1
    shift
    local missing
    for missing in "${unavailable[@]}"; do [ "$missing" = "$step" ] && return 0; done
    check "$@"
}
if [ $mode = check ] && ! $namespace_ready; then
    section "checking: nothing to check without the namespace's folders"
elif [ $mode = check ]; then
    section "checking"
    check "the Sortwell root" "Sortwell"
    check "the Quick pins root" "Quick pins"
    for folder in Ratings Tags People; do check "the organised folder $folder" "$folder"; done
    for search in "★★★★★" "★★★★" "Favourites" "Travel" "Ann Lee"; do check "the saved search $search" "$search"; done
    for search in "Ratings\\★★★★" "Tags\\Travel"; do
        missing_results=$(python3 - "$demo/library-summary.json" "$search" "$out" <<'EOF'
import json, sys
expected = json.load(open(sys.argv[1], encoding="utf-8"))["searches"][sys.argv[2]]
printed = open(sys.argv[3], encoding="utf-8").read()
missing = [name for name in expected if name not in printed]
if missing:
    print("%d of %d, e.g. %s" % (len(missing), len(expected), ", ".join(missing[:3])))
EOF
)
        [ -z "$missing_results" ] || fail "the printed namespace lacks results of $search: $missing_results"
    done
    # Each date search in its own listing: the files the library changed within its time.
    for recent in "Last 24 hours" "Last 7 days" "Last 30 days"; do
        missing_results=$(python3 - "$demo/library-summary.json" "Recent files\\$recent" "$out" <<'EOF'
import json, sys
expected = json.load(open(sys.argv[1], encoding="utf-8"))["searches"][sys.argv[2]]
text = open(sys.argv[3], encoding="utf-8").read()
start = text.find("== saved search %s " % sys.argv[2])
end = text.find("\n== ", start + 1) if start >= 0 else -1
listing = text[start:end if end >= 0 else len(text)] if start >= 0 else ""
missing = [name for name in expected if name not in listing]
if not expected:
    print("the library has no file for it")
elif not listing:
    print("it was not listed")
elif missing:
    print("%d of %d, e.g. %s" % (len(missing), len(expected), ", ".join(missing[:3])))
EOF
)
        [ -z "$missing_results" ] || fail "the saved search Recent files\\$recent lacks its files: $missing_results"
    done
    for group in Work Photos Music; do check "the pin group $group" "$group"; done
    check "the pin \"$budget\" (order prefix dropped)" "$budget"
    check_after "$t_drop" "the job of the drop onto ★★★★" '"action_type": "set_rating", "action_parameters": "4"'
    check_after "$t_pin" "the new pin in the group folder" "$pin_source.lnk"
    check_after "$t_rename" "the renamed pin" "Family recipe.lnk"
    check_after "$t_unpin" "the unpinned shortcut in the Recycle Bin" "went to the Recycle Bin: /"
    check_after "$t_shortcut" "the desktop shortcut" "desktop shortcut: C:"
    check_after "$t_settings" "the Settings app on its tab" "the Settings app was started with: --open-tab=tagwright"
    check_after "$t_open" "the saved search opened from the shortcut" "parsing name: $sortwell\\Tags\\Travel"
    for shot in navigation-pane saved-search-details pin-group; do
        file=$demo/screenshots/$shot.png
        if [ ! -s "$file" ]; then
            fail "screenshot $shot is missing"
        elif [ "$(identify -format %k "$file" 2>/dev/null || echo 0)" -le 1 ]; then
            fail "screenshot $shot is blank (one colour)"
        fi
    done
fi

section "done in $((SECONDS - started)) s; everything is in $demo"
if [ ${#unavailable[@]} -gt 0 ]; then
    echo "not available:"
    printf '  - %s\n' "${unavailable[@]}"
    # Every step has its objects on main now: one that reports none has lost them.
    [ $mode != check ] || failures+=("steps without their namespace objects: ${unavailable[*]}")
fi
if [ ${#failures[@]} -gt 0 ]; then
    echo "FAILED:"
    printf '  - %s\n' "${failures[@]}"
    exit 1
fi
