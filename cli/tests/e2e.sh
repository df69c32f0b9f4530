#!/usr/bin/env bash
# End-to-end checks of vembro.exe against the registered Vembro.DLL and the
# sample components, one case per run: e2e.sh CASE BUILD_DIR SOURCE_DIR.
# Each case registers what it needs and unregisters it again, so the shared
# Wine registry is left as the other tests expect it.
set -uo pipefail
case_name=$1
build=$2
src=$3
source "$src/scripts/env.sh"
docs="$src/samples/documents"
dlls=("$build/samples/utf16text.dll" "$build/samples/markdown.dll" "$build/samples/htmltext.dll"
      "$build/samples/pseudoloc.dll" "$build/Vembro.DLL")
# The localisation cases install the localisation components in place of the
# pseudo-localiser, which would otherwise be the translator for HTML -> HTML.
case "$case_name" in
l10n-*) dlls[3]="$build/samples/l10n.dll" ;;
esac
work=$(mktemp -d)
cleanup() {
    wine_run regsvr32 /s /u "${dlls[@]}" </dev/null >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
wine_run regsvr32 /s "${dlls[@]}" </dev/null || { echo "FAIL: regsvr32 could not register the DLLs"; exit 1; }
cd "$work"

fail() { echo "FAIL: $*"; echo "--- stdout:"; cat out.log 2>/dev/null; echo "--- stderr:"; cat err.log 2>/dev/null; exit 1; }
# Runs vembro.exe; its exit code lands in $rc, its output in out.log/err.log.
vembro() { wine_run "$build/cli/vembro.exe" "$@" </dev/null >out.log 2>err.log; rc=$?; }
expect_rc() { [ "$rc" = "$1" ] || fail "exit code $rc, expected $1"; }
expect_in() { grep -qF -- "$2" "$1" || fail "\"$2\" not in $1"; }
expect_same() { cmp -s "$1" "$2" || fail "$1 differs from $2"; }

case "$case_name" in
formats)
    vembro formats --translate
    expect_rc 0
    expect_in out.log "103 Markdown (md.markdown)"
    grep -A2 "103 Markdown" out.log | grep -qF -- "-> 102 UTF-8 Text (txt)" || fail "Markdown does not reach UTF-8 Text"
    ;;
detect)
    vembro detect "$docs/guide.md"
    expect_rc 0
    expect_in out.log "as a translation source: 103 Markdown (md.markdown)"
    cp "$docs/page.html" page.txt  # the content decides, not the extension
    vembro detect page.txt
    expect_rc 0
    expect_in out.log "as a conversion source:  104 HTML (htm.html)"
    ;;
route)
    vembro route Markdown "UTF-8 Text"
    expect_rc 0
    expect_in out.log "1. converter   103 Markdown -> 104 HTML   [VembroSamples.MarkdownToHtml]"
    expect_in out.log "2. translator  104 HTML -> 104 HTML   [VembroSamples.PseudoLocaliser]"
    expect_in out.log "3. converter   104 HTML -> 102 UTF-8 Text   [VembroSamples.HtmlToText]"
    ;;
sync)
    vembro translate --sync "$docs/guide.md" guide.txt
    expect_rc 0
    expect_same guide.txt "$docs/guide.expected.txt"
    ;;
async)
    vembro translate "$docs/guide.md" guide.txt
    expect_rc 0
    expect_same guide.txt "$docs/guide.expected.txt"
    expect_in err.log "100%"
    ;;
stream)
    vembro translate --stream "$docs/guide.md" guide.txt
    expect_rc 0
    expect_same guide.txt "$docs/guide.expected.txt"
    vembro translate --stream --sync --from 103 --to 102 "$docs/guide.md" guide2.txt
    expect_rc 0
    expect_same guide2.txt "$docs/guide.expected.txt"
    ;;
convert)
    vembro convert "$docs/note-utf16.txt" note.txt
    expect_rc 0
    printf 'Caf\xc3\xa9 \xe2\x82\xac 100 \xf0\x9f\x98\x80\r\nSecond line\r\n' > expected.txt
    expect_same note.txt expected.txt
    vembro convert --stream --sync "$docs/note-utf16.txt" note2.txt
    expect_rc 0
    expect_same note2.txt expected.txt
    ;;
properties)
    vembro translate --quiet --priority 2 --property EXPANSION=0 "$docs/guide.md" guide.txt
    expect_rc 0
    expect_in guide.txt "[Ĝéţţíñĝ šţáŕţéð]"
    grep -q "~" guide.txt && fail "EXPANSION=0 still padded the text"
    ;;
direct)
    vembro translate "$docs/page.html" page.htm
    expect_rc 0
    expect_in page.htm "<title>[Ŕéļéášé ñóţéš~~~~]</title>"
    expect_in page.htm "<style>p { color: #333; }</style>"
    ;;
bad-format)
    vembro translate --to Markdwn "$docs/guide.md" bad.txt
    expect_rc 2
    expect_in err.log 'unknown format "Markdwn"'
    [ -e bad.txt ] && fail "bad.txt was written"
    ;;
no-route)
    vembro translate --from "UTF-16 Text" --to HTML "$docs/note-utf16.txt" bad.htm
    expect_rc 1
    expect_in err.log "Translator(UTF-16 Text, HTML) failed: 0x80070057 E_INVALIDARG"
    expect_in err.log "no route from UTF-16 Text to HTML."
    expect_in err.log "103 Markdown (md.markdown)"
    [ -e bad.htm ] && fail "bad.htm was written"
    ;;
