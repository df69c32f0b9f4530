#!/usr/bin/env bash
# vembro.exe end to end, one case per run: e2e.sh CASE BUILD_DIR SOURCE_DIR.
# Each case registers Vembro.DLL and the samples and unregisters them again,
# leaving the shared Wine registry as the other tests expect it.
set -uo pipefail
case_name=$1 build=$2 src=$3
source "$src/scripts/env.sh"
docs="$src/samples/documents" data="$src/samples/tests/data"
translator=pseudoloc
[ "$case_name" = l10n ] && translator=l10n # else the pseudo-localiser would take HTML -> HTML
dlls=("$build/samples/utf16text.dll" "$build/samples/markdown.dll" "$build/samples/htmltext.dll"
      "$build/samples/$translator.dll" "$build/Vembro.DLL")
work=$(mktemp -d)
trap 'wine_run regsvr32 /s /u "${dlls[@]}" </dev/null >/dev/null 2>&1; rm -rf "$work"' EXIT
wine_run regsvr32 /s "${dlls[@]}" </dev/null || { echo "FAIL: regsvr32 could not register the DLLs"; exit 1; }
cd "$work"
cp "$docs/guide.md" "$docs/note-utf16.txt" "$docs/page.html" "$docs/site.fr.tmx" "$docs/site/index.html" .

fail() { echo "FAIL: $*"; echo "--- stdout:"; cat log.out; echo "--- stderr:"; cat log.err; exit 1; }
vembro() { wine_run "$build/cli/vembro.exe" "$@" </dev/null >log.out 2>log.err; rc=$?; }
# Rows "EXIT|FIRST LINE OF STDERR|ARGS": a failing run leaves no out* file.
# Rows "0|EXPECTED FILE>OUTPUT|ARGS": the run succeeds and writes exactly that.
expect_rows() {
    for row in "$@"; do
        IFS='|' read -r code what args <<<"$row"
        eval "vembro $args"
        [ "$rc" = "$code" ] || fail "vembro $args: exit code $rc, expected $code"
        if [ "$code" = 0 ]; then
            cmp -s "${what#*>}" "${what%>*}" || fail "vembro $args: ${what#*>} differs from ${what%>*}"
        else
            [ "$(head -n1 log.err)" = "$what" ] || fail "vembro $args: stderr does not start with: $what"
            ! compgen -G 'out*' >/dev/null || fail "vembro $args left $(compgen -G 'out*')"
        fi
    done
}

case "$case_name" in
runs)
    expect_rows "0|$data/formats.txt>log.out|formats --translate" \
        "0|$data/detect.txt>log.out|detect page.html" \
        "0|$data/route.txt>log.out|route Markdown 'UTF-8 Text'" \
        "0|$docs/guide.expected.txt>a.txt|translate --sync guide.md a.txt" \
        "0|$docs/guide.expected.txt>c.txt|translate --stream guide.md c.txt" \
        "0|$docs/guide.expected.txt>d.txt|translate --stream --sync --from 103 --to 102 guide.md d.txt" \
        "0|$data/note.txt>e.txt|convert note-utf16.txt e.txt" \
        "0|$data/note.txt>f.txt|convert --stream --sync note-utf16.txt f.txt" \
        "0|$data/guide.expansion0.txt>g.txt|translate --quiet --priority 2 --property EXPANSION=0 guide.md g.txt" \
        "0|$data/page.pseudo.html>h.htm|translate page.html h.htm" \
        "0|$docs/guide.expected.txt>b.txt|translate guide.md b.txt"
    grep -qF "100%" log.err || fail "no progress bar"
    ;;
