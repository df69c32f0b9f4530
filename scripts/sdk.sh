#!/usr/bin/env bash
# Installs the component kit of both builds into one folder (default out/sdk):
# include/ (Vembro.h, the identifiers, the kit and the COM layer), lib/i686 and
# lib/x86_64, share/vembro (the DLL exports, toolchain files) and
# lib/cmake/Vembro, so that find_package(Vembro) finds it. Run after build.sh.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/env.sh
prefix="${1:-$PWD/out/sdk}"
for arch in x86_64 i686; do
    [ -f "out/$arch/cmake_install.cmake" ] || { echo "sdk: out/$arch is not built: run scripts/build.sh" >&2; exit 1; }
    cmake --install "out/$arch" --prefix "$prefix" --component sdk >/dev/null
done
echo "sdk: the kit is in $prefix"
