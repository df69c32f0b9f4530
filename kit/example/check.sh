#!/usr/bin/env bash
# The installed kit from a component author's side: installs it from both
# builds, builds this folder's component outside the tree for both
# architectures, registers the x86_64 DLL beside Vembro.DLL and converts a
# text through it with vembro.exe. Usage: check.sh SOURCE_DIR
set -uo pipefail
src=$1
source "$src/scripts/env.sh"
work=$(mktemp -d)
registered=()
cleanup() {
    [ ${#registered[@]} -eq 0 ] || wine_run regsvr32 /s /u "${registered[@]}" </dev/null >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/log" ] && cat "$work/log"; exit 1; }

bash "$src/scripts/sdk.sh" "$work/sdk" >"$work/log" 2>&1 || fail "installing the kit"
# Only the example's own folder is copied: everything else comes from the kit.
cp -r "$src/kit/example" "$work/shout"
for arch in x86_64 i686; do
    cmake -S "$work/shout" -B "$work/build-$arch" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$work/sdk/share/vembro/toolchains/mingw-$arch.cmake" \
          -DCMAKE_PREFIX_PATH="$work/sdk" >"$work/log" 2>&1 || fail "configuring for $arch"
    cmake --build "$work/build-$arch" >"$work/log" 2>&1 || fail "building for $arch"
done
# PE machine field: 0x14c i386, 0x8664 x86-64.
machine() { "$VEMBRO_PYTHON" -c 'import struct,sys; d=open(sys.argv[1],"rb").read(); print(hex(struct.unpack_from("<H", d, struct.unpack_from("<I", d, 0x3C)[0] + 4)[0]))' "$1"; }
[ "$(machine "$work/build-i686/shout.dll")" = 0x14c ] || fail "the i686 shout.dll is not an i386 image"
[ "$(machine "$work/build-x86_64/shout.dll")" = 0x8664 ] || fail "the x86_64 shout.dll is not an x86-64 image"

registered=("$src/out/x86_64/Vembro.DLL" "$work/build-x86_64/shout.dll")
wine_run regsvr32 /s "${registered[@]}" </dev/null >"$work/log" 2>&1 || fail "regsvr32"
cd "$work"
printf 'Quiet words, said softly.\n' >in.txt
wine_run "$src/out/x86_64/cli/vembro.exe" convert --from "Quiet Text" --to "Loud Text" in.txt out.txt \
    </dev/null >"$work/log" 2>&1 || fail "vembro convert"
[ "$(cat out.txt)" = "QUIET WORDS, SAID SOFTLY." ] || fail "out.txt holds '$(cat out.txt)'"
echo "PASS: a component built against the installed kit converts through vembro.exe"