stop)
    # A document big enough that the chain is still running when Ctrl+C
    # (SIGINT, which Wine turns into CTRL_C_EVENT) arrives.
    yes $'# Heading\n\nSome **bold** text and a [link](http://example/) here.\n\n- item\n' | head -n 1500000 > big.md
    "$WINE" "$build/cli/vembro.exe" translate big.md big.txt </dev/null >out.log 2>err.log &
    pid=$!
    for _ in $(seq 200); do grep -q '%' err.log && break; sleep 0.05; done
    kill -INT "$pid"
    wait "$pid"
    rc=$?
    expect_rc 130
    expect_in err.log "vembro: stopping (Stop: 0x00000000"
    expect_in out.log "Stopped; big.txt was not written."
    [ -e big.txt ] && fail "big.txt was written"
    ;;
unknown-extension)
    vembro translate "$docs/guide.md" guide.xyz
    expect_rc 2
    expect_in err.log 'no format reachable from Markdown has the extension "xyz"'
    expect_in err.log "102 UTF-8 Text (txt)"
    [ -e guide.xyz ] && fail "guide.xyz was written"
    ;;
missing-input)
    vembro translate absent.md absent.txt
    expect_rc 2
    expect_in err.log "cannot find absent.md"
    [ -e absent.txt ] && fail "absent.txt was written"
    ;;
l10n-chain)
    vembro translate --target-lang fr --memory "$docs/site.fr.tmx" "$docs/site/index.html" index.fr.html
    expect_rc 0
    expect_in index.fr.html '<html lang="fr">'
    expect_in index.fr.html '<p>Notre levain repose <strong>vingt-quatre heures</strong> avant d'"'"'aller au four.</p>'
    expect_in index.fr.html 'alt="Trois pains au levain sur une planche en bois"'
    expect_in index.fr.html 'console.log("Welcome")'
    expect_in index.fr.html '<p>© 2026 Harbour Lights Bakery · 12 Quay Street</p>'
    # The three steps by hand give the same page, and the XLIFF in between
    # carries the states of the matches.
    vembro convert "$docs/site/index.html" index.xlf
    expect_rc 0
    vembro translate --sync --property FUZZY=90 --target-lang fr --memory "$docs/site.fr.tmx" index.xlf index.fr.xlf
    expect_rc 0
    expect_in index.fr.xlf 'state="needs-review-translation" state-qualifier="fuzzy-match"'
    expect_in index.fr.xlf '<alt-trans match-quality="92" origin="memory">'
    vembro convert index.fr.xlf index2.fr.html
    expect_rc 0
    expect_same index2.fr.html index.fr.html
    ;;
l10n-script)
    # A script client: JScript through the manager and the Direction object.
    printf '%s\n' 'var a = WScript.Arguments, d = new ActiveXObject("VembroSamples.Direction");' \
        'd.TargetLanguage = "fr"; d.Memory = a(2);' \
        'new ActiveXObject("Vembro.FileTranslateManager").Translator(104, 104).SyncTranslateFile(d, a(0), a(1));' > run.js
    wine_run cscript //nologo run.js "$docs/site/menu.html" menu.fr.html "$docs/site.fr.tmx" \
        </dev/null >out.log 2>err.log || fail "cscript failed"
    expect_in menu.fr.html '<li>Pain au chocolat</li>'
    ;;
l10n-bad-input)
    printf '<?xml version="1.0"?><xliff version="1.2"><file original="a" source-language="en"><body>'\
'<trans-unit id="1"><source>Bread</target></trans-unit></body></file></xliff>' > bad.xlf
    vembro translate --target-lang fr --memory "$docs/site.fr.tmx" bad.xlf out.xlf
    expect_rc 1
    expect_in err.log "0x80040301 L10N_E_MALFORMED_XML"
    printf '<?xml version="1.0"?><xliff version="2.0" srcLang="en"><file id="f"/></xliff>' > v2.xlf
    vembro translate --target-lang fr --memory "$docs/site.fr.tmx" v2.xlf out.xlf
    expect_rc 1
    expect_in err.log "0x80040302 L10N_E_NOT_XLIFF12"
    vembro convert "$docs/site/index.html" index.xlf
    vembro translate --target-lang de --memory "$docs/site.fr.tmx" index.xlf out.xlf
    expect_rc 1
    expect_in err.log "0x80040304 L10N_E_LANGUAGE_NOT_IN_MEMORY"
    printf '<tmx version="1.4"><body><tu>' > broken.tmx
    vembro translate --target-lang fr --memory broken.tmx index.xlf out.xlf
    expect_rc 1
    expect_in err.log "0x80040303 L10N_E_MEMORY_UNREADABLE"
    printf '<html><head><meta charset="koi8-r"></head><body><p>Hi</p></body></html>' > koi.html
    vembro translate --target-lang fr --memory "$docs/site.fr.tmx" koi.html out.html
    expect_rc 1
    expect_in err.log "0x80040305 L10N_E_UNKNOWN_ENCODING"
    [ -e out.xlf ] || [ -e out.html ] && fail "a failed run left its target"
    ;;
*)
    fail "unknown case $case_name"
    ;;
esac
echo "PASS: $case_name"