args)
    expect_rows "2|usage: vembro <command> [arguments]|" \
        '2|vembro: unknown command "frobnicate" (vembro --help lists them)|frobnicate' \
        "2|vembro: formats takes --convert or --translate|formats --all" \
        "2|vembro: missing FILE|detect" \
        "2|vembro: missing TGT|route Markdown" \
        '2|vembro: unknown option "--bogus"|translate --bogus guide.md out.txt' \
        '2|vembro: unknown option "--memory"|convert --memory m.tmx guide.md out.htm' \
        '2|vembro: --priority takes a number from -2 to 2, not "3"|translate --priority 3 guide.md out.txt' \
        "2|vembro: missing number after --priority|translate guide.md out.txt --priority" \
        '2|vembro: --property takes NAME=VALUE, not "=x"|translate --property =x guide.md out.txt' \
        "2|vembro: expected IN and OUT file names|translate guide.md" \
        "2|vembro: expected IN and OUT file names|translate guide.md out.txt out2.txt" \
        "2|vembro: cannot find absent.md|translate absent.md out.txt" \
        '2|vembro: unknown format "Markdwn"|translate --to Markdwn guide.md out.txt' \
        '2|vembro: unknown format "markdown" (names are case-sensitive: did you mean "Markdown"?)|route markdown HTML' \
        '2|vembro: no format reachable from Markdown has the extension "xyz"; give the target with --to. Reachable:|translate guide.md out.xyz' \
        "1|vembro: Translator(UTF-16 Text, HTML) failed: 0x80070057 E_INVALIDARG: Invalid parameter. (no converter or route for this pair, or an unknown format)|translate --from 'UTF-16 Text' --to HTML note-utf16.txt out.htm"
    grep -qxF "  no route from UTF-16 Text to HTML." log.err || fail "no reachability after a missing route"
    ;;
stop)
    # Still running when Ctrl+C (SIGINT, to Wine CTRL_C_EVENT) arrives.
    yes $'# Heading\n\nSome **bold** text and a [link](http://example/) here.\n\n- item\n' | head -n 1500000 >big.md
    "$WINE" "$build/cli/vembro.exe" translate big.md big.txt </dev/null >log.out 2>log.err &
    pid=$!
    for _ in $(seq 200); do grep -q '%' log.err && break; sleep 0.05; done
    kill -INT "$pid"
    wait "$pid"; rc=$?
    [ "$rc" = 130 ] || fail "exit code $rc, expected 130"
    grep -qF "vembro: stopping (Stop: 0x00000000" log.err || fail "Stop was not called"
    grep -qxF "Stopped; big.txt was not written." log.out || fail "no stopped report"
    [ ! -e big.txt ] || fail "big.txt was written"
    ;;
l10n)
    # The chain, then its three steps by hand: the same page, and the XLIFF
    # between with the states of the matches (one fuzzy match of quality 92).
    expect_rows "0|$data/index.fr.html>index.fr.html|translate --target-lang fr --memory site.fr.tmx index.html index.fr.html" \
        "0|$data/index.xlf>index.xlf|convert index.html index.xlf" \
        "0|$data/index.fr.xlf>index.fr.xlf|translate --sync --property FUZZY=92 --target-lang fr --memory site.fr.tmx index.xlf index.fr.xlf" \
        "0|$data/index.fr.html>index2.fr.html|convert index.fr.xlf index2.fr.html"
    cp "$data/bad.xlf" "$data/broken.tmx" "$data/koi.html" .
    expect_rows "1|vembro: TranslateFile run failed: 0x80040301 L10N_E_MALFORMED_XML (the XML document is not well formed)|translate --target-lang fr --memory site.fr.tmx bad.xlf out.xlf" \
        "1|vembro: TranslateStream run failed: 0x80040301 L10N_E_MALFORMED_XML (the XML document is not well formed)|translate --stream --target-lang fr --memory site.fr.tmx bad.xlf out.xlf" \
        "1|vembro: TranslateFile run failed: 0x80040304 L10N_E_LANGUAGE_NOT_IN_MEMORY (the translation memory has no units in this pair of languages)|translate --target-lang de --memory site.fr.tmx index.xlf out.xlf" \
        "1|vembro: TranslateFile run failed: 0x80040303 L10N_E_MEMORY_UNREADABLE (the translation memory is missing or is not a readable TMX file)|translate --target-lang fr --memory broken.tmx index.xlf out.xlf" \
        "1|vembro: TranslateFile failed: 0x80040305 L10N_E_UNKNOWN_ENCODING (the document is in an encoding the components do not read)|translate --quiet --target-lang fr --memory site.fr.tmx koi.html out.html" \
        '2|vembro: "fr_FR" is not a language tag (BCP 47, such as fr or fr-CA)|translate --target-lang fr_FR --memory site.fr.tmx index.xlf out.xlf'
    ;;
*) fail "unknown case $case_name" ;;
esac
echo "PASS: $case_name"
