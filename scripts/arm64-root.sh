#!/usr/bin/env bash
# The ARM64 Debian root in which the ARM64 build's tests run: Debian's own ARM64 Wine 8, executed
# through qemu-user (binfmt_misc) on this x86-64 machine.
#
#   scripts/arm64-root.sh create <root>                  make the root when it is missing (debootstrap of
#                                                        bookworm with wine64 and wine; ~640 MB), register
#                                                        qemu for ARM64 programs when it is not
#   scripts/arm64-root.sh run <root> <folder> <program> [arguments]
#                                                        run a program of the root, with <folder> (a build
#                                                        folder) visible inside at the same path
#   scripts/arm64-root.sh stop <root>                    end every process still running in the root
#
# "run" gives each program a mount namespace of its own (unshare): /proc and the folder are mounted
# there only, so nothing stays mounted when the program ends, whatever happens to this script, and
# nothing is visible to other users of the machine. The environment is kept (WINEPREFIX, WINEDEBUG...),
# with the root's own PATH.
set -euo pipefail

usage() { sed -n '2,16p' "$0" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
root=$(realpath -m "$2")
shift 2

binfmt_ready() { [ -f /proc/sys/fs/binfmt_misc/qemu-aarch64 ] && grep -q '^enabled' /proc/sys/fs/binfmt_misc/qemu-aarch64; }
register_qemu() {
    local packages=(qemu-user-static binfmt-support debootstrap) missing=() package
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "arm64-root.sh: installing ${missing[*]}"
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
    fi
    if [ ! -f /proc/sys/fs/binfmt_misc/register ]; then
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    fi
    # The registration (flags PF: the interpreter is opened when registering, so it works in a chroot)
    # is global to the machine and harmless to other users.
    binfmt_ready || update-binfmts --enable qemu-aarch64 >/dev/null 2>&1 || true
    binfmt_ready || update-binfmts --import qemu-aarch64 >/dev/null
    binfmt_ready || { echo "arm64-root.sh: qemu is not registered for ARM64 programs" >&2; exit 1; }
}

case $command in
create)
    register_qemu
    if [ ! -f "$root/.velmora-ready" ]; then
        echo "arm64-root.sh: making the ARM64 root $root (debootstrap, a few minutes)"
        rm -rf "$root.partial"
        mkdir -p "$(dirname "$root")"
        if ! debootstrap --arch=arm64 --variant=minbase --include=wine64,wine bookworm "$root.partial" \
                http://deb.debian.org/debian >"$root.log" 2>&1; then
            tail -n 20 "$root.log" >&2
            echo "arm64-root.sh: debootstrap failed (log: $root.log)" >&2
            exit 1
        fi
        rm -rf "$root"
        mv "$root.partial" "$root"
        touch "$root/.velmora-ready"
    fi
    # The proof that ARM64 programs run here.
    "$0" run "$root" / /bin/true
    ;;
run)
    [ $# -ge 2 ] || usage
    folder=$(realpath "$1")
    shift
    [ -f "$root/.velmora-ready" ] || { echo "arm64-root.sh: no ARM64 root at $root (run: $0 create $root)" >&2; exit 1; }
    binfmt_ready || register_qemu
    mkdir -p "$root$folder"
    exec env -u LD_PRELOAD -u LD_LIBRARY_PATH PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin \
        unshare --mount --propagation private -- /bin/sh -c '
            set -e
            root=$1 folder=$2
            shift 2
            mount -t proc proc "$root/proc"
            [ "$folder" = / ] || mount --bind "$folder" "$root$folder"
            exec chroot "$root" "$@"' sh "$root" "$folder" "$@"
    ;;
stop)
    # Processes whose root is this one: the wineserver and every Wine process of the tests. Only ours
    # run there; each is ended by its id.
    pids() {
        local process
        for process in /proc/[0-9]*; do
            [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ] && echo "${process#/proc/}"
        done
        return 0
    }
    for signal in TERM KILL; do
        mapfile -t running < <(pids)
        [ ${#running[@]} -gt 0 ] || exit 0
        kill -s $signal "${running[@]}" 2>/dev/null || true
        for _ in $(seq 1 20); do [ -z "$(pids)" ] && exit 0; sleep 0.25; done
    done
    echo "arm64-root.sh: processes still running in $root: $(pids | tr '\n' ' ')" >&2
    exit 1
    ;;
*) usage ;;
esac
