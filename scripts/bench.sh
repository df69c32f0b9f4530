#!/usr/bin/env bash
# Builds and runs the benchmarks; prints figures, asserts nothing.
# Usage: bash scripts/bench.sh [MiB]   (document size, default 256)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
source scripts/env.sh
trap wine_stop EXIT
wine_start
bash scripts/build.sh
mib="${1:-256}"
bench=out/x86_64/bench/chainbench.exe
for mode in overhead memory events; do
    scripts/wine-run.sh "$bench" "$mode" "$mib" </dev/null
done
