#!/usr/bin/env bash
# Builds both architectures. The x86_64 build comes first: it makes the host
# tools and the SYS_WIN32 type library that the i686 build embeds.
# VEMBRO_ARCHS=x86_64 builds only what the tests run, for a quicker loop.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/env.sh
build_type="${VEMBRO_BUILD_TYPE:-Release}"
for arch in ${VEMBRO_ARCHS:-x86_64 i686}; do
    extra=()
    [ "$arch" = i686 ] && extra+=(-DVEMBRO_TLB32="$PWD/out/x86_64/generated/Vembro32.tlb")
    # Configured every time: optional subprojects are picked up when they
    # appear, and an unchanged tree costs only a second.
    cmake -S . -B "out/$arch" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
          -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-$arch.cmake" \
          -DVEMBRO_WIDL="$VEMBRO_WIDL" -DVEMBRO_WINE_IDL_DIR="$VEMBRO_WINE_IDL_DIR" \
          -DVEMBRO_WINE_TLB_DIR="$VEMBRO_WINE_TLB_DIR" "${extra[@]}" >/dev/null
    cmake --build "out/$arch" -- -j"$(nproc)" </dev/null
done
