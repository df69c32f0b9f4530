#!/usr/bin/env bash
# Installs what the build and the Wine test bench need on a bare Debian
# machine. Quick when everything is already there: nothing is downloaded.
set -euo pipefail

packages=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
          wine64 libwine-dev cmake ninja-build googletest file binutils-mingw-w64-i686
          binutils-mingw-w64-x86-64)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q >/dev/null
    apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi

# The -posix variants give std::thread and friends; make them the defaults
# the toolchain files name explicitly, so nothing depends on alternatives.
for t in i686-w64-mingw32 x86_64-w64-mingw32; do
    command -v "$t-g++-posix" >/dev/null || { echo "setup: $t-g++-posix missing" >&2; exit 1; }
done
command -v wine64 >/dev/null || [ -x /usr/lib/wine/wine64 ] || { echo "setup: wine64 missing" >&2; exit 1; }
