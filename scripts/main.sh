#!/usr/bin/env bash
# The main job: from a fresh machine to a document translated through a
# three-step chain. Installs what is missing, builds, starts the private Wine
# prefix, registers Vembro.DLL and the sample components with regsvr32 and
# translates samples/documents/guide.md from Markdown to plain text:
# Markdown -> HTML (converter), HTML -> pseudo-localised HTML (translator),
# HTML -> UTF-8 text (converter). Then it localises an English HTML page
# into French from a translation memory: HTML -> XLIFF (converter), XLIFF ->
# XLIFF filled from samples/documents/site.fr.tmx (translator), XLIFF -> HTML
# (converter). The x86_64 build is what runs under the 64-bit Wine here;
# out/i686/ holds the same DLLs for 32-bit Windows.
#
# The samples are unregistered again at the end so that the prefix stays as
# the tests expect it; VEMBRO_KEEP_REGISTERED=1 leaves them installed.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh
bash scripts/build.sh
source scripts/env.sh

build=out/x86_64
dlls=("$build/Vembro.DLL" "$build/samples/utf16text.dll" "$build/samples/markdown.dll"
      "$build/samples/htmltext.dll" "$build/samples/pseudoloc.dll" "$build/samples/l10n.dll")
vembro() { "$WINE" "$build/cli/vembro.exe" "$@" </dev/null; }
section() { printf '\n== %s\n' "$*"; }

finish() {
    if [ "${VEMBRO_KEEP_REGISTERED:-0}" != 1 ]; then
        "$WINE" regsvr32 /s /u "${dlls[@]}" </dev/null >/dev/null 2>&1 || true
    fi
    wine_stop
}
trap finish EXIT
wine_start

section "Registering Vembro.DLL and the sample components (regsvr32)"
for dll in "${dlls[@]:0:5}"; do
    "$WINE" regsvr32 /s "$dll" </dev/null
    echo "  registered $dll"
done

section "Formats that can be translated (vembro formats --translate)"
vembro formats --translate

section "What the sample document is (vembro detect samples/documents/guide.md)"
vembro detect samples/documents/guide.md

section "The planned route (vembro route Markdown \"UTF-8 Text\")"
vembro route Markdown "UTF-8 Text"

section "Translating (vembro translate samples/documents/guide.md out/main/guide.txt)"
mkdir -p out/main
rm -f out/main/guide.txt
vembro translate samples/documents/guide.md out/main/guide.txt

section "The result: $PWD/out/main/guide.txt"
cat out/main/guide.txt

# The pseudo-localiser translates HTML to HTML by itself, and planning gives
# a pair that one translator handles to that translator: for the
# localisation chain it makes way for the localisation components.
section "Localisation components instead of the pseudo-localiser (regsvr32 /u pseudoloc.dll, regsvr32 l10n.dll)"
"$WINE" regsvr32 /s /u "$build/samples/pseudoloc.dll" </dev/null
"$WINE" regsvr32 /s "$build/samples/l10n.dll" </dev/null
echo "  unregistered $build/samples/pseudoloc.dll"
echo "  registered $build/samples/l10n.dll"

section "The planned route (vembro route HTML HTML)"
vembro route HTML HTML

page=samples/documents/site/index.html
memory=samples/documents/site.fr.tmx
section "Localising (vembro translate --target-lang fr --memory $memory $page out/main/index.fr.html)"
rm -f out/main/index.fr.html
vembro translate --target-lang fr --memory "$memory" "$page" out/main/index.fr.html

section "The result: $PWD/out/main/index.fr.html"
cat out/main/index.fr.html
