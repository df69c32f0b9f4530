#!/usr/bin/env bash
# Builds and runs the benchmarks; prints figures, asserts nothing. Every
# figure is the median of interleaved rounds with its spread (min .. max).
# Usage: bash scripts/bench.sh [MiB] [rounds]   (document size, default 256;
# rounds, default 9; `bash scripts/bench.sh 16` is the quick check)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
source scripts/env.sh
build=out/x86_64
samples=("$build/samples/markdown.dll" "$build/samples/htmltext.dll" "$build/samples/pseudoloc.dll")
finish() {
    "$WINE" regsvr32 /s /u "${samples[@]}" </dev/null >/dev/null 2>&1 || true
    wine_stop
}
trap finish EXIT
wine_start
bash scripts/build.sh
mib="${1:-256}"
rounds="${2:-9}"
bench=$build/bench/chainbench.exe
run() { echo "== chainbench $*"; scripts/wine-run.sh "$bench" "$@" </dev/null; }

run overhead "$mib" "$rounds"
run breakdown "$mib" "$rounds"
run memory "$mib"
run events "$rounds"
run catalogue "$rounds"
run planning "$rounds"

# The main job's cost: the wall time of `vembro translate` on the sample
# document (a process of its own, as a user runs it) against a process that
# does nothing and one that only loads and plans (`vembro formats
# --translate`), taking turns, and the components' own time in process.
echo "== vembro translate samples/documents/guide.md, against an empty process and vembro formats --translate"
"$WINE" regsvr32 /s "$build/Vembro.DLL" "${samples[@]}" </dev/null
mkdir -p out/bench
ms() { echo $(( $(date +%s%N) / 1000000 )); }
median_spread() { # numbers on stdin -> "median M (min .. max)"
    local v=() n
    mapfile -t v < <(sort -n)
    n=${#v[@]}
    echo "median ${v[$((n / 2))]} (${v[0]} .. ${v[$((n - 1))]})"
}
translate=() empty=() formats=()
for round in $(seq 0 "$rounds"); do
    t0=$(ms)
    if ! "$WINE" "$build/cli/vembro.exe" translate samples/documents/guide.md out/bench/guide.txt \
        </dev/null >out/bench/translate.log 2>&1; then
        cat out/bench/translate.log
        exit 1
    fi
    t1=$(ms)
    "$WINE" "$bench" noop </dev/null
    t2=$(ms)
    "$WINE" "$build/cli/vembro.exe" formats --translate </dev/null >/dev/null
    t3=$(ms)
    if [ "$round" -gt 0 ]; then # round 0 warms the file cache
        translate+=($((t1 - t0)))
        empty+=($((t2 - t1)))
        formats+=($((t3 - t2)))
    fi
done
echo "vembro translate, $rounds rounds: $(printf '%s\n' "${translate[@]}" | median_spread) ms wall"
echo "empty process,    $rounds rounds: $(printf '%s\n' "${empty[@]}" | median_spread) ms wall"
echo "vembro formats --translate, $rounds rounds: $(printf '%s\n' "${formats[@]}" | median_spread) ms wall"
run components samples/documents/guide.md "$rounds"
